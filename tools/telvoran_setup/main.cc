// telvoran-setup: makes a new, empty installation in a folder of its own,
// a workstation for an existing one, checks an installation and upgrades
// its copies of the package's files.
//
//   telvoran-setup DIR [--language CAT|SPA|GLG|OCI]
//
//   DIR/root/  the data root (ZELROOT): the forms, locale, help and file
//              definitions of the shared folder, an empty data file for
//              each definition, and Nuva.ini from the shared template with
//              the language, its separators and its comments in it
//   DIR/tmp/   the temporary folder (ZELTMP): Sessio.ini, NuvaTerm.ini
//   DIR/term/  the terminal folder (the adding machine's tape)
//   DIR/env    the environment to source; ZELEXE names the folder this
//              program runs from, where ZIZAVEZU is installed beside it
//
//   telvoran-setup --workstation DIR ROOT [--language ...]
//              DIR/tmp/, DIR/term/ and DIR/env as above, env naming ROOT;
//              nothing is written under ROOT
//   telvoran-setup --check ROOT [TMPDIR]    (check.h)
//   telvoran-setup --upgrade ROOT           (upgrade.h)
//
// The shared folder is found from the program's own place, so a package in
// /usr and a `cmake --install --prefix` anywhere work alike. Its locale file
// also gives this program's messages, in the language chosen, else the
// installation's.
//
// Exit status: 0 done, 1 failed (with a message; whatever was made in DIR
// is removed again; or standard output lost what was written to it), 2
// usage error; a check's own in check.h. Ended by
// SIGTERM, SIGHUP, SIGINT or SIGQUIT it removes what it had made too, then
// ends by that signal.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "config/ini.h"
#include "config/locale.h"
#include "config/settings.h"
#include "platform/blanks.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"
#include "tools/telvoran_setup/check.h"
#include "tools/telvoran_setup/common.h"
#include "tools/telvoran_setup/installation_folder.h"
#include "tools/telvoran_setup/upgrade.h"

namespace {

using namespace telvoran_setup;

// The separators Nuva.ini [Usuari] gets for each language. Every language
// the module speaks is written where dates go day/month/year and amounts
// 1.234,56, so the rows agree today; a language written elsewhere adds its
// own row.
struct LanguageDefaults {
  const char* language;
  const char* date_separator;
  const char* date_order;
  const char* decimal;
  const char* thousands;
};
constexpr LanguageDefaults kLanguages[] = {
    {"CAT", "/", "DMA", ",", "."},
    {"SPA", "/", "DMA", ",", "."},
    {"GLG", "/", "DMA", ",", "."},
    {"OCI", "/", "DMA", ",", "."},
};

const LanguageDefaults* FindLanguage(const std::string& language) {
  for (const LanguageDefaults& l : kLanguages) {
    if (language == l.language) return &l;
  }
  return nullptr;
}

void Usage(std::FILE* to) {
  Say(to, Text("\xe9s: telvoran-setup CARPETA [--language CAT|SPA|GLG|OCI]"));
  Say(to, Text("    telvoran-setup --workstation CARPETA ARREL [--language CAT|SPA|GLG|OCI]"));
  Say(to, Text("    telvoran-setup --upgrade ARREL"));
  Say(to, Text("    telvoran-setup --check ARREL [CARPETA_TEMPORAL]"));
  Say(to, Text("Crea a CARPETA (nova o buida) una instal\xfalaci\xa2 nova i buida del m\x95"
               "dul de liquidacions."));
  Say(to, Text("  --workstation  fa a CARPETA (nova o buida) un lloc de treball per a la "
               "instal\xfalaci\xa2 d'ARREL"));
  Say(to, Text("  --upgrade      renova les c\x95pies d'ARREL dels formularis, la traducci\xa2, "
               "l'ajuda i les definicions"));
  Say(to, Text("  --check        comprova el que llegiran els programes i diu cada problema amb el "
               "seu fitxer i l\xa1nia"));
  Say(to, Text("  --language IDIOMA  idioma de la instal\xfalaci\xa2: CAT (per defecte), SPA, GLG "
               "o OCI"));
  Say(to, Text("  --help, --version  aquesta ajuda, la versi\xa2"));
}

int UsageError(const std::string& line) {
  Say(stderr, "telvoran-setup: " + line);
  Usage(stderr);
  return 2;
}

// A comment in the installation's language, for a file people read in an
// editor: the translation of the Catalan text (code page 850) in UTF-8,
// cut at blanks into lines of prefix + at most kCommentWidth characters.
constexpr size_t kCommentWidth = 76;
std::vector<std::string> CommentLines(const std::string& prefix, const std::string& catalan) {
  const std::string text = config::Translate(catalan);
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = std::min(text.size(), at + kCommentWidth);
    if (end < text.size()) {
      const size_t blank = text.rfind(' ', end);
      if (blank != std::string::npos && blank > at) end = blank;
    }
    lines.push_back(prefix + platform::Cp850ToUtf8(text.substr(at, end - at)));
    at = text.find_first_not_of(' ', end);
    if (at == std::string::npos) break;
  }
  return lines;
}

