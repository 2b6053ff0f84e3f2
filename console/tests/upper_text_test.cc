#include "console/upper_text.h"

#include <gtest/gtest.h>

namespace console {
namespace {

class UpperTextTest : public ::testing::Test {
 protected:
  void TearDown() override { AccentFree() = false; }
};

TEST_F(UpperTextTest, KeepsAccentsByDefault) {
  // "façade" in code page 850: ç is 0x87, Ç is 0x80.
  EXPECT_EQ(UpperText("fa\x87"
                      "ade"),
            "FA\x80"
            "ADE");
  // 15 d'abril: plain letters; "gèr" (è 0x8A -> È 0xD4); "març".
  EXPECT_EQ(UpperText("15 d'abril del 2024"), "15 D'ABRIL DEL 2024");
  EXPECT_EQ(UpperText("g\x8ar"), "G\xd4R");
  EXPECT_EQ(UpperText("mar\x87"), "MAR\x80");
  // ÿ (0x98) and þ (0xE7) have no capital here; box drawing stays.
  EXPECT_EQ(UpperText("\x98\xe7\xc4"), "\x98\xe7\xc4");
  // Bytes outside 64..237 are never touched.
  EXPECT_EQ(UpperText(std::string("\x00\x1f\xee\xff", 4)), std::string("\x00\x1f\xee\xff", 4));
}

TEST_F(UpperTextTest, AccentFreeGivesBaseLettersAndBlanksTheRest) {
  AccentFree() = true;
  EXPECT_EQ(UpperText("fa\x87"
                      "ade"),
            "FACADE");
  EXPECT_EQ(UpperText("\xa4\xa5"), "NN");  // ñ Ñ
  EXPECT_EQ(UpperText("\xd5"), "E");       // the euro sign
  EXPECT_EQ(UpperText("@[_`{~"), "      ");
  EXPECT_EQ(UpperText("\xc4\xcd"), "  ");  // box drawing
  EXPECT_EQ(UpperText("12.5"), "12.5");    // below 64: unchanged
}

TEST_F(UpperTextTest, EveryLowerCaseLetterOfTheCodePageHasItsCapital) {
  const char* pairs[][2] = {
      {"\x81", "\x9a"}, {"\x82", "\x90"}, {"\x83", "\xb6"}, {"\x84", "\x8e"}, {"\x85", "\xb7"},
      {"\x86", "\x8f"}, {"\x88", "\xd2"}, {"\x89", "\xd3"}, {"\x8b", "\xd8"}, {"\x8c", "\xd7"},
      {"\x8d", "\xde"}, {"\x91", "\x92"}, {"\x93", "\xe2"}, {"\x94", "\x99"}, {"\x95", "\xe3"},
      {"\x96", "\xea"}, {"\x97", "\xeb"}, {"\xa0", "\xb5"}, {"\xa1", "\xd6"}, {"\xa2", "\xe0"},
      {"\xa3", "\xe9"}, {"\xc6", "\xc7"}, {"\xd0", "\xd1"}, {"\xe4", "\xe5"}, {"\xec", "\xed"}};
  for (const auto& p : pairs)
    EXPECT_EQ(UpperText(p[0]), p[1]) << std::hex << (int)(unsigned char)p[0][0];
}

}  // namespace
}  // namespace console
