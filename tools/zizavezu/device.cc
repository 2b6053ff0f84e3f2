#include "tools/zizavezu/device.h"

#include <cctype>

#include "platform/blanks.h"
#include "platform/statement_register.h"

namespace zizavezu {

namespace {

// A device typed into the settings file may be set off by tabs as well as
// blanks.
std::string_view TrimBlanksAndTabs(std::string_view s) {
  return platform::TrimView(s, " \t");
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
  path = TrimBlanksAndTabs(path);
  if (path.empty()) return temp_dir + default_name;
  if (platform::IsAbsolutePath(path)) return std::string(path);
  return temp_dir + std::string(path);
}

}  // namespace

Device SelectDevice(std::string_view device_text, const std::string& temp_dir) {
  std::string_view text = TrimBlanksAndTabs(device_text);
  Device d;
  if (ConsumePrefix(&text, "PDF:")) {
    d.kind = Device::Kind::kPdf;
    d.path = FileIn(text, temp_dir, kDefaultPdfName);
  } else if (ConsumePrefix(&text, "TXT:")) {
    d.kind = Device::Kind::kText;
    d.path = FileIn(text, temp_dir, kDefaultTextName);
  } else if (ConsumePrefix(&text, "LP:")) {
    d.kind = Device::Kind::kPrinter;
    d.queue = std::string(TrimBlanksAndTabs(text));
    d.path = temp_dir + kDefaultPdfName;
  } else if (std::string folder = platform::StatementFolderOfDevice(text, temp_dir, &d.mail);
             !folder.empty()) {
    d.kind = Device::Kind::kFolder;
    d.path = std::move(folder);
  } else {
    d.kind = Device::Kind::kPdf;
    d.path = temp_dir + kDefaultPdfName;
    d.defaulted = true;
  }
  return d;
}

}  // namespace zizavezu
