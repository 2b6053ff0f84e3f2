#include "format/packed.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace format {

std::string PackDigits(const std::string& text) {
  const size_t n = text.size();
  std::string s;
  size_t b = text.find_first_not_of(' ');
  if (b != std::string::npos) {
    size_t e = text.find_last_not_of(' ');
    s = text.substr(b, e - b + 1);
  }
  s = std::string(n, '0') + s;
  s = s.substr(s.size() - n);
  for (char& c : s) {
    if (c == ' ') c = '0';
  }
  auto value = [&](size_t i) -> int {
    if (i >= s.size()) return 0;
    char c = s[i];
    return (c >= '0' && c <= '9') ? c - '0' : 0;
  };
  std::string out((n + 1) / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(0x80 + 10 * value(2 * i) + value(2 * i + 1));
  }
  return out;
}

std::string UnpackDigits(const std::string& packed) {
  std::string out;
  out.reserve(packed.size() * 2);
  for (char c : packed) {
    int v = (static_cast<unsigned char>(c) & 0x7F) % 100;
    out.push_back(static_cast<char>('0' + v / 10));
    out.push_back(static_cast<char>('0' + v % 10));
  }
  return out;
}

std::string ZeroPad(double x, int width) {
  if (width <= 0) return std::string();
  std::string text;
  if (std::isnan(x) || std::isinf(x)) {
    text = "0";
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", std::fabs(x));
    text = buf;
    // The classic shortest form writes fractions without the leading zero.
    if (text.size() > 1 && text[0] == '0' && text[1] == '.') text.erase(0, 1);
  }
  std::string padded = std::string(static_cast<size_t>(width), '0') + text;
  return padded.substr(padded.size() - static_cast<size_t>(width));
}

long long DigitValue(const std::string& text) {
  constexpr long long kCap = 1LL << 62;
  long long v = 0;
  for (char c : text) {
    if (c == ' ') continue;
    if (c < '0' || c > '9') break;
    v = v >= kCap / 10 ? kCap : v * 10 + (c - '0');
  }
  return v;
}

}  // namespace format
