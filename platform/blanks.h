// Trimming of blanks (code 32 only, never tabs), as every fixed-width text of
// the system is padded with them.
#ifndef TELVORAN_PLATFORM_BLANKS_H_
#define TELVORAN_PLATFORM_BLANKS_H_

#include <string>

namespace platform {

inline bool IsBlank(const std::string& s) {
  return s.find_first_not_of(' ') == std::string::npos;
}

inline std::string TrimBlanks(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

inline std::string TrimRightBlanks(const std::string& s) {
  const size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

}  // namespace platform

#endif  // TELVORAN_PLATFORM_BLANKS_H_
