#include "tools/telvoran_setup/common.h"

#include <system_error>

#include "config/locale.h"

namespace telvoran_setup {

std::string Text(const std::string& catalan, const std::vector<std::string>& values) {
  return config::TranslateForTerminal(catalan, values);
}

void Say(std::FILE* to, const std::string& line) { std::fprintf(to, "%s\n", line.c_str()); }

int Fail(const std::string& line) {
  Say(stderr, "telvoran-setup: " + line);
  return 1;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string WithSeparator(const fs::path& dir) {
  std::string text = dir.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

fs::path ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path();
}

}  // namespace telvoran_setup
