#include "config/settings.h"

namespace config {

Settings& ModuleSettings() {
  static Settings settings;
  return settings;
}

std::string CompleteDirectory(const std::string& dir) {
  // "/" ends a directory too: the host maps every "\\" to it.
  if (dir.empty() || dir.back() == ':' || dir.back() == '\\' || dir.back() == '/') return dir;
  return dir + "\\";
}

std::array<ColourEntry, kColourEntries> ParseColourTable(const std::string& digits) {
  auto two = [&](size_t pos) -> int16_t {  // pos is 0-based
    int v = 0;
    for (size_t k = pos; k < pos + 2; ++k) {
      char c = k < digits.size() ? digits[k] : '0';
      v = v * 10 + ((c >= '0' && c <= '9') ? c - '0' : 0);
    }
    return static_cast<int16_t>(v);
  };
  std::array<ColourEntry, kColourEntries> table{};
  for (size_t i = 0; i < kColourEntries; ++i) {
    table[i].foreground = two(4 * i);
    table[i].background = two(4 * i + 2);
  }
  return table;
}

}  // namespace config
