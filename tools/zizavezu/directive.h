// Reading one line of a print file as a directive. The directives and their
// names are those of platform/print_file.h, which the writing side (the
// driver's print channel) takes them from as well.
//
// Parsing is pure: it never fails, it classifies and notes what was wrong.
#ifndef TELVORAN_TOOLS_ZIZAVEZU_DIRECTIVE_H_
#define TELVORAN_TOOLS_ZIZAVEZU_DIRECTIVE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace zizavezu {

// How the next text item is placed. kLeft is the default ("E" or no code).
struct Justification {
  enum class Kind { kLeft, kRight, kCentre, kBold, kFill };
  Kind kind = Kind::kLeft;
  // kFill: the text is followed by fill up to and including this column.
  int64_t fill_column = 0;
  // kFill: the fill byte; a blank when the code had no "\x\" part.
  char fill = ' ';
  // kFill: false when the code lacked the two "\" around the fill.
  bool fill_delimited = true;
};

struct Directive {
  enum class Kind {
    kBlank,    // an empty line
    kDevice,   // text = device text as written
    kPage,     // number = page length (valid only when number_ok)
    kRaw,      // text = raw text after "*"
    kJustify,  // justification
    kText,     // column, text, line_feeds
    kInvalid,  // not a directive
  };
  Kind kind = Kind::kBlank;
  std::string text;
  int64_t number = 0;
  bool number_ok = true;
  int64_t column = 0;
  int64_t line_feeds = 0;
  // kText: false when the line feeds after the last comma were missing or not
  // a number; the text then runs to the end of the line and line_feeds is 0.
  bool line_feeds_ok = true;
  Justification justification;
};

// Numbers in directives saturate here, far beyond any page or column.
inline constexpr int64_t kNumberLimit = 1000000000;

// Parses a decimal number framed by optional blanks, with an optional sign.
// Returns false (leaving *value untouched) for anything else, the empty text
// included. Values saturate at +/- kNumberLimit.
bool ParseNumber(std::string_view field, int64_t* value);

// Reads a justification code as the print channel normalises it: the first
// non-blank character, case-insensitive, C, D or R, A or B, N; anything else
// (the empty code included) is the default.
Justification ParseJustification(std::string_view code);

Directive ParseDirective(std::string_view line);

}  // namespace zizavezu

#endif  // TELVORAN_TOOLS_ZIZAVEZU_DIRECTIVE_H_
