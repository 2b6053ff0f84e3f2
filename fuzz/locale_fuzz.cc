// Translate over an arbitrary locale file. The first input byte chooses the
// interface language; the rest is the file root + "LOCALE\TELVORAN.LNG",
// written under a scratch root that a FakeEnv resolves the paths into. The
// texts looked up are the file's first and fifth lines (keys of its first
// two groups, when it has them) and a text of the sample locale file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/locale.h"
#include "config/settings.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kLanguages[] = {"CAT", "GLG", "OCI", "SPA", "ENG", ""};
  static platform::FakeEnv* env = [] {
    auto* e = new platform::FakeEnv(fuzz::ScratchDir());
    e->CreateDirectory("LOCALE");
    return e;
  }();
  platform::ScopedEnvOverride override_env(env);
  config::Settings& settings = config::ModuleSettings();
  settings.root_dir = "";
  settings.language = kLanguages[data[0] % (sizeof(kLanguages) / sizeof(kLanguages[0]))];

  std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::WriteHostFile(env->Resolve(config::LocaleFilePath("")),
                      reinterpret_cast<const uint8_t*>(file.data()), file.size());

  std::vector<std::string> texts = {"PARTICULARS", ""};
  std::string rest = file;
  for (int n = 1; n <= 5 && !rest.empty(); ++n) {
    std::string line = fuzz::TakeLine(&rest);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (n == 1 || n == 5) texts.push_back(line);
  }
  for (const std::string& text : texts) {
    const std::string shown = config::Translate(text);
    if (settings.language == "CAT") FUZZ_CHECK(shown == text);
    // The answer is one line of the file or the text itself.
    FUZZ_CHECK(shown == text || shown.find('\n') == std::string::npos);
  }
  return 0;
}
