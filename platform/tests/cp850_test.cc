#include "platform/cp850.h"

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

TEST(Cp850Test, AsciiRangeIsItself) {
  for (int b = 0x20; b <= 0x7E; ++b) {
    EXPECT_EQ(Cp850CodePoint(static_cast<uint8_t>(b)), static_cast<char32_t>(b)) << b;
  }
}

TEST(Cp850Test, LettersSignsAndBoxDrawing) {
  struct Case {
    uint8_t byte;
    char32_t code_point;
    const char* utf8;
  };
  const Case cases[] = {
      {0x80, U'Ç', "Ç"},           {0x82, U'é', "é"}, {0x85, U'à', "à"}, {0x87, U'ç', "ç"},
      {0x8A, U'è', "è"},           {0x90, U'É', "É"}, {0x95, U'ò', "ò"}, {0x9C, U'£', "£"},
      {0x9F, U'ƒ', "ƒ"},           {0xA0, U'á', "á"}, {0xA1, U'í', "í"}, {0xA2, U'ó', "ó"},
      {0xA4, U'ñ', "ñ"},           {0xA5, U'Ñ', "Ñ"}, {0xA6, U'ª', "ª"}, {0xA7, U'º', "º"},
      {0xB0, U'░', "░"},           {0xB3, U'│', "│"}, {0xB7, U'À', "À"}, {0xBA, U'║', "║"},
      {0xC4, U'─', "─"},           {0xC5, U'┼', "┼"}, {0xC9, U'╔', "╔"}, {0xCD, U'═', "═"},
      {0xD4, U'È', "È"},           {0xD5, U'€', "€"}, {0xD6, U'Í', "Í"}, {0xDB, U'█', "█"},
      {0xE0, U'Ó', "Ó"},           {0xE1, U'ß', "ß"}, {0xE3, U'Ò', "Ò"}, {0xE9, U'Ú', "Ú"},
      {0xF2, U'‗', "‗"},           {0xF8, U'°', "°"}, {0xFA, U'·', "·"}, {0xFE, U'■', "■"},
      {0xFF, U'\u00A0', "\u00A0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp850CodePoint(c.byte), c.code_point) << std::hex << int{c.byte};
    EXPECT_EQ(Cp850ByteToUtf8(c.byte), c.utf8) << std::hex << int{c.byte};
  }
}

TEST(Cp850Test, UpperHalfIsOneToOneAndNeverAscii) {
  std::set<char32_t> seen;
  for (int b = 0x80; b <= 0xFF; ++b) {
    char32_t cp = Cp850CodePoint(static_cast<uint8_t>(b));
    EXPECT_GE(cp, 0xA0u) << b;
    EXPECT_TRUE(seen.insert(cp).second) << "duplicate at " << b;
  }
  EXPECT_EQ(seen.size(), 128u);
  EXPECT_EQ(seen.count(U'ı'), 0u) << "0xD5 is the euro sign in this suite";
}

// Every byte gives well-formed UTF-8 that decodes back to its code point.
TEST(Cp850Test, Utf8OfEveryByteDecodesBack) {
  for (int b = 0; b < 256; ++b) {
    std::string_view u = Cp850ByteToUtf8(static_cast<uint8_t>(b));
    ASSERT_FALSE(u.empty());
    auto byte = [&](size_t i) { return static_cast<uint8_t>(u[i]); };
    char32_t cp;
    if (u.size() == 1) {
      cp = byte(0);
      EXPECT_LT(cp, 0x80u);
    } else if (u.size() == 2) {
      EXPECT_EQ(byte(0) & 0xE0, 0xC0);
      EXPECT_EQ(byte(1) & 0xC0, 0x80);
      cp = ((byte(0) & 0x1Fu) << 6) | (byte(1) & 0x3Fu);
      EXPECT_GE(cp, 0x80u);
    } else {
      ASSERT_EQ(u.size(), 3u);
      EXPECT_EQ(byte(0) & 0xF0, 0xE0);
      cp = ((byte(0) & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
      EXPECT_GE(cp, 0x800u);
    }
    EXPECT_EQ(cp, Cp850CodePoint(static_cast<uint8_t>(b))) << b;
  }
}

TEST(Cp850Test, TextConversion) {
  EXPECT_EQ(Cp850ToUtf8("R\xE3SSEC LIQUIDACI\xE0 \xD5"), "RÒSSEC LIQUIDACIÓ €");
  EXPECT_EQ(Cp850ToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Cp850ToUtf8(""), "");
}

TEST(Cp850Test, Utf8BackToCp850) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp850(Cp850ToUtf8(all)), all);
  // The suite's euro sign, a character the code page lacks, a cut sequence
  // and a stray continuation byte.
  EXPECT_EQ(Utf8ToCp850("5 \xE2\x82\xAC \xE2\x9C\x93 \xC3"), "5 \xD5 ? ?");
  EXPECT_EQ(Utf8ToCp850("a\x80" "b"), "a?b");
  // Four-byte sequences (beyond the basic plane): one "?" each, the
  // neighbours kept; a four-byte sequence cut short is one "?" too.
  EXPECT_EQ(Utf8ToCp850("\xC3\xA9\xF0\x9F\x98\x80\xC3\xA0"), "\x82?\x85");
  EXPECT_EQ(Utf8ToCp850("x\xF0\x9F\x98\x80\xF0\x90\x8D\x88y"), "x??y");
  EXPECT_EQ(Utf8ToCp850("x\xF0\x9F\x98" "y"), "x?y");
}

TEST(Cp850Test, WhatIsUtf8Text) {
  const struct {
    std::string_view text;
    bool utf8;
  } cases[] = {
      {"plain ASCII", false},          {"PUIGDOM\xC3\x88NECH", true},
      {"\xF0\x9F\x98\x80", true},       {"PUIGDOM\xD4NECH", false},  // code page 850
      {"\xC0\xAF", false},              // overlong
      {"\xE0\x80\xAF", false},          // overlong, three bytes
      {"\xED\xA0\x80", false},          // a surrogate
      {"\xF4\x90\x80\x80", false},      // past U+10FFFF
      {"\xC3", false},                  // cut
      {"\xC3\xA9\x82", false},          // valid, then a code page 850 letter
  };
  for (const auto& c : cases) EXPECT_EQ(IsUtf8Text(c.text), c.utf8) << c.text;
}

TEST(Cp850Test, ControlBytes) {
  EXPECT_TRUE(IsCp850Control(0x00));
  EXPECT_TRUE(IsCp850Control(0x09));
  EXPECT_TRUE(IsCp850Control(0x1F));
  EXPECT_TRUE(IsCp850Control(0x7F));
  EXPECT_TRUE(IsCp850Control(0xFF));
  EXPECT_FALSE(IsCp850Control(' '));
  EXPECT_FALSE(IsCp850Control(0x80));
  EXPECT_FALSE(IsCp850Control(0xFE));
}

}  // namespace
}  // namespace platform
