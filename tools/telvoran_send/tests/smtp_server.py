# A throwaway SMTP server for the sender's tests: TLS through STARTTLS with
# the certificate of the test's folder, a login (oficina / secret), each
# message kept in a maildir (with X-RcptTo, the envelope recipients) and
# recipients starting with "refuse" refused with 550.
#   smtp_server.py DIR MAILDIR [--no-starttls] [--stop-after N]
# Picks a free port and writes it to DIR/port once it listens. With
# --stop-after N it takes N messages, then answers 421 to the next one and
# ends, as a server going down does.
import os, socket, ssl, sys, time
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword
from aiosmtpd.handlers import Mailbox

folder, maildir = sys.argv[1], sys.argv[2]
starttls = "--no-starttls" not in sys.argv
stop_after = int(sys.argv[sys.argv.index("--stop-after") + 1]) if "--stop-after" in sys.argv else 0

def auth(server, session, envelope, mechanism, data):
    ok = isinstance(data, LoginPassword) and data.login == b"oficina" and data.password == b"secret"
    # handled=False: a refusal is answered with 535 (else nothing is sent).
    return AuthResult(success=ok, handled=False)

class H(Mailbox):
    taken = 0
    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if stop_after and H.taken >= stop_after:
            os.write(1, b"stopping\n")
            __import__("asyncio").get_event_loop().call_later(0.1, os._exit, 0)
            return "421 4.3.2 shutting down"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refuse"):
            return "550 5.1.1 mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"
    async def handle_DATA(self, server, session, envelope):
        answer = await super().handle_DATA(server, session, envelope)
        H.taken += 1
        return answer

probe = socket.socket()
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
kwargs = dict(authenticator=auth, auth_required=True)
if starttls:
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    kwargs.update(tls_context=ctx, require_starttls=True)
else:
    kwargs.update(auth_require_tls=False)
c = Controller(H(maildir), hostname="127.0.0.1", port=port, **kwargs)
c.start()
with open(os.path.join(folder, "port.new"), "w") as f:
    f.write(str(port))
os.rename(os.path.join(folder, "port.new"), os.path.join(folder, "port"))
try:
    while True:
        time.sleep(1)
finally:
    c.stop()
