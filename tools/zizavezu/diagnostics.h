// Warnings about a malformed print file. Each kind of fault is reported once,
// on one line naming the first print file line where it occurred and how
// many more lines had it, so that a file with 100,000 bad lines still gives a
// short, readable message.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_DIAGNOSTICS_H_
#define TELVORAN_TOOLS_ZIZAVEZU_DIAGNOSTICS_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zizavezu {

// A message for the terminal: the locale file's text for catalan (a key of
// sample/LOCALE/TELVORAN.LNG, CP850) in the interface language, as UTF-8,
// with each mark "@1", "@2", ... (its first occurrence) replaced by the value
// of that number. Values go in as they are (host paths as the host has
// them, numbers, UTF-8 names), never searched for marks themselves; a line
// break in one shows as "?", so that a message stays one line.
std::string Localized(const std::string& catalan, const std::vector<std::string>& values = {});

enum class Fault {
  kNotDirective,         // a line that is no directive (no comma, no keyword)
  kDeviceNotFirst,       // the first line is not the DEVICE line
  kDeviceRepeated,       // a DEVICE line after the first line
  kBadPageLength,        // PAGE with 0, a negative, huge or missing number
  kTextBeforePage,       // a text item before any PAGE directive
  kNegativeColumn,       // a column below 0
  kColumnBeyondPage,     // text that starts or runs past the last column
  kMissingLineFeeds,     // a text item without its line-feed count
  kNegativeLineFeeds,    // a negative line-feed count
  kLineFeedsBeyondPage,  // more line feeds than the page has lines
  kControlBytes,         // control bytes inside a text
  kFillUndelimited,      // JUS N without the "\x\" fill part
  kFontSubstituted,      // the monospaced font was not found
  kLineTooLong,          // a line longer than any directive can be
};
inline constexpr int kFaultKinds = 14;

class Diagnostics {
 public:
  // Records a fault at a print file line (1-based; 0 when not tied to one):
  // its message is the locale key catalan with its values (see Localized).
  // Only the first message of each kind is kept; later ones are counted.
  // Nothing is translated here, so a file with a fault on every line does
  // not read the locale file once per line.
  void Warn(Fault fault, int64_t line, const std::string& catalan,
            std::vector<std::string> values = {});

  // One line per kind that occurred, in the order of their first lines, in
  // the interface language (UTF-8): "warning: line 3: " + the message +
  // " (2 more times)", in the words and order of the language.
  std::vector<std::string> Lines() const;
  bool Any() const;
  int64_t Count(Fault fault) const { return entries_[static_cast<int>(fault)].count; }

 private:
  struct Entry {
    int64_t count = 0;
    int64_t line = 0;
    std::string key;
    std::vector<std::string> values;
  };
  std::array<Entry, kFaultKinds> entries_{};
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_DIAGNOSTICS_H_
