#include "tools/recmgr/sequential_records.h"

namespace recmgr_tool {

bool ParseSequentialRecords(std::string_view text, std::vector<std::string_view>* records,
                            std::string* error) {
  records->clear();
  records->reserve(text.size() / 32);
  auto fail = [&](const char* what) {
    *error = "record " + std::to_string(records->size() + 1) + ": " + what;
    return false;
  };
  size_t at = 0;
  while (at < text.size() && text[at] != '\x1A') {
    const size_t comma = text.find(',', at);
    if (comma == std::string_view::npos || comma == at || comma - at > 6) return fail("bad length");
    size_t length = 0;
    for (size_t i = at; i < comma; ++i) {
      if (text[i] < '0' || text[i] > '9') return fail("bad length");
      length = length * 10 + static_cast<size_t>(text[i] - '0');
    }
    if (comma + 1 + length + 2 > text.size() || text[comma + 1 + length] != '\r' ||
        text[comma + 2 + length] != '\n') {
      return fail("bad record ending");
    }
    records->push_back(text.substr(comma + 1, length));
    at = comma + 3 + length;
  }
  // Without its end mark a file cut at a record boundary would pass for a
  // whole one.
  if (at >= text.size()) {
    *error = "no Ctrl-Z at the end: the file may be cut short";
    return false;
  }
  return true;
}

}  // namespace recmgr_tool
