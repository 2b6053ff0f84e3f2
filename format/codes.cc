#include "format/codes.h"
#include "platform/blanks.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "format/packed.h"

namespace format {

namespace {

// Widens the line to width by adding blanks to its gaps one at a time, left
// to right, cycling back to the first gap. The search for the first gap
// starts after the line's indent.
// REQUIRES: the line holds a blank after its first own_indent characters.
void Justify(std::string* line, size_t width, size_t start_indent, size_t own_indent) {
  size_t p = start_indent + 1;  // 1-based, as the gaps are counted
  size_t gap = 2;
  while (line->size() < width) {
    size_t found = line->find(' ', p + gap - 1);
    if (found == std::string::npos) found = line->find(' ', own_indent);
    line->insert(found, 1, ' ');
    p = found + 1;
    gap = 2;
    while (p + gap <= line->size() && (*line)[p + gap - 1] == ' ') ++gap;
  }
}

}  // namespace

std::string CodeToText(const std::string& packed) {
  std::string d = UnpackDigits(packed);
  const bool all_zero = d.find_first_not_of('0') == std::string::npos;
  // 1-based positions: the group being rewritten is k .. end - 1.
  long end = static_cast<long>(d.size()) + 1;
  long k = static_cast<long>(d.size()) - 3;
  bool trailing = true;
  while (k >= 1) {
    if (k < 4) k = 1;  // the leftmost group takes every remaining digit
    const size_t from = static_cast<size_t>(k - 1);
    const size_t count = static_cast<size_t>(end - k);
    const long long value = DigitValue(d.substr(from, count));
    d.replace(from, count, (k > 1 ? "." : "") + std::to_string(value));
    if (trailing) {
      if (value == 0) {
        d.resize(from);
      } else {
        trailing = false;
      }
    }
    end = k;
    k -= 4;
  }
  return all_zero ? std::string() : d;
}

std::string TextToCode(const std::string& text) {
  const size_t points = static_cast<size_t>(std::count(text.begin(), text.end(), '.'));
  size_t width = 4;
  if ((text.size() == 6 && points == 0) || (text.size() == 11 && points < 2)) width = 6;
  std::string digits;
  size_t start = 0;
  while (start < text.size() && text.find_first_not_of(' ', start) != std::string::npos) {
    const size_t point = text.find('.', start);
    const size_t piece_end = point == std::string::npos ? text.size() : point;
    const std::string padded =
        "00000" + std::to_string(DigitValue(text.substr(start, piece_end - start)));
    digits += padded.substr(padded.size() - width);
    width = 4;
    start = piece_end + 1;
  }
  return PackDigits(digits);
}

std::string DisplayName(const std::string& name) {
  const size_t star = name.find('*');
  if (star == std::string::npos || star == 0) return platform::TrimBlanks(name);
  const size_t last = name.find_last_not_of(' ');
  const bool elided = last != std::string::npos && name[last] == '\'';
  return platform::TrimBlanks(name.substr(star + 1)) + (elided ? "" : " ") +
         platform::TrimBlanks(name.substr(0, star));
}

void WrapText(std::string* text, int16_t indent, int16_t width, char align) {
  const std::string& t = *text;
  const long n = static_cast<long>(t.size());
  const long first_indent = indent > 0 ? indent : 0;
  const long later_indent = indent < 0 ? -static_cast<long>(indent) : 0;
  // A line with no room would never advance.
  if (width - first_indent < 1 || width - later_indent < 1) return;

  // 1-based byte access; -1 past either end so that "the end of the text"
  // reads as below the blank.
  auto at = [&t, n](long k) -> int {
    return (k >= 1 && k <= n) ? static_cast<unsigned char>(t[static_cast<size_t>(k - 1)]) : -1;
  };
  auto printable = [&at](long k) { return at(k) > ' '; };
  auto control = [&at](long k) { return at(k) >= 0 && at(k) < ' '; };
  char letter = align;
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');

  std::string out;
  long s = first_indent;
  long i = 1;
  while (i <= n) {
    // The line's reach: width - s positions; control characters widen it.
    long w = width - s;
    long k = i;
    while (k - i < w && k <= n) {
      if (control(k)) ++w;
      ++k;
    }
    if (k > i && printable(k - 1)) {
      while (control(k)) {
        ++w;
        ++k;
      }
    }
    long e = k - i;
    const long reach_w = w;
    const long reach_e = e;
    // Do not split a word: back up to the blank or control before it.
    while (e > 0 && printable(i + e)) {
      --e;
      if (control(i + e)) --w;  // it now starts the next line
    }
    if (at(i + e) < ' ') {
      while (e > 0 && at(i + e - 1) == ' ') --e;
    }
    if (e < 1) {  // a single word longer than the line is cut
      e = reach_e;
      w = reach_w;
    }
    std::string line(static_cast<size_t>(s), ' ');
    line.append(t, static_cast<size_t>(i - 1), static_cast<size_t>(e));
    w += s;
    long next = i + e;
    while (at(next) == ' ') ++next;
    const bool more = next <= n;
    const size_t target = static_cast<size_t>(w);
    const size_t room = line.size() < target ? target - line.size() : 0;
    switch (letter) {
      case 'E':
      case 'L':
      case 'I':
        line.append(room, ' ');
        break;
      case 'N':
        line.append(room, '-');
        break;
      case 'D':
      case 'R':
        line.insert(0, room, ' ');
        break;
      case 'C':
        line = std::string(room / 2, ' ') + line + std::string((room + 1) / 2, ' ');
        break;
      case 'A':
      case 'B':
        if (more && line.find(' ', static_cast<size_t>(s)) != std::string::npos) {
          Justify(&line, target, static_cast<size_t>(std::abs(static_cast<long>(indent))),
                  static_cast<size_t>(s));
        }
        break;
      default:
        break;
    }
    out += line;
    i = next;
    s = later_indent;
  }
  *text = std::move(out);
}

}  // namespace format
