#include "driver/module_state.h"

#include <cmath>
#include <cstdlib>

#include "config/ini.h"

namespace driver {

FeeSettings& Fees() {
  static FeeSettings fees;
  return fees;
}

AdministratorIdentity& Administrator() {
  static AdministratorIdentity identity;
  return identity;
}

ReportParameters& Parameters() {
  static ReportParameters parameters;
  return parameters;
}

std::string FitText(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

double NumericValue(const std::string& text) {
  std::string number;
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  if (text[i] == '+' || text[i] == '-') number.push_back(text[i++]);
  bool point = false, digits = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      number.push_back(c);
      digits = true;
    } else if (c == '.' && !point) {
      number.push_back(c);
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return 0;
  // An exponent, E or D as the classic readers accept it.
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    std::string exp = "e";
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exp.push_back(text[j++]);
    bool any = false;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9' && exp.size() < 6) {
      exp.push_back(text[j++]);
      any = true;
    }
    if (any) number += exp;
  }
  double v = std::strtod(number.c_str(), nullptr);
  return std::isfinite(v) ? v : 0;
}

FeeSettings ReadFeeSettings(const std::string& settings_file) {
  FeeSettings f;
  f.letterhead_switch = config::IniRead(settings_file, "Rebut", "Membret");
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
