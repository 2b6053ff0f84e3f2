// The console versions of the data layer's two messages: the open failure
// box (shown at row 12 until a key is pressed) and the lock wait box (shown
// while a locked record is waited for, removed when the read gets through).
// The driver installs them with datafiles::SetDataFileUi at start-up.
#ifndef TELVORAN_CONSOLE_FILE_MESSAGES_UI_H_
#define TELVORAN_CONSOLE_FILE_MESSAGES_UI_H_

#include <string>

#include "datafiles/file_messages.h"

namespace console {

// A message box at row until a key is pressed: ShowMessageWindow, one
// beep, the keys typed ahead (real or queued by a hot key) discarded so
// that they do not dismiss it unread, one key waited for, the box removed
// (a box that did not fit pushed nothing and pops nothing).
void ShowMessageUntilKey(int row, const std::string& text);

// open_failure: ShowMessageWindow at the given message's row, one beep,
// waiting input discarded, one key waited for, the box removed.
// show_message / remove_message: ShowMessageWindow / WinPop; a box that did
// not fit is not popped, so the caller's own window stays.
// end_program is left empty: ending the program is the program's to install.
datafiles::DataFileUi ConsoleDataFileUi();

}  // namespace console

#endif  // TELVORAN_CONSOLE_FILE_MESSAGES_UI_H_
