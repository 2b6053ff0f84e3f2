// recmgr: the data tool for administrators and tests. Creates data files
// from definition files, loads and saves them in the sequential format,
// shows their statistics and records, holds locks and sets owner names.
// Paths are host paths. Exit code 0 on success; 2 for a usage error (the
// usage goes to stderr); otherwise 1, with one line on stderr. The usage and
// the messages come through the locale file, in the language of the
// installation the environment names (Catalan without one); what scripts
// read as data (stat, dump, "locked", --version) is the same in every
// language.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "config/ini.h"
#include "config/locale.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"
#include "tools/recmgr/sequential_records.h"

namespace {

using recmgr::RecordManagerCall;
using recmgr::Status;

// The usage, one locale entry per line (the locale file is line based).
constexpr const char* kUsageLines[] = {
    "\xa3s: recmgr [--owner NOM] [--server CONNEXI\xe0 | --local] ORDRE ...",
    "    recmgr migrate ARREL --server CONNEXI\xe0 [--replace]",
    "    recmgr --help | --version",
    "  create FITXER XDF [--replace]      crea FITXER a partir d'un fitxer de definici\xa2",
    "  load FITXER SEQ                    afegeix els registres de SEQ ('-': entrada "
    "est\x85ndard), tots o cap",
    "  save FITXER SEQ [--key N]          escriu els registres en l'ordre de la clau ('-': sortida "
    "est\x85ndard)",
    "  stat FITXER                        longitud de registre, claus, recomptes",
    "  dump FITXER [--key N] [--limit K]  posici\xa2, hexadecimal i text de cada registre",
    "  lock FITXER (--record POS | --file) --seconds S",
    "                                     ret\x82 un bloqueig i escriu 'locked' quan el t\x82",
    "  owner FITXER NOM                   posa el nom de propietari (buit: cap)",
    "  migrate ARREL                      copia al servidor cada fitxer de dades de dins d'ARREL,",
    "                                     una transacci\xa2 per fitxer, amb els recomptes "
    "comprovats",
    "--server CONNEXI\xe0: els fitxers s\xa2n al servidor PostgreSQL d'aquesta cadena de "
    "connexi\xa2",
    "de libpq, i FITXER n'\x82s el nom al servidor (DADES/PagamH.dat).",
    "--local: FITXER \x82s el fitxer local, tot i que l'arrel tingui les dades al servidor.",
    "Les opcions poden anar despr\x82s dels arguments; '--' acaba les opcions.",
    "Format seq\x81"
    "encial: per registre, la longitud en decimal, ',', els bytes, CR LF;",
    "el fitxer acaba amb Ctrl-Z.",
};

// A message in the installation's language, for the terminal; the values
// (paths as the host spells them, numbers, other messages) go in as given.
std::string Text(const std::string& catalan, const std::vector<std::string>& values = {}) {
  return config::TranslateForTerminal(catalan, values);
}

void PrintUsage(FILE* out) {
  for (const char* line : kUsageLines) std::fprintf(out, "%s\n", Text(line).c_str());
}

// A failure: the message (UTF-8) on stderr after the program's name.
int Fail(const std::string& message) {
  std::fprintf(stderr, "recmgr: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "recmgr: %s\n", message.c_str());
  PrintUsage(stderr);
  return 2;
}

// Why the last record manager call failed on the database server, in the
// server's or the client library's own words (UTF-8, as they came), or that
// no answer came in time; empty when it did not fail there. Read right
// after the failing call: any later call forgets it.
std::string ServerReason() {
  const recmgr::ServerFailure f = recmgr::ServerFailureOfLastCall();
  // The server's words as they came; the system's own texts (no answer, a
  // standby) through the locale, as every program shows them.
  if (f.kind == recmgr::ServerFailure::kWords) return f.words;
  return platform::Cp850ToUtf8(datafiles::ServerFailureText());
}

// A status and its meaning, then reason (the server's words, a length)
// when there is one.
std::string StatusText(Status s, const std::string& reason = "") {
  static const std::map<Status, const char*> kTexts = {
      {recmgr::kIoError, "error d'entrada/sortida"},
      {recmgr::kDuplicateKey, "clau duplicada"},
      {recmgr::kInvalidKeyNumber, "n\xa3mero de clau no v\x85lid"},
      {recmgr::kFileNotFound, "no s'ha trobat el fitxer"},
      {recmgr::kDataBufferShort, "la longitud del registre no coincideix"},
      {recmgr::kInvalidDefinition, "definici\xa2 no v\x85lida"},
      {recmgr::kNotADataFile, "no \x82s un fitxer de dades"},
      {recmgr::kInvalidOwner, "nom de propietari incorrecte"},
      {recmgr::kFileExists, "el fitxer ja existeix"},
      {recmgr::kRecordLocked, "registre bloquejat per un altre programa"},
      {recmgr::kFileLocked, "fitxer bloquejat per un altre programa"},
  };
  const auto it = kTexts.find(s);
  const std::string number = std::to_string(s);
  if (it == kTexts.end()) {
    return reason.empty() ? Text("estat @1", {number}) : Text("estat @1 (@2)", {number, reason});
  }
  return reason.empty() ? Text("estat @1 (@2)", {number, Text(it->second)})
                        : Text("estat @1 (@2: @3)", {number, Text(it->second), reason});
}

// The status of the call just made, with the server's reason.
std::string CallStatusText(Status s) {
  return StatusText(s, ServerReason());
}

int FailStatus(const std::string& what, Status s) {
  return Fail(what + ": " + CallStatusText(s));
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads a whole file ("-": standard input). On failure *error says why.
bool ReadAll(const std::string& path, std::string* out, std::string* error) {
  out->clear();
  int fd = 0;
  if (path != "-") {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *error = Text("no es pot llegir @1: @2", {path, std::strerror(errno)});
      return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      *error = Text("@1 \x82s una carpeta, no un fitxer", {path});
      return false;
    }
  }
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      *error = Text("no es pot llegir @1: @2", {path, std::strerror(errno)});
      if (fd != 0) ::close(fd);
      return false;
    }
  }
  if (fd != 0) ::close(fd);
  return true;
}

