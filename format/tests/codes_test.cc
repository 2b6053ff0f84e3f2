#include "format/codes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "format/packed.h"

namespace format {
namespace {

// ---- CodeToText and TextToCode ---------------------------------------------

TEST(CodeToTextTest, Table) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"00120034", "12.34"},
      {"00120000", "12"},
      {"00000034", "0.34"},
      {"0123", "123"},
      {"1234561234", "123456.1234"},
      {"00000000", ""},
      {"05", "05"},
      {"00", ""},
      {"", ""},
      {"123456", "123456"},
      {"000100020003", "1.2.3"},
      {"000000000005", "0.0.5"},
      {"000100000000", "1"},
      {"000000050000", "0.5"},
      {"99999999", "9999.9999"},
      {"12345678901234", "123456.7890.1234"},
  };
  for (const auto& [digits, want] : cases) {
    EXPECT_EQ(CodeToText(PackDigits(digits)), want) << digits;
  }
}

TEST(TextToCodeTest, Table) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"12.34", "00120034"},
      {"123", "0123"},
      {"123456", "123456"},
      {"123456.1234", "1234561234"},
      {"1.2.3", "000100020003"},
      {"12.", "0012"},
      {"12. ", "0012"},
      {"", ""},
      {"   ", ""},
      {"0012.0034", "00120034"},
      {" 12 . 34 ", "00120034"},
      {"12345", "2345"},  // four digits unless typed as six
      {"1234567", "4567"},
      {"12345678901", "678901"},      // eleven characters, no point
      {"1.234567890", "0000017890"},  // eleven characters, one point: six for the first piece
      {"000001.0002", "0000010002"},
      {"1.2.3456789", "000100026789"},  // two points: fours throughout
      {".5", "00000005"},
      {"a.5", "00000005"},
      {"1a.5", "00010005"},
      {"-3", "0000"},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(UnpackDigits(TextToCode(text)), want) << "'" << text << "'";
  }
  EXPECT_EQ(TextToCode(""), "");
  EXPECT_EQ(TextToCode("123456").size(), 3u);
}

TEST(CodeRoundTripTest, EveryCodeOfTwoGroupsInASample) {
  // Every first group with a spread of second groups, and every second group
  // with a spread of first groups: 0.0 to 9999.9999.
  int checked = 0;
  for (int a = 0; a <= 9999; ++a) {
    for (int b = 0; b <= 9999; b += (a % 97 == 0) ? 1 : 613) {
      char typed[32];
      std::snprintf(typed, sizeof typed, "%d.%d", a, b);
      std::string want;
      if (b != 0) {
        want = typed;
      } else if (a != 0) {
        want = std::to_string(a);
      }
      ASSERT_EQ(CodeToText(TextToCode(typed)), want) << typed;
      // Leading zeros typed in either group make the same code.
      char padded[32];
      std::snprintf(padded, sizeof padded, "%04d.%04d", a, b);
      ASSERT_EQ(TextToCode(padded), TextToCode(typed)) << padded;
      ++checked;
    }
  }
  EXPECT_GT(checked, 1000000);
}

TEST(CodeRoundTripTest, SixDigitFirstGroups) {
  for (int a = 0; a <= 999999; a += 7919) {
    char typed[32];
    std::snprintf(typed, sizeof typed, "%06d", a);
    EXPECT_EQ(CodeToText(TextToCode(typed)), a == 0 ? "" : std::to_string(a)) << typed;
    std::snprintf(typed, sizeof typed, "%06d.%04d", a, a % 10000);
    const std::string want =
        a == 0 ? "" : std::to_string(a) + (a % 10000 ? "." + std::to_string(a % 10000) : "");
    EXPECT_EQ(CodeToText(TextToCode(typed)), want) << typed;
  }
}

// ---- DisplayName ------------------------------------------------------------

TEST(DisplayNameTest, Table) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"PUJOL GARCIA*JOAN", "JOAN PUJOL GARCIA"},
      {"ASSOCIACI\xe0*L'", "L'ASSOCIACI\xe0"},
      {"*JOAN", "*JOAN"},
      {"  *JOAN  ", "JOAN "},
      {"COMUNITAT*", " COMUNITAT"},
      {"  PUJOL  *  JOAN  ", "JOAN PUJOL"},
      {"ARBRES*L'  ", "L'ARBRES"},
      {"  PLAIN NAME  ", "PLAIN NAME"},
      {"", ""},
      {"   ", ""},
      {"*", "*"},
      {"***", "***"},
      {" **", "* "},
      {"A*B*C", "B*C A"},
      {"O'*D'", "D'O'"},
  };
  for (const auto& [name, want] : cases) {
    EXPECT_EQ(DisplayName(name), want) << "'" << name << "'";
  }
}

TEST(DisplayNameTest, EveryByteValue) {
  for (int c = 0; c < 256; ++c) {
    const std::string name = std::string("AB") + static_cast<char>(c) + "*C" + static_cast<char>(c);
    const std::string shown = DisplayName(name);
    EXPECT_LE(shown.size(), name.size() + 1) << c;
  }
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(DisplayName(all).size(), all.size());
}

// ---- WrapText ---------------------------------------------------------------

std::string Wrap(std::string text, int indent, int width, char align) {
  WrapText(&text, static_cast<int16_t>(indent), static_cast<int16_t>(width), align);
  return text;
}

