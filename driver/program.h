// The program driver: start-up in its fixed order (identity and settings,
// working directory, form file, initial parameter values, the seven data
// files, fee settings), the report loop, and the reset at the end. The batch
// printer shares the start-up and the print run. Both run on a report
// context (driver/report_context.h) that they make and pass down.
#ifndef TELVORAN_DRIVER_PROGRAM_H_
#define TELVORAN_DRIVER_PROGRAM_H_

#include <string>

#include "config/settings.h"
#include "driver/report_context.h"

namespace driver {

// The path of the form file and of the settings file under the root of the
// settings.
std::string FormFilePath(const config::Settings& settings);
std::string SettingsFilePath(const config::Settings& settings);

// Start-up steps up to and including the fee settings, into ctx: the
// module-wide settings (config::LoadConfiguration) and ctx's copy of them,
// the identity, the forms, the seven files opened into ctx's buffers, the
// fee settings. A form file that lacks the two forms or a field the module
// reads stops it: it returns false with the message naming the file in
// *message (UTF-8, for standard error), before any data file is opened. A
// data file that cannot be opened ends the program inside.
bool StartUp(ReportContext& ctx, std::string* message = nullptr);

// The report loop on ctx: the screen cleared once in the normal colour,
// then the parameter form and one print run per accepted form (the last row
// showing its progress meanwhile, Esc asking whether to stop it), until the
// form is left with Esc. After each run a window shows what the print
// program said, or why nothing was printed, and the form comes back with its
// values. Without a form engine installed (see SetFormEngine) it returns at
// once. Returns 0.
int RunSettlementReport(ReportContext& ctx);

// The whole module on a report context of its own: start-up, report loop,
// reset; returns the exit code (1 when start-up refused the form file, with
// the message on stderr).
int ProgramMain();

}  // namespace driver

#endif  // TELVORAN_DRIVER_PROGRAM_H_
