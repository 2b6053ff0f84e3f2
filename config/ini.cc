#include "config/ini.h"

#include "platform/blanks.h"
#include "platform/env.h"

namespace config {

IniScanner::IniScanner(const std::string& section, const std::string& key)
    : section_(platform::UpperAnsiCopy(platform::TrimBlanks(section))),
      key_(platform::UpperAnsiCopy(platform::TrimBlanks(key))) {}

bool IniScanner::Feed(const std::string& raw) {
  if (done_) return false;
  std::string line = raw.substr(0, raw.find(';'));
  size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return true;
  line.erase(0, first);

  if (!in_section_) {
    if (line[0] == '[') {
      size_t close = line.find(']', 1);
      std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (platform::UpperAnsiCopy(platform::TrimBlanks(name)) == section_) in_section_ = true;
    }
    return true;
  }
  if (line[0] == '[') {
    done_ = true;
    return false;
  }
  size_t eq = line.find('=');
  if (eq == std::string::npos) return true;
  if (platform::UpperAnsiCopy(platform::TrimRightBlanks(line.substr(0, eq))) == key_) {
    value_ = line.substr(eq + 1);
    done_ = true;
    return false;
  }
  return true;
}

std::string IniScanner::Result() const {
  if (value_.size() >= 2 && value_.front() == '"' && value_.back() == '"') {
    return value_.substr(1, value_.size() - 2);
  }
  return value_;
}

std::string IniRead(const std::string& path, const std::string& section, const std::string& key) {
  return IniRead(platform::CurrentEnv(), path, section, key);
}

std::string IniRead(platform::Env& env, const std::string& path, const std::string& section,
                    const std::string& key) {
  std::unique_ptr<platform::SequentialFile> file = env.OpenSequential(path);
  if (!file) return std::string();
  IniScanner scanner(section, key);
  std::string line;
  while (file->ReadLine(&line)) {
    if (!scanner.Feed(line)) break;
  }
  return scanner.Result();
}

std::string IniLookup(const std::string& text, const std::string& section, const std::string& key) {
  IniScanner scanner(section, key);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    // A line ends at LF, and a CR before that LF belongs to the line end
    // (CR LF or LF alike); a CR at the very end of the text, with no LF
    // after it, is a byte of the last line, as the file reader keeps it.
    if (nl != std::string::npos && line.ends_with('\r')) line.pop_back();
    if (!scanner.Feed(line)) break;
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return scanner.Result();
}

}  // namespace config
