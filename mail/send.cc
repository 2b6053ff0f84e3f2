// The sender, in the order a run goes:
//   settings          [Correu] and [Administrador] of the root's Nuva.ini
//   the plan          register entries x contacts, one message per owner
//   the journal       enviaments.txt: what was started, accepted, refused
//   the message       GMime: headers, text body, the PDF
//   the transport     libcurl SMTP, one easy handle (one connection) per run
//   SendStatements    the run itself
#include "mail/send.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "config/ini.h"
#include "config/locale.h"
#include "config/settings.h"
#include "mail/contacts.h"
#include "mail/settings.h"
#include "platform/blanks.h"
#include "platform/cp850.h"
#include "platform/statement_register.h"

namespace mail {

namespace {

std::string Trimmed(const std::string& s) { return std::string(platform::TrimView(s, " \t")); }

// ---------------------------------------------------------------- settings

bool ReadWhole(platform::Env& env, const std::string& path, std::string* out) {
  out->clear();
  std::unique_ptr<platform::RandomAccessFile> f = env.OpenForReading(path);
  if (!f) return false;
  const int64_t size = f->Size();
  return size >= 0 && f->Read(0, static_cast<size_t>(size), out) &&
         out->size() == static_cast<size_t>(size);
}

// ---------------------------------------------------------------- the plan

struct Planned {
  const platform::StatementEntry* entry = nullptr;
  std::string flat;        // the owner's flat code as the register has it
  std::string owner_name;  // CP850, may be empty
  std::string flat_text;   // CP850, the flat's designation, may be empty
  std::vector<std::string> to;
  std::string language;    // three letters
  std::string key;         // in the journal
};

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& i : items) {
    if (!out.empty()) out += separator;
    out += i;
  }
  return out;
}

// What makes a message the same one in a later run: a newly printed folder
// with other figures sends again.
std::string MessageKey(const platform::StatementEntry& e, const std::vector<std::string>& to) {
  return e.file + "|" + Joined(to, ",") + "|" + std::to_string(e.balance) + "|" +
         std::to_string(e.total_expenses) + "|" + std::to_string(e.total_collections);
}

// A register's file name is a plain name inside the folder.
bool PlainFileName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos;
}

// ---------------------------------------------------------------- the journal
//
// One line per event, tab separated, UTF-8:
//   time  state  key  community  flat  addresses  file  message-id  reply
// The state is PENDENT (about to go), ACCEPTAT (the server took it),
// REFUSAT (the server refused it) or NO-ENVIAT (the run stopped before the
// server had it). A key whose last line is PENDENT has an unknown outcome.

constexpr char kStarted[] = "PENDENT";
constexpr char kAccepted[] = "ACCEPTAT";
constexpr char kRefused[] = "REFUSAT";
constexpr char kNotSent[] = "NO-ENVIAT";

std::map<std::string, std::string> ReadJournal(platform::Env& env, const std::string& path) {
  std::map<std::string, std::string> last;
  std::vector<std::string> lines;
  if (!env.ReadLines(path, &lines)) return last;
  for (const std::string& line : lines) {
    const size_t a = line.find('\t');
    if (a == std::string::npos) continue;
    const size_t b = line.find('\t', a + 1);
    const size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
    if (c == std::string::npos) continue;
    last[line.substr(b + 1, c - b - 1)] = line.substr(a + 1, b - a - 1);
  }
  return last;
}

