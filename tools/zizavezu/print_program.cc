#include "tools/zizavezu/print_program.h"

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

std::string PageCount(int64_t pages) {
  return std::to_string(pages) + (pages == 1 ? " page" : " pages");
}

// A message of the locale file, as UTF-8 for the terminal, with its "@1"
// replaced by value (a path or a name, as the host has it).
std::string Message(const std::string& catalan, const std::string& value) {
  std::string text = platform::Cp850ToUtf8(config::Translate(catalan));
  const size_t at = text.find("@1");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

// Why the device may not be used, or empty when it may.
std::string RefusedDevice(platform::Env& env, const Device& device, const InstallationDirs& dirs) {
  // lp takes its queue after -d; one that looks like an option would be
  // read as one.
  if (device.kind == Device::Kind::kPrinter && !device.queue.empty() && device.queue[0] == '-') {
    return Message(
        "la cua d'impressi\xa2 @1 no \x82s v\x85lida perqu\x8a comen\x87"
        "a amb \"-\"; "
        "no s'imprimeix res",
        device.queue);
  }
  const DestinationCheck check = CheckDestination(env, device.path, dirs);
  switch (check.verdict) {
    case DestinationVerdict::kAllowed:
      return std::string();
    case DestinationVerdict::kProtected:
      return Message(
          "la sortida @1 \x82s un fitxer de dades, de definicions, de configuraci\xa2 "
          "o de treball; no s'hi escriu res",
          check.resolved);
    case DestinationVerdict::kNotRegularFile:
      break;
  }
  return Message(
      "la sortida @1 no \x82s un fitxer normal (\x82s una carpeta o un dispositiu); "
      "no s'hi escriu res",
      check.resolved);
}

void PrintUsage(std::ostream& out) {
  out << Message("\xa3s: ZIZAVEZU [--help | --version]", "") << "\n"
      << Message(
             "Sense arguments, imprimeix el fitxer d'impressi\xa2 de la carpeta temporal "
             "(ZELTMP) al dispositiu que diu Sortida.",
             "")
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

PrintRunResult RenderPrintRun(platform::Env& env, const InstallationDirs& dirs, std::ostream& out,
                              std::ostream& err) {
  const std::string& temp_dir = dirs.temp_dir;
  PrintRunResult result;
  const std::string print_file = temp_dir + platform::kPrintFileName;
  std::unique_ptr<platform::SequentialFile> in = env.OpenSequential(print_file);
  if (in == nullptr) {
    err << kPrefix << "cannot read the print file " << platform::HostPath(print_file) << "\n";
    result.exit_code = kExitNoPrintFile;
    return result;
  }

  Diagnostics diagnostics;
  std::string line;
  bool have_line = in->ReadLine(&line);
  int64_t line_number = have_line ? 1 : 0;
  Directive first = ParseDirective(line);
  std::string device_text;
  bool first_is_device = first.kind == Directive::Kind::kDevice;
  if (first_is_device) {
    device_text = first.text;
  } else if (have_line) {
    diagnostics.Warn(Fault::kDeviceNotFirst, 1,
                     "the first line is not the DEVICE line; the default device is used");
  }
  result.device = SelectDevice(device_text, temp_dir);
  const std::string refused = RefusedDevice(env, result.device, dirs);
  if (!refused.empty()) {
    for (const std::string& warning : diagnostics.Lines()) err << kPrefix << warning << "\n";
    err << kPrefix << refused << "\n";
    result.exit_code = kExitRefusedDevice;
    return result;
  }

  DeviceOutput output(&env, result.device, &diagnostics);
  PageComposer composer(output.sink(), &diagnostics);
  bool ok = true;
  if (have_line && !first_is_device) ok = composer.Feed(first, line_number);
  while (ok && in->ReadLine(&line)) {
    ++line_number;
    ok = composer.Feed(ParseDirective(line), line_number);
  }
  if (ok) ok = composer.Finish();
  ok = output.Close() && ok;
  result.pages = composer.pages();
  result.bytes = output.bytes();

  for (const std::string& warning : diagnostics.Lines()) err << kPrefix << warning << "\n";
  if (!ok) {
    err << kPrefix << output.error() << "\n";
    result.exit_code = kExitCannotWrite;
    return result;
  }

  const std::string shown = platform::HostPath(result.device.path);
  if (result.pages == 0) {
    out << kPrefix << "the print file " << platform::HostPath(print_file)
        << " holds no pages; nothing was produced\n";
    return result;
  }
  if (result.device.kind == Device::Kind::kPrinter) {
    std::vector<std::string> args;
    if (!result.device.queue.empty()) args = {"-d", result.device.queue};
    // A temporary folder whose path starts with "-" stays a file name.
    args.push_back("--");
    args.push_back(shown);
    int code = env.RunProgram("lp", args);
    const std::string queue =
        result.device.queue.empty() ? "the default printer" : "printer " + result.device.queue;
    if (code != 0) {
      err << kPrefix
          << (code == platform::Env::kEndedBySignal ? "lp was ended by a signal"
              : code < 0                            ? "lp could not be started"
                                                    : "lp ended with code " + std::to_string(code))
          << "; " << PageCount(result.pages) << " not sent to " << queue << " (the PDF is " << shown
          << ")\n";
      result.exit_code = kExitPrinterFailed;
      return result;
    }
    out << kPrefix << PageCount(result.pages) << " sent to " << queue << " (the PDF is " << shown
        << ")\n";
    return result;
  }
  out << kPrefix;
  if (result.device.defaulted) {
    const std::string named(device_text.find_first_not_of(' ') == std::string::npos
                                ? "no output device is configured"
                                : "the output device \"" + device_text + "\" is unknown");
    out << named << "; ";
  }
  out << PageCount(result.pages) << " written to " << shown << "\n";
  return result;
}

PrintRunResult RenderPrintRun(platform::Env& env, const std::string& temp_dir, std::ostream& out,
                              std::ostream& err) {
  const config::Settings& settings = config::ModuleSettings();
  return RenderPrintRun(env, InstallationDirs{settings.root_dir, temp_dir, settings.terminal_dir},
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
    err << kPrefix << Message("argument desconegut: @1", args[first_known ? 1 : 0]) << "\n";
    PrintUsage(err);
    return kExitUsage;
  }
  return RenderPrintRun(platform::CurrentEnv(), config::ModuleSettings().temp_dir, out, err)
      .exit_code;
}

}  // namespace zizavezu
