// telvoran-setup: makes a new, empty installation in a folder of its own.
//
//   telvoran-setup DIR [--language CAT|SPA|GLG|OCI]
//
//   DIR/root/  the data root (ZELROOT): the forms, locale, help and file
//              definitions of the shared folder, an empty data file for
//              each definition, and Nuva.ini from the shared template with
//              the language and its separators
//   DIR/tmp/   the temporary folder (ZELTMP): Sessio.ini, NuvaTerm.ini
//   DIR/term/  the terminal folder (the adding machine's tape)
//   DIR/env    the environment to source; ZELEXE names the folder this
//              program runs from, where ZIZAVEZU is installed beside it
//
// The shared folder is found from the program's own place, so a package in
// /usr and a `cmake --install --prefix` anywhere work alike. Its locale file
// also gives this program's messages, in the language chosen.
//
// Exit status: 0 done, 1 failed (with a message; whatever was made in DIR
// is removed again; or standard output lost what was written to it), 2
// usage error. Ended by SIGTERM, SIGHUP, SIGINT or SIGQUIT it removes what
// it had made too, then ends by that signal.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "config/locale.h"
#include "config/settings.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

namespace {

namespace fs = std::filesystem;

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

// The folders of the shared folder copied into the root as they are.
constexpr const char* kCopiedFolders[] = {"FORMS", "LOCALE", "AJUDA", "ddf"};

const LanguageDefaults* FindLanguage(const std::string& language) {
  for (const LanguageDefaults& l : kLanguages) {
    if (language == l.language) return &l;
  }
  return nullptr;
}

// A message in the installation's language, for the terminal; the values
// (paths as the host spells them) go in as given, so a path is shown as it
// is whatever its letters.
std::string Text(const std::string& catalan, const std::vector<std::string>& values = {}) {
  return config::TranslateForTerminal(catalan, values);
}

void Say(std::FILE* to, const std::string& line) { std::fprintf(to, "%s\n", line.c_str()); }

int Fail(const std::string& line) {
  Say(stderr, "telvoran-setup: " + line);
  return 1;
}

void Usage(std::FILE* to) {
  Say(to, Text("\xe9s: telvoran-setup CARPETA [--language CAT|SPA|GLG|OCI]"));
  Say(to, Text("Crea a CARPETA (nova o buida) una instal\xfalaci\xa2 nova i buida del m\x95"
               "dul de liquidacions."));
  Say(to, Text("  --language IDIOMA  idioma de la instal\xfalaci\xa2: CAT (per defecte), SPA, GLG "
               "o OCI"));
  Say(to, Text("  --help, --version  aquesta ajuda, la versi\xa2"));
}

int UsageError(const std::string& line) {
  Say(stderr, "telvoran-setup: " + line);
  Usage(stderr);
  return 2;
}

// The text of a path for a shell's single quotes.
std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string WithSeparator(const fs::path& dir) {
  std::string text = dir.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

// --- What this run made ----------------------------------------------------
//
// A run that fails or is ended by a signal must leave the folder as it was
// found, so that another run can start there: it removes what it made and
// nothing else, never through a link. The signal handler has only what is
// noted here, in plain data, and removes through async-signal-safe calls
// on the folder opened at the start (so a folder swapped for a link
// meanwhile is not followed).

// The names a run makes inside DIR.
constexpr const char* kTopNames[] = {"root", "tmp", "term", "env"};
// Deep enough for what a run makes (root/FORMS/file); anything deeper is
// not its own and stays.
constexpr int kRemovalDepth = 6;

char g_dir_path[PATH_MAX];
// The length of the part of g_dir_path that existed before the run: the
// folders after it (DIR included) are its own. Equal to the whole length
// when DIR existed.
size_t g_existing_length = 0;
bool g_dir_created = false;
int g_dir_fd = -1;
// Which of kTopNames this run made in a DIR that existed, one bit each.
volatile sig_atomic_t g_made_names = 0;
volatile sig_atomic_t g_armed = 0;

// Holds the termination signals off while alive, so that what is made and
// its note come together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

bool RemoveTreeAt(int parent, const char* name, int depth);

// Removes what dir_fd holds; true when it is empty afterwards. Entries go
// while the folder is read, so it is read again from its start until a
// pass removes nothing more.
bool RemoveEntries(int dir_fd, int depth) {
  alignas(8) char buffer[2048];
  bool left = false;
  for (bool removed = true; removed;) {
    removed = false;
    left = false;
    if (::lseek(dir_fd, 0, SEEK_SET) != 0) return false;
    ssize_t n = 0;
    while ((n = ::getdents64(dir_fd, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (RemoveTreeAt(dir_fd, name, depth)) {
          removed = true;
        } else {
          left = true;
        }
      }
    }
    if (n < 0) return false;
  }
  return !left;
}

// Removes the entry name of parent, a folder with what it holds; a link is
// removed itself, never followed. True when it is gone.
bool RemoveTreeAt(int parent, const char* name, int depth) {
  if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
  if (depth <= 0) return false;
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  RemoveEntries(fd, depth - 1);
  ::close(fd);
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// Removes what the run made, once. Async-signal-safe.
void RemoveMade() {
  if (!g_armed) return;
  g_armed = 0;
  // Another termination signal must not end the removal halfway.
  sigset_t set, previous;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&set, sig);
  ::sigprocmask(SIG_BLOCK, &set, &previous);
  if (g_dir_fd >= 0) {
    if (g_dir_created) {
      RemoveEntries(g_dir_fd, kRemovalDepth);
    } else {
      for (size_t i = 0; i < sizeof kTopNames / sizeof kTopNames[0]; ++i) {
        if (g_made_names & (1 << i)) RemoveTreeAt(g_dir_fd, kTopNames[i], kRemovalDepth);
      }
    }
  }
  if (g_dir_created) {
    // DIR and the folders above it that the run made, innermost first;
    // rmdir takes only an empty folder, and never a link.
    char path[PATH_MAX];
    std::memcpy(path, g_dir_path, sizeof path);
    size_t length = std::strlen(path);
    while (length > g_existing_length) {
      ::rmdir(path);
      while (length > 0 && path[length - 1] != '/') --length;
      while (length > 1 && path[length - 1] == '/') --length;
      path[length] = '\0';
    }
  }
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Notes that the run made path, when it is one of DIR's own names.
void NoteMade(const fs::path& dir, const fs::path& path) {
  if (path.parent_path() != dir) return;
  for (size_t i = 0; i < sizeof kTopNames / sizeof kTopNames[0]; ++i) {
    if (path.filename() == kTopNames[i]) g_made_names = g_made_names | (1 << i);
  }
}

// Makes DIR (with the folders above it that are missing, one level at a
// time so that exactly those are known) or takes the empty one there is,
// and arms the removal. False after a message.
bool StartInstallationFolder(const fs::path& dir) {
  const std::string text = dir.string();
  if (text.size() >= sizeof g_dir_path) {
    Fail(Text("No es pot crear la carpeta @1", {text}));
    return false;
  }
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir, ec))) {
    if (!fs::is_directory(dir, ec) || !fs::is_empty(dir, ec) || ec) {
      Fail(Text("@1 ja existeix i no \x82s una carpeta buida; la instal\xfalaci\xa2 nova es "
                "fa en una carpeta nova o buida",
                {text}));
      return false;
    }
    SignalsHeld held;
    g_dir_fd = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_dir_fd < 0) {
      Fail(Text("No es pot llegir @1", {text}));
      return false;
    }
    std::memcpy(g_dir_path, text.c_str(), text.size() + 1);
    g_existing_length = text.size();
    g_dir_created = false;
    g_armed = 1;
    return true;
  }
  std::vector<fs::path> missing;
  for (fs::path at = dir; !fs::exists(fs::symlink_status(at, ec)); at = at.parent_path()) {
    missing.push_back(at);
    if (at == at.parent_path()) break;
  }
  SignalsHeld held;
  std::memcpy(g_dir_path, text.c_str(), text.size() + 1);
  g_existing_length = missing.back().parent_path().string().size();
  g_dir_created = true;
  g_armed = 1;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0777) != 0) {
      // What was made before goes: from the folder just made up.
      if (it == missing.rbegin()) {
        g_armed = 0;
      } else {
        const std::string made = std::prev(it)->string();
        std::memcpy(g_dir_path, made.c_str(), made.size() + 1);
      }
      RemoveMade();
      Fail(Text("No es pot crear la carpeta @1", {text}));
      return false;
    }
  }
  g_dir_fd = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return true;
}

