#include "driver/statement_mail.h"

#include <vector>

#include "config/locale.h"
#include "platform/statement_register.h"

namespace driver {

std::string MailFolderOf(const std::string& device, const std::string& temp_dir) {
  bool mail = false;
  std::string folder = platform::StatementFolderOfDevice(device, temp_dir, &mail);
  return mail ? folder : std::string();
}

std::string MailOutcomeText(const mail::SendOutcome& outcome, const std::string& folder) {
  std::vector<std::string> parts;
  const std::vector<std::string>& lines = outcome.messages;
  const size_t first = lines.size() > kShownMailLines ? lines.size() - kShownMailLines : 0;
  if (first > 0) {
    parts.push_back(config::TranslateWith(
        "(@1 avisos m\x82s: telvoran-send --check @2 els mostra tots)",
        {std::to_string(first), platform::HostPath(folder)}));
  }
  for (size_t i = first; i < lines.size(); ++i) parts.push_back(lines[i]);
  const std::vector<std::string>& owners = outcome.without_address;
  if (!owners.empty()) {
    std::string list = config::Translate("sense adre\x87" "a de correu:");
    for (size_t i = 0; i < owners.size() && i < kShownOwnersWithoutAddress; ++i) {
      list += (i == 0 ? " " : ", ") + owners[i];
    }
    if (owners.size() > kShownOwnersWithoutAddress) {
      list += " " + config::TranslateWith(
                        "i @1 m\x82s", {std::to_string(owners.size() - kShownOwnersWithoutAddress)});
    }
    parts.push_back(list);
  }
  std::string text;
  for (const std::string& p : parts) text += (text.empty() ? "" : " ") + p;
  return text;
}

bool SendPrintedStatements(platform::Env& env, const std::string& folder, const std::string& printed,
                           const std::function<void(int done, int total)>& progress,
                           const std::function<bool()>& stop, std::string* message) {
  const mail::SendOutcome outcome = mail::SendStatements(env, folder, {}, progress, stop);
  const std::string said = MailOutcomeText(outcome, folder);
  *message = printed.empty() ? said : printed + " " + said;
  return outcome.ok();
}

}  // namespace driver