// Makes a new installation in DIR, or a workstation in DIR for the
// installation whose root is given.
class Setup {
 public:
  Setup(platform::Env& env, const fs::path& share, const fs::path& program_dir, const fs::path& dir,
        const LanguageDefaults& language, const fs::path& root = {})
      : env_(env),
        share_(share),
        program_dir_(program_dir),
        dir_(dir),
        language_(language),
        root_(root) {}

  // Makes the installation; false after a message on stderr.
  bool Run() {
    const fs::path root = dir_ / "root";
    for (const fs::path& folder : {root, root / "DADES", dir_ / "tmp", dir_ / "term"}) {
      if (!MakeFolder(folder)) return false;
    }
    for (const char* name : kCopiedFolders) {
      if (!MakeFolder(root / name) || !CopyFolder(share_ / name, root / name)) return false;
    }
    return WriteSettings(root) && CreateDataFiles(root) && WriteSession() && WriteTerminal() &&
           WriteEnvironment();
  }

  // Makes the workstation: its temporary and terminal folders, their
  // settings as a new installation has them, and env naming the root.
  // Nothing is written under the root.
  bool RunWorkstation() {
    for (const fs::path& folder : {dir_ / "tmp", dir_ / "term"}) {
      if (!MakeFolder(folder)) return false;
    }
    return WriteSession() && WriteTerminal() && WriteEnvironment();
  }

  void PrintNextSteps() const {
    const std::string root = WithSeparator(dir_ / "root");
    WarnWithoutPrintProgram();
    Say(stdout,
        Text("Instal\xfalaci\xa2 nova a @1 (idioma @2).", {dir_.string(), language_.language}));
    Say(stdout, Text("Per continuar:"));
    Say(stdout, Text("  1. Ompliu la secci\xa2 [Administrador] de @1 (nom, adreces, NIF, "
                     "poblaci\xa2).",
                     {root + "Nuva.ini"}));
    Say(stdout, Text("  2. Carregueu les dades de cada fitxer en format seq\x81"
                     "encial: recmgr load @1NOM.dat NOM.seq",
                     {root + "DADES/"}));
    Say(stdout, Text("  3. Comproveu la instal\xfalaci\xa2: telvoran-setup --check @1 @2",
                     {(dir_ / "root").string(), (dir_ / "tmp").string()}));
    Say(stdout, Text("  4. Carregueu l'entorn i obriu el m\x95"
                     "dul: source @1 && TELVORAN",
                     {(dir_ / "env").string()}));
    SayWorkingDate();
  }

  void PrintWorkstationSteps() const {
    WarnWithoutPrintProgram();
    Say(stdout, Text("Lloc de treball a @1 per a la instal\xfalaci\xa2 @2 (idioma @3).",
                     {dir_.string(), root_.string(), language_.language}));
    Say(stdout, Text("Per continuar:"));
    Say(stdout, Text("  Comproveu la instal\xfalaci\xa2 des d'aquest lloc de treball: "
                     "telvoran-setup --check @1 @2",
                     {root_.string(), (dir_ / "tmp").string()}));
    Say(stdout, Text("  Carregueu l'entorn i obriu el m\x95"
                     "dul: source @1 && TELVORAN",
                     {(dir_ / "env").string()}));
    SayWorkingDate();
  }