void FinishInstallationFolder() {
  g_armed = 0;
  if (g_dir_fd >= 0) ::close(g_dir_fd);
  g_dir_fd = -1;
}

// The folder of this program as the host sees it, without links.
fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path();
}

class Setup {
 public:
  Setup(platform::Env& env, const fs::path& share, const fs::path& program_dir,
        const fs::path& dir, const LanguageDefaults& language)
      : env_(env), share_(share), program_dir_(program_dir), dir_(dir), language_(language) {}

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

  void PrintNextSteps() const {
    const std::string root = WithSeparator(dir_ / "root");
    if (!fs::exists(program_dir_ / "ZIZAVEZU")) {
      Say(stderr, Text("Av\xa1s: no hi ha el programa d'impressi\xa2 ZIZAVEZU a @1",
                       {WithSeparator(program_dir_)}));
    }
    Say(stdout, Text("Instal\xfalaci\xa2 nova a @1 (idioma @2).",
                     {dir_.string(), language_.language}));
    Say(stdout, Text("Per continuar:"));
    Say(stdout, Text("  1. Ompliu la secci\xa2 [Administrador] de @1 (nom, adreces, NIF, "
                     "poblaci\xa2).",
                     {root + "Nuva.ini"}));
    Say(stdout, Text("  2. Carregueu les dades de cada fitxer en format seq\x81"
                     "encial: recmgr load @1NOM.dat NOM.seq",
                     {root + "DADES/"}));
    Say(stdout, Text("  3. Carregueu l'entorn i obriu el m\x95"
                     "dul: source @1 && TELVORAN",
                     {(dir_ / "env").string()}));
    Say(stdout, Text("La data de treball \x82s @1: canvieu-la a @2 (secci\xa2 [Sistema], clau Data).",
                     {today_text_, (dir_ / "tmp" / "NuvaTerm.ini").string()}));
  }