// Appends to the journal. Opened directly for appending (a journal cannot
// be rewritten through a new file and a rename at each line), never
// through a symbolic link nor onto a file with a second name; every line
// reaches the disk (fsync) before the call returns.
class Journal {
 public:
  Journal() = default;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Open(const std::string& host_path) {
    fd_ = ::open(host_path.c_str(),
                 O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) return false;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
      ::close(fd_);
      fd_ = -1;
      errno = EPERM;
      return false;
    }
    return true;
  }

  bool Append(const std::string& state, const std::string& key, const Planned& p,
              const std::string& message_id, const std::string& reply) {
    char when[32];
    const std::time_t now = std::time(nullptr);
    struct tm tm;
    ::gmtime_r(&now, &tm);
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    std::string line = std::string(when) + "\t" + state + "\t" + key + "\t" +
                       p.entry->community_code + "\t" + p.flat + "\t" + Joined(p.to, ",") + "\t" +
                       p.entry->file + "\t" + message_id + "\t";
    for (char c : reply) line += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    line += "\n";
    for (size_t done = 0; done < line.size();) {
      const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return ::fsync(fd_) == 0;
  }

 private:
  int fd_ = -1;
};

// ---------------------------------------------------------------- the message

void InitLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_mime_init();
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
}

// "31/12/2026" from "20261231".
std::string WrittenDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8) return yyyymmdd;
  return yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
}

// An amount in cents with a decimal comma and dots between thousands.
std::string AmountText(int64_t cents) {
  const uint64_t v = cents < 0 ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  std::string whole = std::to_string(v / 100);
  for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) {
    whole.insert(static_cast<size_t>(at), ".");
  }
  const unsigned c = static_cast<unsigned>(v % 100);
  return std::string(cents < 0 ? "-" : "") + whole + "," + static_cast<char>('0' + c / 10) +
         static_cast<char>('0' + c % 10);
}

std::string PeriodText(const std::string& language, const platform::StatementEntry& e) {
  if (e.period_from.empty()) {
    return config::TranslateInWith(language, "fins al @1", {WrittenDate(e.period_to)});
  }
  return config::TranslateInWith(language, "del @1 al @2",
                                 {WrittenDate(e.period_from), WrittenDate(e.period_to)});
}

std::string Subject(const std::string& language, const platform::StatementEntry& e) {
  return config::TranslateInWith(language, "Liquidaci\xa2 @1 - @2",
                                 {e.community_name, PeriodText(language, e)});
}

// The balance line in the statement's own words.
std::string BalanceLine(const std::string& language, const platform::StatementEntry& e) {
  return config::TranslateIn(language, "R\xe3SSEC ACTUAL A FAVOR ") +
         config::TranslateIn(language,
                             e.favours_community ? "DE LA COMUNITAT" : "DE L'ADMINISTRADOR") +
         ": " + AmountText(e.balance);
}

std::string BodyText(const MailSettings& s, const Planned& p) {
  const std::string& l = p.language;
  const platform::StatementEntry& e = *p.entry;
  std::vector<std::string> lines;
  lines.push_back(config::TranslateIn(l, "Bon dia,"));
  lines.push_back("");
  lines.push_back(config::TranslateInWith(
      l, "Us enviem adjunta la liquidaci\xa2 de la comunitat @1 @2.",
      {e.community_name, PeriodText(l, e)}));
  if (!p.owner_name.empty()) {
    std::string owner = p.owner_name;
    if (!p.flat_text.empty()) owner += " (" + p.flat_text + ")";
    lines.push_back(config::TranslateInWith(l, "Propietari: @1", {owner}));
  }
  lines.push_back(BalanceLine(l, e));
  lines.push_back("");
  lines.push_back(config::TranslateIn(l, "Atentament,"));
  lines.push_back("");
  if (!s.admin_name.empty()) lines.push_back(s.admin_name);
  for (const std::string& a : s.admin_address) lines.push_back(a);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return platform::Cp850ToUtf8(text);
}

// A CP850 name as a header's phrase: control bytes become blanks (GMime
// encodes the rest).
std::string HeaderName(const std::string& cp850) {
  std::string utf8 = platform::Cp850ToUtf8(cp850);
  for (char& c : utf8) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return Trimmed(utf8);
}

std::string DomainOf(const std::string& address) {
  const size_t at = address.rfind('@');
  return at == std::string::npos ? "localhost" : address.substr(at + 1);
}

