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
};
inline constexpr int kFaultKinds = 13;

class Diagnostics {
 public:
  // Records a fault at a print file line (1-based; 0 when not tied to one).
  // Only the first message of each kind is kept; later ones are counted.
  void Warn(Fault fault, int64_t line, const std::string& message);

  // One line per kind that occurred, in the order of their first lines.
  std::vector<std::string> Lines() const;
  bool Any() const;
  int64_t Count(Fault fault) const { return entries_[static_cast<int>(fault)].count; }

 private:
  struct Entry {
    int64_t count = 0;
    int64_t line = 0;
    std::string message;
  };
  std::array<Entry, kFaultKinds> entries_{};
};

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_DIAGNOSTICS_H_
