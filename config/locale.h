// Translate: the text to show for one of the module's fixed Catalan texts in
// the interface language, looked up in the locale file root directory +
// "LOCALE\TELVORAN.LNG". Nothing is cached: each call reads the file from
// the top, so an edited file takes effect at once.
//
// The file is plain 8-bit lines in groups of four, with no header, comments
// or separators; an empty line is a missing translation and still counts:
//   line 1  the Catalan text, as the program writes it (the key)
//   line 2  Galician ("GLG")
//   line 3  Aranese ("OCI")
//   line 4  Spanish ("SPA")
#ifndef TELVORAN_CONFIG_LOCALE_H_
#define TELVORAN_CONFIG_LOCALE_H_

#include <string>
#include <vector>

namespace config {

// The module's name, which names its locale file.
inline constexpr char kModuleName[] = "TELVORAN";

// The locale file under a root directory (a prefix ending in a separator).
std::string LocaleFilePath(const std::string& root_dir);

// With the language "CAT" the text itself, no file touched. Otherwise the
// line of the language in the first group whose key equals the text byte
// for byte (an empty line too); the text itself when no group matches, for
// an unknown language, and for a group cut short by the end of the file.
// A missing locale file is created empty first; a missing LOCALE folder is
// not created and reads as an empty file. Reads the module-wide settings
// (language, root directory) and the files through platform::CurrentEnv().
std::string Translate(const std::string& text);

// Translate in the given language (three letters, as the settings hold
// it) rather than the installation's: a message for one reader in theirs.
std::string TranslateIn(const std::string& language, const std::string& text);

// Translate, then each mark "@1", "@2", ... replaced (its first occurrence)
// by the value of that number, so a language can put the values where its
// grammar wants them.
std::string TranslateWith(const std::string& text, const std::vector<std::string>& values);
std::string TranslateInWith(const std::string& language, const std::string& text,
                            const std::vector<std::string>& values);

// TranslateWith for the terminal: the translation is made UTF-8 first and
// the values go in after, as they are (UTF-8, or a path as the host spells
// it), so a value is never converted a second time. One pass: a value that
// holds a mark is not itself filled.
std::string TranslateForTerminal(const std::string& text,
                                 const std::vector<std::string>& values = {});

// The end of a program's run: standard output closed
// (platform::CloseStandardOutput). When anything written there was lost (a
// full disk, /dev/full) the line "PROGRAM: no es pot escriure a la sortida
// estàndard: <reason>" goes to standard error, translated, and a code that
// said success becomes failure_code. Returns the code to exit with.
int EndStandardOutput(const char* program, int code, int failure_code = 1);

}  // namespace config

#endif  // TELVORAN_CONFIG_LOCALE_H_