 private:
  void WarnWithoutPrintProgram() const {
    if (!fs::exists(program_dir_ / "ZIZAVEZU")) {
      Say(stderr, Text("Av\xa1s: no hi ha el programa d'impressi\xa2 ZIZAVEZU a @1",
                       {WithSeparator(program_dir_)}));
    }
  }

  void SayWorkingDate() const {
    Say(stdout,
        Text("La data de treball \x82s @1: canvieu-la a @2 (secci\xa2 [Sistema], clau Data).",
             {today_text_, (dir_ / "tmp" / "NuvaTerm.ini").string()}));
  }

  // Every folder is new: one that is there already is not this run's.
  bool MakeFolder(const fs::path& folder) {
    std::error_code ec;
    SignalsHeld held;
    const bool made = fs::create_directory(folder, ec);
    if (made) NoteMade(dir_, folder);
    if (!made || ec) {
      Fail(Text("No es pot crear la carpeta @1", {folder.string()}));
      return false;
    }
    return true;
  }

  bool WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
    if (env_.WriteLines(path.string(), lines)) return true;
    Fail(Text("No es pot escriure @1", {path.string()}));
    return false;
  }

  bool CopyFolder(const fs::path& from, const fs::path& to) {
    std::vector<fs::path> files;
    if (!RegularFilesOf(from, &files)) return false;
    for (const fs::path& file : files) {
      std::string bytes;
      if (!ReadWholeFile(env_, file, &bytes) ||
          !WriteWholeFile(env_, to / file.filename(), bytes)) {
        return false;
      }
    }
    return true;
  }

  // Nuva.ini: the shared template with the language and its separators in
  // [Usuari] and its comments in the language; everything else (the blank
  // [Administrador], the fee rates) as the template has it. The template's
  // comments are the Catalan texts, one line each, in UTF-8; the file is
  // written in UTF-8 too, so an editor of today keeps the letters typed
  // into it readable for the module.
  bool WriteSettings(const fs::path& root) {
    const fs::path template_path = share_ / "Nuva.ini";
    std::vector<std::string> lines;
    if (!env_.ReadLines(template_path.string(), &lines)) {
      Fail(Text("No es pot llegir @1", {template_path.string()}));
      return false;
    }
    const std::pair<std::string, std::string> values[] = {{"Idioma", language_.language},
                                                          {"DatCaracter", language_.date_separator},
                                                          {"DatOrdre", language_.date_order},
                                                          {"DecCaracter", language_.decimal},
                                                          {"MilCaracter", language_.thousands}};
    std::vector<std::string> out;
    bool in_user_section = false;
    for (std::string& line : lines) {
      if (line.starts_with(";")) {
        const size_t text = line.find_first_not_of(' ', 1);
        if (text == std::string::npos) {
          out.push_back(line);
        } else {
          for (std::string& comment :
               CommentLines("; ", platform::Utf8ToCp850(line.substr(text)))) {
            out.push_back(std::move(comment));
          }
        }
        continue;
      }
      if (!line.empty() && line[0] == '[') {
        in_user_section = line.rfind("[Usuari]", 0) == 0;
      } else if (in_user_section) {
        for (const auto& [key, value] : values) {
          if (line.rfind(key + "=", 0) == 0) line = key + "=" + value;
        }
      }
      out.push_back(std::move(line));
    }
    return WriteLines(root / "Nuva.ini", out);
  }

  // An empty data file for each definition, as the module would create it
  // when it first opens a missing one.
  bool CreateDataFiles(const fs::path& root) {
    std::vector<fs::path> definitions;
    if (!RegularFilesOf(root / "ddf", &definitions)) return false;
    for (const fs::path& definition : definitions) {
      if (definition.extension() != ".xdf") continue;
      std::string xdf;
      if (!ReadWholeFile(env_, definition, &xdf)) return false;
      const size_t count = xdf.size() >= 2 ? platform::LoadLe16(xdf, 0) : 0;
      const fs::path data_file = root / "DADES" / definition.stem().concat(".dat");
      std::string key = data_file.string();
      recmgr::Status status = recmgr::kInvalidDefinition;
      if (count > 0 && xdf.size() >= 2 + count &&
          key.size() <= static_cast<size_t>(recmgr::kMaxKeyLength)) {
        std::string definition_bytes = xdf.substr(2, count);
        uint32_t length = static_cast<uint32_t>(definition_bytes.size());
        status = recmgr::RecordManagerCall(recmgr::kOpCreate, nullptr, definition_bytes.data(),
                                           &length, key.data(), static_cast<uint8_t>(key.size()),
                                           recmgr::kCreateNoReplace);
      }
      if (status != 0) {
        Fail(Text("No es pot crear el fitxer de dades @1 (estat @2)",
                  {data_file.string(), std::to_string(status)}));
        return false;
      }
    }
    return true;
  }

  bool WriteSession() {
    return WriteLines(dir_ / "tmp" / "Sessio.ini",
                      {"[Menu]", "Titol=" + config::Translate("Administraci\xa2 de finques"),
                       "NomMenu=TELVORAN", "[Terminal]", "Dir=" + WithSeparator(dir_ / "term")});
  }

  // The terminal starts on today's date and prints to a PDF in the
  // temporary folder.
  bool WriteTerminal() {
    const platform::CivilDate today = env_.Today();
    char packed[16];
    std::snprintf(packed, sizeof packed, "%04d%02d%02d", today.year, today.month, today.day);
    char shown[16];
    std::snprintf(shown, sizeof shown, "%02d/%02d/%04d", today.day, today.month, today.year);
    today_text_ = shown;
    return WriteLines(dir_ / "tmp" / "NuvaTerm.ini",
                      {"[Pantalla]", "Seleccio=0", "[Sistema]", std::string("Data=") + packed,
                       "Sortida=PDF:statements.pdf", std::string("Idioma=") + language_.language});
  }

  // A workstation's env names the installation's root; a new
  // installation's, its own.
  bool WriteEnvironment() {
    const bool workstation = !root_.empty();
    std::string text;
    for (const std::string& line : CommentLines(
             "# ", workstation ? "Les carpetes d'aquest lloc de treball i de la instal\xfalaci\xa2 "
                                 "que fa servir: carregueu-lo amb source abans de TELVORAN o "
                                 "telvoran-print."
                               : "Les carpetes d'aquesta instal\xfalaci\xa2: carregueu-lo amb "
                                 "source abans de TELVORAN o telvoran-print.")) {
      text += line + "\n";
    }
    text +=
        "export ZELROOT=" + ShellQuoted(WithSeparator(workstation ? root_ : dir_ / "root")) + "\n";
    text += "export ZELTMP=" + ShellQuoted(WithSeparator(dir_ / "tmp")) + "\n";
    text += "export ZELEXE=" + ShellQuoted(WithSeparator(program_dir_)) + "\n";
    // Noted before it exists: it appears under its name at the rename.
    NoteMade(dir_, dir_ / "env");
    return WriteWholeFile(env_, dir_ / "env", text);
  }

  platform::Env& env_;
  fs::path share_;
  fs::path program_dir_;
  fs::path dir_;
  const LanguageDefaults& language_;
  fs::path root_;
  std::string today_text_;
};

