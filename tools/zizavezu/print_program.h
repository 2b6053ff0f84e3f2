// The print program: reads the print file from the temporary folder, renders
// its pages on the device named by its DEVICE line and says in one line what
// it produced. Single-threaded; everything it opens is closed before it
// returns.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_PRINT_PROGRAM_H_
#define TELVORAN_TOOLS_ZIZAVEZU_PRINT_PROGRAM_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "platform/env.h"
#include "tools/zizavezu/device.h"

namespace zizavezu {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoPrintFile = 1;    // the print file cannot be read
inline constexpr int kExitCannotWrite = 2;    // the device cannot be written
inline constexpr int kExitPrinterFailed = 3;  // lp could not be started or failed

struct PrintRunResult {
  int exit_code = kExitOk;
  int64_t pages = 0;
  int64_t bytes = 0;  // size of the file written
  Device device;
};

// Renders temp_dir + "zizavezu.tmp" through env. The summary line goes to
// out, warnings and errors to err, each line starting with "ZIZAVEZU: ".
PrintRunResult RenderPrintRun(platform::Env& env, const std::string& temp_dir, std::ostream& out,
                              std::ostream& err);

// The whole program: loads the settings as the module does and renders the
// print run through platform::CurrentEnv(). Returns the exit code.
int RunPrintProgram(std::ostream& out, std::ostream& err);

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_PRINT_PROGRAM_H_