// The whole message, CR LF lines, ready for DATA.
std::string BuildMessage(const MailSettings& s, const Planned& p, const std::string& pdf,
                         std::string* message_id) {
  GMimeMessage* message = g_mime_message_new(TRUE);
  g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_FROM, HeaderName(s.admin_name).c_str(),
                             s.from_address.c_str());
  const std::string to_name = HeaderName(p.owner_name);
  for (const std::string& a : p.to) {
    g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_TO, to_name.c_str(), a.c_str());
  }
  g_mime_message_set_subject(message, HeaderName(Subject(p.language, *p.entry)).c_str(), "utf-8");
  GDateTime* now = g_date_time_new_now_local();
  g_mime_message_set_date(message, now);
  g_date_time_unref(now);
  char* id = g_mime_utils_generate_message_id(DomainOf(s.from_address).c_str());
  *message_id = std::string("<") + id + ">";
  g_mime_message_set_message_id(message, id);
  g_free(id);

  GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
  GMimeTextPart* text = g_mime_text_part_new_with_subtype("plain");
  // The body as UTF-8 bytes (set_text would pick a charset of its own).
  const std::string body = BodyText(s, p);
  GMimeStream* body_stream = g_mime_stream_mem_new_with_buffer(body.data(), body.size());
  GMimeDataWrapper* body_wrapper =
      g_mime_data_wrapper_new_with_stream(body_stream, GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_part_set_content(GMIME_PART(text), body_wrapper);
  g_object_unref(body_wrapper);
  g_object_unref(body_stream);
  g_mime_text_part_set_charset(text, "utf-8");
  g_mime_part_set_content_encoding(GMIME_PART(text), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  g_mime_multipart_add(mixed, GMIME_OBJECT(text));
  g_object_unref(text);

  GMimePart* attachment = g_mime_part_new_with_type("application", "pdf");
  GMimeStream* content = g_mime_stream_mem_new_with_buffer(pdf.data(), pdf.size());
  GMimeDataWrapper* wrapper =
      g_mime_data_wrapper_new_with_stream(content, GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_part_set_content(attachment, wrapper);
  g_object_unref(wrapper);
  g_object_unref(content);
  g_mime_part_set_filename(attachment, p.entry->file.c_str());
  g_mime_part_set_content_encoding(attachment, GMIME_CONTENT_ENCODING_BASE64);
  g_mime_multipart_add(mixed, GMIME_OBJECT(attachment));
  g_object_unref(attachment);

  g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed));
  g_object_unref(mixed);

  GMimeFormatOptions* options = g_mime_format_options_clone(nullptr);
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_object_write_to_stream(GMIME_OBJECT(message), options, out);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
  std::string result(reinterpret_cast<const char*>(bytes->data), bytes->len);
  g_object_unref(out);
  g_mime_format_options_free(options);
  g_object_unref(message);
  return result;
}

// ---------------------------------------------------------------- the transport

enum class Delivery {
  kAccepted,
  kRefused,  // this message only: the others may go
  kNotSent,  // the run must stop; the server does not have the message
  kUnknown,  // the run must stop; the server may have the message
};

struct SendResult {
  Delivery delivery = Delivery::kNotSent;
  std::string reply;    // the server's last reply line
  std::string problem;  // CP850, for the user, when the run must stop
};

class Smtp {
 public:
  explicit Smtp(const MailSettings& s) : settings_(s), url_(s.server) {
    curl_ = curl_easy_init();
    // The login goes in the URL: given as CURLOPT_USERNAME, this libcurl
    // (7.88) no longer looks its password up in the netrc file; in the URL
    // it does.
    const size_t scheme = url_.find("://");
    if (curl_ != nullptr && !s.user.empty() && scheme != std::string::npos) {
      const size_t host = scheme + 3;
      const size_t end = url_.find('/', host);
      if (url_.substr(host, end == std::string::npos ? end : end - host).find('@') ==
          std::string::npos) {
        char* login = curl_easy_escape(curl_, s.user.c_str(), static_cast<int>(s.user.size()));
        if (login != nullptr) {
          url_.insert(host, std::string(login) + "@");
          curl_free(login);
        }
      }
    }
  }
  Smtp(const Smtp&) = delete;
  Smtp& operator=(const Smtp&) = delete;
  ~Smtp() {
    if (curl_ != nullptr) curl_easy_cleanup(curl_);
  }

