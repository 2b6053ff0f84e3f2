// Number edit masks: FormatMask writes a double through a picture such as
// "ZZZ,ZZ9.99" (rounding, zero suppression, fillers, sign placement and
// overflow); FormatAmount derives the money mask for an amount in cents in
// the current currency; IsBadNumberText checks a typed number against its
// mask.
//
// The decimal and thousands characters come from the user settings file
// (ZELROOT + "Nuva.ini", section Usuari, keys DecCaracter and MilCaracter),
// read once per run into one-character cells that start as NUL. The program
// is single-threaded; the cells are module-level state.
#ifndef TELVORAN_FORMAT_MASKS_H_
#define TELVORAN_FORMAT_MASKS_H_

#include <string>

#include "platform/types.h"

namespace format {

// The two characters a mask's "." and "," stand for.
struct NumberChars {
  char decimal = '\'';
  char thousands = '.';
};

// The characters of this run: loaded from Nuva.ini on the first call (a
// blank or missing value gives "'" and "." respectively), then kept.
NumberChars LoadedNumberChars();

// Empties the cells so that the next call reads Nuva.ini again.
void ResetFormatSettingsForTesting();

// Formats v through mask; the result always has the mask's length. A number
// that does not fit is written plainly in the mask's width, or as a row of
// "!" when even its integer part does not fit; NaN and infinities take the
// row of "!" too. The empty mask gives the empty text.
std::string FormatMask(const std::string& mask, double v);

// The pure core of FormatMask, with the characters given.
std::string FormatMask(const std::string& mask, double v, const NumberChars& chars);

// Formats an amount in cents with a mask derived from the features of the
// given one (digits, thousands, sign, filler): two decimals in euros, the
// given decimal count in pesetas (current currency "P"), converted at the
// single-precision rate 166.3860015869140625.
std::string FormatAmount(const std::string& mask, double cents);

// The mask FormatAmount derives for an amount, in euros or in pesetas. For
// the report's "ZZZ,ZZZ,ZZ9" it is ",ZZZ,ZZ9.99" in euros and the mask itself
// in pesetas.
std::string DeriveAmountMask(const std::string& mask, double cents, bool pesetas);

// True (-1) when the typed text is not acceptable for the mask: a sign where
// the mask has none or after a digit or point, a second point, a point where
// the mask has none, or any character other than digits, blanks, signs and
// the point. Digit counts are not checked.
platform::Bool16 IsBadNumberText(const std::string& text, const std::string& mask);

// The digit step of FormatMask: |v| x 10^decimals rounded to a 64-bit
// significand (as extended precision does; exact when decimals <= 3), then
// to a whole number half-to-even, written in decimal without leading zeros
// (the empty text for 0). The digits come exactly from the binary value of
// v, whatever the host's long double. Returns false when v is not finite or
// the scaled value lies beyond the extended range (2^16384).
// REQUIRES: decimals >= 0.
bool ScaledDigits(double v, int decimals, std::string* digits);

}  // namespace format

#endif  // TELVORAN_FORMAT_MASKS_H_
