// ShowFieldValue: one form field's value drawn at its place in its display
// form (dates in the user's order, number-or-P through "ZZ9", a choice's
// label, long texts over several rows). Reads the form tables; writes only
// the screen, in the current colour.
#ifndef TELVORAN_CONSOLE_FIELD_DISPLAY_H_
#define TELVORAN_CONSOLE_FIELD_DISPLAY_H_

#include <cstdint>

namespace console {

// REQUIRES: Forms().HasField(form, field).
void ShowFieldValue(int16_t field, int16_t form);

}  // namespace console

#endif  // TELVORAN_CONSOLE_FIELD_DISPLAY_H_