  SendResult Send(platform::Env& env, const std::vector<std::string>& recipients,
                  const std::string& message) {
    SendResult r;
    if (curl_ == nullptr) {
      r.problem = config::Translate("no es pot iniciar la connexi\xa2 de correu");
      return r;
    }
    message_ = &message;
    offset_ = 0;
    reply_.clear();
    refusal_.clear();
    curl_slist* rcpt = nullptr;
    for (const std::string& a : recipients) rcpt = curl_slist_append(rcpt, ("<" + a + ">").c_str());
    CURL* c = curl_;
    curl_easy_setopt(c, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // The password is never in the settings: the netrc file has it.
    curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
    const std::string netrc = env.GetVar("NETRC");
    if (!netrc.empty()) curl_easy_setopt(c, CURLOPT_NETRC_FILE, netrc.c_str());
    curl_easy_setopt(c, CURLOPT_USE_SSL,
                     static_cast<long>(settings_.clear_text ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    if (!settings_.ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, settings_.ca_file.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + settings_.from_address + ">").c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &Smtp::ReadBody);
    curl_easy_setopt(c, CURLOPT_READDATA, this);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 10L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &Smtp::Debug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, this);
    const CURLcode code = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
    curl_slist_free_all(rcpt);
    r.reply = reply_;
    const bool body_sent = offset_ == message.size();
    const int status = reply_.size() >= 3 && std::isdigit(static_cast<unsigned char>(reply_[0]))
                           ? std::atoi(reply_.substr(0, 3).c_str())
                           : 0;
    const std::string detail = reply_.empty() ? curl_easy_strerror(code) : reply_;
    switch (code) {
      case CURLE_OK:
        r.delivery = Delivery::kAccepted;
        return r;
      case CURLE_LOGIN_DENIED:
        r.problem = config::TranslateWith(
            "el servidor de correu no accepta l'usuari o la contrasenya (fitxer netrc): @1",
            {detail});
        return r;
      case CURLE_USE_SSL_FAILED:
        r.problem = config::Translate(
            "el servidor de correu no ofereix connexi\xa2 xifrada (STARTTLS): no s'envia res en "
            "clar");
        return r;
      case CURLE_COULDNT_CONNECT:
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_UNSUPPORTED_PROTOCOL:
      case CURLE_URL_MALFORMAT:
        r.problem = config::TranslateWith("no es pot connectar amb el servidor de correu @1: @2",
                                          {settings_.server, curl_easy_strerror(code)});
        return r;
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_SSL_CACERT_BADFILE:
      case CURLE_SSL_CERTPROBLEM:
        r.problem = config::TranslateWith(
            "la connexi\xa2 xifrada amb el servidor de correu ha fallat: @1",
            {curl_easy_strerror(code)});
        return r;
      default:
        break;
    }
    if (status >= 400 && status != 421) {
      r.delivery = Delivery::kRefused;
      return r;
    }
    // The whole message went out and no answer came back: the server may
    // have it.
    r.delivery = body_sent ? Delivery::kUnknown : Delivery::kNotSent;
    r.problem = config::TranslateWith("la connexi\xa2 amb el servidor de correu s'ha tallat: @1",
                                      {reply_.empty() ? detail
                                                      : detail + " (" + curl_easy_strerror(code) +
                                                            ")"});
    return r;
  }

 private:
  static size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
    Smtp* self = static_cast<Smtp*>(user);
    const size_t n = std::min(size * count, self->message_->size() - self->offset_);
    std::memcpy(buffer, self->message_->data() + self->offset_, n);
    self->offset_ += n;
    return n;
  }