// A number of the whole text within [min, max].
bool ParseNumber(const std::string& text, long long min, long long max, long long* out) {
  long long v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || ptr != end || v < min || v > max) return false;
  *out = v;
  return true;
}

// Set by --server: FILE arguments are names on that server.
bool g_on_server = false;
// Set by --local: a FILE under a root whose data is on a server is used all
// the same.
bool g_local = false;

// The arguments of one command: positional ones and the options given.
struct Args {
  std::vector<std::string> pos;
  std::map<std::string, std::string> opts;  // flags map to ""
  bool Has(const std::string& name) const { return opts.count(name) != 0; }
};

// Splits the arguments of command, which takes exactly positionals
// positional arguments, the options in flags and the options with a value
// in valued, and --local (but migrate, whose files are always local).
// Returns 0, or the exit code of a usage error.
int ParseArgs(const std::string& command, const std::vector<std::string>& in, size_t positionals,
              const std::set<std::string>& flags, const std::set<std::string>& valued, Args* out) {
  bool options = true;
  for (size_t i = 0; i < in.size(); ++i) {
    const std::string& a = in[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a.size() > 1 && a[0] == '-') {
      if (out->Has(a)) return Usage(command + ": " + Text("@1 s'ha donat dues vegades", {a}));
      if (flags.count(a) || (a == "--local" && command != "migrate")) {
        out->opts[a] = "";
      } else if (valued.count(a)) {
        if (i + 1 >= in.size()) return Usage(command + ": " + Text("@1 necessita un valor", {a}));
        out->opts[a] = in[++i];
      } else {
        return Usage(command + ": " + Text("opci\xa2 desconeguda @1", {a}));
      }
    } else {
      out->pos.push_back(a);
    }
  }
  if (out->pos.size() < positionals) return Usage(command + ": " + Text("falten arguments"));
  if (out->pos.size() > positionals)
    return Usage(command + ": " + Text("argument de m\x82s @1", {out->pos[positionals]}));
  if (out->Has("--local")) {
    if (g_on_server) return Usage(Text("--server i --local no es poden donar junts"));
    g_local = true;
  }
  return 0;
}

// The value of a numeric option, or the default when it is not given.
int NumberOption(const std::string& command, const Args& args, const std::string& name,
                 long long min, long long max, long long* value) {
  const auto it = args.opts.find(name);
  if (it == args.opts.end()) return 0;
  if (!ParseNumber(it->second, min, max, value)) {
    return Usage(command + ": " +
                 (max == LLONG_MAX
                      ? Text("@1 vol un nombre enter de @2 o m\x82s, no '@3'",
                             {name, std::to_string(min), it->second})
                      : Text("@1 vol un nombre enter de @2 a @3, no '@4'",
                             {name, std::to_string(min), std::to_string(max), it->second})));
  }
  return 0;
}

// An installation root that keeps its data on a server, and a local file's
// name there.
struct ServerRoot {
  std::string root;      // the folder of the Nuva.ini, resolved
  std::string servidor;  // its [Dades] Servidor
  std::string lectura;   // its [Dades] ServidorLectura, where readers go
  std::string name;      // the file's path under root, "/" separators
};

