#include "format/user_cells.h"

#include <algorithm>
#include <cassert>

#include "config/ini.h"
#include "platform/env.h"

namespace format {

void LoadUserCell(std::span<char> cell, const char* key, const std::string& fallback) {
  assert(fallback.size() == cell.size());
  if (std::any_of(cell.begin(), cell.end(), [](char c) { return c != '\0'; })) return;
  const std::string path = platform::CurrentEnv().GetVar("ZELROOT") + "Nuva.ini";
  std::string value = config::IniRead(path, "Usuari", key);
  value.resize(cell.size(), ' ');
  if (value.find_first_not_of(' ') == std::string::npos) value = fallback;
  std::copy(value.begin(), value.end(), cell.begin());
}

}  // namespace format
