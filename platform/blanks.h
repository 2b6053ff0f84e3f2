// Trimming of blanks (code 32 only, never tabs), as every fixed-width text of
// the system is padded with them.
#ifndef TELVORAN_PLATFORM_BLANKS_H_
#define TELVORAN_PLATFORM_BLANKS_H_

#include <string>
#include <string_view>

namespace platform {

inline bool IsBlank(std::string_view s) {
  return s.find_first_not_of(' ') == std::string_view::npos;
}

// The view forms: a part of s, valid as long as s is.

// s without the characters of set at either end.
inline std::string_view TrimView(std::string_view s, std::string_view set) {
  const size_t b = s.find_first_not_of(set);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(set) - b + 1);
}

inline std::string_view TrimBlanksView(std::string_view s) {
  return TrimView(s, " ");
}

inline std::string_view TrimRightBlanksView(std::string_view s) {
  const size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string_view() : s.substr(0, e + 1);
}

inline std::string TrimBlanks(std::string_view s) {
  return std::string(TrimBlanksView(s));
}

inline std::string TrimRightBlanks(std::string_view s) {
  return std::string(TrimRightBlanksView(s));
}

}  // namespace platform

#endif  // TELVORAN_PLATFORM_BLANKS_H_
