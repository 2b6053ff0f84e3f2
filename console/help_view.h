// ShowHelp: the help display behind F1. Under Windows (environment kind
// "WIN") it hands the HTML page "AJUDA\" + topic + ".HTM" to the suite's
// launcher VIMBLO and waits; elsewhere it shows the text help file
// "AJUDA\" + topic + ".HLP" (under the current folder, the root folder while
// the module runs; in the interface language when translated, see
// HelpFilePath) in a double-framed window with scrolling keys, and F1
// there shows the general help "QARNESTO". Single-threaded.
//
// Text help file: fixed-length lines, each as many bytes as the console has
// columns (line n starts at byte (n - 1) x columns); the line count is the
// file size over the columns, to the nearest whole number. Inside a line the
// bytes 30 (bold), 31 (underline) and 16 (reverse) switch the colour instead
// of being shown; at most 76 characters of a line are shown.
#ifndef TELVORAN_CONSOLE_HELP_VIEW_H_
#define TELVORAN_CONSOLE_HELP_VIEW_H_

#include <cstdint>
#include <string>

namespace console {

// The general help on the keys of the forms, shown by F1 inside the help.
inline constexpr char kGeneralHelpTopic[] = "QARNESTO";
// The launcher of the HTML help pages, found on the program search path.
inline constexpr char kHelpLauncher[] = "VIMBLO";
// Switch bytes of the text help files.
inline constexpr char kHelpBold = 30;
inline constexpr char kHelpUnderline = 31;
inline constexpr char kHelpReverse = 16;
// Characters of a line shown at most.
inline constexpr int kHelpLineWidth = 76;

// True for a topic made only of ASCII letters, digits, "_", "-" and ".",
// and not empty: the only topics that name a help file. Anything else (a
// separator, a blank, a quote, a shell character) shows no help.
bool IsSafeHelpTopic(const std::string& topic);

// The text help file of a topic in the language: "AJUDA\" + topic + "." +
// language + ".HLP" for Spanish, Galician and Aranese when the root has it,
// else the Catalan "AJUDA\" + topic + ".HLP".
std::string HelpFilePath(const std::string& topic, const std::string& language);

// The number of lines of a text help file of the given size.
int64_t HelpLineCount(int64_t file_size, int columns);

// Shows the help for the topic (trailing blanks are ignored); nothing at all
// for a topic that IsSafeHelpTopic refuses.
void ShowHelp(const std::string& topic);

}  // namespace console

#endif  // TELVORAN_CONSOLE_HELP_VIEW_H_