// The root the local data file at path lies under, when that root names a
// server: the first folder holding a Nuva.ini, walking up from the file's
// folder as resolved (a root reached through a link is the same root, as
// the module finds it; folders not made yet are taken as named). A
// Nuva.ini without Servidor ends the walk too: its files are the ones the
// module reads.
bool FindServerRoot(const std::string& path, ServerRoot* out) {
  namespace fs = std::filesystem;
  const fs::path given(path);
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(
      fs::absolute(given.has_parent_path() ? given.parent_path() : ".", ec), ec);
  if (ec) return false;
  for (fs::path dir = folder;; dir = dir.parent_path()) {
    const fs::path settings = dir / "Nuva.ini";
    if (fs::exists(settings, ec)) {
      out->servidor =
          config::IniReadBytes(platform::CurrentEnv(), settings.string(), "Dades", "Servidor");
      if (out->servidor.empty()) return false;
      out->lectura = config::IniReadBytes(platform::CurrentEnv(), settings.string(), "Dades",
                                          "ServidorLectura");
      out->root = dir.string();
      out->name = (folder / given.filename()).lexically_relative(dir).generic_string();
      return true;
    }
    if (dir == dir.parent_path()) return false;
  }
}

// A data file argument that is a folder is refused before the engine sees
// it, and so is a local file the module does not read: its installation
// keeps the data on a server, and the file under the root is what was left
// there (or a copy made by mistake). Writing it would lose the writes,
// reading it would show what the module no longer prints; --local is for
// when that file is what is meant.
bool CheckDataFileArgument(const std::string& command, const std::string& path, int* code) {
  if (g_on_server) return true;
  if (IsFolder(path)) {
    *code = Fail(Text("@1 \x82s una carpeta, no un fitxer de dades", {path}));
    return false;
  }
  ServerRoot found;
  if (g_local || !FindServerRoot(path, &found)) return true;
  // A command that only reads is sent where the installation sends its
  // readers (a standby), when it names such a place.
  const bool reads = command == "save" || command == "stat" || command == "dump";
  const std::string where = reads && !found.lectura.empty()
                                ? "ServidorLectura=" + found.lectura
                                : "Servidor=" + found.servidor;
  *code =
      Fail(Text("@1: @2 \x82s dins de l'arrel @3, que t\x82 les dades al servidor (Nuva.ini, "
                "[Dades] @4): useu --server amb el nom @5, o --local per al fitxer "
                "local; no s'ha fet res",
                {command, path, found.root, where, found.name}));
  return false;
}

class File {
 public:
  File() { std::memset(block_, 0, sizeof(block_)); }
  ~File() {
    uint32_t n = 0;
    RecordManagerCall(recmgr::kOpClose, block_, nullptr, &n, nullptr, 0, 0);
  }
  Status Open(const std::string& path, const std::string& owner, int8_t mode = 0) {
    std::string data = owner + '\0';
    std::string key = path + '\0';
    uint32_t n = static_cast<uint32_t>(data.size());
    return RecordManagerCall(
        recmgr::kOpOpen, block_, data.data(), &n, key.data(),
        static_cast<uint8_t>(std::min<size_t>(path.size(), recmgr::kMaxKeyLength)), mode);
  }
  Status Stat(recmgr::FileDefinition* def, std::string* raw) {
    raw->assign(recmgr::kMaxRecordLength, '\0');
    uint32_t n = static_cast<uint32_t>(raw->size());
    char key[256];
    std::memset(key, ' ', sizeof(key));
    Status s =
        RecordManagerCall(recmgr::kOpStat, block_, raw->data(), &n, key, recmgr::kMaxKeyLength, 0);
    raw->resize(n);
    if (s != 0) return s;
    return recmgr::DecodeDefinition(reinterpret_cast<const uint8_t*>(raw->data()), raw->size(),
                                    def);
  }
  Status Read(uint16_t op, int8_t key, std::string* record) {
    record->assign(recmgr::kMaxRecordLength, '\0');
    uint32_t n = static_cast<uint32_t>(record->size());
    char k[256] = {};
    Status s = RecordManagerCall(op, block_, record->data(), &n, k, recmgr::kMaxKeyLength, key);
    record->resize(n);
    return s;
  }
  uint32_t Position() {
    char d[4];
    uint32_t n = 4;
    if (RecordManagerCall(recmgr::kOpGetPosition, block_, d, &n, nullptr, 0, 0) != 0) return 0;
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i) p |= static_cast<uint32_t>(static_cast<uint8_t>(d[i])) << (8 * i);
    return p;
  }
  uint8_t* block() { return block_; }

 private:
  uint8_t block_[recmgr::kPositionBlockSize];
};

