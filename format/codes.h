// Text services shared by the report and the screens: hierarchical codes
// between their packed stored form and the dotted text users read and type,
// the display form of a stored name with an inverted leading part, and the
// layout of a free text as lines of a given width.
//
// A packed code is the packed digits (format/packed.h) of groups of four
// digits; the leftmost group may hold up to seven (six when the code was
// typed as a six-digit number):
//   dotted "12.34"        <-> digits 00120034   (2 bytes: 0x8C 0xA2)
//   dotted "123456.1234"  <-> digits 1234561234 (5 bytes)
#ifndef TELVORAN_FORMAT_CODES_H_
#define TELVORAN_FORMAT_CODES_H_

#include <cstdint>
#include <string>

namespace format {

// The dotted text of a packed code: each group without leading zeros, groups
// of zeros at the right dropped; the empty text for an all-zero code. A
// one-byte code is not grouped and keeps both digits ("05").
std::string CodeToText(const std::string& packed);

// The packed code of a dotted text: each piece between "." is a number put
// in four digits (six for the first piece of a six-digit number or an
// eleven-character text with at most one "."); reading stops at the first
// empty or blank rest. The empty text gives the empty code.
std::string TextToCode(const std::string& text);

// A stored name in display order: "PUJOL GARCIA*JOAN" gives "JOAN PUJOL
// GARCIA"; a name ending in "'" is joined without a blank ("ASSOCIACIO*L'"
// gives "L'ASSOCIACIO"). Without a "*" after the first character the name is
// only trimmed of blanks.
std::string DisplayName(const std::string& name);

// Lays the text out as lines of width characters, replacing it. indent > 0
// indents the first line, indent < 0 every later line by -indent. Words are
// not split unless longer than a line. Characters below the blank take no
// width and stay in their line. align, in any case: "E", "L" or "I" pads
// with blanks, "N" with "-", "D" or "R" right-aligns, "C" centres, "A" or
// "B" justifies every line but the last; any other letter leaves lines
// unpadded. The lines are concatenated without separators. When width, less
// an indent, leaves no room for one character the text is left as it is.
void WrapText(std::string* text, int16_t indent, int16_t width, char align);

}  // namespace format

#endif  // TELVORAN_FORMAT_CODES_H_
