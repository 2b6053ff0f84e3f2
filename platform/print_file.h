// The print file: what the module and the batch printer write and the print
// program (ZIZAVEZU) reads. Both sides take the names and the grammar from
// here. The file, temporary folder + kPrintFileName, holds one directive a
// line, each ended by CR LF, in code page 850:
//
//   kDeviceDirective + device   the output device as configured, first line
//   kPageDirective + n          a new page of n lines
//   kRawDirective + text        raw printer text
//   kJustifyDirective + code    justification of the next text item
//   col "," text "," lf         a text item: column, text, line feeds after
//                               it; the text may itself hold commas, so the
//                               column is what stands before the first comma
//                               and the line feeds what follows the last
//
// The writer frames numbers by blanks (" 66 ", "-1 "); the reader takes
// decimal numbers with optional blanks around them and an optional sign.
#ifndef TELVORAN_PLATFORM_PRINT_FILE_H_
#define TELVORAN_PLATFORM_PRINT_FILE_H_

#include <cstddef>
#include <string_view>

namespace platform {

inline constexpr char kPrintFileName[] = "zizavezu.tmp";
// Beside the print file: held for the length of one print run (writing the
// file and the print program's run), so two runs never share one file.
inline constexpr char kPrintLockName[] = "zizavezu.lck";

inline constexpr std::string_view kDeviceDirective = "DEVICE";
inline constexpr std::string_view kPageDirective = "PAGE";
inline constexpr std::string_view kRawDirective = "*";
inline constexpr std::string_view kJustifyDirective = "JUS";
inline constexpr char kItemSeparator = ',';
inline constexpr std::string_view kPrintLineEnd = "\r\n";
// No directive is longer (the longest the module writes is the DEVICE line
// with a path); the reader passes over a longer line instead of holding it.
inline constexpr size_t kMaxDirectiveLength = 65536;

// The print program's output, which the module reads back: just before it
// starts lp with the pages it writes a line beginning with this mark (then
// what it hands over, in the user's language) on its standard output,
// flushed. Whoever reads that output learns from the mark that the job may
// have reached the printer, whatever the program does or is told after it.
inline constexpr std::string_view kHandedToPrinterMark = "ZIZAVEZU: [lp] ";

}  // namespace platform

#endif  // TELVORAN_PLATFORM_PRINT_FILE_H_
