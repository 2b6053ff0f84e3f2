// ZIZAVEZU, the suite's print program. Started without arguments after a
// print run; renders the print file of the temporary folder on its device.
// "--help" and "--version" say what it is.
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tools/zizavezu/print_program.h"

int main(int argc, char** argv) {
  // Ended by a signal halfway, it leaves the output it had as it was and
  // removes the new one it was writing.
  platform::InstallSignalCleanupHandlers();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  return zizavezu::RunPrintProgram(args, std::cout, std::cerr);
}
