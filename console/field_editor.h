// EditField: the kit's one field editor. Edits a fixed-length text in place
// on the screen (optionally over several rows), with insert and overwrite,
// word moves, clipboard copy and paste, hidden input and mouse positioning;
// with a choice list set (SetChoices) the field steps through value/label
// entries instead. It returns on a key it does not handle that the exit-key
// map accepts, or on a click outside the field.
//
// Process-wide state (the choice list), single-threaded.
#ifndef TELVORAN_CONSOLE_FIELD_EDITOR_H_
#define TELVORAN_CONSOLE_FIELD_EDITOR_H_

#include <cstdint>
#include <string>

namespace console {

// Entries "|value,label|value,label..."; empty = an ordinary text field.
void SetChoices(const std::string& list);

// row/col: the field start, window-relative (0 = the cursor's); width: cells
// per row (0 = N + 1); text: the value, length N (never changed); position:
// 1..N+1 in and out; key out: the exit key after translation, or
// -(col*100 + row) for a click outside the field.
void EditField(int16_t& row, int16_t& col, int16_t& width, std::string& text, int16_t& position,
               int16_t& key);

}  // namespace console

#endif  // TELVORAN_CONSOLE_FIELD_EDITOR_H_
