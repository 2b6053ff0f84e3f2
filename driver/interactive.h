// The interactive side of the module: the console kit wired to the module
// (form engine, the module's hooks, the data layer's messages, the hot-key
// tools), the report loop on screen with a progress line, and the print
// program run with the terminal handed over to it.
#ifndef TELVORAN_DRIVER_INTERACTIVE_H_
#define TELVORAN_DRIVER_INTERACTIVE_H_

#include <string>

namespace driver {

// Installs the console kit as the module's form engine and user interface:
// RunForm/StoreField, the completion check and browse transfer, the browse
// list, help, calendar and calculator, and the data layer's message windows.
void InstallConsoleKit();

// The progress line shown while a print run works: "IMPRIMINT COMUNITAT n
// DE m" in the interface language.
std::string ProgressText(int index, int total);

// Shows a message in a window at row 12, beeps, waits for a key and
// removes the window.
void ShowMessageAndWait(const std::string& text);

}  // namespace driver

#endif  // TELVORAN_DRIVER_INTERACTIVE_H_
