// The console kit's process-wide state put back as a new process has it, for
// the kit's tests: one reset instead of one per fixture.
#ifndef TELVORAN_CONSOLE_TESTS_KIT_TEST_SUPPORT_H_
#define TELVORAN_CONSOLE_TESTS_KIT_TEST_SUPPORT_H_

#include "console/browse_list.h"
#include "console/field_editor.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "platform/console.h"
#include "testsupport/settings_guard.h"

namespace console {

// Screen and key state, the calculator and calendar hooks, the choice list,
// the form set, the browse hooks, the insert toggle and the number and date
// characters read from Nuva.ini.
inline void ResetKitState() {
  ResetScreenState();
  ResetKeyState();
  SetCalculatorHook(nullptr);
  SetCalendarHook(nullptr);
  SetChoices("");
  Forms() = FormSet{};
  SetBrowseHooks({});
  platform::SetInsertToggle(false);
  testsupport::ResetFormatCells();
}

// Resets the kit when it is made and when it goes, and puts back the
// module settings and currency letters as they were (a fixture member, or a
// local in a plain test).
class KitState {
 public:
  KitState() { ResetKitState(); }
  ~KitState() { ResetKitState(); }
  KitState(const KitState&) = delete;
  KitState& operator=(const KitState&) = delete;

 private:
  testsupport::SettingsGuard settings_;
};

}  // namespace console

#endif  // TELVORAN_CONSOLE_TESTS_KIT_TEST_SUPPORT_H_
