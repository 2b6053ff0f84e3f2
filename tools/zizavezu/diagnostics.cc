#include "tools/zizavezu/diagnostics.h"

#include <algorithm>
#include <utility>

#include "config/locale.h"
#include "platform/cp850.h"

namespace zizavezu {

std::string Localized(const std::string& catalan, const std::vector<std::string>& values) {
  // The marks are replaced after the conversion: the values are already
  // what the terminal shows, and converting them again would garble a path
  // that is not ASCII.
  const std::string text = platform::Cp850ToUtf8(config::Translate(catalan));
  std::vector<bool> used(values.size(), false);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t n = i + 1 < text.size() ? static_cast<size_t>(text[i + 1] - '0') : 0;
    if (text[i] == '@' && n >= 1 && n <= 9 && n <= values.size() && !used[n - 1]) {
      used[n - 1] = true;
      for (char c : values[n - 1]) out.push_back(c == '\n' || c == '\r' ? '?' : c);
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
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