struct WrapCase {
  std::string text;
  int indent;
  int width;
  char align;
  std::string want;
};

TEST(WrapTextTest, Table) {
  const std::vector<WrapCase> cases = {
      {"hello world foo", 0, 8, 'i', "hello   world   foo     "},
      {"aa bb cc dd", 0, 9, 'A', "aa  bb ccdd"},
      {"abcdefg", 0, 5, 'L', "abcdefg   "},
      {"abcdefg", 0, 5, 'x', "abcdefg"},
      {"aa bb cc", -2, 5, 'L', "aa bb  cc "},
      {"aa bb cc", 2, 5, 'L', "  aa bb cc"},
      {"hello world", 0, 8, 'N', "hello---world---"},
      {"hello world", 0, 8, 'D', "   hello   world"},
      {"hello world", 0, 8, 'r', "   hello   world"},
      {"hello world", 0, 8, 'C', " hello   world  "},
      {"hello world", 0, 8, 'E', "hello   world   "},
      {"hello world", 0, 8, 'z', "helloworld"},
      {"", 0, 8, 'L', ""},
      {"   ", 0, 8, 'L', "        "},
      {"ab", 0, 1, 'L', "ab"},
      {"a b", 0, 3, 'L', "a b"},
      {"a  b", 0, 3, 'L', "a  b  "},
      // Justification: extra blanks go to the gaps in turn.
      {"a b c d e f", 0, 9, 'B', "a b c d ef"},
      {"a b c d e f", 0, 10, 'B', "a b  c d ef"},
      {"one two three four", 0, 14, 'A', "one  two threefour"},
      {"aa bb cc dd ee", 0, 10, 'A', "aa  bb  ccdd ee"},
      {"aa bb cc", 3, 9, 'A', "   aa  bbcc"},
      {"abcdefghij kl", 0, 10, 'A', "abcdefghijkl"},
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(Wrap(c.text, c.indent, c.width, c.align), c.want)
        << "'" << c.text << "' indent " << c.indent << " width " << c.width << " " << c.align;
  }
}

TEST(WrapTextTest, ControlCharactersTakeNoWidth) {
  // A colour code inside a line widens it by its own length.
  EXPECT_EQ(Wrap("ab\x01"
                 "cd ef",
                 0, 5, 'L'),
            "ab\x01"
            "cd ef   ");
  EXPECT_EQ(Wrap("ab\x01"
                 "cd efgh",
                 0, 5, 'L'),
            "ab\x01"
            "cd efgh ");
  // Controls right after a word stay on its line.
  EXPECT_EQ(Wrap("abc\x02\x03 de", 0, 3, 'L'),
            "abc\x02\x03"
            "de ");
  // A control before a word that moves to the next line goes with it.
  EXPECT_EQ(Wrap("xx \x01yyyy", 0, 5, 'L'), "xx   \x01yyyy ");
  EXPECT_EQ(Wrap("\x01yyyyyy", 0, 4, 'L'), "\x01yyyyyy  ");
  EXPECT_EQ(Wrap(std::string("\0\0a", 3), 0, 2, 'L'), std::string("\0\0a ", 4));
}

TEST(WrapTextTest, NoRoomLeavesTheTextAsItIs) {
  const std::string text = "hello world";
  for (const auto& [indent, width] : std::vector<std::pair<int, int>>{
           {0, 0}, {0, -1}, {0, -32768}, {5, 5}, {8, 5}, {-5, 5}, {-32768, 100}, {32767, 32767}}) {
    EXPECT_EQ(Wrap(text, indent, width, 'L'), text) << indent << " " << width;
  }
  EXPECT_EQ(Wrap(text, 4, 5, 'L'), "    hello world");
}

TEST(WrapTextTest, EveryByteValueEndsWithEveryLetterAndWidth) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string twice = all + " " + all + "  x y  " + all;
  const char letters[] = {'E', 'L', 'I', 'N', 'D', 'R', 'C', 'A', 'B', 'Q', 'a', 'c', '\0'};
  for (char letter : letters) {
    for (int width : {1, 2, 3, 7, 40, 300}) {
      for (int indent : {0, 1, -1, 3, -3}) {
        if (width - (indent < 0 ? -indent : indent) < 1) continue;
        const std::string out = Wrap(twice, indent, width, letter);
        // Every byte survives: only blanks are dropped, blanks and "-" added.
        size_t kept_in = 0;
        size_t kept_out = 0;
        for (char c : twice) kept_in += c != ' ' && c != '-';
        for (char c : out) kept_out += c != ' ' && c != '-';
        EXPECT_EQ(kept_out, kept_in) << letter << " " << width << " " << indent;
      }
    }
  }
}

TEST(WrapTextTest, LinesOfPaddedLayoutsHaveTheWidthPlusTheirControls) {
  const std::string text =
      "Les despeses \x01generals\x02 de la comunitat es reparteixen segons el coeficient "
      "de cada finca; les particulars es carreguen a la finca que les ha originat.";
  for (char letter : {'L', 'D', 'C', 'N'}) {
    for (int width = 6; width <= 40; ++width) {
      const std::string out = Wrap(text, 0, static_cast<int16_t>(width), letter);
      size_t visible = 0;
      for (char c : out) visible += static_cast<unsigned char>(c) >= ' ';
      EXPECT_EQ(visible % static_cast<size_t>(width), 0u) << letter << " " << width;
    }
  }
}

}  // namespace
}  // namespace format
