#include "mail/settings.h"

#include <algorithm>
#include <cstdlib>

#include "config/ini.h"
#include "config/locale.h"
#include "mail/contacts.h"
#include "platform/blanks.h"
#include "platform/cp850.h"
#include "platform/statement_register.h"

namespace mail {

namespace {

std::string Trimmed(const std::string& s) { return std::string(platform::TrimView(s, " \t")); }

// A path of the settings: as it stands when absolute, else under the root.
std::string UnderRoot(const std::string& root, const std::string& path) {
  if (path.empty()) return path;
  if (platform::IsAbsolutePath(path)) return path;
  return root + path;
}

}  // namespace

MailSettings ReadMailSettings(platform::Env& env, const std::string& root) {
  const std::string ini = root + "Nuva.ini";
  auto bytes = [&](const char* key) {
    return Trimmed(config::IniReadBytes(env, ini, "Correu", key));
  };
  MailSettings s;
  s.server = bytes("Servidor");
  s.user = bytes("Usuari");
  s.from_address = bytes("Remitent");
  s.bcc = bytes("CopiaOculta");
  const std::string clear = bytes("TextClar");
  s.clear_text = clear == "S" || clear == "s";
  const std::string ca = bytes("Certificats");
  if (!ca.empty()) s.ca_file = env.HostPathOf(UnderRoot(root, ca));
  s.per_minute = std::max(0, std::atoi(bytes("PerMinut").c_str()));
  std::string contacts = bytes("Adreces");
  s.contacts_path = UnderRoot(root, contacts.empty() ? "CORREU\\Adreces.csv" : contacts);
  s.admin_name = Trimmed(config::IniRead(env, ini, "Administrador", "Nom"));
  for (const char* key : {"Adreca1", "Adreca2", "Adreca3", "Adreca4"}) {
    std::string line = Trimmed(config::IniRead(env, ini, "Administrador", key));
    if (!line.empty()) s.admin_address.push_back(line);
  }
  return s;
}

std::string MailSettingsProblem(const MailSettings& s) {
  if (s.server.empty() || !ValidAddress(s.from_address)) {
    return config::Translate(
        "falten Servidor o Remitent (una adre\x87"
        "a v\x85lida) a la secci\xa2 [Correu] de Nuva.ini");
  }
  if (!s.server.starts_with("smtp://") && !s.server.starts_with("smtps://")) {
    return config::TranslateWith("Servidor=@1 de [Correu] no comen\x87" "a amb smtps:// ni smtp://",
                                 {platform::Utf8ToCp850(s.server)});
  }
  if (!s.bcc.empty() && !ValidAddress(s.bcc)) {
    return config::TranslateWith("CopiaOculta de Nuva.ini no \x82s una adre\x87"
                                 "a v\x85lida: @1",
                                 {platform::Utf8ToCp850(s.bcc)});
  }
  return std::string();
}

}  // namespace mail
