// Packed digits: a text of decimal digits stored two digits per byte, each
// byte 0x80 + the two-digit value, so that byte-wise comparison of equal-length
// values follows numeric order. Dates and hierarchical codes share it.
//
//   digits "20240131" -> 0x94 0x98 0x81 0x9F   (20, 24, 01, 31)
//   digits "123"      -> 0x8C 0x9E             (12, 30: the odd digit pads 0)
#ifndef TELVORAN_FORMAT_PACKED_H_
#define TELVORAN_FORMAT_PACKED_H_

#include <string>

namespace format {

// Packs a digit text of length n into (n + 1) / 2 bytes. The text is trimmed
// of blanks, right-aligned in n characters with zeros in front, and blanks
// left inside count as 0; any other non-digit counts as 0 too.
std::string PackDigits(const std::string& text);

// Two digits per byte from (byte AND 0x7F); values 100 to 127 give their last
// two digits, so a blank byte (0x20) reads back as "32".
std::string UnpackDigits(const std::string& packed);

// The shortest decimal text of x (up to 15 significant digits) without its
// sign, zero-filled on the left and cut to its last width characters.
std::string ZeroPad(double x, int width);

// The numeric value of a run of digits and blanks (blanks ignored), as the
// date and code readers take it. Any other character ends the number. The
// value saturates at 2^62 so that long runs never overflow.
long long DigitValue(const std::string& text);

}  // namespace format

#endif  // TELVORAN_FORMAT_PACKED_H_
