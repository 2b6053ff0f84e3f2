#include "driver/interactive.h"

#include "config/locale.h"
#include "console/browse_list.h"
#include "console/calculator.h"
#include "console/calendar_pick.h"
#include "console/field_editor.h"
#include "console/file_messages_ui.h"
#include "console/form_engine.h"
#include "console/help_view.h"
#include "console/keys.h"
#include "console/screen.h"
#include "datafiles/file_messages.h"
#include "driver/module_hooks.h"
#include "platform/console.h"
#include "recmgr/record_manager.h"

namespace driver {

void InstallConsoleKit(ReportBuffers& buffers) {
  FormEngine engine;
  engine.run_form = [](int16_t form) {
    int16_t f = form, up = 0, down = 0, key = 0;
    console::RunForm(f, up, down, key);
    return key;
  };
  engine.store_field = [](int16_t form, const std::string& value, int16_t field, int16_t key) {
    return console::StoreField(form, value, field, key);
  };
  SetFormEngine(std::move(engine));

  console::FormHooks hooks;
  hooks.completion = [](int16_t form, int16_t key) { return AcceptParameterForm(form, key); };
  hooks.browse_transfer = [&buffers](int16_t list, int16_t form, int16_t field) {
    return TransferBrowseChoice(list, form, field, buffers);
  };
  hooks.browse = [](int16_t list) {
    int16_t l = list, result = -1;
    console::BrowseList(l, result);
    // The user may now sit on the form for a long time: let go of the
    // files' read snapshots so other programs' writes can be checkpointed.
    recmgr::EndReadTransactions();
    return result == 0;
  };
  hooks.help = [](const std::string& topic) { console::ShowHelp(topic); };
  console::SetFormHooks(std::move(hooks));

  console::BrowseHooks browse;
  browse.start_key = [](int16_t list, std::string& lowest, std::string& highest) {
    return BrowseStartKey(list, &lowest, &highest);
  };
  browse.line = [&buffers](int16_t list) { return BrowseLine(list, buffers); };
  browse.transfer = [&buffers](int16_t list, int16_t form, int16_t field) {
    return TransferBrowseChoice(list, form, field, buffers);
  };
  console::SetBrowseHooks(std::move(browse));

  console::SetCalculatorHook([] { return console::Calculator(); });
  console::SetCalendarHook([] { return console::CalendarPick(); });

  datafiles::SetDataFileUi(console::ConsoleDataFileUi());
}

std::string ProgressText(int index, int total) {
  // The locale file holds the whole line with its two numbers marked, so a
  // language can put them where its grammar wants them.
  return config::TranslateWith("IMPRIMINT COMUNITAT @1 DE @2",
                               {std::to_string(index), std::to_string(total)});
}

void ShowMessageAndWait(const std::string& text) {
  bool shown = console::ShowMessageWindow(12, text);
  console::Beep();
  platform::CurrentConsole().DiscardInput();
  int16_t key = 0;
  console::WaitKey(key);
  if (shown) console::WinPop();
}

}  // namespace driver
