// The e-mail settings: section [Correu] of the root's Nuva.ini, with the
// administrator's name and address of [Administrador] that the messages
// quote. The password is never here: libcurl reads it from the netrc file.
#ifndef TELVORAN_MAIL_SETTINGS_H_
#define TELVORAN_MAIL_SETTINGS_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace mail {

struct MailSettings {
  std::string server;         // smtps://host:port or smtp://host:port
  std::string user;
  std::string from_address;
  std::string bcc;
  bool clear_text = false;    // a local relay without STARTTLS
  std::string ca_file;        // host path, or empty
  int per_minute = 0;
  std::string contacts_path;  // system path
  std::string admin_name;     // CP850
  std::vector<std::string> admin_address;  // CP850, the lines that are not empty
};

// root: the root folder as a prefix ending in a separator.
MailSettings ReadMailSettings(platform::Env& env, const std::string& root);

// Why the settings cannot send (a message for the user, CP850), or empty:
// no server or one that is not smtp:// or smtps://, no valid sender
// address, a blind copy that is no address.
std::string MailSettingsProblem(const MailSettings& s);

}  // namespace mail

#endif  // TELVORAN_MAIL_SETTINGS_H_
