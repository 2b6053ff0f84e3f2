// The module-wide settings: directories, screen title, menu name, colour
// table, working date, output device, language and environment kind. Filled
// once at start-up by LoadConfiguration (config/configuration.h); read by
// every other layer. Lives for the whole process.
#ifndef TELVORAN_CONFIG_SETTINGS_H_
#define TELVORAN_CONFIG_SETTINGS_H_

#include <array>
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace config {

struct ColourEntry {
  int16_t foreground = 0;
  int16_t background = 0;
};

inline constexpr int kColourEntries = 5;
inline constexpr char kDefaultColours[] = "15000700000700070007";

struct Settings {
  std::string root_dir;      // ZELROOT as found: a prefix ending in a separator
  std::string program_dir;   // ZELEXE as found
  std::string temp_dir;      // ZELTMP completed with "\", else the terminal dir
  std::string screen_title;  // " " + Sessio.ini [Menu] Titol + " "
  std::string menu_name;     // Sessio.ini [Menu] NomMenu
  std::string terminal_dir;  // Sessio.ini [Terminal] Dir, else TERM, completed with "\"
  std::array<ColourEntry, kColourEntries> colours{};
  std::string working_date;      // packed digits of NuvaTerm.ini [Sistema] Data
  std::string output_device;     // NuvaTerm.ini [Sistema] Sortida
  std::string language;          // three characters; anything unknown reads as Catalan
  std::string environment_kind;  // "CGI", "WIN" or "DOS"
};

// The process-wide settings.
Settings& ModuleSettings();

// Appends "\" unless the text is empty or already ends in ":", "\" or "/".
std::string CompleteDirectory(const std::string& dir);

// Five (foreground, background) pairs from twenty decimal digits; digits
// missing at the end read as 0.
std::array<ColourEntry, kColourEntries> ParseColourTable(const std::string& digits);

}  // namespace config

#endif  // TELVORAN_CONFIG_SETTINGS_H_
