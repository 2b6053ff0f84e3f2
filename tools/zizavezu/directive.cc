#include "tools/zizavezu/directive.h"

namespace zizavezu {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The leading number of a text (after blanks), as far as it goes; 0 when
// there is none. Used for the fill column, which the channel writes itself.
int64_t LeadingNumber(std::string_view s) {
  size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > kNumberLimit) v = kNumberLimit;
  }
  return negative ? -v : v;
}

}  // namespace

bool ParseNumber(std::string_view field, int64_t* value) {
  std::string_view s = TrimBlanks(field);
  if (s.empty()) return false;
  bool negative = false;
  size_t i = 0;
  if (s[0] == '-' || s[0] == '+') {
    negative = s[0] == '-';
    i = 1;
    // The channel writes a negative number as "-" and its digits; allow a
    // blank in between too.
    while (i < s.size() && s[i] == ' ') ++i;
  }
  if (i == s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > kNumberLimit) v = kNumberLimit;
  }
  *value = negative ? -v : v;
  return true;
}

Justification ParseJustification(std::string_view code) {
  Justification j;
  std::string_view trimmed = TrimBlanks(code);
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
      int64_t column = LeadingNumber(trimmed.substr(1));
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
  if (StartsWith(line, "DEVICE")) {
    d.kind = Directive::Kind::kDevice;
    d.text = std::string(line.substr(6));
    return d;
  }
  if (StartsWith(line, "PAGE")) {
    d.kind = Directive::Kind::kPage;
    d.number_ok = ParseNumber(line.substr(4), &d.number);
    return d;
  }
  if (StartsWith(line, "JUS")) {
    d.kind = Directive::Kind::kJustify;
    d.text = std::string(line.substr(3));
    d.justification = ParseJustification(line.substr(3));
    return d;
  }
  if (line[0] == '*') {
    d.kind = Directive::Kind::kRaw;
    d.text = std::string(line.substr(1));
    return d;
  }
  size_t first = line.find(',');
  if (first == std::string_view::npos || !ParseNumber(line.substr(0, first), &d.column)) {
    d.kind = Directive::Kind::kInvalid;
    d.text = std::string(line);
    return d;
  }
  d.kind = Directive::Kind::kText;
  size_t last = line.rfind(',');
  if (last > first && ParseNumber(line.substr(last + 1), &d.line_feeds)) {
    d.text = std::string(line.substr(first + 1, last - first - 1));
  } else {
    d.line_feeds_ok = false;
    d.text = std::string(line.substr(first + 1));
  }
  return d;
}

}  // namespace zizavezu
