#include "format/currency.h"

#include "platform/blanks.h"
#include "platform/env.h"

namespace format {

namespace {

std::string FirstUpper(const std::string& text) {
  if (text.empty()) return std::string();
  return platform::UpperAnsiCopy(text.substr(0, 1));
}

}  // namespace

CurrencyLetters& Currency() {
  static CurrencyLetters letters;
  return letters;
}

void SetCurrency(const std::string& selection) {
  CurrencyLetters& c = Currency();
  size_t comma = selection.find(',');
  if (comma != std::string::npos) {
    std::string after = platform::TrimBlanks(selection.substr(comma + 1));
    if (FirstUpper(selection) == "A") {
      c.main = after.empty() ? "E" : FirstUpper(after);
      c.current = c.main;
    } else {
      c.print = after.empty() ? c.main : FirstUpper(after);
    }
    return;
  }
  if (FirstUpper(selection) == "P") {
    c.current = c.print.empty() ? c.main : c.print;
  } else {
    c.current = c.main;
  }
}

}  // namespace format
