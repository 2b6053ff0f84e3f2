#include "format/dates.h"

#include <gtest/gtest.h>

#include <string>

#include "format/packed.h"
#include "platform/fake_env.h"

namespace format {
namespace {

constexpr int kCur = 2026;

std::string D(const char* digits) {
  return PackDigits(digits);
}
std::string Digits(const std::string& packed) {
  return UnpackDigits(packed);
}

TEST(DateToEditTextTest, Table) {
  struct {
    std::string packed;
    const char* out;
  } cases[] = {
      {D("20240315"), "150324"},    {D("19600315"), "15031960"},
      {D("19760315"), "150376"},  // cur - 50 is still two digits
      {D("20750315"), "150375"},  // cur + 49
      {D("20760315"), "15032076"},  {NoDate(), ""},
      {D("202403"), "03240020"},  // three bytes: year 20, month 24, day 3
      {std::string(1, '\x85'), ""}, {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateToEditText(c.packed, kCur), c.out) << Digits(c.packed);
  }
}

TEST(DateToEditTextTest, UsesTheYearOfTheCurrentEnv) {
  platform::FakeEnv env;
  env.SetToday({1990, 6, 1});
  platform::ScopedEnvOverride use(&env);
  EXPECT_EQ(DateToEditText(D("19600315")), "150360");
  EXPECT_EQ(DateToEditText(D("20400315")), "15032040");
}

struct ParseCase {
  const char* text;
  const char* packed_digits;
};

TEST(ParseDateTextTest, Table) {
  const ParseCase cases[] = {
      {"5/3/24", "20240305"},     {"5/3/76", "19760305"},   {"050324", "20240305"},
      {"5-3-2024", "20240305"},   {"5.3.2024", "20240305"}, {"5/3", "00000000"},
      {"5.3.2024.1", "00000000"}, {"31/02/24", "20240231"}, {"5/3/x", "00000000"},
      {"", "00000000"},           {"05032024", "20240305"}, {" 5/ 3/ 24", "20240305"},
      {"5/3/75", "20750305"},     {"5/3/0024", "00240305"}, {"0/3/24", "00240300"},
      {"//", "00000000"},         {"0503", "20000305"},     {"5/3/", "20000305"},
      {"1 5/3/24", "20240315"},   {"5/13/24", "20241305"},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(Digits(ParseDateText(c.text, kCur)), c.packed_digits) << c.text;
  }
}

TEST(ParseDateTextTest, SharedStateHoldsTheLastParsedParts) {
  ParseDateText("7/11/1999", kCur);
  EXPECT_EQ(ParsedDate().day, 7);
  EXPECT_EQ(ParsedDate().month, 11);
  EXPECT_EQ(ParsedDate().year, 1999);
}

TEST(IsBadDateTextTest, Table) {
  struct {
    const char* text;
    bool bad;
  } cases[] = {
      {"29/02/1900", true},  {"29/02/2000", false}, {"10/10/1582", true}, {"04/10/1582", false},
      {"15/10/1582", false}, {"31/04/2024", true},  {"00/01/2024", true}, {"5/3/76", false},
      {"5/3", true},         {"5.3.2024.1", true},  {"", true},           {"31/12/9999", false},
      {"1/13/2024", true},   {"29/2/24", false},    {"29/2/23", true},    {"050324", false},
      {"29/02/1500", true},  // Gregorian month lengths for every year
      {"12a/1/2024", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsBadDateText(c.text, kCur), c.bad ? platform::kTrue : platform::kFalse) << c.text;
  }
  IsBadDateText("5/3/76", kCur);
  EXPECT_EQ(ParsedDate().year, 2076);  // the check's window is one year wider
  IsBadDateText("1/2/2024", kCur);
  EXPECT_EQ(ParsedDate().month_length, 29);
}

TEST(DateTextTest, HostileTextsNeverCrash) {
  const std::string texts[] = {std::string(10000, '9'),         std::string(10000, '/'),
                               std::string(10000, ' '),         std::string(5000, '1') + "/1/1",
                               "1/1/" + std::string(5000, '2'), std::string("\0\xff", 2)};
  for (const std::string& t : texts) {
    std::string p = ParseDateText(t, kCur);
    EXPECT_EQ(p.size(), 4u);
    EXPECT_EQ(IsBadDateText(t, kCur), platform::kTrue) << t.substr(0, 20);
  }
}

TEST(DateAddTest, Table) {
  struct {
    const char* from;
    int32_t n;
    const char* unit;
    const char* to;
  } cases[] = {
      {"20240131", 1, "M", "20240229"},          {"20240331", -1, "M", "20240229"},
      {"20240229", 1, "A", "20250228"},          {"20231231", 1, "D", "20240101"},
      {"20240301", -1, "D", "20240229"},         {"20240115", -400, "D", "20221211"},
      {"20241115", 14, "M", "20260115"},         {"99991231", 1, "D", "99991231"},
      {"15821004", 1, "D", "15821005"},          {"20240115", 0, "D", "20240115"},
      {"20240115", 5, "x", "20240115"},          {"20240131", 1, "m", "20240229"},
      {"20240115", -13, "M", "20221215"},        {"20240115", -24, "M", "20220115"},
      {"20240229", -1, "A", "20230228"},         {"21000228", 1, "D", "21000301"},
      {"15000228", 1, "D", "15000229"},  // Julian February
      {"20240101", 2147483647, "D", "99991231"}, {"99990101", 2147483647, "M", "99991231"},
      {"20240101", 3000000, "D", "99991231"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Digits(DateAdd(D(c.from), c.n, c.unit)), c.to)
        << c.from << " " << c.n << " " << c.unit;
  }
}

TEST(DateAddTest, HugeNegativeCountsEndQuickly) {
  // Whatever such dates mean, the call returns a four-byte value.
  EXPECT_EQ(DateAdd(D("20240101"), -2147483647 - 1, "D").size(), 4u);
  EXPECT_EQ(DateAdd(D("20240101"), -2147483647 - 1, "M").size(), 4u);
  EXPECT_EQ(DateAdd(D("20240101"), -2147483647 - 1, "A").size(), 4u);
}

TEST(DateDiffTest, Table) {
  struct {
    const char* a;
    const char* b;
    const char* unit;
    int32_t n;
  } cases[] = {
      {"20240301", "20240115", "D", 46},
      {"20240115", "20240301", "D", 46},
      {"20231231", "20240101", "D", 1},
      {"15800101", "15830101", "D", 1096},
      {"20000510", "20240509", "A", 23},
      {"20000510", "20240510", "A", 24},
      {"20000115", "20240310", "M", 290},
      {"20240310", "20000115", "m", 290},
      {"20240101", "20240101", "D", 0},
      {"20240101", "20250101", "X", 0},
      // Proleptic Gregorian gives 3652058; the Julian years 1 to 1581 hold 12 more
      // leap days (the ten dropped days of 1582 are not skipped).
      {"00010101", "99991231", "D", 3652058 + 12},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateDiff(D(c.a), D(c.b), c.unit), c.n) << c.a << " " << c.b << " " << c.unit;
  }
}

TEST(WeekDayTest, Table) {
  struct {
    const char* date;
    int16_t w;
  } cases[] = {
      {"20240101", 1}, {"20261213", 7}, {"20000229", 2},
      {"15821004", 4}, {"15821015", 5}, {"20261208", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(WeekDay(D(c.date)), c.w) << c.date;
}

}  // namespace
}  // namespace format
