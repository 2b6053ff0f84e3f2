#include "tools/telvoran_setup/check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "config/ini.h"
#include "config/locale.h"
#include "config/settings.h"
#include "console/form_set.h"
#include "console/help_view.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "driver/form_file.h"
#include "driver/module_state.h"
#include "driver/report_files.h"
#include "mail/contacts.h"
#include "mail/settings.h"
#include "platform/blanks.h"
#include "platform/cp850.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"
#include "tools/telvoran_setup/common.h"

namespace telvoran_setup {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The [Administrador] keys the letterhead prints, each cut to
// driver::kIdentityWidth characters.
constexpr const char* kIdentityKeys[] = {"Nom",     "Adreca1", "Adreca2", "Adreca3",
                                         "Adreca4", "Linia6",  "NIF",     "Poblacio"};
// The sections of the fee rates.
constexpr const char* kRateSections[] = {"Iva0", "Iva1", "Ret0", "Ret1"};

// The part of a settings line the reader takes: before its comment.
std::string ReadPart(const std::string& line) {
  return line.substr(0, line.find(';'));
}

bool HasHighBytes(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The line (from 1) where the reader finds key in section, as IniRead
// finds it: the first section of that name, the first such key in it; 0
// when it is not there.
int LineOf(std::vector<std::string> lines, const std::string& section, const std::string& key) {
  if (!lines.empty() && lines[0].starts_with(kByteOrderMark)) lines[0].erase(0, 3);
  config::IniScanner scanner(section, key);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (scanner.Feed(lines[i])) continue;
    // The search ended here: on the key, or on the next section's header.
    const std::string part = ReadPart(lines[i]);
    const size_t first = part.find_first_not_of(' ');
    return first != std::string::npos && part[first] == '[' ? 0 : static_cast<int>(i + 1);
  }
  return 0;
}

// A fee rate the module reads whole: digits with at most one point among
// or after them, blanks around.
bool PlainNumber(const std::string& value) {
  const std::string text = platform::TrimBlanks(value);
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

class Checker {
 public:
  Checker(platform::Env& env, const CheckPlaces& places) : env_(env), places_(places) {}

  int Run() {
    const fs::path settings = places_.root / "Nuva.ini";
    ChooseLanguage(settings);
    CheckSettings(settings);
    CheckMail(settings);
    CheckForms();
    CheckPackageFile(places_.root / "LOCALE" / (std::string(config::kModuleName) + ".LNG"));
    CheckHelp();
    CheckDefinitions();
    CheckDataFiles(settings);
    CheckPrintProgram();
    CheckTemporaryFolder();
    const std::string root = places_.root.string();
    if (errors_ == 0 && warnings_ == 0) {
      Say(stdout, Text("Comprovaci\xa2 de @1: cap problema.", {root}));
      return kCheckClean;
    }
    Say(stdout, Text("Comprovaci\xa2 de @1: errors: @2, avisos: @3.",
                     {root, std::to_string(errors_), std::to_string(warnings_)}));
    return errors_ > 0 ? kCheckErrors : kCheckWarnings;
  }

 private:
  // One problem: "FILE:LINE: error: text" (text already for the terminal).
  void Report(bool error, const fs::path& file, int line, const std::string& text) {
    ++(error ? errors_ : warnings_);
    const std::string where = file.string() + (line > 0 ? ":" + std::to_string(line) : "");
    Say(stdout, where + ": " + (error ? Text("error") : Text("av\xa1s")) + ": " + text);
  }
  void Error(const fs::path& file, int line, const std::string& text) {
    Report(true, file, line, text);
  }
  void Warning(const fs::path& file, int line, const std::string& text) {
    Report(false, file, line, text);
  }

  bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
  }

  // The messages in the language the module would speak here.
  void ChooseLanguage(const fs::path& settings) {
    std::string language;
    if (!places_.temp_dir.empty()) {
      language =
          config::IniRead(env_, (places_.temp_dir / "NuvaTerm.ini").string(), "Sistema", "Idioma");
    }
    if (platform::IsBlank(language)) {
      language = config::IniRead(env_, settings.string(), "Usuari", "Idioma");
    }
    language.resize(3, ' ');
    config::ModuleSettings().language = language;
  }

  // A file the package brings (forms, locale, help, definitions): there and
  // readable. False after a report.
  bool CheckPackageFile(const fs::path& path) {
    if (!Exists(path)) {
      Error(path, 0,
            Text("no hi \x82s; telvoran-setup --upgrade @1 el torna a copiar del paquet",
                 {places_.root.string()}));
      return false;
    }
    std::string bytes;
    std::unique_ptr<platform::RandomAccessFile> file = env_.OpenForReading(path.string());
    if (!file || file->Size() < 0 || !file->Read(0, 1, &bytes)) {
      Error(path, 0, Text("no es pot llegir"));
      return false;
    }
    return true;
  }

  // A settings file's encoding as the reader takes it. A file with a
  // line that is not UTF-8 is read as code page 850 whole, so the UTF-8
  // letters of its other lines would print as other characters; one with
  // a byte order mark is read as UTF-8 whole, so what is not UTF-8 prints
  // as "?". Only the parts the reader takes count: a comment in another
  // encoding changes nothing printed.
  void CheckEncoding(const fs::path& path, const std::vector<std::string>& lines) {
    if (config::IniIsUtf8(lines)) {
      if (lines.empty() || !lines[0].starts_with(kByteOrderMark)) return;
      for (size_t i = 0; i < lines.size(); ++i) {
        const std::string part = ReadPart(lines[i]);
        if (HasHighBytes(part) && !platform::IsUtf8Text(part)) {
          Error(path, static_cast<int>(i + 1),
                Text("el fitxer comen\x87"
                     "a amb la marca d'UTF-8, per\x95 aquesta l\xa1nia no \x82s UTF-8 v\x85lid: el "
                     "que no ho \x82s s'imprimiria com a ?"));
        }
      }
      return;
    }
    size_t not_utf8 = 0;
    while (not_utf8 < lines.size() &&
           (!HasHighBytes(lines[not_utf8]) || platform::IsUtf8Text(lines[not_utf8]))) {
      ++not_utf8;
    }
    if (not_utf8 == lines.size()) return;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!platform::IsUtf8Text(ReadPart(lines[i]))) continue;
      Error(path, static_cast<int>(i + 1),
            Text("aquesta l\xa1nia \x82s UTF-8, per\x95 la l\xa1nia @1 no ho \x82s: el fitxer "
                 "sencer es llegeix en la p\x85gina de codis 850 i les lletres d'aquesta "
                 "s'imprimirien com uns altres car\x85"
                 "cters; deseu-lo tot en UTF-8",
                 {std::to_string(not_utf8 + 1)}));
    }
  }

  void CheckSettings(const fs::path& settings) {
    std::vector<std::string> lines;
    if (!Exists(settings)) {
      Error(settings, 0,
            Text("no hi \x82s: @1 no \x82s l'arrel d'una instal\xfalaci\xa2",
                 {places_.root.string()}));
      return;
    }
    if (!env_.ReadLines(settings.string(), &lines)) {
      Error(settings, 0, Text("no es pot llegir"));
      return;
    }
    CheckEncoding(settings, lines);
    const std::string path = settings.string();
    for (const char* key : kIdentityKeys) {
      // As printed: code page 850 characters, one byte each.
      const std::string value = config::IniRead(env_, path, "Administrador", key);
      if (value.size() <= driver::kIdentityWidth) continue;
      Warning(settings, LineOf(lines, "Administrador", key),
              Text("@1 t\x82 @2 car\x85"
                   "cters i se n'imprimeixen @3: la resta es talla",
                   {key, std::to_string(value.size()), std::to_string(driver::kIdentityWidth)}));
    }
    for (const char* section : kRateSections) {
      const int line = LineOf(lines, section, "Honoraris");
      if (line == 0) {
        Warning(settings, 0, Text("[@1] no t\x82 Honoraris: es llegeix com a 0", {section}));
        continue;
      }
      const std::string value = config::IniRead(env_, path, section, "Honoraris");
      if (PlainNumber(value)) continue;
      char read_as[32];
      std::snprintf(read_as, sizeof read_as, "%g", driver::NumericValue(value));
      Warning(settings, line,
              Text("[@1] Honoraris=@2 no \x82s un nombre senzill: es llegeix com a @3; escriviu-lo "
                   "amb punt decimal (21.5)",
                   {section, platform::Cp850ToUtf8(value), read_as}));
    }
    for (const char* name : {"Sessio.ini", "NuvaTerm.ini"}) {
      if (places_.temp_dir.empty()) break;
      const fs::path file = places_.temp_dir / name;
      std::vector<std::string> temp_lines;
      if (env_.ReadLines(file.string(), &temp_lines)) CheckEncoding(file, temp_lines);
    }
  }

  // The e-mail settings and the contacts file, when the installation sends
  // its statements by e-mail ([Correu] names a server or a sender).
  void CheckMail(const fs::path& settings) {
    std::string root = places_.root.string();
    if (!root.empty() && root.back() != '/') root += '/';
    const mail::MailSettings s = mail::ReadMailSettings(env_, root);
    if (s.server.empty() && s.from_address.empty()) return;
    std::vector<std::string> lines;
    env_.ReadLines(settings.string(), &lines);
    if (const std::string wrong = mail::MailSettingsProblem(s); !wrong.empty()) {
      Error(settings, LineOf(lines, "Correu", "Servidor"), platform::Cp850ToUtf8(wrong));
    }
    if (!s.ca_file.empty() && !Exists(s.ca_file)) {
      Error(settings, LineOf(lines, "Correu", "Certificats"),
            Text("el fitxer de certificats @1 no hi \x82s", {s.ca_file}));
    }
    const fs::path contacts = env_.HostPathOf(s.contacts_path);
    std::string bytes;
    std::unique_ptr<platform::RandomAccessFile> f = env_.OpenForReading(s.contacts_path);
    const int64_t size = f ? f->Size() : -1;
    if (size < 0 || !f->Read(0, static_cast<size_t>(size), &bytes)) {
      Warning(contacts, 0, Text("no es pot llegir: ning\xa3 no rebr\x85 els fulls per correu"));
      return;
    }
    std::vector<mail::ContactProblem> problems;
    mail::ParseContacts(bytes, &problems);
    for (const mail::ContactProblem& p : problems) {
      Warning(contacts, p.line,
              platform::Cp850ToUtf8(config::Translate(p.why)) +
                  (p.value.empty() ? std::string() : " (" + p.value + ")"));
    }
  }

  // The forms as the module loads them at start-up.
  void CheckForms() {
    const fs::path path = places_.root / "FORMS" / (std::string(config::kModuleName) + ".ZPN");
    if (!CheckPackageFile(path)) return;
    console::FormSet forms;
    const std::string problem = driver::LoadModuleForms(
        path.string(), [](const std::string& t) { return config::Translate(t); }, &forms);
    if (problem.empty()) return;
    // The message names the file as the host spells it: its bytes stay.
    const std::string name = platform::HostPath(path.string());
    const size_t at = problem.find(name);
    Error(path, 0,
          at == std::string::npos ? platform::Cp850ToUtf8(problem)
                                  : platform::Cp850ToUtf8(problem.substr(0, at)) + name +
                                        platform::Cp850ToUtf8(problem.substr(at + name.size())));
  }

  // F1's files: the module's topic (the menu the session names) and the
  // general help, in Catalan and in the installation's language.
  void CheckHelp() {
    std::string topic = config::kModuleName;
    if (!places_.temp_dir.empty()) {
      const std::string menu = platform::TrimRightBlanks(
          config::IniRead(env_, (places_.temp_dir / "Sessio.ini").string(), "Menu", "NomMenu"));
      if (console::IsSafeHelpTopic(menu)) topic = menu;
    }
    const std::string language = config::ModuleSettings().language;
    for (const std::string& t : {topic, std::string(console::kGeneralHelpTopic)}) {
      CheckPackageFile(places_.root / "AJUDA" / (t + ".HLP"));
      if (language != "SPA" && language != "GLG" && language != "OCI") continue;
      const fs::path translated = places_.root / "AJUDA" / (t + "." + language + ".HLP");
      if (!Exists(translated)) {
        Warning(translated, 0, Text("no hi \x82s; F1 hi mostra l'ajuda en catal\x85"));
      }
    }
  }

  void CheckDefinitions() {
    for (const std::string& name : driver::ReportFileNames()) {
      const fs::path path = places_.root / "ddf" / (datafiles::RecordFileBaseName(name) + ".xdf");
      if (!CheckPackageFile(path)) continue;
      std::string xdf;
      std::unique_ptr<platform::RandomAccessFile> file = env_.OpenForReading(path.string());
      const int64_t size = file ? file->Size() : -1;
      recmgr::FileDefinition definition;
      recmgr::Status status = recmgr::kInvalidDefinition;
      if (size >= 2 && file->Read(0, static_cast<size_t>(size), &xdf) && xdf.size() >= 2) {
        const size_t count = platform::LoadLe16(xdf, 0);
        if (count > 0 && xdf.size() >= 2 + count) {
          status = recmgr::DecodeDefinition(reinterpret_cast<const uint8_t*>(xdf.data()) + 2, count,
                                            &definition);
        }
      }
      if (status != 0) {
        Error(path, 0,
              Text("no \x82s una definici\xa2 de fitxer de dades v\x85lida (estat @1)",
                   {std::to_string(status)}));
      }
    }
  }

  // Each data file opened and its first record read through the record
  // manager, as a print run does: from the root, on the server when
  // Nuva.ini names one. Nothing is created.
  void CheckDataFiles(const fs::path& settings) {
    std::vector<std::string> lines;
    env_.ReadLines(settings.string(), &lines);
    const std::string server = config::IniReadBytes(env_, settings.string(), "Dades", "Servidor");
    const int server_line = LineOf(lines, "Dades", "Servidor");
    const std::string previous_dir = env_.GetCurrentDirectory();
    if (!env_.SetCurrentDirectory(places_.root.string())) return;
    recmgr::UseServer(server, WithSeparator(places_.root));
    const std::string owner = datafiles::RecordFileOwnerName() + '\0';
    for (const std::string& name : driver::ReportFileNames()) {
      const std::string file = datafiles::ResolveRecordFileName(name);
      const std::string host = platform::HostPath(file);
      const fs::path shown = places_.root / host;
      if (server.empty() && !Exists(host)) {
        Error(shown, 0,
              Text("no hi \x82s; els programes el crearien buit a partir de la definici\xa2"));
        continue;
      }
      uint8_t block[recmgr::kPositionBlockSize] = {};
      std::string key = file;
      std::string data = owner;
      uint32_t length = static_cast<uint32_t>(data.size());
      recmgr::Status status =
          recmgr::RecordManagerCall(recmgr::kOpOpen, block, data.data(), &length, key.data(),
                                    static_cast<uint8_t>(key.size()), recmgr::kOpenNormal);
      bool opened = status == 0;
      if (opened) {
        std::string record(static_cast<size_t>(recmgr::kMaxRecordLength), '\0');
        char read_key[recmgr::kMaxKeyLength + 1] = {};
        length = static_cast<uint32_t>(record.size());
        status = recmgr::RecordManagerCall(recmgr::kOpGetFirst, block, record.data(), &length,
                                           read_key, recmgr::kMaxKeyLength, 0);
        if (status == recmgr::kEndOfFile) status = 0;
      }
      const std::string reason = platform::Cp850ToUtf8(datafiles::ServerFailureText(status));
      if (opened) {
        uint32_t none = 0;
        recmgr::RecordManagerCall(recmgr::kOpClose, block, nullptr, &none, nullptr, 0, 0);
      }
      if (status == 0) continue;
      if (server.empty()) {
        Error(shown, 0,
              opened ? Text("no es pot llegir (estat @1)", {std::to_string(status)})
                     : Text("no es pot obrir (estat @1)", {std::to_string(status)}));
        continue;
      }
      // On the server the problem is the one Servidor names.
      Error(settings, server_line,
            Text("@1 al servidor de dades: no es pot obrir (estat @2)",
                 {host, std::to_string(status)}) +
                (reason.empty() ? "" : ": " + reason));
      // A server that cannot be reached fails every file alike.
      if (status == recmgr::kIoError) break;
    }
    recmgr::UseServer("", "");
    env_.SetCurrentDirectory(previous_dir);
  }

  void CheckPrintProgram() {
    const fs::path program = places_.program_dir / "ZIZAVEZU";
    std::error_code ec;
    if (fs::is_regular_file(program, ec) && ::access(program.c_str(), X_OK) == 0) return;
    Error(program, 0, Text("no hi ha el programa d'impressi\xa2, o no es pot executar"));
  }

  // Whether this user may make files in the folder (nothing is made).
  static bool Writable(const fs::path& folder, std::string* why) {
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return true;
    *why = std::strerror(errno);
    return false;
  }

  // The temporary folder holds the print file, the work files and the
  // output; the terminal folder the adding machine's tape.
  void CheckTemporaryFolder() {
    const fs::path& temp = places_.temp_dir;
    if (temp.empty()) return;
    std::error_code ec;
    if (!fs::is_directory(temp, ec)) {
      Error(temp, 0, Text("la carpeta temporal no hi \x82s"));
      return;
    }
    std::string why;
    if (!Writable(temp, &why)) {
      Error(temp, 0, Text("no es pot escriure a la carpeta temporal: @1", {why}));
    }
    const std::string dir =
        config::IniReadBytes(env_, (temp / "Sessio.ini").string(), "Terminal", "Dir");
    if (platform::IsBlank(dir)) return;
    fs::path terminal = platform::HostPath(dir);
    // The module works from the root: a relative folder lies under it.
    if (terminal.is_relative()) terminal = places_.root / terminal;
    if (!Writable(terminal, &why)) {
      Error(terminal, 0, Text("no es pot escriure a la carpeta del terminal: @1", {why}));
    }
  }

  platform::Env& env_;
  const CheckPlaces& places_;
  int errors_ = 0;
  int warnings_ = 0;
};

}  // namespace

int CheckInstallation(platform::Env& env, const CheckPlaces& places) {
  return Checker(env, places).Run();
}

}  // namespace telvoran_setup