// The language an existing installation's root names; Catalan when it
// names none the module speaks.
const LanguageDefaults& RootLanguage(const fs::path& root) {
  std::string language =
      config::IniRead(*platform::DefaultEnv(), (root / "Nuva.ini").string(), "Usuari", "Idioma");
  platform::UpperAnsi(&language);
  const LanguageDefaults* found = FindLanguage(platform::TrimBlanks(language));
  return found != nullptr ? *found : kLanguages[0];
}

// A folder that holds an installation's Nuva.ini; else false after a
// message.
bool IsInstallationRoot(const fs::path& root) {
  std::error_code ec;
  if (fs::is_regular_file(root / "Nuva.ini", ec)) return true;
  Fail(Text("@1 no \x82s l'arrel d'una instal\xfalaci\xa2 (no hi ha Nuva.ini)", {root.string()}));
  return false;
}

// True when path is folder or lies under it, links resolved.
bool Inside(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  const fs::path real_path = fs::weakly_canonical(path, ec);
  if (ec) return false;
  const fs::path real_folder = fs::weakly_canonical(folder, ec);
  if (ec) return false;
  const std::string relative = real_path.lexically_relative(real_folder).generic_string();
  return !relative.empty() && !relative.starts_with("..");
}

enum class Mode { kInstallation, kWorkstation, kUpgrade, kCheck };

