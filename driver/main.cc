// TELVORAN: the settlement-statement module. No arguments; everything comes
// from the environment, the configuration files and the parameter form. It
// needs a terminal: the parameter form is filled in on screen.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver/program.h"
#include "platform/console.h"
#include "platform/terminal_console.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("TELVORAN " TELVORAN_VERSION);
    return 0;
  }
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::puts(
        "usage: TELVORAN\n"
        "The settlement-statement module: fill in the parameter form on the terminal.\n"
        "Environment: ZELROOT (data root), ZELEXE (program folder), ZELTMP (temporary folder).");
    return 0;
  }
  // Under a file-size limit the default SIGXFSZ would end the module in the
  // middle of the print file. Ignored, the write fails instead, and the
  // print run reports it and removes the partial file.
  std::signal(SIGXFSZ, SIG_IGN);
  std::string error;
  std::unique_ptr<platform::Console> terminal = platform::OpenTerminalConsole(&error);
  if (!terminal) {
    std::fprintf(stderr, "TELVORAN: %s\n", error.empty() ? "no terminal" : error.c_str());
    return 1;
  }
  platform::ScopedConsoleOverride use(terminal.get());
  int code = driver::ProgramMain();
  return code;
}