 private:
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

  bool ReadFile(const fs::path& path, std::string* bytes) {
    std::unique_ptr<platform::RandomAccessFile> file = env_.OpenForReading(path.string());
    const int64_t size = file ? file->Size() : -1;
    if (size < 0 || !file->Read(0, static_cast<size_t>(size), bytes) ||
        bytes->size() != static_cast<size_t>(size)) {
      Fail(Text("No es pot llegir @1", {path.string()}));
      return false;
    }
    return true;
  }

  bool WriteFile(const fs::path& path, const std::string& bytes) {
    std::unique_ptr<platform::WritableFile> file = env_.OpenWritable(path.string());
    const bool appended = file && file->Append(bytes);
    if (!file || !file->Close() || !appended) {
      Fail(Text("No es pot escriure @1", {path.string()}));
      return false;
    }
    return true;
  }

  bool WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
    if (env_.WriteLines(path.string(), lines)) return true;
    Fail(Text("No es pot escriure @1", {path.string()}));
    return false;
  }

  // The regular files of a folder by name, so that every run copies and
  // reports in the same order.
  bool FolderFiles(const fs::path& from, std::vector<fs::path>* files) {
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file(ec)) files->push_back(it->path());
    }
    if (ec) {
      Fail(Text("No es pot llegir @1", {from.string()}));
      return false;
    }
    std::sort(files->begin(), files->end());
    return true;
  }

  bool CopyFolder(const fs::path& from, const fs::path& to) {
    std::vector<fs::path> files;
    if (!FolderFiles(from, &files)) return false;
    for (const fs::path& file : files) {
      std::string bytes;
      if (!ReadFile(file, &bytes) || !WriteFile(to / file.filename(), bytes)) return false;
    }
    return true;
  }

  // Nuva.ini: the shared template with the language and its separators in
  // [Usuari]; everything else (the blank [Administrador], the fee rates, the
  // comments) as the template has it.
  bool WriteSettings(const fs::path& root) {
    const fs::path template_path = share_ / "Nuva.ini";
    std::vector<std::string> lines;
    if (!env_.ReadLines(template_path.string(), &lines)) {
      Fail(Text("No es pot llegir @1", {template_path.string()}));
      return false;
    }
    const std::pair<std::string, std::string> values[] = {
        {"Idioma", language_.language},        {"DatCaracter", language_.date_separator},
        {"DatOrdre", language_.date_order},    {"DecCaracter", language_.decimal},
        {"MilCaracter", language_.thousands}};
    bool in_user_section = false;
    for (std::string& line : lines) {
      if (!line.empty() && line[0] == '[') {
        in_user_section = line.rfind("[Usuari]", 0) == 0;
        continue;
      }
      if (!in_user_section) continue;
      for (const auto& [key, value] : values) {
        if (line.rfind(key + "=", 0) == 0) line = key + "=" + value;
      }
    }
    return WriteLines(root / "Nuva.ini", lines);
  }

  // An empty data file for each definition, as the module would create it
  // when it first opens a missing one.
  bool CreateDataFiles(const fs::path& root) {
    std::vector<fs::path> definitions;
    if (!FolderFiles(root / "ddf", &definitions)) return false;
    for (const fs::path& definition : definitions) {
      if (definition.extension() != ".xdf") continue;
      std::string xdf;
      if (!ReadFile(definition, &xdf)) return false;
      const size_t count = xdf.size() >= 2 ? platform::LoadLe16(xdf, 0) : 0;
      const fs::path data_file = root / "DADES" / definition.stem().concat(".dat");
      std::string key = data_file.string();
      recmgr::Status status = recmgr::kInvalidDefinition;
      if (count > 0 && xdf.size() >= 2 + count && key.size() <= static_cast<size_t>(recmgr::kMaxKeyLength)) {
        std::string definition_bytes = xdf.substr(2, count);
        uint32_t length = static_cast<uint32_t>(definition_bytes.size());
        status = recmgr::RecordManagerCall(recmgr::kOpCreate, nullptr, definition_bytes.data(), &length,
                                           key.data(), static_cast<uint8_t>(key.size()),
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
                       "NomMenu=TELVORAN", "[Terminal]",
                       "Dir=" + WithSeparator(dir_ / "term")});
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
                       "Sortida=PDF:statements.pdf",
                       std::string("Idioma=") + language_.language});
  }

  bool WriteEnvironment() {
    std::string text = "# The folders of this installation: source it before TELVORAN or\n"
                       "# telvoran-print.\n";
    text += "export ZELROOT=" + ShellQuoted(WithSeparator(dir_ / "root")) + "\n";
    text += "export ZELTMP=" + ShellQuoted(WithSeparator(dir_ / "tmp")) + "\n";
    text += "export ZELEXE=" + ShellQuoted(WithSeparator(program_dir_)) + "\n";
    // Noted before it exists: it appears under its name at the rename.
    NoteMade(dir_, dir_ / "env");
    return WriteFile(dir_ / "env", text);
  }

  platform::Env& env_;
  fs::path share_;
  fs::path program_dir_;
  fs::path dir_;
  const LanguageDefaults& language_;
  std::string today_text_;
};