// The printable text column of a dump: the code page's letters as UTF-8,
// control bytes as dots.
std::string DumpText(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    const uint8_t u = static_cast<uint8_t>(c);
    if (u >= 0x80) {
      out += platform::Cp850ByteToUtf8(u);
    } else if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      out += '.';
    }
  }
  return out;
}

// The places the engine reads and writes for the data file at path: the
// file and its side files, named as given and as resolved (SQLite keeps its
// side files beside the resolved file).
std::vector<std::string> DataFilePlaces(const std::string& path) {
  std::vector<std::string> bases = {path};
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    bases.push_back(real);
    std::free(real);
  }
  std::vector<std::string> places;
  for (const std::string& base : bases) {
    for (const char* suffix : {"", "-lck", "-wal", "-shm", "-journal"})
      places.push_back(base + suffix);
  }
  return places;
}

// Where a new file renamed to path lands: its folder resolved, its own name
// as given (a link at path is replaced, not followed). Empty when the
// folder does not resolve.
std::string LandingPlace(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char* real = ::realpath(dir.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string out = real;
  std::free(real);
  return (out == "/" ? out : out + "/") + name;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when writing the output out ("-": standard output) would land on the
// data file at data or one of its side files.
bool OutputIsTheDataFile(const std::string& data, const std::string& out) {
  if (g_on_server) return false;
  struct stat target;
  const bool target_exists = out == "-" ? ::fstat(1, &target) == 0 && S_ISREG(target.st_mode)
                                        : ::stat(out.c_str(), &target) == 0;
  const std::string landing = out == "-" ? std::string() : LandingPlace(out);
  for (const std::string& place : DataFilePlaces(data)) {
    struct stat st;
    if (target_exists && ::stat(place.c_str(), &st) == 0 && SameFile(st, target)) return true;
    if (!landing.empty() && LandingPlace(place) == landing) return true;
  }
  return false;
}

// Whether the file at path begins as a record manager file (an SQLite
// database) does: kUnreadable with *error when it cannot be opened or read
// (ELOOP for a link when links are not followed).
enum class Header { kDataFile, kOther, kUnreadable };
Header DataFileHeader(const std::string& path, bool follow_link, int* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK |
                                          (follow_link ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    *error = errno;
    return Header::kUnreadable;
  }
  char magic[16] = {};
  const ssize_t n = ::read(fd, magic, sizeof(magic));
  *error = errno;
  ::close(fd);
  if (n < 0) return Header::kUnreadable;
  return n == sizeof(magic) && std::memcmp(magic, "SQLite format 3", 16) == 0 ? Header::kDataFile
                                                                              : Header::kOther;
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Why an export may not go to out: a record manager file (by its header; a
// link at out is replaced, so only a file of its own there counts), a side
// file beside one, a definition or a settings file (by name, case as the
// suite's names ignore it). Empty when it may.
std::string RefusedOutput(const std::string& out) {
  const std::string name = Lowercase(std::filesystem::path(out).filename().string());
  int error = 0;
  if (name == "nuva.ini" || name == "nuvaterm.ini" || name == "sessio.ini") {
    return Text("save: @1 \x82s un fitxer de configuraci\xa2; no s'ha escrit res", {out});
  }
  if (name.ends_with(".xdf")) {
    return Text("save: @1 \x82s un fitxer de definici\xa2; no s'ha escrit res", {out});
  }
  if (DataFileHeader(out, false, &error) == Header::kDataFile) {
    return Text("save: @1 \x82s un fitxer de dades; no s'ha escrit res", {out});
  }
  for (const char* suffix : {"-wal", "-shm", "-lck", "-journal"}) {
    if (!name.ends_with(suffix)) continue;
    const std::string data = out.substr(0, out.size() - std::strlen(suffix));
    if (DataFileHeader(data, true, &error) == Header::kDataFile) {
      return Text("save: @1 \x82s un fitxer auxiliar del fitxer de dades @2; no s'ha escrit res",
                  {out, data});
    }
  }
  return std::string();
}

// The file standard output was sent to, when it is one: empty otherwise.
std::string StdoutFile() {
  struct stat st;
  if (::fstat(1, &st) != 0 || !S_ISREG(st.st_mode)) return std::string();
  char target[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/fd/1", target, sizeof(target) - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// A write to standard output that failed (a full disk, a closed pipe).
int CheckStdout() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return Fail(Text("no es pot escriure a la sortida est\x85ndard: @1", {std::strerror(errno)}));
  }
  return 0;
}

int Create(const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("create", in, 2, {"--replace"}, {}, &args)) return code;
  const std::string& file = args.pos[0];
  const bool replace = args.Has("--replace");
  if (int code = 0; !CheckDataFileArgument("create", file, &code)) return code;
  std::string xdf, error;
  if (!ReadAll(args.pos[1], &xdf, &error)) return Fail(error);
  if (xdf.size() < 2) return Fail(Text("@1: no \x82s un fitxer de definici\xa2", {args.pos[1]}));
  const size_t count = platform::LoadLe16(xdf, 0);
  if (xdf.size() < 2 + count) {
    return Fail(Text("@1: \x82s m\x82s curt del que diu el seu recompte", {args.pos[1]}));
  }
  std::string data = xdf.substr(2, count);
  uint32_t n = static_cast<uint32_t>(data.size());
  std::string key = file;
  if (key.size() > static_cast<size_t>(recmgr::kMaxKeyLength))
    return Fail(Text("cam\xa1 massa llarg"));
  Status s =
      RecordManagerCall(recmgr::kOpCreate, nullptr, data.data(), &n, key.data(),
                        static_cast<uint8_t>(key.size()), replace ? 0 : recmgr::kCreateNoReplace);
  if (s == recmgr::kFileLocked) {
    return Fail(Text("create @1: @2; el fitxer no s'ha substitu\x8bt", {file, CallStatusText(s)}));
  }
  return s == 0 ? 0 : FailStatus("create " + file, s);
}

// The records of a sequential file for the engine, one buffer at a time,
// counted. The lengths of the last batch are kept: a load the engine
// refuses for a record's length stops in that batch, and the message gives
// the length found.
class SequentialSource final : public recmgr::RecordSource {
 public:
  explicit SequentialSource(int fd) : reader_(fd) {}
  bool Next(std::vector<std::string_view>* batch) override {
    if (!reader_.Next(batch)) return false;
    batch_start_ = given_;
    given_ += static_cast<int64_t>(batch->size());
    lengths_.clear();
    for (std::string_view record : *batch) lengths_.push_back(record.size());
    return true;
  }
  const std::string& error() const { return reader_.error(); }
  // Records handed to the engine so far.
  int64_t given() const { return given_; }
  // The length of record index (from the first), when it was in the last
  // batch; -1 otherwise.
  int64_t LengthOf(int64_t index) const {
    if (index < batch_start_ || index >= given_) return -1;
    return static_cast<int64_t>(lengths_[static_cast<size_t>(index - batch_start_)]);
  }

 private:
  recmgr_tool::SequentialReader reader_;
  int64_t given_ = 0;
  int64_t batch_start_ = 0;
  std::vector<size_t> lengths_;
};

int Load(const std::string& owner, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("load", in, 2, {}, {}, &args)) return code;
  const std::string& file = args.pos[0];
  const std::string& seq = args.pos[1];
  if (int code = 0; !CheckDataFileArgument("load", file, &code)) return code;
  int fd = 0;
  if (seq != "-") {
    fd = ::open(seq.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(Text("no es pot llegir @1: @2", {seq, std::strerror(errno)}));
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      return Fail(Text("@1 \x82s una carpeta, no un fitxer", {seq}));
    }
  }
  File f;
  Status s = f.Open(file, owner);
  if (s != 0) {
    if (fd != 0) ::close(fd);
    return FailStatus(Text("en obrir @1", {file}), s);
  }
  // Read as it is loaded: memory stays flat however large the file; a
  // fault anywhere in it undoes the whole load.
  SequentialSource source(fd);
  int64_t failed = -1;
  s = recmgr::InsertAll(f.block(), &source, &failed);
  if (fd != 0) ::close(fd);
  if (!source.error().empty()) {
    // The reader's message is code page 850 in the installation's language.
    return Fail(Text("@1: @2; no s'ha carregat res", {seq, platform::Cp850ToUtf8(source.error())}));
  }
  std::string folder;
  int error = 0;
  bool reading = false;
  if (s == recmgr::kIoError && recmgr::LoadTemporaryFailure(&folder, &error, &reading)) {
    return Fail(Text(reading ? "load: no es poden llegir els fitxers temporals de l'ordenaci\xa2 "
                               "a @1: @2; no s'ha carregat res"
                             : "load: no es poden escriure els fitxers temporals de l'ordenaci\xa2 "
                               "a @1: @2; no s'ha carregat res",
                     {folder, std::strerror(error)}));
  }
  if (s != 0) {
    const std::string what =
        failed >= 0 ? Text("registre @1", {std::to_string(failed + 1)}) : "load";
    const std::string reason = ServerReason();
    const int64_t found = s == recmgr::kDataBufferShort ? source.LengthOf(failed) : -1;
    recmgr::FileDefinition def;
    std::string raw;
    if (found >= 0 && f.Stat(&def, &raw) == 0) {
      return Fail(what + ": " +
                  StatusText(s, Text("@1 octets en lloc de @2",
                                     {std::to_string(found), std::to_string(def.record_length)})));
    }
    return Fail(what + ": " + StatusText(s, reason));
  }
  std::printf("%s\n",
              Text("@1: @2 registres carregats", {file, std::to_string(source.given())}).c_str());
  return CheckStdout();
}

int Save(const std::string& owner, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("save", in, 2, {}, {"--key"}, &args)) return code;
  long long key = 0;
  if (int code = NumberOption("save", args, "--key", 0, 127, &key)) return code;
  const std::string& file = args.pos[0];
  const std::string& dest = args.pos[1];
  if (int code = 0; !CheckDataFileArgument("save", file, &code)) return code;
  if (dest != "-" && IsFolder(dest))
    return Fail(Text("@1 \x82s una carpeta, no un fitxer", {dest}));
  if (OutputIsTheDataFile(platform::HostPath(file),
                          dest == "-" ? dest : platform::HostPath(dest))) {
    return Fail(dest == "-" ? Text("save: la sortida est\x85ndard \x82s el fitxer de dades @1 o un "
                                   "dels seus fitxers auxiliars; no s'ha escrit res",
                                   {file})
                            : Text("save: @1 \x82s el fitxer de dades @2 o un dels seus fitxers "
                                   "auxiliars; no s'ha escrit res",
                                   {dest, file}));
  }
  const std::string output = dest == "-" ? StdoutFile() : platform::HostPath(dest);
  if (const std::string refused = output.empty() ? "" : RefusedOutput(output); !refused.empty()) {
    return Fail(refused);
  }
  File f;
  if (Status s = f.Open(file, owner); s != 0) return FailStatus(Text("en obrir @1", {file}), s);
  // Records are written as they are read, so memory stays flat however
  // large the file. A named output is a new file beside its place, renamed
  // over it at the end (never written through a link, removed if the save
  // fails or a signal ends it): a failed save leaves what was there before.
  std::unique_ptr<platform::WritableFile> named;
  if (dest != "-") {
    platform::InstallSignalCleanupHandlers();
    named = platform::DefaultEnv()->OpenWritable(dest);
    if (!named) return Fail(Text("no es pot escriure @1: @2", {dest, std::strerror(errno)}));
  }
  auto emit = [&named](const std::string& bytes) {
    if (named) return named->Append(bytes);
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
  };
  std::string record, chunk;
  bool written = true;
  Status s = f.Read(recmgr::kOpGetFirst, static_cast<int8_t>(key), &record);
  for (; s == 0 && written; s = f.Read(recmgr::kOpGetNext, static_cast<int8_t>(key), &record)) {
    chunk.assign(std::to_string(record.size())).append(",").append(record).append("\r\n");
    written = emit(chunk);
  }
  if (s != 0 && s != recmgr::kEndOfFile) return FailStatus(Text("en llegir"), s);
  written = written && emit("\x1A");
  if (!named) return CheckStdout();
  if (!named->Close() || !written) return Fail(Text("no es pot escriure @1", {dest}));
  return 0;
}

int StatCommand(const std::string& owner, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("stat", in, 1, {}, {}, &args)) return code;
  const std::string& file = args.pos[0];
  if (int code = 0; !CheckDataFileArgument("stat", file, &code)) return code;
  File f;
  if (Status s = f.Open(file, owner); s != 0) return FailStatus(Text("en obrir @1", {file}), s);
  recmgr::FileDefinition def;
  std::string raw;
  if (Status s = f.Stat(&def, &raw); s != 0) return FailStatus("stat", s);
  auto u32 = [&raw](size_t at) { return platform::LoadLe32(raw, at); };
  std::printf("record length %d\nrecords %u\nkeys %zu\n", def.record_length,
              u32(recmgr::kSpecRecordCount), def.keys.size());
  size_t at = recmgr::kFileSpecSize;
  for (size_t k = 0; k < def.keys.size(); ++k) {
    std::printf("key %zu: length %d%s, distinct %u\n", k, def.keys[k].length,
                def.keys[k].duplicates ? ", duplicates" : "", u32(at + recmgr::kSegDistinct));
    for (const recmgr::Segment& seg : def.keys[k].segments) {
      std::printf("  position %d length %d flags 0x%04x\n", seg.position, seg.length, seg.flags);
      at += recmgr::kSegmentSpecSize;
    }
  }
  return CheckStdout();
}

