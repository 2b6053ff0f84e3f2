// The start-up settings reader over arbitrary settings files: the input is
// cut into the session file (TMP\Sessio.ini), the terminal file
// (TMP\NuvaTerm.ini) and the user file (Nuva.ini) at its first two form
// feeds. Whatever they hold, the settings must come out well formed: a
// language of three characters, colour numbers of two digits at most,
// directories that end in a separator when not empty.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "config/configuration.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake_env.h"

namespace {

std::string TakeUntilFormFeed(std::string* rest) {
  const size_t at = rest->find('\f');
  std::string part = rest->substr(0, at);
  rest->erase(0, at == std::string::npos ? rest->size() : at + 1);
  return part;
}

void Write(const std::string& path, const std::string& bytes) {
  fuzz::WriteHostFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool EndsInSeparator(const std::string& dir) {
  if (dir.empty()) return true;
  const char last = dir.back();
  return last == '\\' || last == '/' || last == ':';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::FakeEnv* env = [] {
    const std::string& dir = fuzz::ScratchDir();
    std::filesystem::create_directories(dir + "TMP");
    auto* e = new platform::FakeEnv();
    e->SetVar("ZELROOT", dir);
    e->SetVar("ZELTMP", dir + "TMP");
    e->SetVar("ZELEXE", dir);
    return e;
  }();
  std::string rest(reinterpret_cast<const char*>(data), size);
  const std::string& dir = fuzz::ScratchDir();
  Write(dir + "TMP/Sessio.ini", TakeUntilFormFeed(&rest));
  Write(dir + "TMP/NuvaTerm.ini", TakeUntilFormFeed(&rest));
  Write(dir + "Nuva.ini", rest);

  const config::Settings s = config::ReadConfiguration(*env);
  FUZZ_CHECK(s.language.size() == 3);
  FUZZ_CHECK(EndsInSeparator(s.temp_dir));
  FUZZ_CHECK(EndsInSeparator(s.terminal_dir));
  for (const auto& entry : s.colours) {
    FUZZ_CHECK(entry.foreground >= 0 && entry.foreground <= 99);
    FUZZ_CHECK(entry.background >= 0 && entry.background <= 99);
  }
  return 0;
}
