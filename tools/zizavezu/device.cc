#include "tools/zizavezu/device.h"

#include <cctype>

namespace zizavezu {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Strips prefix (compared without case) from *s. Returns false when absent.
bool ConsumePrefix(std::string_view* s, std::string_view prefix) {
  if (s->size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>((*s)[i])) != prefix[i]) return false;
  }
  s->remove_prefix(prefix.size());
  return true;
}

std::string FileIn(std::string_view path, const std::string& temp_dir, const char* default_name) {
  path = TrimBlanks(path);
  if (path.empty()) return temp_dir + default_name;
  if (IsAbsolutePath(path)) return std::string(path);
  return temp_dir + std::string(path);
}

}  // namespace

bool IsAbsolutePath(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '\\' || path[0] == '/') return true;
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

Device SelectDevice(std::string_view device_text, const std::string& temp_dir) {
  std::string_view text = TrimBlanks(device_text);
  Device d;
  if (ConsumePrefix(&text, "PDF:")) {
    d.kind = Device::Kind::kPdf;
    d.path = FileIn(text, temp_dir, kDefaultPdfName);
  } else if (ConsumePrefix(&text, "TXT:")) {
    d.kind = Device::Kind::kText;
    d.path = FileIn(text, temp_dir, kDefaultTextName);
  } else if (ConsumePrefix(&text, "LP:")) {
    d.kind = Device::Kind::kPrinter;
    d.queue = std::string(TrimBlanks(text));
    d.path = temp_dir + kDefaultPdfName;
  } else {
    d.kind = Device::Kind::kPdf;
    d.path = temp_dir + kDefaultPdfName;
    d.defaulted = true;
  }
  return d;
}

}  // namespace zizavezu