int Dump(const std::string& owner, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("dump", in, 1, {}, {"--key", "--limit"}, &args)) return code;
  long long key = 0, limit = -1;
  if (int code = NumberOption("dump", args, "--key", 0, 127, &key)) return code;
  if (int code = NumberOption("dump", args, "--limit", 0, LLONG_MAX, &limit)) return code;
  const std::string& file = args.pos[0];
  if (int code = 0; !CheckDataFileArgument("dump", file, &code)) return code;
  if (OutputIsTheDataFile(platform::HostPath(file), "-")) {
    return Fail(Text(
        "dump: la sortida est\x85ndard \x82s el fitxer de dades @1; no s'ha escrit res", {file}));
  }
  File f;
  if (Status s = f.Open(file, owner); s != 0) return FailStatus(Text("en obrir @1", {file}), s);
  std::string record;
  Status s = f.Read(recmgr::kOpGetFirst, static_cast<int8_t>(key), &record);
  for (long long n = 0; s == 0 && (limit < 0 || n < limit) && !std::ferror(stdout); ++n) {
    std::string hex;
    char b[4];
    for (char c : record) {
      std::snprintf(b, sizeof(b), "%02x", static_cast<uint8_t>(c));
      hex += b;
    }
    std::printf("%u %s %s\n", f.Position(), hex.c_str(), DumpText(record).c_str());
    s = f.Read(recmgr::kOpGetNext, static_cast<int8_t>(key), &record);
  }
  if (s != 0 && s != recmgr::kEndOfFile) return FailStatus(Text("en llegir"), s);
  return CheckStdout();
}