struct ModeOption {
  const char* option;
  Mode mode;
};
constexpr ModeOption kModeOptions[] = {{"--workstation", Mode::kWorkstation},
                                       {"--upgrade", Mode::kUpgrade},
                                       {"--check", Mode::kCheck}};

int MakeInstallation(const fs::path& share, const fs::path& program_dir, const std::string& given,
                     const LanguageDefaults& language) {
  const fs::path dir = AbsoluteFolder(given);
  if (!NameableFolder(dir)) return 1;
  platform::AddSignalCleanup(&RemoveMade);
  if (!StartInstallationFolder(dir, false)) return 1;
  Setup setup(*platform::DefaultEnv(), share, program_dir, dir, language);
  if (!setup.Run()) {
    RemoveMade();
    return Fail(Text("La instal\xfalaci\xa2 no s'ha acabat; s'ha desfet el que s'havia fet a @1",
                     {dir.string()}));
  }
  FinishInstallationFolder();
  setup.PrintNextSteps();
  return 0;
}

int MakeWorkstation(const fs::path& share, const fs::path& program_dir, const std::string& given,
                    const fs::path& root, const LanguageDefaults& language) {
  const fs::path dir = AbsoluteFolder(given);
  if (!NameableFolder(dir)) return 1;
  if (Inside(dir, root)) {
    return Fail(
        Text("@1 \x82s dins de la instal\xfalaci\xa2 @2; el lloc de treball es fa fora "
             "de l'arrel, on no s'escriu res",
             {dir.string(), root.string()}));
  }
  platform::AddSignalCleanup(&RemoveMade);
  if (!StartInstallationFolder(dir, true)) return 1;
  Setup setup(*platform::DefaultEnv(), share, program_dir, dir, language, root);
  if (!setup.RunWorkstation()) {
    RemoveMade();
    return Fail(Text("El lloc de treball no s'ha acabat; s'ha desfet el que s'havia fet a @1",
                     {dir.string()}));
  }
  FinishInstallationFolder();
  setup.PrintWorkstationSteps();
  return 0;
}

