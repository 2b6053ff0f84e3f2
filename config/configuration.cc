#include "config/configuration.h"

#include <memory>
#include <string>

#include "config/ini.h"
#include "format/currency.h"
#include "format/packed.h"
#include "platform/blanks.h"
#include "platform/number_text.h"

namespace config {

namespace {

std::string FitTo(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

// A directory variable as a prefix that stays right after the module has
// made the root its current directory: completed with a separator and, when
// relative, put behind the current directory. An empty one stays empty.
std::string AbsoluteDirectory(platform::Env& env, const std::string& value) {
  std::string dir = CompleteDirectory(value);
  if (dir.empty() || dir[0] == '\\' || dir[0] == '/' || (dir.size() >= 2 && dir[1] == ':')) {
    return dir;
  }
  const std::string cwd = env.GetCurrentDirectory();
  if (cwd.empty()) return dir;
  return CompleteDirectory(cwd) + dir;
}

}  // namespace

Settings ReadConfiguration(platform::Env& env) {
  Settings s;
  // 1. The colour table starts as five zero pairs (value-initialised above).
  // 2. Directories from the environment.
  s.root_dir = AbsoluteDirectory(env, env.GetVar("ZELROOT"));
  // The print program is looked for in the program folder only: an empty
  // one is the current folder, never a search along PATH.
  s.program_dir = AbsoluteDirectory(env, env.GetVar("ZELEXE"));
  if (s.program_dir.empty()) s.program_dir = CompleteDirectory(env.GetCurrentDirectory());
  s.temp_dir = AbsoluteDirectory(env, env.GetVar("ZELTMP"));
  // 3. The session file, from the temporary directory as it stands now.
  const std::string session = s.temp_dir + "Sessio.ini";
  s.screen_title = " " + IniRead(env, session, "Menu", "Titol") + " ";
  s.menu_name = IniRead(env, session, "Menu", "NomMenu");
  std::string term = IniReadBytes(env, session, "Terminal", "Dir");
  if (term.empty()) term = env.GetVar("TERM");
  s.terminal_dir = CompleteDirectory(term);
  // 4. Without ZELTMP the terminal directory holds the work files.
  if (s.temp_dir.empty()) s.temp_dir = s.terminal_dir;
  // 5. The currency is set by LoadConfiguration, which owns the global state.
  // 6. Colour table.
  const std::string terminal = s.temp_dir + "NuvaTerm.ini";
  // Saturating in 16 bits, as the setting is a 16-bit number.
  const int64_t selection =
      platform::LeadingNumber(IniRead(env, terminal, "Pantalla", "Seleccio"), 32767);
  std::string colours = IniRead(env, terminal, "Pantalla", "Col" + std::to_string(selection));
  if (colours.empty()) colours = kDefaultColours;
  s.colours = ParseColourTable(colours);
  // 7. Working date, output device, language.
  s.working_date = format::PackDigits(IniRead(env, terminal, "Sistema", "Data"));
  s.output_device = IniReadBytes(env, terminal, "Sistema", "Sortida");
  std::string language = IniRead(env, terminal, "Sistema", "Idioma");
  // 8. The user file decides when the terminal names no language.
  if (platform::IsBlank(language)) {
    language = IniRead(env, s.root_dir + "Nuva.ini", "Usuari", "Idioma");
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
  // The programs the module starts (the print program) find the same
  // folders whatever the current directory.
  const Settings& s = ModuleSettings();
  for (const auto& [name, dir] : {std::pair<const char*, const std::string&>{"ZELROOT", s.root_dir},
                                  {"ZELEXE", s.program_dir}}) {
    if (!dir.empty() && env.GetVar(name) != dir) env.SetVar(name, dir);
  }
  if (!env.GetVar("ZELTMP").empty() && env.GetVar("ZELTMP") != s.temp_dir) {
    env.SetVar("ZELTMP", s.temp_dir);
  }
}

}  // namespace config
