// A print run on a CORREU:<folder> device: once the print program has
// written the folder's PDFs and its register, the statements are sent by
// e-mail (mail::SendStatements), and the user is told in a few lines what
// went, what did not and who has no address.
#ifndef TELVORAN_DRIVER_STATEMENT_MAIL_H_
#define TELVORAN_DRIVER_STATEMENT_MAIL_H_

#include <functional>
#include <string>

#include "mail/send.h"
#include "platform/env.h"

namespace driver {

// The folder of the device when it is CORREU: (as the print program
// resolves it from the temporary folder temp_dir); empty otherwise.
std::string MailFolderOf(const std::string& device, const std::string& temp_dir);

// How many of the outcome's lines, and of the owners without an address, a
// message window shows before it says how many more there are.
inline constexpr size_t kShownMailLines = 4;
inline constexpr size_t kShownOwnersWithoutAddress = 5;

// The outcome for a message window (CP850): the outcome's last
// kShownMailLines lines (its summary is the last), how many earlier ones
// were left out, and the first owners without an address.
std::string MailOutcomeText(const mail::SendOutcome& outcome, const std::string& folder);

// Sends the folder. *message: printed (the print program's line, when
// given) followed by MailOutcomeText. Returns outcome.ok().
bool SendPrintedStatements(platform::Env& env, const std::string& folder, const std::string& printed,
                           const std::function<void(int done, int total)>& progress,
                           const std::function<bool()>& stop, std::string* message);

}  // namespace driver

#endif  // TELVORAN_DRIVER_STATEMENT_MAIL_H_
