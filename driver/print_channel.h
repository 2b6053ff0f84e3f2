// The print channel: each print run is written as a print file of directives
// (temporary directory + "zizavezu.tmp"), one CR LF line each, which the
// suite's print program renders afterwards. The channel also keeps the page
// accounting (page length and line feeds since the last page directive) that
// the statement layout uses for its page breaks.
//
// Directives:
//   DEVICE<device>         first line, the output device as configured
//   PAGE<n>                a new page of n lines
//   *<text>                raw printer text
//   JUS<code>              justification of the next text item
//   <col>,<text>,<lf>      a text item: column, text, line feeds after it
// Numbers are framed by blanks: " 66 ", "-1 ".
//
// One channel per process, single-threaded. A write failure does not stop
// the directives (none reports failure to its caller); it is remembered and
// reported by PrintChannelClose so that no half-written file is handed on.
#ifndef TELVORAN_DRIVER_PRINT_CHANNEL_H_
#define TELVORAN_DRIVER_PRINT_CHANNEL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace driver {

inline constexpr char kPrintFileName[] = "zizavezu.tmp";
// Beside the print file: held for the length of one print run (writing the
// file and the print program's run), so two runs never share one file.
inline constexpr char kPrintLockName[] = "zizavezu.lck";

// The print file path: the temporary directory of the module settings
// followed by "zizavezu.tmp".
std::string PrintFilePath();

// Creates (or overwrites) the print file and writes the DEVICE line.
// Returns false when the file cannot be created.
bool PrintChannelOpen(const std::string& device);
// Closes the print file and puts it in place of the previous one. Returns
// false when it could not be created, any write failed, or the close itself
// failed; the previous print file (if any) is then left as it was.
bool PrintChannelClose();
// Drops the print file being written: nothing of it is put in place.
void PrintChannelAbandon();

void PrintPage(int16_t length);
void PrintRaw(const std::string& text);
// Normalises the code (see NormaliseJustification), writes "JUS" + it and
// gives the normalised code back in the same variable.
void PrintJustify(std::string& code);
// Writes "JUS" + a code that is already in its normal form, for callers that
// normalise their fixed codes once.
// REQUIRES: NormaliseJustification(code) == code.
void PrintNormalJustify(std::string_view code);
// Writes a text item, control characters blanked; a page directive of the
// same length comes first when the page is full.
void PrintText(int16_t column, std::string_view text, int16_t line_feeds);

// Line feeds written since the last page directive, and the page length it
// set. Both keep their values between runs until the next page directive.
int32_t PrintLineCounter();
int16_t PrintPageLength();

// The pure pieces, for the layout and the tests.
std::string FrameNumber(long value);
std::string NormaliseJustification(const std::string& code);
std::string BlankControlCharacters(const std::string& text);

}  // namespace driver

#endif  // TELVORAN_DRIVER_PRINT_CHANNEL_H_
