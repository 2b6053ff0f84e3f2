#include "config/ini.h"

#include "platform/blanks.h"
#include "platform/cp850.h"
#include "platform/env.h"

namespace config {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The value of key in section of the file's lines, converted from UTF-8
// when as_text and the file is UTF-8.
std::string ValueIn(std::vector<std::string>& lines, const std::string& section,
                    const std::string& key, bool as_text) {
  const bool utf8 = IniIsUtf8(lines);
  if (!lines.empty() && lines[0].starts_with(kByteOrderMark)) lines[0].erase(0, 3);
  IniScanner scanner(section, key);
  for (const std::string& line : lines) {
    if (!scanner.Feed(line)) break;
  }
  return utf8 && as_text ? platform::Utf8ToCp850(scanner.Result()) : scanner.Result();
}

std::string ReadValue(platform::Env& env, const std::string& path, const std::string& section,
                      const std::string& key, bool as_text) {
  std::vector<std::string> lines;
  if (!env.ReadLines(path, &lines)) return std::string();
  return ValueIn(lines, section, key, as_text);
}

}  // namespace

bool IniIsUtf8(const std::vector<std::string>& lines) {
  if (!lines.empty() && lines[0].starts_with(kByteOrderMark)) return true;
  bool beyond_ascii = false;
  for (const std::string& line : lines) {
    for (char c : line) {
      if (static_cast<uint8_t>(c) < 0x80) continue;
      if (!platform::IsUtf8Text(line)) return false;
      beyond_ascii = true;
      break;
    }
  }
  return beyond_ascii;
}

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
  return ReadValue(env, path, section, key, true);
}

std::string IniReadBytes(platform::Env& env, const std::string& path, const std::string& section,
                         const std::string& key) {
  return ReadValue(env, path, section, key, false);
}

std::string IniLookup(const std::string& text, const std::string& section, const std::string& key,
                      bool as_text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    // A line ends at LF, and a CR before that LF belongs to the line end
    // (CR LF or LF alike); a CR at the very end of the text, with no LF
    // after it, is a byte of the last line, as the file reader keeps it.
    if (nl != std::string::npos && line.ends_with('\r')) line.pop_back();
    lines.push_back(std::move(line));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return ValueIn(lines, section, key, as_text);
}

}  // namespace config
