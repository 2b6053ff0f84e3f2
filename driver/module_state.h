// What the settlement report is given: the fee settings and the
// administrator identity, read from the settings file at start-up into the
// report context (driver/report_context.h), and the report parameters,
// filled by the parameter form's acceptance check (or by the batch printer)
// for the print run that follows.
#ifndef TELVORAN_DRIVER_MODULE_STATE_H_
#define TELVORAN_DRIVER_MODULE_STATE_H_

#include <array>
#include <cstdint>
#include <string>

namespace driver {

struct FeeSettings {
  std::string letterhead_switch;  // only the exact text "N" suppresses the letterhead
  // [Rebut] Destinatari=S: a copy printed once per owner carries the
  // owner's name, flat and community where a window envelope shows them.
  bool named_copies = false;
  std::array<float, 2> vat{};     // percentages, by the community's rate index
  std::array<float, 2> withholding{};
};

inline constexpr size_t kIdentityWidth = 35;
inline constexpr size_t kTaxIdPrefix = 17;

// Items 1..8: name, four address lines, an optional line, tax identification,
// place. Each is exactly 35 characters (cut or blank-padded).
struct AdministratorIdentity {
  std::array<std::string, 9> item;  // item[0] unused
  // Section 8 lists one line per expense type instead of one per flat.
  bool particulars_by_type = false;
};

struct ReportParameters {
  std::string report_date;     // packed date, 4 bytes
  std::string range_from_key;  // community code + flat code, 4 bytes
  std::string range_to_key;
  int16_t copies_per_community = 1;  // 0: once per owner of the community
};

// Reads the fee settings from the settings file (root + "Nuva.ini").
FeeSettings ReadFeeSettings(const std::string& settings_file);

// Reads section "Administrador" of the settings file: Nom, Adreca1..4,
// Linia6, NIF, Poblacio; the by-type switch is on when
// NifParticularsPerTipus (cut or padded to 17) is not blank and equals the
// first 17 characters of the tax identification.
AdministratorIdentity ReadAdministratorIdentity(const std::string& settings_file);

// The numeric value of a text as users type numbers: leading blanks, a sign,
// digits (blanks among them ignored), a decimal point and an exponent; it
// stops at anything else. 0 for a text without a number.
double NumericValue(const std::string& text);

// Left placement, blank padding, cut at width.
std::string FitText(const std::string& text, size_t width);

}  // namespace driver

#endif  // TELVORAN_DRIVER_MODULE_STATE_H_
