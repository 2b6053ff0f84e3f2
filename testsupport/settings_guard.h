// Saves the module-wide settings a test changes and puts them back.
#ifndef TELVORAN_TESTSUPPORT_SETTINGS_GUARD_H_
#define TELVORAN_TESTSUPPORT_SETTINGS_GUARD_H_

#include "config/settings.h"
#include "format/currency.h"

namespace testsupport {

// On construction saves config::ModuleSettings() and the currency letters
// and empties the number and date characters read from Nuva.ini (so the
// next format call reads them again); on destruction restores the saved
// settings and letters and empties the characters again.
class SettingsGuard {
 public:
  SettingsGuard();
  ~SettingsGuard();
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  config::Settings settings_;
  format::CurrencyLetters currency_;
};

// Empties the number and date characters (see above).
void ResetFormatCells();

}  // namespace testsupport

#endif  // TELVORAN_TESTSUPPORT_SETTINGS_GUARD_H_
