#include "format/packed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace format {
namespace {

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

TEST(PackDigitsTest, Table) {
  struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"20240131", Bytes({0x94, 0x98, 0x81, 0x9F})},
      {"123", Bytes({0x8C, 0x9E})},
      {" 5", Bytes({0x85})},
      {"5 ", Bytes({0x85})},         // trimmed, then right-aligned
      {"1 2", Bytes({0x8A, 0x94})},  // "102": the inner blank counts as 0
      {"ab", Bytes({0x80})},         // non-digits count as 0
      {"", ""},
      {"00000000", Bytes({0x80, 0x80, 0x80, 0x80})},
      {"99", Bytes({0xE3})},
  };
  for (const auto& c : cases) EXPECT_EQ(PackDigits(c.in), c.out) << c.in;
}

TEST(UnpackDigitsTest, RoundTripAndStrayBytes) {
  EXPECT_EQ(UnpackDigits(Bytes({0x94, 0x98, 0x81, 0x9F})), "20240131");
  EXPECT_EQ(UnpackDigits(" "), "32");
  EXPECT_EQ(UnpackDigits(Bytes({0xFF})), "27");  // 127 keeps its last two digits
  EXPECT_EQ(UnpackDigits(""), "");
  for (int v = 0; v < 100; ++v) {
    std::string digits =
        std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
    EXPECT_EQ(UnpackDigits(PackDigits(digits)), digits);
  }
}

TEST(PackDigitsTest, ByteOrderFollowsNumericOrder) {
  std::string prev = PackDigits("000000");
  for (int v = 1; v < 1000000; v += 997) {
    std::string digits = std::to_string(v);
    digits = std::string(6 - digits.size(), '0') + digits;
    std::string cur = PackDigits(digits);
    EXPECT_LT(static_cast<unsigned char>(prev[0]) * 65536 +
                  static_cast<unsigned char>(prev[1]) * 256 + static_cast<unsigned char>(prev[2]),
              static_cast<unsigned char>(cur[0]) * 65536 +
                  static_cast<unsigned char>(cur[1]) * 256 + static_cast<unsigned char>(cur[2]));
    prev = cur;
  }
}

TEST(ZeroPadTest, Table) {
  struct {
    double x;
    int w;
    const char* out;
  } cases[] = {
      {5, 2, "05"}, {2024, 4, "2024"},         {12345, 4, "2345"}, {-7, 3, "007"},
      {0, 2, "00"}, {20240231, 8, "20240231"}, {2.5, 4, "02.5"},   {0.5, 3, "0.5"},
      {5, 0, ""},   {1e300, 3, "300"},
  };
  for (const auto& c : cases) EXPECT_EQ(ZeroPad(c.x, c.w), c.out) << c.x << " " << c.w;
}

TEST(DigitValueTest, BlanksIgnoredAndHugeRunsSaturate) {
  EXPECT_EQ(DigitValue(" 1 2"), 12);
  EXPECT_EQ(DigitValue(""), 0);
  EXPECT_EQ(DigitValue("12x3"), 12);
  EXPECT_EQ(DigitValue(std::string(10000, '9')), 1LL << 62);
}

}  // namespace
}  // namespace format
