// WrittenDate: a packed date as screens and reports show it. Four styles:
// the ISO form, the numeric form in the user's separator and order, the same
// with a three-letter month, and the date written out in the interface
// language (Spanish, Galician, Aranese or Catalan) with its joining words
// and apostrophe elision. Texts are code page 850.
//
// The separator and the order of day, month and year come from the user
// settings file (ZELROOT + "Nuva.ini", section Usuari, keys DatCaracter and
// DatOrdre), read once per run into NUL-initialised cells. The language is
// the code of the module-wide settings. Single-threaded module state.
#ifndef TELVORAN_FORMAT_WRITTEN_DATE_H_
#define TELVORAN_FORMAT_WRITTEN_DATE_H_

#include <cstdint>
#include <string>

namespace format {

// Styles of WrittenDate.
inline constexpr int16_t kDateIso = -1;        // 2024-04-05
inline constexpr int16_t kDateNumeric = 0;     // 5/4/2024 in a field of fixed width
inline constexpr int16_t kDateShortMonth = 1;  // 5/abr/2024 in a field of fixed width
inline constexpr int16_t kDateWords = 2;       // 5 d'abril del 2024 (2 or more)

struct DateChars {
  char separator = '/';
  // Three of the letters D (day), M (month), A (year), in writing order.
  std::string order = "DMA";
};

// The settings of this run: loaded on the first call ("/" and "DMA" for
// blank or missing values), then kept.
DateChars LoadedDateChars();

// Empties the cells so that the next call reads Nuva.ini again.
void ResetDateSettingsForTesting();

// The date in the given style. parts holds the letters of the components to
// show, in any case (callers pass "dma"); the output follows the configured
// order, never the order of parts. Styles 0 and 1 are left-aligned in a
// fixed width (10 and 11 for "dma"); the words style has no padding. The
// no-date value gives 0000-00-00, a field of blanks, or the empty text.
// Nothing fails: a month outside 1..12 is written as its number in every
// style.
std::string WrittenDate(const std::string& date, int16_t style, const std::string& parts);

// The pure core, with the settings and the language code given ("SPA",
// "GLG", "OCI"; anything else is Catalan).
std::string WrittenDate(const std::string& date, int16_t style, const std::string& parts,
                        const DateChars& chars, const std::string& language);

}  // namespace format

#endif  // TELVORAN_FORMAT_WRITTEN_DATE_H_
