#include "tools/zizavezu/diagnostics.h"

#include <algorithm>
#include <utility>

#include "config/locale.h"

namespace zizavezu {

std::string Localized(const std::string& catalan, const std::vector<std::string>& values) {
  // Each message stays one line whatever its values hold.
  std::vector<std::string> one_line = values;
  for (std::string& v : one_line) {
    std::replace(v.begin(), v.end(), '\n', '?');
    std::replace(v.begin(), v.end(), '\r', '?');
  }
  return config::TranslateForTerminal(catalan, one_line);
}

void Diagnostics::Warn(Fault fault, int64_t line, const std::string& catalan,
                       std::vector<std::string> values) {
  Entry& e = entries_[static_cast<int>(fault)];
  if (e.count++ == 0) {
    e.line = line;
    e.key = catalan;
    e.values = std::move(values);
  }
}

std::vector<std::string> Diagnostics::Lines() const {
  std::vector<const Entry*> order;
  for (const Entry& e : entries_) {
    if (e.count > 0) order.push_back(&e);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Entry* a, const Entry* b) { return a->line < b->line; });
  std::vector<std::string> lines;
  for (const Entry* entry : order) {
    const Entry& e = *entry;
    std::string text = Localized(e.key, e.values);
    if (e.line > 0) text = Localized("l\xa1nia @1: @2", {std::to_string(e.line), text});
    if (e.count > 1) {
      const std::string more = std::to_string(e.count - 1);
      text = Localized(e.count == 2 ? "@1 (@2 vegada m\x82s)" : "@1 (@2 vegades m\x82s)",
                       {text, more});
    }
    lines.push_back(Localized("av\xa1s: @1", {text}));
  }
  return lines;
}

bool Diagnostics::Any() const {
  for (const Entry& e : entries_) {
    if (e.count > 0) return true;
  }
  return false;
}

}  // namespace zizavezu
