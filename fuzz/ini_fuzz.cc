// IniRead and IniLookup over an arbitrary settings file. The input is the
// section name, a line feed, the key name, a line feed and the file's bytes.
// The in-memory scan and the file reader must find the same value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/ini.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string rest(reinterpret_cast<const char*>(data), size);
  const std::string section = fuzz::TakeLine(&rest);
  const std::string key = fuzz::TakeLine(&rest);

  const std::string in_memory = config::IniLookup(rest, section, key);
  // A comment never reaches a value, and a value is one line.
  FUZZ_CHECK(in_memory.find(';') == std::string::npos);
  FUZZ_CHECK(in_memory.find('\n') == std::string::npos);

  static const std::string path = fuzz::ScratchDir() + "Nuva.ini";
  fuzz::WriteHostFile(path, reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
  FUZZ_CHECK(config::IniRead(path, section, key) == in_memory);
  return 0;
}
