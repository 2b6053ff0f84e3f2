#include "driver/interactive.h"

#include "config/locale.h"
#include "console/browse_list.h"
#include "console/calculator.h"
#include "console/calendar_pick.h"
#include "console/field_editor.h"
#include "console/file_messages_ui.h"
#include "console/form_engine.h"
#include "console/form_set.h"
#include "console/help_view.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/upper_text.h"
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

void ShowMessageAndWait(const std::string& text, bool beep) {
  bool shown = console::ShowMessageWindow(12, text);
  if (beep) console::Beep();
  platform::CurrentConsole().DiscardInput();
  int16_t key = 0;
  console::WaitKey(key);
  if (shown) console::WinPop();
}

namespace {

// The first letter of the label the confirmation form's choices give the
// code, or the code itself when the form has no such entry.
std::string AnswerLetter(const std::string& code) {
  console::FormSet& forms = console::Forms();
  const std::string choices =
      forms.HasField(kConfirmForm, 1) ? forms.Field(kConfirmForm, 1).choices : "";
  const std::string entry = "|" + code + ",";
  const size_t at = choices.find(entry);
  if (at == std::string::npos || at + entry.size() >= choices.size()) return code;
  const char letter = choices[at + entry.size()];
  return letter == '|' ? code : std::string(1, letter);
}

bool SameLetter(const std::string& a, const std::string& b) {
  bool& accent_free = console::AccentFree();
  const bool saved = accent_free;
  accent_free = true;
  const bool same = console::UpperText(a) == console::UpperText(b);
  accent_free = saved;
  return same;
}

}  // namespace

bool ConfirmStopOfPrintRun() {
  const std::string yes = AnswerLetter("S");
  const std::string no = AnswerLetter("N");
  const bool shown = console::ShowMessageWindow(
      12, config::TranslateWith("Voleu aturar la impressi\xa2? (@1/@2)", {yes, no}));
  platform::CurrentConsole().DiscardInput();
  int16_t key = 0;
  console::WaitKey(key);
  if (shown) console::WinPop();
  return key > 0 && key < 256 && SameLetter(std::string(1, static_cast<char>(key)), yes);
}

}  // namespace driver
