// Reading the number a text starts with, as the system's texts and files
// write numbers (settings, print file directives, typed values).
#ifndef TELVORAN_PLATFORM_NUMBER_TEXT_H_
#define TELVORAN_PLATFORM_NUMBER_TEXT_H_

#include <cstdint>
#include <string_view>

namespace platform {

// What a blank after the sign or among the digits does.
enum class BlanksInNumber {
  kEnd,   // ends the number: "1 2" is 1, "- 5" is 0
  kSkip,  // is passed over, as the classic VAL reads: "1 2" is 12, "- 5" is -5
};

// Blanks before it skipped, an optional sign, then decimal digits up to the
// first other character; 0 when no digit follows. The magnitude saturates at
// limit (>= 0), so no text overflows.
inline int64_t LeadingNumber(std::string_view text, int64_t limit,
                             BlanksInNumber blanks = BlanksInNumber::kEnd) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' && blanks == BlanksInNumber::kSkip) continue;
    if (c < '0' || c > '9') break;
    v = v >= limit / 10 + 1 ? limit : v * 10 + (c - '0');
    if (v > limit) v = limit;
  }
  return negative ? -v : v;
}

}  // namespace platform

#endif  // TELVORAN_PLATFORM_NUMBER_TEXT_H_