int Lock(const std::string& owner, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("lock", in, 1, {"--file"}, {"--record", "--seconds"}, &args)) {
    return code;
  }
  long long record = -1, seconds = -1;
  if (int code = NumberOption("lock", args, "--record", 1, UINT32_MAX, &record)) return code;
  if (int code = NumberOption("lock", args, "--seconds", 0, INT_MAX, &seconds)) return code;
  const bool whole = args.Has("--file");
  if (seconds < 0 || whole == (record >= 0)) {
    return Usage(Text("lock necessita --record POS o --file, i --seconds S"));
  }
  const std::string& file = args.pos[0];
  if (int code = 0; !CheckDataFileArgument("lock", file, &code)) return code;
  File f;
  Status s = f.Open(file, owner, whole ? recmgr::kOpenExclusive : recmgr::kOpenNormal);
  if (s != 0) return FailStatus(Text("en obrir @1", {file}), s);
  if (!whole) {
    std::string data(recmgr::kMaxRecordLength, ' ');
    platform::StoreLe32(data.data(), static_cast<uint32_t>(record));
    uint32_t n = static_cast<uint32_t>(data.size());
    char k[256] = {};
    s = RecordManagerCall(recmgr::kOpGetDirect + recmgr::kLockNoWaitBias, f.block(), data.data(),
                          &n, k, 0, 0);
    if (s != 0 && s != recmgr::kDataBufferShort)
      return FailStatus(Text("en bloquejar el registre"), s);
  }
  std::printf("locked\n");
  if (int code = CheckStdout()) return code;
  ::sleep(static_cast<unsigned>(seconds));
  return 0;
}

