// E-mail delivery of a folder of one PDF per statement (the print program's
// DIR: device): each statement goes, as a PDF attachment, to the owners the
// contacts file gives an address for, one owner per message.
//
// The folder is complete once its register (resum.reg) is there; the
// settings are section [Correu] of the root's Nuva.ini (README, "Sending
// statements by e-mail"). Every message is recorded in the folder's journal
// enviaments.txt before it goes and once the server answered, so that a run
// started again sends only what was not accepted yet, and a message whose
// outcome was never heard (the run ended between the two lines) is not sent
// a second time unless asked to (resend).
#ifndef TELVORAN_MAIL_SEND_H_
#define TELVORAN_MAIL_SEND_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace mail {

// The journal, in the folder.
inline constexpr char kJournalName[] = "enviaments.txt";

struct SendOptions {
  bool check_only = false;  // read everything and say what would go; send nothing
  bool resend = false;      // send again what has a started line and no outcome
};

struct SendOutcome {
  int sent = 0, failed = 0, unknown = 0, already_sent = 0;
  std::vector<std::string> without_address;  // "0003-0012 OWNER NAME" lines, CP850
  std::vector<std::string> messages;         // CP850 lines for the user: summary, contact-file problems, the failure
  // The messages the run had to send (with an address, not sent before).
  int to_send = 0;
  // The run went through every message (or, checking, through the plan):
  // false when it had to stop (no register, no settings, the server gone,
  // stop() said so).
  bool complete = false;
  // Every message with an address accepted, nothing unknown.
  bool ok() const { return complete && failed == 0 && unknown == 0; }
};

// folder: a system path prefix ending in "\" (or "/"), the DIR: folder.
// progress(done, total) after each message; stop() is asked before each
// message (true: stop; what was sent stays recorded). Either may be empty.
// The settings come from config::ModuleSettings() (root, language), read at
// start-up.
SendOutcome SendStatements(platform::Env& env, const std::string& folder, const SendOptions& options,
                           const std::function<void(int done, int total)>& progress,
                           const std::function<bool()>& stop);

}  // namespace mail

#endif  // TELVORAN_MAIL_SEND_H_