// The program itself; main checks standard output after it.
int Run(int argc, char** argv) {
  config::Settings& settings = config::ModuleSettings();
  // Until the shared folder is found the messages stay Catalan, which reads
  // no file.
  settings.language = "CAT";
  std::string language;
  std::vector<std::string> positional;
  bool help = false;
  std::string unknown_option;
  const ModeOption* mode = nullptr;
  std::string clashing_mode;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const ModeOption* named = nullptr;
    for (const ModeOption& m : kModeOptions) {
      if (arg == m.option) named = &m;
    }
    if (arg == "--version") {
      std::puts("telvoran-setup " TELVORAN_VERSION);
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (named != nullptr) {
      if (mode != nullptr && mode != named && clashing_mode.empty()) clashing_mode = arg;
      if (mode == nullptr) mode = named;
    } else if (arg == "--language" && i + 1 < argc) {
      language = argv[++i];
    } else if (arg.rfind("--language=", 0) == 0) {
      language = arg.substr(11);
    } else if (arg.size() > 1 && arg[0] == '-' && unknown_option.empty()) {
      unknown_option = arg;
    } else {
      positional.push_back(arg);
    }
  }
  const bool language_given = !language.empty();
  if (!language_given) language = "CAT";
  platform::UpperAnsi(&language);
  const LanguageDefaults* defaults = FindLanguage(language);
  const Mode chosen = mode != nullptr ? mode->mode : Mode::kInstallation;

  const fs::path program_dir = ProgramFolder();
  const fs::path share = (program_dir / TELVORAN_SHARE_FROM_BIN).lexically_normal();
  std::error_code ec;
  const bool share_found = !program_dir.empty() && fs::is_regular_file(share / "Nuva.ini", ec) &&
                           fs::is_regular_file(share / "LOCALE" / "TELVORAN.LNG", ec);
  settings.root_dir = WithSeparator(share);
  if (share_found && defaults != nullptr) settings.language = defaults->language;

  if (help) {
    Usage(stdout);
    return 0;
  }
  if (defaults == nullptr) {
    return UsageError(Text("Idioma desconegut: @1 (ha de ser CAT, SPA, GLG o OCI)", {language}));
  }
  if (!unknown_option.empty()) {
    return UsageError(Text("Opci\xa2 desconeguda: @1", {unknown_option}));
  }
  if (!clashing_mode.empty()) {
    return UsageError(Text("@1 i @2 no van junts", {mode->option, clashing_mode}));
  }
  if (language_given && (chosen == Mode::kUpgrade || chosen == Mode::kCheck)) {
    return UsageError(Text("@1 no va amb @2", {"--language", mode->option}));
  }
  // What each mode takes: DIR, DIR ROOT, ROOT, ROOT [TMPDIR].
  const size_t needed = chosen == Mode::kWorkstation ? 2 : 1;
  const size_t most = chosen == Mode::kInstallation || chosen == Mode::kUpgrade ? 1 : 2;
  if (positional.size() < needed) {
    return UsageError(positional.empty() && chosen != Mode::kUpgrade && chosen != Mode::kCheck
                          ? Text("Falta la carpeta de la instal\xfalaci\xa2")
                          : Text("Falta l'arrel de la instal\xfalaci\xa2"));
  }
  if (positional.size() > most) return UsageError(Text("Sobra l'argument @1", {positional[most]}));
  if (!share_found) {
    return Fail(
        Text("No es troba la carpeta compartida @1 (formularis, traducci\xa2, ajuda i "
             "definicions)",
             {share.string()}));
  }

  if (chosen == Mode::kInstallation) {
    return MakeInstallation(share, program_dir, positional[0], *defaults);
  }
  // The other modes work on an existing installation, in its language
  // unless one is given.
  const fs::path root = AbsoluteFolder(positional[chosen == Mode::kWorkstation ? 1 : 0]);
  if (!NameableFolder(root)) return 1;
  if (chosen == Mode::kCheck) {
    CheckPlaces places;
    places.root = root;
    places.share = share;
    places.program_dir = program_dir;
    if (positional.size() > 1) {
      places.temp_dir = AbsoluteFolder(positional[1]);
    } else if (const char* temp = std::getenv("ZELTMP"); temp != nullptr && *temp != '\0') {
      places.temp_dir = AbsoluteFolder(temp);
    }
    if (const char* exe = std::getenv("ZELEXE"); exe != nullptr && *exe != '\0') {
      places.program_dir = AbsoluteFolder(exe);
    }
    return CheckInstallation(*platform::DefaultEnv(), places);
  }
  if (!IsInstallationRoot(root)) return 1;
  const LanguageDefaults& root_language = language_given ? *defaults : RootLanguage(root);
  settings.language = root_language.language;
  if (chosen == Mode::kUpgrade) return UpgradeInstallation(*platform::DefaultEnv(), share, root);
  return MakeWorkstation(share, program_dir, positional[0], root, root_language);
}

}  // namespace

int main(int argc, char** argv) {
  platform::InstallSignalCleanupHandlers();
  const int code = Run(argc, argv);
  // The usage, the version, the next steps or the check's report must have
  // reached standard output (not lost on /dev/full, a full disk).
  int error = 0;
  if (!platform::CloseStandardOutput(&error)) {
    Fail(Text("no es pot escriure a la sortida est\x85ndard: @1", {std::strerror(error)}));
    return code == 0 ? 1 : code;
  }
  return code;
}
