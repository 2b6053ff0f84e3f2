// ZIZAVEZU, the suite's print program. Started without arguments after a
// print run; renders the print file of the temporary folder on its device.
// "--help" and "--version" say what it is.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/env.h"
#include "tools/zizavezu/diagnostics.h"
#include "tools/zizavezu/print_program.h"

int main(int argc, char** argv) {
  // Ended by a signal halfway, it leaves the output it had as it was and
  // removes the new one it was writing.
  platform::InstallSignalCleanupHandlers();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  const int code = zizavezu::RunPrintProgram(args, std::cout, std::cerr);
  // The outcome line (or the usage, the version) lost on standard output
  // (/dev/full, a full disk) is a failure too: nobody was told.
  int error = 0;
  if (!platform::CloseStandardOutput(&error)) {
    std::cerr << "ZIZAVEZU: "
              << zizavezu::Localized("no es pot escriure a la sortida est\x85ndard: @1",
                                     {std::strerror(error)})
              << std::endl;
    return code == zizavezu::kExitOk ? zizavezu::kExitCannotWrite : code;
  }
  return code;
}
