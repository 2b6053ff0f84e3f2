// What the modes of telvoran-setup share: messages through the locale file
// for the terminal, folder texts, the program's own folder.
#ifndef TELVORAN_TOOLS_TELVORAN_SETUP_COMMON_H_
#define TELVORAN_TOOLS_TELVORAN_SETUP_COMMON_H_

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/env.h"

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

// The folders of the shared folder that an installation's root holds a copy
// of, as they are.
inline constexpr const char* kCopiedFolders[] = {"FORMS", "LOCALE", "AJUDA", "ddf"};

// A whole file's bytes; false after a message.
bool ReadWholeFile(platform::Env& env, const fs::path& path, std::string* bytes);
// A whole file written beside its place and renamed over it (never through
// a link); false after a message.
bool WriteWholeFile(platform::Env& env, const fs::path& path, const std::string& bytes);
// The regular files of a folder by name, so that every run goes over them
// and reports in the same order; false after a message.
bool RegularFilesOf(const fs::path& folder, std::vector<fs::path>* files);

// The folder as given, made absolute and without a final separator.
fs::path AbsoluteFolder(const std::string& given);
// True when the folder's path can be named whole by the settings files and
// the folder variables; else false after a message.
bool NameableFolder(const fs::path& dir);

}  // namespace telvoran_setup

#endif  // TELVORAN_TOOLS_TELVORAN_SETUP_COMMON_H_
