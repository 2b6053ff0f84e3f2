// The print program: reads the print file from the temporary folder, renders
// its pages on the device named by its DEVICE line and says in one line what
// it produced. Single-threaded; everything it opens is closed before it
// returns.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_PRINT_PROGRAM_H_
#define TELVORAN_TOOLS_ZIZAVEZU_PRINT_PROGRAM_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tools/zizavezu/destination.h"
#include "tools/zizavezu/device.h"

namespace zizavezu {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoPrintFile = 1;    // the print file cannot be read
// The device cannot be written, or standard output lost the outcome line.
inline constexpr int kExitCannotWrite = 2;
inline constexpr int kExitPrinterFailed = 3;  // lp could not be started or failed
// The device names a file no output may replace (see destination.h),
// something there that is not a regular file, or a queue starting with "-";
// nothing is written.
inline constexpr int kExitRefusedDevice = 4;
// DIR: or CORREU: without a statement register for this print file (none
// beside it, or one written with another print file or that does not
// read); nothing is written.
inline constexpr int kExitNoRegister = 5;
// An argument other than --help or --version (the code usage errors have
// everywhere; the same number as kExitCannotWrite). Nothing is rendered.
inline constexpr int kExitUsage = 2;

struct PrintRunResult {
  int exit_code = kExitOk;
  int64_t pages = 0;
  int64_t bytes = 0;  // size of the file written (DIR: and CORREU:, of all the PDFs)
  int64_t files = 0;  // DIR: and CORREU:: the PDFs written
  Device device;
};

// Renders dirs.temp_dir + "zizavezu.tmp" through env, refusing a device
// that would write over a file of the installation in dirs. Every line
// starts with "ZIZAVEZU: " and is in the terminal's language (the locale
// file), UTF-8. The warnings about the print file come first, on err; the
// outcome is the last line and one line: on out when the run did what it
// was asked (pages written or sent, or a print file without pages), on err
// when it failed. Each stream is flushed after each line, so that the
// order holds when both go to one pipe.
//
// The statement register beside the print file (platform::kRegisterFileName),
// when it is this print file's (it reads, names the print file's size and
// covers the pages rendered), bookmarks each statement of a PDF and gives
// the document its title, author and date; one that is not gives a
// warning. DIR: and CORREU: need it: they write one PDF per entry into the
// device's folder, then resum.csv and resum.reg (statement_folder.h), and
// without it write nothing (kExitNoRegister).
PrintRunResult RenderPrintRun(platform::Env& env, const InstallationDirs& dirs, std::ostream& out,
                              std::ostream& err);
// The same with the root, terminal and program folders of
// config::ModuleSettings().
PrintRunResult RenderPrintRun(platform::Env& env, const std::string& temp_dir, std::ostream& out,
                              std::ostream& err);

// The whole program, args being the command line without the program name:
// none renders the print run through platform::CurrentEnv() with the
// settings loaded as the module loads them; "--help" prints the usage and
// "--version" the version on out; anything else is a usage error on err.
// Returns the exit code.
int RunPrintProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_PRINT_PROGRAM_H_
