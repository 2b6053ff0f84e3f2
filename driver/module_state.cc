#include "driver/module_state.h"

#include <cmath>

#include "config/ini.h"
#include "console/field_display.h"

namespace driver {

std::string FitText(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

double NumericValue(const std::string& text) {
  // The same reading as a numeric form field's value; a number too large for
  // a double counts as 0.
  const double v = console::FieldNumericValue(text);
  return std::isfinite(v) ? v : 0;
}

FeeSettings ReadFeeSettings(const std::string& settings_file) {
  FeeSettings f;
  f.letterhead_switch = config::IniRead(settings_file, "Rebut", "Membret");
  const std::string named = config::IniRead(settings_file, "Rebut", "Destinatari");
  f.named_copies = named == "S" || named == "s";
  f.vat[0] = static_cast<float>(NumericValue(config::IniRead(settings_file, "Iva0", "Honoraris")));
  f.vat[1] = static_cast<float>(NumericValue(config::IniRead(settings_file, "Iva1", "Honoraris")));
  f.withholding[0] =
      static_cast<float>(NumericValue(config::IniRead(settings_file, "Ret0", "Honoraris")));
  f.withholding[1] =
      static_cast<float>(NumericValue(config::IniRead(settings_file, "Ret1", "Honoraris")));
  return f;
}

AdministratorIdentity ReadAdministratorIdentity(const std::string& settings_file) {
  static constexpr const char* kKeys[9] = {"",        "Nom",    "Adreca1", "Adreca2", "Adreca3",
                                           "Adreca4", "Linia6", "NIF",     "Poblacio"};
  AdministratorIdentity id;
  for (int k = 1; k <= 8; ++k) {
    id.item[static_cast<size_t>(k)] =
        FitText(config::IniRead(settings_file, "Administrador", kKeys[k]), kIdentityWidth);
  }
  std::string fixed = FitText(
      config::IniRead(settings_file, "Administrador", "NifParticularsPerTipus"), kTaxIdPrefix);
  id.particulars_by_type = fixed.find_first_not_of(' ') != std::string::npos &&
                           fixed == id.item[7].substr(0, kTaxIdPrefix);
  return id;
}

}  // namespace driver
