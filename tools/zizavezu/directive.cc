#include "tools/zizavezu/directive.h"

#include "platform/blanks.h"
#include "platform/number_text.h"
#include "platform/print_file.h"

namespace zizavezu {

bool ParseNumber(std::string_view field, int64_t* value) {
  const std::string_view s = platform::TrimBlanksView(field);
  size_t i = s.starts_with('-') || s.starts_with('+') ? 1 : 0;
  // The channel writes a negative number as "-" and its digits; allow a
  // blank in between too.
  while (i > 0 && i < s.size() && s[i] == ' ') ++i;
  const std::string_view digits = s.substr(i);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const int64_t v = platform::LeadingNumber(digits, kNumberLimit);
  *value = s.starts_with('-') ? -v : v;
  return true;
}

Justification ParseJustification(std::string_view code) {
  Justification j;
  std::string_view trimmed = platform::TrimBlanksView(code);
  if (trimmed.empty()) return j;
  switch (trimmed[0]) {
    case 'C':
    case 'c':
      j.kind = Justification::Kind::kCentre;
      break;
    case 'D':
    case 'd':
    case 'R':
    case 'r':
      j.kind = Justification::Kind::kRight;
      break;
    case 'A':
    case 'a':
    case 'B':
    case 'b':
      j.kind = Justification::Kind::kBold;
      break;
    case 'N':
    case 'n': {
      j.kind = Justification::Kind::kFill;
      // The fill column is the number after the letter, as far as it goes.
      int64_t column = platform::LeadingNumber(trimmed.substr(1), kNumberLimit);
      j.fill_column = column < 0 ? 0 : column;
      size_t open = code.find('\\');
      size_t close = open == std::string_view::npos ? open : code.find('\\', open + 1);
      if (close == std::string_view::npos) {
        j.fill_delimited = false;
      } else if (close > open + 1) {
        j.fill = code[open + 1];
      }
      break;
    }
    default:
      break;
  }
  return j;
}

Directive ParseDirective(std::string_view line) {
  Directive d;
  if (line.empty()) return d;
  if (line.starts_with(platform::kDeviceDirective)) {
    d.kind = Directive::Kind::kDevice;
    d.text = std::string(line.substr(platform::kDeviceDirective.size()));
    return d;
  }
  if (line.starts_with(platform::kPageDirective)) {
    d.kind = Directive::Kind::kPage;
    d.number_ok = ParseNumber(line.substr(platform::kPageDirective.size()), &d.number);
    return d;
  }
  if (line.starts_with(platform::kJustifyDirective)) {
    const std::string_view code = line.substr(platform::kJustifyDirective.size());
    d.kind = Directive::Kind::kJustify;
    d.text = std::string(code);
    d.justification = ParseJustification(code);
    return d;
  }
  if (line.starts_with(platform::kRawDirective)) {
    d.kind = Directive::Kind::kRaw;
    d.text = std::string(line.substr(platform::kRawDirective.size()));
    return d;
  }
  size_t first = line.find(platform::kItemSeparator);
  if (first == std::string_view::npos || !ParseNumber(line.substr(0, first), &d.column)) {
    d.kind = Directive::Kind::kInvalid;
    d.text = std::string(line);
    return d;
  }
  d.kind = Directive::Kind::kText;
  size_t last = line.rfind(platform::kItemSeparator);
  if (last > first && ParseNumber(line.substr(last + 1), &d.line_feeds)) {
    d.text = std::string(line.substr(first + 1, last - first - 1));
  } else {
    d.line_feeds_ok = false;
    d.text = std::string(line.substr(first + 1));
  }
  return d;
}

}  // namespace zizavezu
