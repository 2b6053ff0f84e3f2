#include "testsupport/settings_guard.h"

#include "format/masks.h"
#include "format/written_date.h"

namespace testsupport {

void ResetFormatCells() {
  format::ResetFormatSettingsForTesting();
  format::ResetDateSettingsForTesting();
}

SettingsGuard::SettingsGuard()
    : settings_(config::ModuleSettings()), currency_(format::Currency()) {
  ResetFormatCells();
}

SettingsGuard::~SettingsGuard() {
  config::ModuleSettings() = settings_;
  format::Currency() = currency_;
  ResetFormatCells();
}

}  // namespace testsupport
