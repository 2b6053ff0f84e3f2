// The currency letters the number formatting reads: the main currency, the
// print currency and the current one. Each is one letter or empty; only the
// current currency is read by the formatter, and only "P" (pesetas) changes
// its behaviour. Module-level state, single-threaded.
#ifndef TELVORAN_FORMAT_CURRENCY_H_
#define TELVORAN_FORMAT_CURRENCY_H_

#include <string>

namespace format {

struct CurrencyLetters {
  std::string main;
  std::string print;
  std::string current;
};

// The process-wide letters; all start empty.
CurrencyLetters& Currency();

// "a,X" makes X (upper-cased, "E" when empty) the main and current currency;
// any other "c,X" sets the print currency to X (the main one when empty).
// Without a comma: "p..." makes the print currency current (the main one when
// no print currency is set); anything else, the empty text included, makes
// the main currency current again.
void SetCurrency(const std::string& selection);

}  // namespace format

#endif  // TELVORAN_FORMAT_CURRENCY_H_
