// What the modes of telvoran-setup share: messages through the locale file
// for the terminal, folder texts, the program's own folder.
#ifndef TELVORAN_TOOLS_TELVORAN_SETUP_COMMON_H_
#define TELVORAN_TOOLS_TELVORAN_SETUP_COMMON_H_

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace telvoran_setup {

namespace fs = std::filesystem;

// A message in the installation's language, for the terminal; the values
// (paths as the host spells them) go in as given, so a path is shown as it
// is whatever its letters.
std::string Text(const std::string& catalan, const std::vector<std::string>& values = {});

void Say(std::FILE* to, const std::string& line);

// The line on stderr after the program's name; returns 1, the exit status
// of a failure.
int Fail(const std::string& line);

// The text of a path for a shell's single quotes.
std::string ShellQuoted(const std::string& text);

// The folder's text ending in one separator, as the folder variables and
// the settings files name folders.
std::string WithSeparator(const fs::path& dir);

// The folder of this program as the host sees it, without links.
fs::path ProgramFolder();

}  // namespace telvoran_setup

#endif  // TELVORAN_TOOLS_TELVORAN_SETUP_COMMON_H_
