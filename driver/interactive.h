// The console kit wired to the module: the form engine, the module's hooks
// (driver/module_hooks.h), the browse list, help, the data layer's message
// windows and the hot-key tools; and the two pieces of screen text the
// report loop shows (the progress line and a message that waits for a key).
// The report loop itself and its progress row are in driver/program.cc.
#ifndef TELVORAN_DRIVER_INTERACTIVE_H_
#define TELVORAN_DRIVER_INTERACTIVE_H_

#include <string>

#include "driver/report_files.h"

namespace driver {

// Installs the console kit as the module's form engine and user interface:
// RunForm/StoreField, the completion check and browse transfer, the browse
// list, help, calendar and calculator, and the data layer's message windows.
// The browse hooks read buffers, which must outlive the installation (the
// module's report context does: nothing runs a form after ProgramMain).
void InstallConsoleKit(ReportBuffers& buffers);

// The progress line shown while a print run works: "IMPRIMINT COMUNITAT n
// DE m" in the interface language.
std::string ProgressText(int index, int total);

// Shows a message in a window at row 12, beeps (a failure's message) or not
// (an outcome's), waits for a key and removes the window.
void ShowMessageAndWait(const std::string& text, bool beep = true);

// Asks, in a window at row 12, whether the print run should stop, offering
// the first letters of the confirmation form's answers for "S" and "N" (so
// the question and the print confirmation take the same letters in every
// language). True when the key pressed is the letter of "S", in either case
// and with or without its accent.
bool ConfirmStopOfPrintRun();

}  // namespace driver

#endif  // TELVORAN_DRIVER_INTERACTIVE_H_