int Owner(const std::string& owner, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("owner", in, 2, {}, {}, &args)) return code;
  const std::string& file = args.pos[0];
  if (int code = 0; !CheckDataFileArgument("owner", file, &code)) return code;
  File f;
  if (Status s = f.Open(file, owner); s != 0) return FailStatus(Text("en obrir @1", {file}), s);
  Status s = recmgr::SetOwnerName(f.block(), args.pos[1]);
  return s == 0 ? 0 : FailStatus("owner", s);
}

// A file named *.dat under an installation's root, as a path relative to
// the root with "/" separators; refused: why it cannot be copied (empty
// when it can).
struct FoundFile {
  std::string name;
  std::string refused;
};

// Every *.dat under root, sorted: each record manager file to copy, and
// every other one with its reason, so that nothing the module would then
// miss on the server is passed over in silence. Links are not followed: the
// layer names each file by its own path.
bool FindDataFiles(const std::string& root, std::vector<FoundFile>* out, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec), end;
  if (ec) {
    *error = Text("no es pot llegir @1: @2", {root, ec.message()});
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *error = Text("no es pot llegir @1: @2", {root, ec.message()});
      return false;
    }
    const fs::directory_entry& e = *it;
    if (e.path().extension() != ".dat") continue;
    FoundFile found{e.path().lexically_relative(root).generic_string(), ""};
    const fs::file_status status = e.symlink_status(ec);
    int err = 0;
    if (ec) {
      found.refused = Text("no es pot llegir: @1", {ec.message()});
    } else if (fs::is_symlink(status)) {
      found.refused = Text("\x82s un enlla\x87, que no se segueix");
    } else if (!fs::is_regular_file(status)) {
      found.refused = Text("no \x82s un fitxer regular");
    } else if (const Header h = DataFileHeader(e.path().string(), false, &err);
               h == Header::kUnreadable) {
      found.refused = Text("no es pot llegir: @1", {std::strerror(err)});
    } else if (h != Header::kDataFile) {
      found.refused = StatusText(recmgr::kNotADataFile);
    }
    out->push_back(std::move(found));
  }
  std::sort(out->begin(), out->end(),
            [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
  return true;
}

int Migrate(const std::string& server, const std::vector<std::string>& in) {
  Args args;
  if (int code = ParseArgs("migrate", in, 1, {"--replace"}, {"--server"}, &args)) return code;
  const std::string conninfo = args.Has("--server") ? args.opts.at("--server") : server;
  if (conninfo.empty()) return Usage(Text("migrate necessita --server CONNEXI\xe0"));
  const std::string& root = args.pos[0];
  if (!IsFolder(root)) return Fail(Text("@1 no \x82s una carpeta", {root}));
  std::vector<FoundFile> found;
  std::string error;
  if (!FindDataFiles(root, &found, &error)) return Fail(error);
  if (found.empty()) return Fail(Text("no hi ha cap fitxer de dades dins de @1", {root}));
  int failures = 0;
  int64_t total = 0;
  for (const FoundFile& file : found) {
    const std::string& name = file.name;
    if (!file.refused.empty()) {
      ++failures;
      Fail(Text("migrate @1: @2; no s'ha copiat", {name, file.refused}));
      continue;
    }
    int64_t records = 0;
    const Status s = recmgr::CopyFileToServer((std::filesystem::path(root) / name).string(),
                                              conninfo, name, args.Has("--replace"), &records);
    if (s != 0) {
      ++failures;
      Fail(s == recmgr::kFileExists
               ? Text("migrate @1: @2; --replace el torna a copiar", {name, CallStatusText(s)})
               : "migrate " + name + ": " + CallStatusText(s));
      continue;
    }
    total += records;
    std::printf("%s\n", Text("@1: @2 registres", {name, std::to_string(records)}).c_str());
  }
  std::printf("%s\n", Text("migrate: @1 de @2 fitxers, @3 registres copiats",
                           {std::to_string(found.size() - failures), std::to_string(found.size()),
                            std::to_string(total)})
                          .c_str());
  if (int code = CheckStdout()) return code;
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The language of the installation the environment names, for the usage
  // and the messages; without one everything stays Catalan.
  config::LoadConfiguration();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string owner = datafiles::RecordFileOwnerName();
  std::string server;
  std::set<std::string> given;
  while (!args.empty() && (args[0] == "--owner" || args[0] == "--server" || args[0] == "--local")) {
    const std::string option = args[0];
    const bool flag = option == "--local";
    if (!flag && args.size() < 2) return Usage(Text("@1 necessita un valor", {option}));
    if (!given.insert(option).second) return Usage(Text("@1 s'ha donat dues vegades", {option}));
    if (flag) {
      g_local = true;
      args.erase(args.begin());
      continue;
    }
    (option == "--owner" ? owner : server) = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (given.count("--server") && server.empty())
    return Usage(Text("@1 necessita un valor", {"--server"}));
  if (given.count("--server") && g_local)
    return Usage(Text("--server i --local no es poden donar junts"));
  if (!server.empty()) {
    // Every file is then the server's, under the name as given.
    recmgr::UseServer(server, "");
    g_on_server = true;
  }
  if (args.empty()) return Usage(Text("no s'ha donat cap ordre"));
  if (args[0] == "--help" || args[0] == "-h") {
    if (args.size() > 1) return Usage(Text("argument de m\x82s @1", {args[1]}));
    PrintUsage(stdout);
    return CheckStdout();
  }
  if (args[0] == "--version") {
    if (args.size() > 1) return Usage(Text("argument de m\x82s @1", {args[1]}));
    std::printf("recmgr %s\n", TELVORAN_VERSION);
    return CheckStdout();
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "create") return Create(args);
  if (command == "load") return Load(owner, args);
  if (command == "save") return Save(owner, args);
  if (command == "stat") return StatCommand(owner, args);
  if (command == "dump") return Dump(owner, args);
  if (command == "lock") return Lock(owner, args);
  if (command == "owner") return Owner(owner, args);
  if (command == "migrate") return Migrate(server, args);
  return Usage(Text("ordre desconeguda '@1'", {command}));
}
