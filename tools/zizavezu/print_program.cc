#include "tools/zizavezu/print_program.h"

#include <sys/stat.h>

#include <memory>
#include <vector>

#include "config/configuration.h"
#include "config/locale.h"
#include "config/settings.h"
#include "platform/cp850.h"
#include "platform/print_file.h"
#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/directive.h"
#include "tools/zizavezu/page.h"
#include "tools/zizavezu/pdf_sink.h"
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
  const DestinationCheck check = CheckDestination(env, device.path, dirs);
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
  auto say = [](std::ostream& stream, const std::string& line) {
    stream << kPrefix << line << "\n";
    stream.flush();
  };
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
    diagnostics.Warn(Fault::kDeviceNotFirst, 1,
                     "la primera l\xa1nia no \x82s la l\xa1nia DEVICE; es fa servir el "
                     "dispositiu predeterminat");
  }
  result.device = SelectDevice(device_text, temp_dir);
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
  ok = output.Close() && ok;
  result.pages = composer.pages();
  result.bytes = output.bytes();

  for (const std::string& warning : diagnostics.Lines()) say(err, warning);
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
