// ShowFieldValue: one form field's value drawn at its place in its display
// form (dates in the user's order, number-or-P through "ZZ9", a choice's
// label, long texts over several rows). Reads the form tables; writes only
// the screen, in the current colour.
#ifndef TELVORAN_CONSOLE_FIELD_DISPLAY_H_
#define TELVORAN_CONSOLE_FIELD_DISPLAY_H_

#include <cstdint>
#include <string>

namespace console {

// Draws the value after the field's label (window-relative), leaving the
// cursor after the last character written. Hidden-input fields draw nothing;
// a choice field whose value matches no code leaves the screen as it was.
// REQUIRES: Forms().HasField(form, field).
void ShowFieldValue(int16_t field, int16_t form);

// The numeric value of a typed number: leading blanks, a sign, digits (blanks
// among them are skipped), one decimal point and an exponent (E or D); the
// reading stops at anything else. 0 when the text holds no number.
double FieldNumericValue(const std::string& text);

// The label of the first entry of a choice list ("|code,label|...") whose
// code equals value exactly; false when none does.
bool ChoiceLabel(const std::string& choices, const std::string& value, std::string* label);

}  // namespace console

#endif  // TELVORAN_CONSOLE_FIELD_DISPLAY_H_