// The program itself; main checks standard output after it.
int Run(int argc, char** argv) {
  config::Settings& settings = config::ModuleSettings();
  // Until the shared folder is found the messages stay Catalan, which reads
  // no file.
  settings.language = "CAT";
  std::string language = "CAT";
  std::vector<std::string> positional;
  bool help = false;
  std::string unknown_option;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--version") {
      std::puts("telvoran-setup " TELVORAN_VERSION);
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
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
  platform::UpperAnsi(&language);
  const LanguageDefaults* defaults = FindLanguage(language);

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
  if (positional.empty()) return UsageError(Text("Falta la carpeta de la instal\xfalaci\xa2"));
  if (positional.size() > 1) return UsageError(Text("Sobra l'argument @1", {positional[1]}));
  if (!share_found) {
    return Fail(Text("No es troba la carpeta compartida @1 (formularis, traducci\xa2, ajuda i "
                     "definicions)",
                     {share.string()}));
  }

  fs::path dir = fs::absolute(positional[0], ec).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();
  // The settings files name the folder: the INI reader ends a value at ";"
  // and a line at CR or LF, and the module reads every "\" of a path as
  // "/". (The env file quotes the folders for the shell, so it carries any
  // byte.)
  if (dir.string().find_first_of(";\r\n\\") != std::string::npos) {
    return Fail(Text("El cam\xa1 @1 t\x82 un car\x85"
                     "cter que els fitxers de configuraci\xa2 no poden guardar (; \\ o un salt "
                     "de l\xa1nia); trieu una altra carpeta",
                     {dir.string()}));
  }
  platform::AddSignalCleanup(&RemoveMade);
  if (!StartInstallationFolder(dir)) return 1;

  Setup setup(*platform::DefaultEnv(), share, program_dir, dir, *defaults);
  if (!setup.Run()) {
    RemoveMade();
    return Fail(Text("La instal\xfalaci\xa2 no s'ha acabat; s'ha desfet el que s'havia fet a @1",
                     {dir.string()}));
  }
  FinishInstallationFolder();
  setup.PrintNextSteps();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::InstallSignalCleanupHandlers();
  const int code = Run(argc, argv);
  // The usage, the version or the next steps must have reached standard
  // output (not lost on /dev/full, a full disk).
  int error = 0;
  if (!platform::CloseStandardOutput(&error)) {
    Fail(Text("no es pot escriure a la sortida est\x85ndard: @1", {std::strerror(error)}));
    return code == 0 ? 1 : code;
  }
  return code;
}
