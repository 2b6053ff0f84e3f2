#include "config/locale.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "config/settings.h"
#include "platform/cp850.h"
#include "platform/env.h"

namespace config {

namespace {

// The line of the group (1-based, the key is 1) that holds a language; 0
// for a language without one.
int LanguageLine(const std::string& language) {
  if (language == "GLG") return 2;
  if (language == "OCI") return 3;
  if (language == "SPA") return 4;
  return 0;
}

}  // namespace

std::string LocaleFilePath(const std::string& root_dir) {
  return root_dir + "LOCALE\\" + kModuleName + ".LNG";
}

std::string Translate(const std::string& text) {
  return TranslateIn(ModuleSettings().language, text);
}

std::string TranslateIn(const std::string& language, const std::string& text) {
  const Settings& settings = ModuleSettings();
  if (language == "CAT") return text;
  platform::Env& env = platform::CurrentEnv();
  const std::string path = LocaleFilePath(settings.root_dir);

  // Opening for binary access creates a missing file; without its folder
  // this fails quietly and the read below finds nothing.
  env.OpenRandomAccess(path, /*create=*/true).reset();

  std::unique_ptr<platform::SequentialFile> file = env.OpenSequential(path);
  if (!file) return text;
  const int wanted = LanguageLine(language);
  std::string key;
  std::string line;
  std::string answer;
  while (file->ReadLine(&key)) {
    const bool match = key == text;
    bool whole_group = true;
    for (int n = 2; n <= 4; ++n) {
      if (!file->ReadLine(&line)) {
        whole_group = false;
        break;
      }
      if (match && n == wanted) answer = line;
    }
    if (!whole_group) break;
    if (match) return wanted == 0 ? text : answer;
  }
  return text;
}

std::string TranslateWith(const std::string& text, const std::vector<std::string>& values) {
  return TranslateInWith(ModuleSettings().language, text, values);
}

std::string TranslateInWith(const std::string& language, const std::string& text,
                            const std::vector<std::string>& values) {
  std::string out = TranslateIn(language, text);
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string mark = "@" + std::to_string(i + 1);
    const size_t at = out.find(mark);
    if (at != std::string::npos) out.replace(at, mark.size(), values[i]);
  }
  return out;
}

std::string TranslateForTerminal(const std::string& text, const std::vector<std::string>& values) {
  const std::string utf8 = platform::Cp850ToUtf8(Translate(text));
  std::vector<bool> used(values.size(), false);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const size_t n = i + 1 < utf8.size() ? static_cast<size_t>(utf8[i + 1] - '0') : 0;
    if (utf8[i] == '@' && n >= 1 && n <= 9 && n <= values.size() && !used[n - 1]) {
      used[n - 1] = true;
      out += values[n - 1];
      ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

int EndStandardOutput(const char* program, int code, int failure_code) {
  int error = 0;
  if (platform::CloseStandardOutput(&error)) return code;
  std::fprintf(stderr, "%s: %s\n", program,
               TranslateForTerminal("no es pot escriure a la sortida est\x85ndard: @1",
                                    {std::strerror(error)})
                   .c_str());
  return code == 0 ? failure_code : code;
}

}  // namespace config
