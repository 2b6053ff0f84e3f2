#include "tools/zizavezu/diagnostics.h"

#include <algorithm>

namespace zizavezu {

void Diagnostics::Warn(Fault fault, int64_t line, const std::string& message) {
  Entry& e = entries_[static_cast<int>(fault)];
  if (e.count++ == 0) {
    e.line = line;
    e.message = message;
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
    std::string text = "warning: ";
    if (e.line > 0) text += "line " + std::to_string(e.line) + ": ";
    text += e.message;
    if (e.count > 1) {
      text += " (" + std::to_string(e.count - 1) + " more like it)";
    }
    lines.push_back(text);
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
