// UpperText: upper-casing of code page 850 texts for screens and reports,
// with the accents kept or, while AccentFree() is set, removed (letters to
// their plain base letter, everything else in 64..237 blanked).
#ifndef TELVORAN_CONSOLE_UPPER_TEXT_H_
#define TELVORAN_CONSOLE_UPPER_TEXT_H_

#include <string>

namespace console {

// The process-wide flag; false at start.
bool& AccentFree();

std::string UpperText(const std::string& text);

}  // namespace console

#endif  // TELVORAN_CONSOLE_UPPER_TEXT_H_
