#include "tools/zizavezu/print_program.h"

#include <errno.h>
#include <sys/stat.h>

#include <memory>
#include <set>
#include <vector>

#include "config/configuration.h"
#include "config/ini.h"
#include "config/locale.h"
#include "config/settings.h"
#include "platform/blanks.h"
#include "platform/cp850.h"
#include "platform/print_file.h"
#include "platform/statement_register.h"
#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/directive.h"
#include "tools/zizavezu/page.h"
#include "tools/zizavezu/pdf_sink.h"
#include "tools/zizavezu/pdf_split.h"
#include "tools/zizavezu/statement_folder.h"
#include "tools/zizavezu/text_sink.h"

namespace zizavezu {

namespace {

constexpr char kPrefix[] = "ZIZAVEZU: ";

// The locale file has one key for a single page and one for more, so that
// each language can agree its words with the number.
std::string Pages(int64_t pages, const char* one, const char* many,
                  std::vector<std::string> values) {
  values.insert(values.begin(), std::to_string(pages));
  return Localized(pages == 1 ? one : many, values);
}

// Why a destination may not be written, or empty when it may.
std::string VerdictMessage(const DestinationCheck& check) {
  switch (check.verdict) {
    case DestinationVerdict::kAllowed:
      return std::string();
    case DestinationVerdict::kProtected:
      return Localized(
          "la sortida @1 \x82s un fitxer de dades, de definicions, de configuraci\xa2 "
          "o de treball; no s'hi escriu res",
          {check.resolved});
    case DestinationVerdict::kInstallation:
      return Localized(
          "la sortida @1 \x82s un fitxer de la instal\xfalaci\xa2 (l'arrel, la carpeta de "
          "programes, l'entorn) o un programa; no s'hi escriu res",
          {check.resolved});
    case DestinationVerdict::kNotRegularFile:
      break;
  }
  return Localized(
      "la sortida @1 no \x82s un fitxer normal (\x82s una carpeta o un dispositiu); "
      "no s'hi escriu res",
      {check.resolved});
}

// Why the device may not be used, or empty when it may.
std::string RefusedDevice(platform::Env& env, const Device& device, const InstallationDirs& dirs) {
  // lp takes its queue after -d; one that looks like an option would be
  // read as one.
  if (device.kind == Device::Kind::kPrinter && !device.queue.empty() && device.queue[0] == '-') {
    return Localized(
        "la cua d'impressi\xa2 @1 no \x82s v\x85lida perqu\x8a comen\x87"
        "a amb \"-\"; "
        "no s'imprimeix res",
        {device.queue});
  }
  return VerdictMessage(CheckDestination(env, device.path, dirs));
}

// The next line of the print file into *line; false at its end. A line
// longer than any directive is read past (never held whole: a link to
// /dev/zero's endless line would be) and comes back empty, which is no
// directive, with a warning.
bool ReadPrintLine(platform::SequentialFile& in, std::string* line, int64_t* line_number,
                   Diagnostics* diagnostics) {
  bool longer = false;
  if (!in.ReadLineUpTo(line, platform::kMaxDirectiveLength, &longer)) return false;
  ++*line_number;
  if (longer) {
    line->clear();
    diagnostics->Warn(Fault::kLineTooLong, *line_number,
                      "fa m\x82s de @1 bytes, m\x82s que cap directiva; no es t\x82 en compte",
                      {std::to_string(platform::kMaxDirectiveLength)});
  }
  return true;
}

void Say(std::ostream& stream, const std::string& line) {
  stream << kPrefix << line << "\n";
  stream.flush();
}

constexpr char kDeviceNotFirst[] =
    "la primera l\xa1nia no \x82s la l\xa1nia DEVICE; es fa servir el "
    "dispositiu predeterminat";

// Renders the whole print file on sink, from its first line (the DEVICE
// line, read past, or when it is none the first of the pages). False when
// it cannot be opened or the sink failed.
bool RenderFile(platform::Env& env, const std::string& print_file, PageSink* sink,
                Diagnostics* diagnostics, int64_t* pages) {
  *pages = 0;
  std::unique_ptr<platform::SequentialFile> in = env.OpenSequential(print_file);
  if (in == nullptr) return false;
  PageComposer composer(sink, diagnostics);
  std::string line;
  int64_t line_number = 0;
  bool ok = true;
  if (ReadPrintLine(*in, &line, &line_number, diagnostics)) {
    const Directive first = ParseDirective(line);
    if (first.kind != Directive::Kind::kDevice) {
      diagnostics->Warn(Fault::kDeviceNotFirst, 1, kDeviceNotFirst);
      ok = composer.Feed(first, line_number);
    }
  }
  while (ok && ReadPrintLine(*in, &line, &line_number, diagnostics)) {
    ok = composer.Feed(ParseDirective(line), line_number);
  }
  if (ok) ok = composer.Finish();
  *pages = composer.pages();
  return ok;
}

// The statement register beside the print file, as far as it is this
// print file's: it reads, and names the print file's size.
struct RegisterReading {
  enum class State { kMissing, kMismatch, kMatch };
  State state = State::kMissing;
  std::string path;
  platform::StatementRegister reg;
  std::string why;  // kMismatch: the reason, a locale key
};

// Far more than the register of any portfolio; a larger file is no register.
constexpr int64_t kMaxRegisterBytes = int64_t{256} << 20;

RegisterReading ReadRegister(platform::Env& env, const std::string& temp_dir,
                             const std::string& print_file) {
  RegisterReading r;
  r.path = temp_dir + platform::kRegisterFileName;
  struct stat st;
  if (::stat(env.HostPathOf(r.path).c_str(), &st) != 0 && errno == ENOENT) return r;
  r.state = RegisterReading::State::kMismatch;
  std::string text;
  // Only a regular file: a FIFO would keep the run waiting.
  std::unique_ptr<platform::RandomAccessFile> file;
  if (::stat(env.HostPathOf(r.path).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > kMaxRegisterBytes || (file = env.OpenForReading(r.path)) == nullptr ||
      !file->Read(0, static_cast<size_t>(st.st_size), &text)) {
    r.why = "no es pot llegir el registre de fulls";
    return r;
  }
  if (!platform::ParseRegister(text, &r.reg, &r.why)) return r;
  struct stat printed;
  if (::stat(env.HostPathOf(print_file).c_str(), &printed) != 0 ||
      printed.st_size != r.reg.print_file_bytes) {
    r.why = "el registre \x82s d'un altre fitxer d'impressi\xa2";
    return r;
  }
  r.state = RegisterReading::State::kMatch;
  return r;
}

// The register holds for the pages rendered too.
void CheckRegisterPages(RegisterReading* r, int64_t pages) {
  if (r->state == RegisterReading::State::kMatch && r->reg.pages != pages) {
    r->state = RegisterReading::State::kMismatch;
    r->why = "les p\x85gines del registre no s\xa2n les del fitxer d'impressi\xa2";
  }
}

std::string IsoDate(std::string_view yyyymmdd) {
  if (yyyymmdd.size() != 8) return std::string();
  return std::string(yyyymmdd.substr(0, 4)) + "-" + std::string(yyyymmdd.substr(4, 2)) + "-" +
         std::string(yyyymmdd.substr(6, 2));
}

// A statement's bookmark: its community, and the owner of a per-owner copy.
std::string EntryTitle(const platform::StatementEntry& e) {
  std::string title = e.community_code + " " + e.community_name;
  if (e.per_owner()) title += " - " + e.owner_name;
  return platform::Cp850ToUtf8(title);
}

// The statements' heading in the terminal's language: looked up once per
// run, not once per PDF (the locale file is read at each lookup).
std::string StatementHeading() { return Localized("RESUM DE DESPESES"); }

// The document's information: the statement's heading and date (of the
// first entry, the run's report date), with the statement's own title for
// a PDF of one statement; the administrator of the settings as its author.
PdfDocumentInfo DocumentInfo(const std::string& heading, const std::string& author,
                             const platform::StatementEntry& e, bool one_statement) {
  PdfDocumentInfo info;
  info.title = heading + " " + DisplayDate(e.period_to);
  if (one_statement) info.title += " - " + EntryTitle(e);
  info.author = author;
  info.create_date = IsoDate(e.period_to);
  return info;
}

std::string AdministratorName(platform::Env& env, const InstallationDirs& dirs) {
  return platform::Cp850ToUtf8(platform::TrimBlanks(
      config::IniRead(env, dirs.root_dir + "Nuva.ini", "Administrador", "Nom")));
}

std::string WithoutSeparator(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

// Why the folder may not be written, or empty when it may: it and every
// file the run writes in it are checked as an output file is.
std::string RefusedFolder(platform::Env& env, const std::string& folder,
                          const std::vector<platform::StatementEntry>& entries,
                          const InstallationDirs& dirs) {
  // The files first: a folder inside a protected one is named for what it is.
  std::vector<std::string> names = {kSummaryCsvName, platform::kFolderRegisterName};
  for (const platform::StatementEntry& e : entries) names.push_back(e.file);
  const DestinationChecker checker(env, dirs);
  for (const std::string& name : names) {
    const std::string refused = VerdictMessage(checker.Check(folder + name));
    if (!refused.empty()) return refused;
  }
  const std::string bare = WithoutSeparator(folder);
  const DestinationCheck check = checker.Check(bare);
  if (check.verdict == DestinationVerdict::kProtected ||
      check.verdict == DestinationVerdict::kInstallation) {
    return VerdictMessage(check);
  }
  struct stat st;
  if (::lstat(env.HostPathOf(bare).c_str(), &st) == 0 && !env.IsDirectory(bare)) {
    return Localized("la sortida @1 no \x82s una carpeta; no s'hi escriu res", {check.resolved});
  }
  return std::string();
}

// Keeps what is written through it in a string rather than a file.
class MemoryWritesEnv : public platform::EnvWrapper {
 public:
  MemoryWritesEnv(platform::Env* target, std::string* bytes) : EnvWrapper(target), bytes_(bytes) {}
  std::unique_ptr<platform::WritableFile> OpenWritable(const std::string&) override {
    return std::make_unique<File>(bytes_);
  }

 private:
  class File : public platform::WritableFile {
   public:
    explicit File(std::string* bytes) : bytes_(bytes) {}
    bool Append(const std::string& bytes) override {
      bytes_->append(bytes);
      return true;
    }
    bool Close() override { return true; }

   private:
    std::string* bytes_;
  };
  std::string* bytes_;
};

bool WriteWholeFile(platform::Env& env, const std::string& path, const std::string& bytes) {
  std::unique_ptr<platform::WritableFile> file = env.OpenWritable(path);
  return file != nullptr && file->Append(bytes) && file->Close();
}

// DIR: and CORREU:: one PDF per register entry in the device's folder, then
// resum.csv and, last, resum.reg.
PrintRunResult RenderFolder(platform::Env& env, const InstallationDirs& dirs,
                            const std::string& print_file, PrintRunResult result,
                            std::ostream& out, std::ostream& err) {
  const std::string& folder = result.device.path;
  const std::string shown_folder = platform::HostPath(folder);
  RegisterReading reading = ReadRegister(env, dirs.temp_dir, print_file);
  std::vector<platform::StatementEntry>& entries = reading.reg.entries;
  if (reading.state == RegisterReading::State::kMatch) {
    std::set<std::string> names;
    for (platform::StatementEntry& e : entries) {
      e.file = platform::StatementFileName(e);
      // A code that is no number would make a name no later run removes (or
      // one outside the folder).
      if (!IsStatementFolderFile(e.file) || !e.file.ends_with(".pdf")) {
        reading.state = RegisterReading::State::kMismatch;
        reading.why = "un codi del registre de fulls no \x82s un nombre";
        break;
      }
      if (!names.insert(e.file).second) {
        reading.state = RegisterReading::State::kMismatch;
        reading.why = "dues c\x95pies del registre de fulls tindrien el mateix fitxer";
        break;
      }
    }
  }
  auto no_register = [&]() {
    Say(err, reading.state == RegisterReading::State::kMissing
                 ? Localized("no hi ha el registre de fulls @1; sense ell no es pot fer un PDF "
                             "per full a @2; no s'hi escriu res",
                             {platform::HostPath(reading.path), shown_folder})
                 : Localized("el registre de fulls @1 no correspon al fitxer d'impressi\xa2 (@2); "
                             "no es pot fer un PDF per full a @3; no s'hi escriu res",
                             {platform::HostPath(reading.path), Localized(reading.why),
                              shown_folder}));
    result.exit_code = kExitNoRegister;
    return result;
  };
  if (reading.state != RegisterReading::State::kMatch) return no_register();
  const std::string refused = RefusedFolder(env, folder, entries, dirs);
  if (!refused.empty()) {
    Say(err, refused);
    result.exit_code = kExitRefusedDevice;
    return result;
  }
  auto cannot_write = [&](const std::string& message) {
    Say(err, message);
    result.exit_code = kExitCannotWrite;
    return result;
  };
  // The run is drawn once, into memory, before anything is written: a
  // register that does not cover its pages leaves the folder as it is.
  // Its statements are then cut from it, the fonts subset once for all.
  Diagnostics diagnostics;
  std::string whole;
  bool ok = false;
  std::string error;
  {
    MemoryWritesEnv memory(&env, &whole);
    PdfSink pdf(&memory, folder, &diagnostics);
    if (!RenderFile(env, print_file, &pdf, &diagnostics, &result.pages)) {
      Say(err, Localized("no es pot llegir el fitxer d'impressi\xa2 @1",
                         {platform::HostPath(print_file)}));
      result.exit_code = kExitNoPrintFile;
      return result;
    }
    ok = pdf.Close();
    error = pdf.error();
  }
  for (const std::string& warning : diagnostics.Lines()) Say(err, warning);
  if (!ok) return cannot_write(error);
  CheckRegisterPages(&reading, result.pages);
  if (reading.state != RegisterReading::State::kMatch) return no_register();

  if (!CreateFolders(env, folder)) {
    return cannot_write(Localized("no es pot crear la carpeta @1", {shown_folder}));
  }
  std::string failed;
  if (!RemoveStatementFolderFiles(env, folder, &failed)) {
    return cannot_write(Localized("no es pot esborrar @1", {platform::HostPath(failed)}));
  }

  const std::string author = AdministratorName(env, dirs);
  const std::string heading = StatementHeading();
  auto info_of = [&heading, &author](const platform::StatementEntry& e) {
    return DocumentInfo(heading, author, e, true);
  };
  PdfSplitter splitter;
  if (splitter.Load(std::move(whole)) && splitter.pages() == result.pages) {
    for (const platform::StatementEntry& e : entries) {
      const std::string part = splitter.Extract(e.first_page - 1, e.pages, info_of(e));
      if (!WriteWholeFile(env, folder + e.file, part)) {
        return cannot_write(Localized("no es pot escriure @1", {platform::HostPath(folder + e.file)}));
      }
      result.bytes += static_cast<int64_t>(part.size());
      ++result.files;
    }
  } else {
    // A document laid out otherwise than the splitter reads (another
    // cairo): each statement is drawn on its own. Its warnings were given.
    Diagnostics again;
    StatementFolderSink sink(&env, folder, &entries, &again, info_of);
    int64_t pages = 0;
    ok = RenderFile(env, print_file, &sink, &again, &pages);
    ok = sink.Close() && ok;
    result.bytes = sink.bytes_written();
    result.files = sink.files_written();
    if (!ok) return cannot_write(sink.error());
  }

  const std::string csv_path = folder + kSummaryCsvName;
  const std::string csv = SummaryCsv(
      entries,
      Localized("fitxer;codi de la comunitat;nom de la comunitat;codi del pis;propietari;pis;"
                "c\x95pia;p\x85gines;per\xa1ode des de;per\xa1ode fins a;saldo anterior;"
                "total de despeses;quota;total de cobraments;saldo;a favor de"),
      Localized("comunitat"), Localized("administrador"));
  if (!WriteWholeFile(env, csv_path, csv)) {
    return cannot_write(Localized("no es pot escriure @1", {platform::HostPath(csv_path)}));
  }
  // Last: its presence says the folder is complete.
  std::string reg = platform::RegisterHeader() + "\r\n";
  for (const platform::StatementEntry& e : entries) reg += platform::RegisterLine(e) + "\r\n";
  reg += platform::RegisterTrailer(reading.reg.print_file_bytes, reading.reg.pages,
                                   entries.size()) +
         "\r\n";
  const std::string reg_path = folder + platform::kFolderRegisterName;
  if (!WriteWholeFile(env, reg_path, reg)) {
    return cannot_write(Localized("no es pot escriure @1", {platform::HostPath(reg_path)}));
  }
  Say(out, Pages(result.pages, "@2 PDF amb @1 p\x85gina en total escrits a la carpeta @3",
                 "@2 PDF amb @1 p\x85gines en total escrits a la carpeta @3",
                 {std::to_string(result.files), shown_folder}));
  return result;
}

void PrintUsage(std::ostream& out) {
  out << Localized("\xa3s: ZIZAVEZU [--help | --version]") << "\n"
      << Localized(
             "Sense arguments, imprimeix el fitxer d'impressi\xa2 de la carpeta temporal "
             "(ZELTMP) al dispositiu que diu Sortida.")
      << "\n";
}

// The sink of the device, with the two calls the run needs from it.
class DeviceOutput {
 public:
  DeviceOutput(platform::Env* env, const Device& device, Diagnostics* diagnostics) {
    if (device.kind == Device::Kind::kText) {
      text_ = std::make_unique<TextSink>(env, device.path);
    } else {
      pdf_ = std::make_unique<PdfSink>(env, device.path, diagnostics);
    }
  }
  PageSink* sink() { return text_ ? static_cast<PageSink*>(text_.get()) : pdf_.get(); }
  PdfSink* pdf() { return pdf_.get(); }
  bool Close() { return text_ ? text_->Close() : pdf_->Close(); }
  const std::string& error() const { return text_ ? text_->error() : pdf_->error(); }
  int64_t bytes() const { return text_ ? text_->bytes_written() : pdf_->bytes_written(); }

 private:
  std::unique_ptr<TextSink> text_;
  std::unique_ptr<PdfSink> pdf_;
};

}  // namespace

// What the program prints, for the module that starts it and shows it (it
// may read both streams through one pipe): the warnings first, each flushed
// as it goes, and then the outcome as the last line, one line each, in the
// terminal's language and UTF-8 whatever the streams are. A run that did
// what it was asked says so on out; any other outcome goes to err.
PrintRunResult RenderPrintRun(platform::Env& env, const InstallationDirs& dirs, std::ostream& out,
                              std::ostream& err) {
  const std::string& temp_dir = dirs.temp_dir;
  PrintRunResult result;
  const std::string print_file = temp_dir + platform::kPrintFileName;
  auto say = Say;
  // Only a regular file: a FIFO would keep the run waiting for a writer,
  // a device has no end.
  std::unique_ptr<platform::SequentialFile> in = env.OpenSequential(print_file);
  if (in == nullptr) {
    struct stat st;
    const bool not_regular =
        ::stat(env.HostPathOf(print_file).c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    say(err, not_regular ? Localized("el fitxer d'impressi\xa2 @1 no \x82s un fitxer normal (\x82s "
                                     "una carpeta, un dispositiu o una canonada); no s'imprimeix res",
                                     {platform::HostPath(print_file)})
                         : Localized("no es pot llegir el fitxer d'impressi\xa2 @1",
                                     {platform::HostPath(print_file)}));
    result.exit_code = kExitNoPrintFile;
    return result;
  }

  Diagnostics diagnostics;
  std::string line;
  int64_t line_number = 0;
  bool have_line = ReadPrintLine(*in, &line, &line_number, &diagnostics);
  Directive first = ParseDirective(line);
  std::string device_text;
  bool first_is_device = first.kind == Directive::Kind::kDevice;
  if (first_is_device) {
    device_text = first.text;
  } else if (have_line) {
    diagnostics.Warn(Fault::kDeviceNotFirst, 1, kDeviceNotFirst);
  }
  result.device = SelectDevice(device_text, temp_dir);
  if (result.device.kind == Device::Kind::kFolder) {
    in.reset();
    return RenderFolder(env, dirs, print_file, result, out, err);
  }
  const std::string refused = RefusedDevice(env, result.device, dirs);
  if (!refused.empty()) {
    for (const std::string& warning : diagnostics.Lines()) say(err, warning);
    say(err, refused);
    result.exit_code = kExitRefusedDevice;
    return result;
  }

  DeviceOutput output(&env, result.device, &diagnostics);
  PageComposer composer(output.sink(), &diagnostics);
  bool ok = true;
  if (have_line && !first_is_device) ok = composer.Feed(first, line_number);
  while (ok && ReadPrintLine(*in, &line, &line_number, &diagnostics)) {
    ok = composer.Feed(ParseDirective(line), line_number);
  }
  if (ok) ok = composer.Finish();
  // A register that is this print file's bookmarks each statement in the
  // PDF; without one the PDF is what it always was.
  RegisterReading reading;
  if (output.pdf() != nullptr) {
    reading = ReadRegister(env, temp_dir, print_file);
    CheckRegisterPages(&reading, composer.pages());
    if (reading.state == RegisterReading::State::kMatch && !reading.reg.entries.empty()) {
      std::vector<PdfOutlineEntry> outline;
      for (const platform::StatementEntry& e : reading.reg.entries) {
        outline.push_back({EntryTitle(e), e.first_page});
      }
      output.pdf()->SetOutline(std::move(outline));
      output.pdf()->SetDocumentInfo(
          DocumentInfo(StatementHeading(), AdministratorName(env, dirs),
                       reading.reg.entries.front(), false));
    }
  }
  ok = output.Close() && ok;
  result.pages = composer.pages();
  result.bytes = output.bytes();

  for (const std::string& warning : diagnostics.Lines()) say(err, warning);
  if (reading.state == RegisterReading::State::kMismatch) {
    say(err, Localized("av\xa1s: el registre de fulls @1 no correspon al fitxer d'impressi\xa2 "
                       "(@2); el PDF no t\x82 marcadors",
                       {platform::HostPath(reading.path), Localized(reading.why)}));
  }
  if (!ok) {
    say(err, output.error());
    result.exit_code = kExitCannotWrite;
    return result;
  }

  const std::string shown = platform::HostPath(result.device.path);
  if (result.pages == 0) {
    // An output of an earlier run stays, and is named, so that nobody takes
    // it for this run's.
    say(out, env.FileExists(result.device.path)
                 ? Localized("el fitxer d'impressi\xa2 @1 no t\x82 cap p\x85gina; no s'ha "
                             "produ\x8bt res i el fitxer anterior @2 s'ha deixat tal com era",
                             {platform::HostPath(print_file), shown})
                 : Localized(
                       "el fitxer d'impressi\xa2 @1 no t\x82 cap p\x85gina; no s'ha produ\x8bt res",
                       {platform::HostPath(print_file)}));
    return result;
  }
  if (result.device.kind == Device::Kind::kPrinter) {
    std::vector<std::string> args;
    const std::string& queue = result.device.queue;
    if (!queue.empty()) args = {"-d", queue};
    // A temporary folder whose path starts with "-" stays a file name.
    args.push_back("--");
    args.push_back(shown);
    // From here on the job may reach the printer whatever follows (the
    // module, stopping a run, tells the user so when it finds this line).
    out << platform::kHandedToPrinterMark
        << (queue.empty() ? Localized("s'envia @1 a la impressora predeterminada", {shown})
                          : Localized("s'envia @1 a la impressora @2", {shown, queue}))
        << "\n";
    out.flush();
    int code = env.RunProgram("lp", args);
    if (code != 0) {
      const std::string why =
          code == platform::Env::kEndedBySignal ? Localized("lp ha estat aturat per un senyal")
          : code < 0                            ? Localized("lp no s'ha pogut engegar")
                     : Localized("lp ha acabat amb el codi @1", {std::to_string(code)});
      say(err, queue.empty()
                   ? Pages(result.pages,
                           "@2; @1 p\x85gina no enviada a la impressora predeterminada "
                           "(el PDF \x82s @3)",
                           "@2; @1 p\x85gines no enviades a la impressora predeterminada "
                           "(el PDF \x82s @3)",
                           {why, shown})
                   : Pages(result.pages,
                           "@2; @1 p\x85gina no enviada a la impressora @3 (el PDF \x82s @4)",
                           "@2; @1 p\x85gines no enviades a la impressora @3 (el PDF \x82s @4)",
                           {why, queue, shown}));
      result.exit_code = kExitPrinterFailed;
      return result;
    }
    say(out,
        queue.empty()
            ? Pages(result.pages,
                    "@1 p\x85gina enviada a la impressora predeterminada (el PDF \x82s @2)",
                    "@1 p\x85gines enviades a la impressora predeterminada (el PDF \x82s @2)",
                    {shown})
            : Pages(result.pages, "@1 p\x85gina enviada a la impressora @2 (el PDF \x82s @3)",
                    "@1 p\x85gines enviades a la impressora @2 (el PDF \x82s @3)", {queue, shown}));
    return result;
  }
  std::string written =
      Pages(result.pages, "@1 p\x85gina escrita a @2", "@1 p\x85gines escrites a @2", {shown});
  if (result.device.defaulted) {
    // The device text comes from the print file, in CP850.
    written = device_text.find_first_not_of(' ') == std::string::npos
                  ? Localized("no hi ha cap dispositiu de sortida configurat; @1", {written})
                  : Localized("el dispositiu de sortida \"@1\" \x82s desconegut; @2",
                              {platform::Cp850ToUtf8(device_text), written});
  }
  say(out, written);
  return result;
}

PrintRunResult RenderPrintRun(platform::Env& env, const std::string& temp_dir, std::ostream& out,
                              std::ostream& err) {
  const config::Settings& settings = config::ModuleSettings();
  return RenderPrintRun(
      env,
      InstallationDirs{settings.root_dir, temp_dir, settings.terminal_dir, settings.program_dir},
      out, err);
}

int RunPrintProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // The settings first: they give the language of the messages.
  config::LoadConfiguration();
  if (args.size() == 1 && args[0] == "--help") {
    PrintUsage(out);
    return kExitOk;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "ZIZAVEZU " << TELVORAN_VERSION << "\n";
    return kExitOk;
  }
  if (!args.empty()) {
    const bool first_known = args[0] == "--help" || args[0] == "--version";
    err << kPrefix << Localized("argument desconegut: @1", {args[first_known ? 1 : 0]}) << "\n";
    PrintUsage(err);
    return kExitUsage;
  }
  return RenderPrintRun(platform::CurrentEnv(), config::ModuleSettings().temp_dir, out, err)
      .exit_code;
}

}  // namespace zizavezu
