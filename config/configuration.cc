#include "config/configuration.h"

#include "config/ini.h"
#include "format/currency.h"
#include "format/packed.h"
#include "platform/blanks.h"

namespace config {

namespace {

std::string FitTo(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

// Leading blanks, then an optional sign and digits, as a number; anything
// else reads as 0. Saturates in 16 bits.
int NumberValue(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') {
    negative = text[i] == '-';
    ++i;
  }
  long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 32767) v = 32767;
  }
  return static_cast<int>(negative ? -v : v);
}

}  // namespace

Settings ReadConfiguration(platform::Env& env) {
  platform::ScopedEnvOverride use(&env);
  Settings s;
  // 1. The colour table starts as five zero pairs (value-initialised above).
  // 2. Directories from the environment.
  s.root_dir = env.GetVar("ZELROOT");
  s.program_dir = env.GetVar("ZELEXE");
  s.temp_dir = CompleteDirectory(env.GetVar("ZELTMP"));
  // 3. The session file, from the temporary directory as it stands now.
  const std::string session = s.temp_dir + "Sessio.ini";
  s.screen_title = " " + IniRead(session, "Menu", "Titol") + " ";
  s.menu_name = IniRead(session, "Menu", "NomMenu");
  std::string term = IniRead(session, "Terminal", "Dir");
  if (term.empty()) term = env.GetVar("TERM");
  s.terminal_dir = CompleteDirectory(term);
  // 4. Without ZELTMP the terminal directory holds the work files.
  if (s.temp_dir.empty()) s.temp_dir = s.terminal_dir;
  // 5. The currency is set by LoadConfiguration, which owns the global state.
  // 6. Colour table.
  const std::string terminal = s.temp_dir + "NuvaTerm.ini";
  int selection = NumberValue(IniRead(terminal, "Pantalla", "Seleccio"));
  std::string colours = IniRead(terminal, "Pantalla", "Col" + std::to_string(selection));
  if (colours.empty()) colours = kDefaultColours;
  s.colours = ParseColourTable(colours);
  // 7. Working date, output device, language.
  s.working_date = format::PackDigits(IniRead(terminal, "Sistema", "Data"));
  s.output_device = IniRead(terminal, "Sistema", "Sortida");
  std::string language = IniRead(terminal, "Sistema", "Idioma");
  // 8. The user file decides when the terminal names no language.
  if (platform::IsBlank(language)) {
    language = IniRead(env.GetVar("ZELROOT") + "Nuva.ini", "Usuari", "Idioma");
  }
  s.language = FitTo(language, 3);
  // 9. Environment kind.
  if (!env.GetVar("HTTP_USER_AGENT").empty() || !env.GetVar("HTTP_ACCEPT").empty()) {
    s.environment_kind = "CGI";
  } else if (!env.GetVar("WINDIR").empty() || !env.GetVar("SYSTEMROOT").empty()) {
    s.environment_kind = "WIN";
  } else {
    s.environment_kind = "DOS";
  }
  return s;
}

void LoadConfiguration() {
  platform::Env& env = platform::CurrentEnv();
  ModuleSettings() = ReadConfiguration(env);
  format::SetCurrency("a,E");
}

}  // namespace config