  // Keeps the last line the server sent.
  static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN) return 0;
    Smtp* self = static_cast<Smtp*>(user);
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // The answer to QUIT, which libcurl sends once a command failed, is not
    // the reply the journal wants; the first refusal is.
    if (line.empty() || line.starts_with("221")) return 0;
    if (!self->refusal_.empty()) return 0;
    self->reply_ = line;
    if (line[0] == '4' || line[0] == '5') self->refusal_ = line;
    return 0;
  }

  const MailSettings& settings_;
  std::string url_;
  CURL* curl_ = nullptr;
  const std::string* message_ = nullptr;
  size_t offset_ = 0;
  std::string reply_;
  std::string refusal_;
};

std::string Stem(const std::string& file) {
  return file.ends_with(".pdf") ? file.substr(0, file.size() - 4) : file;
}

}  // namespace

SendOutcome SendStatements(platform::Env& env, const std::string& folder_in,
                           const SendOptions& options,
                           const std::function<void(int done, int total)>& progress,
                           const std::function<bool()>& stop) {
  InitLibraries();
  SendOutcome out;
  const config::Settings& settings = config::ModuleSettings();
  std::string folder = folder_in;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';

  // The register is written last: without it the folder is not complete.
  std::string text;
  const std::string register_path = folder + platform::kFolderRegisterName;
  if (!ReadWhole(env, register_path, &text)) {
    out.messages.push_back(config::TranslateWith(
        "no hi ha el registre @1: la carpeta no \x82s d'una impressi\xa2 DIR: acabada",
        {env.HostPathOf(register_path)}));
    return out;
  }
  platform::StatementRegister reg;
  std::string why;
  if (!platform::ParseRegister(text, &reg, &why)) {
    out.messages.push_back(config::TranslateWith("el registre @1 no es pot llegir: @2",
                                                 {env.HostPathOf(register_path),
                                                  config::Translate(why)}));
    return out;
  }

  const MailSettings s = ReadMailSettings(env, settings.root_dir);
  if (const std::string wrong = MailSettingsProblem(s); !wrong.empty()) {
    out.messages.push_back(wrong);
    return out;
  }

  // The contacts; a row is checked against this folder's owners.
  std::string contacts_text;
  if (!ReadWhole(env, s.contacts_path, &contacts_text)) {
    out.messages.push_back(config::TranslateWith("no es pot llegir el fitxer d'adreces @1",
                                                 {env.HostPathOf(s.contacts_path)}));
    return out;
  }
  std::vector<ContactProblem> problems;
  std::vector<Contact> contacts = ParseContacts(contacts_text, &problems);
  std::set<std::pair<std::string, std::string>> owners;
  std::set<std::string> with_owners;
  std::map<std::pair<std::string, std::string>, const platform::StatementEntry*> owner_entry;
  for (const platform::StatementEntry& e : reg.entries) {
    if (!e.per_owner()) continue;
    const auto k = std::make_pair(CanonicalCode(e.community_code), CanonicalCode(e.flat_code));
    owners.insert(k);
    with_owners.insert(k.first);
    owner_entry.emplace(k, &e);
  }
  // community -> flat -> the owner's addresses and language (rows merged).
  std::map<std::string, std::map<std::string, Contact>> by_owner;
  for (Contact& c : contacts) {
    if (with_owners.count(c.community) != 0 && owners.count({c.community, c.flat}) == 0) {
      problems.push_back({c.line, "el pis no \x82s de cap propietari d'aquesta carpeta",
                          c.community + "-" + c.flat});
      continue;
    }
    Contact& merged = by_owner[c.community][c.flat];
    if (merged.addresses.empty()) {
      merged = c;
    } else {
      for (const std::string& a : c.addresses) {
        if (std::find(merged.addresses.begin(), merged.addresses.end(), a) ==
            merged.addresses.end()) {
          merged.addresses.push_back(a);
        }
      }
      if (merged.language.empty()) merged.language = c.language;
    }
  }
  std::sort(problems.begin(), problems.end(),
            [](const ContactProblem& a, const ContactProblem& b) { return a.line < b.line; });
  for (const ContactProblem& p : problems) {
    std::string line = config::TranslateWith("fitxer d'adreces, l\xa1nia @1: @2",
                                             {std::to_string(p.line), config::Translate(p.why)});
    if (!p.value.empty()) line += " (" + platform::Utf8ToCp850(p.value) + ")";
    out.messages.push_back(line);
  }

  // Who gets what.
  const std::string journal_path = folder + kJournalName;
  const std::map<std::string, std::string> journal = ReadJournal(env, journal_path);
  std::vector<Planned> plan;
  auto add = [&](const platform::StatementEntry& e, const std::string& flat, const Contact& c) {
    Planned p;
    p.entry = &e;
    p.flat = flat;
    p.to = c.addresses;
    p.language = c.language.empty() ? settings.language : c.language;
    if (p.language.empty()) p.language = "CAT";
    const auto owner = owner_entry.find({CanonicalCode(e.community_code), CanonicalCode(flat)});
    if (owner != owner_entry.end()) {
      p.owner_name = Trimmed(owner->second->owner_name);
      p.flat_text = Trimmed(owner->second->flat);
    }
    p.key = MessageKey(e, p.to);
    const auto seen = journal.find(p.key);
    const std::string state = seen == journal.end() ? "" : seen->second;
    if (state == kAccepted) {
      ++out.already_sent;
    } else if (state == kStarted && !options.resend) {
      ++out.unknown;
      out.messages.push_back(config::TranslateWith(
          "@1 a @2: l'enviament es va comen\x87"
          "ar i no se'n sap el resultat; no es torna a enviar sense --resend",
          {e.file, platform::Utf8ToCp850(Joined(p.to, ", "))}));
    } else {
      plan.push_back(std::move(p));
    }
  };
  for (const platform::StatementEntry& e : reg.entries) {
    if (!PlainFileName(e.file)) {
      ++out.failed;
      out.messages.push_back(config::TranslateWith("el registre no d\xa2na el fitxer PDF de @1",
                                                   {platform::StatementFileName(e)}));
      continue;
    }
    const std::string community = CanonicalCode(e.community_code);
    const auto in_community = by_owner.find(community);
    if (e.per_owner()) {
      const std::string flat = CanonicalCode(e.flat_code);
      if (in_community == by_owner.end() || in_community->second.count(flat) == 0) {
        out.without_address.push_back(Stem(e.file) + " " + Trimmed(e.owner_name));
      } else {
        add(e, e.flat_code, in_community->second.at(flat));
      }
      continue;
    }
    // The second and later copies of a community's statement are the same
    // statement again.
    if (e.copy != 1) continue;
    if (in_community == by_owner.end() || in_community->second.empty()) {
      out.without_address.push_back(Stem(e.file) + " " + Trimmed(e.community_name));
      continue;
    }
    std::vector<const Contact*> flats;
    for (const auto& [flat, c] : in_community->second) flats.push_back(&c);
    std::sort(flats.begin(), flats.end(), [](const Contact* a, const Contact* b) {
      return a->flat.size() != b->flat.size() ? a->flat.size() < b->flat.size() : a->flat < b->flat;
    });
    for (const Contact* c : flats) add(e, c->flat, *c);
  }
  out.to_send = static_cast<int>(plan.size());

  auto summary = [&] {
    out.messages.push_back(config::TranslateWith(
        "enviats: @1; refusats: @2; ja enviats abans: @3; resultat desconegut: @4; sense "
        "adre\x87"
        "a: @5",
        {std::to_string(out.sent), std::to_string(out.failed), std::to_string(out.already_sent),
         std::to_string(out.unknown), std::to_string(out.without_address.size())}));
  };
  if (options.check_only) {
    out.messages.push_back(
        config::TranslateWith("per enviar: @1 missatges", {std::to_string(plan.size())}));
    out.complete = true;
    summary();
    return out;
  }

  // One run at a time on a folder: two would send the same messages twice.
  bool busy = false;
  std::unique_ptr<platform::FileLock> lock = env.TryLock(folder + "enviaments.lck", &busy);
  if (!lock) {
    out.messages.push_back(config::Translate(
        busy ? "ja s'est\x85 enviant aquesta carpeta des d'un altre programa"
             : "no es pot crear el bloqueig de la carpeta"));
    return out;
  }
  Journal log;
  if (!plan.empty() && !log.Open(env.HostPathOf(journal_path))) {
    out.messages.push_back(config::TranslateWith("no es pot escriure el registre d'enviaments @1: @2",
                                                 {env.HostPathOf(journal_path),
                                                  std::strerror(errno)}));
    return out;
  }
  auto journal_failed = [&] {
    out.messages.push_back(config::TranslateWith("no es pot escriure el registre d'enviaments @1: @2",
                                                 {env.HostPathOf(journal_path),
                                                  std::strerror(errno)}));
  };

  Smtp smtp(s);
  const int total = static_cast<int>(plan.size());
  bool stopped = false;
  int finished = 0;  // accepted, refused, unknown or without its PDF
  for (int i = 0; i < total && !stopped; ++i) {
    if (stop && stop()) {
      out.messages.push_back(config::Translate("enviament aturat: el que s'ha enviat queda anotat"));
      stopped = true;
      break;
    }
    if (i > 0 && s.per_minute > 0) env.SleepMs(60000 / s.per_minute);
    const Planned& p = plan[static_cast<size_t>(i)];
    std::string pdf;
    if (!ReadWhole(env, folder + p.entry->file, &pdf)) {
      ++out.failed;
      out.messages.push_back(config::TranslateWith("no es pot llegir el fitxer @1",
                                                   {env.HostPathOf(folder + p.entry->file)}));
      ++finished;
      if (progress) progress(i + 1, total);
      continue;
    }
    std::string message_id;
    const std::string message = BuildMessage(s, p, pdf, &message_id);
    std::vector<std::string> recipients = p.to;
    if (!s.bcc.empty()) recipients.push_back(s.bcc);
    if (!log.Append(kStarted, p.key, p, message_id, "")) {
      journal_failed();
      stopped = true;
      break;
    }
    const SendResult r = smtp.Send(env, recipients, message);
    const char* state = r.delivery == Delivery::kAccepted  ? kAccepted
                        : r.delivery == Delivery::kRefused ? kRefused
                                                           : kNotSent;
    if (r.delivery != Delivery::kUnknown && !log.Append(state, p.key, p, message_id, r.reply)) {
      journal_failed();
      stopped = true;
    }
    if (r.delivery != Delivery::kNotSent) ++finished;
    switch (r.delivery) {
      case Delivery::kAccepted:
        ++out.sent;
        break;
      case Delivery::kRefused:
        ++out.failed;
        out.messages.push_back(config::TranslateWith(
            "@1 a @2: el servidor l'ha refusat: @3",
            {p.entry->file, platform::Utf8ToCp850(Joined(p.to, ", ")),
             platform::Utf8ToCp850(r.reply)}));
        break;
      case Delivery::kUnknown:
        ++out.unknown;
        out.messages.push_back(config::TranslateWith(
            "@1 a @2: l'enviament es va comen\x87"
            "ar i no se'n sap el resultat; no es torna a enviar sense --resend",
            {p.entry->file, platform::Utf8ToCp850(Joined(p.to, ", "))}));
        [[fallthrough]];
      case Delivery::kNotSent:
        out.messages.push_back(r.problem);
        stopped = true;
        break;
    }
    if (progress) progress(i + 1, total);
  }
  const int left = total - finished;
  if (stopped && left > 0) {
    out.messages.push_back(
        config::TranslateWith("sense enviar: @1 missatges", {std::to_string(left)}));
  }
  out.complete = !stopped;
  summary();
  return out;
}

}  // namespace mail
