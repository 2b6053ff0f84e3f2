#include "console/file_messages_ui.h"

#include <cstdint>
#include <string>
#include <vector>

#include "console/keys.h"
#include "console/screen.h"
#include "platform/console.h"

namespace console {

namespace {

// Whether each message box still on the screen was really pushed, innermost
// last. A box that did not fit pushed nothing, and popping for it would
// remove the window under it.
std::vector<bool>& ShownMessages() {
  static std::vector<bool>* shown = new std::vector<bool>();
  return *shown;
}

}  // namespace

void ShowMessageUntilKey(int row, const std::string& text) {
  const bool shown = ShowMessageWindow(row, text);
  Beep();
  platform::CurrentConsole().DiscardInput();
  PendingKeys().clear();
  int16_t key = 0;
  WaitKey(key);
  if (shown) WinPop();
}

datafiles::DataFileUi ConsoleDataFileUi() {
  datafiles::DataFileUi ui;
  ui.open_failure = [](const std::string& message) {
    ShowMessageUntilKey(datafiles::kOpenFailureRow, message);
  };
  ui.show_message = [](int row, const std::string& text) {
    ShownMessages().push_back(ShowMessageWindow(row, text));
  };
  ui.remove_message = [] {
    std::vector<bool>& shown = ShownMessages();
    if (shown.empty()) return;
    const bool pushed = shown.back();
    shown.pop_back();
    if (pushed) WinPop();
  };
  return ui;
}

}  // namespace console
