// TELVORAN: the settlement-statement module. No arguments; everything comes
// from the environment, the configuration files and the parameter form. It
// needs a terminal: the parameter form is filled in on screen.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "config/configuration.h"
#include "config/locale.h"
#include "driver/program.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "platform/terminal_console.h"

namespace {

// The terminal's texts, as keys of the locale file.
constexpr char kTooSmallText[] =
    "Amplieu el terminal fins a 80 x 25 com a m\xa1nim (ara fa @1 x @2)";

const char* OpenFailureText(platform::TerminalOpenFailure failure) {
  using Failure = platform::TerminalOpenFailure;
  switch (failure) {
    case Failure::kNotATerminal:
      return "L'entrada i la sortida est\x85ndard no s\xa2n un terminal";
    case Failure::kUnknownType:
      return "El tipus de terminal TERM=@1 \x82s desconegut";
    case Failure::kNoCursorAddressing:
      return "El terminal TERM=@1 no pot situar el cursor; cal un terminal de pantalla completa";
    default:
      return "No es pot fer servir el terminal";
  }
}

// The refusal on stderr, in the interface language. TERM goes in after the
// conversion: it is the host's text, not the console's code page.
void ReportOpenFailure(platform::TerminalOpenFailure failure) {
  std::string text = platform::Cp850ToUtf8(config::Translate(OpenFailureText(failure)));
  const char* term = std::getenv("TERM");
  if (const size_t at = text.find("@1"); at != std::string::npos) {
    text.replace(at, 2, term != nullptr ? term : "");
  }
  std::fprintf(stderr, "TELVORAN: %s\n", text.c_str());
}

// The usage, one locale entry per line.
constexpr const char* kUsageLines[] = {
    "\xa3s: TELVORAN",
    "El m\x95"
    "dul de l'estat de liquidaci\xa2: ompliu el formulari de par\x85metres al terminal.",
    "Entorn: ZELROOT (arrel de les dades), ZELEXE (carpeta de programes), ZELTMP (carpeta "
    "temporal).",
};

// The end of --help and --version: 0, or 1 when standard output lost them.
int EndOfAnswer() { return config::EndStandardOutput("TELVORAN", 0); }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("TELVORAN " TELVORAN_VERSION);
    return EndOfAnswer();
  }
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    // In the installation's language; without one, in Catalan.
    config::LoadConfiguration();
    for (const char* line : kUsageLines) {
      std::puts(platform::Cp850ToUtf8(config::Translate(line)).c_str());
    }
    return EndOfAnswer();
  }
  // Under a file-size limit the default SIGXFSZ would end the module in the
  // middle of the print file. Ignored, the write fails instead, and the
  // print run reports it and removes the partial file.
  std::signal(SIGXFSZ, SIG_IGN);
  // The settings are read before the terminal is opened, so that its own
  // texts (a refusal, the request to enlarge it) are in the interface
  // language. StartUp reads them again, to the same result: the reading
  // depends only on the environment, the current folder and the files, and
  // what it sets (the settings, the currency, ZELROOT, ZELEXE and ZELTMP
  // made absolute) comes out the same the second time.
  config::LoadConfiguration();
  platform::SetTerminalTooSmallText(config::Translate(kTooSmallText));
  platform::TerminalOpenFailure failure = platform::TerminalOpenFailure::kNone;
  std::unique_ptr<platform::Console> terminal = platform::OpenTerminalConsole(&failure);
  if (!terminal) {
    ReportOpenFailure(failure);
    return 1;
  }
  platform::ScopedConsoleOverride use(terminal.get());
  int code = driver::ProgramMain();
  return code;
}
