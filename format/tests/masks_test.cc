#include "format/masks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "format/currency.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"

namespace format {
namespace {

constexpr NumberChars kDefaults{'\'', '.'};

struct MaskCase {
  const char* mask;
  double value;
  const char* want;
};

TEST(FormatMaskTest, WorkedTable) {
  const std::vector<MaskCase> cases = {
      {"ZZ9", 5, "  5"},
      {"ZZ9", 0, "  0"},
      {"ZZ9", -5, " -5"},
      {"999", 5, "005"},
      {"999", -5, "0-5"},
      {"ZZ9", 1234, "!!!"},
      {"ZZ9", 2.5, "  2"},
      {"ZZ9", 3.5, "  4"},
      {"ZZZ", 0, "   "},
      {"ZZZ", 0.3, "  0"},
      {"ZZ9.99", 1.5, "  1'50"},
      {"ZZ9.99", 0.05, "  0'05"},
      {"ZZ9.99", -0.5, "  -'50"},
      {"ZZ9.99", -0.001, "  -'00"},
      {"ZZ9.ZZ", 1.5, "  1'5 "},
      {"ZZ9.ZZ", 1, "  1   "},
      {"ZZ9.9", 0.25, "  0'2"},
      {"ZZ9.9", 0.35, "  0'3"},
      {"Z,ZZ9", 1234, "1.234"},
      {"Z,ZZ9", 5, "    5"},
      {"Z,ZZ9", -1234, "-1234"},
      {"9,999", 5, "0.005"},
      {"**,**9", -5, "****-5"},
      {"***", 0, "**0"},
      {"ZZ9-", -5, "  5-"},
      {"-ZZ9", -5, "-  5"},
      {"ZZ9.99-", -1.25, "  1'25-"},
      {"Z9.99", 123.45, "123'4"},
      {"ZZ9 CR", 5, "  5 CR"},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(FormatMask(c.mask, c.value, kDefaults), c.want) << c.mask << " with " << c.value;
  }
}

// Cases worked by hand from the two passes, beyond the table.
TEST(FormatMaskTest, FurtherCases) {
  const std::vector<MaskCase> cases = {
      // The doubles nearest these lie below or above the half, and the
      // scaling keeps that (rounding the product to double would not).
      {"ZZ9.9", 0.15, "  0'1"},
      {"ZZ9.9", 0.05, "  0'1"},
      {"Z9.99", 2.675, " 2'67"},
      {"Z9.99", 1.005, " 1'00"},
      {"Z9.99", 1.015, " 1'01"},
      // Half-to-even at the last decimal with exact binary halves.
      {"9.9", 0.125 * 2, "0'2"},
      {"9.99", 0.125, "0'12"},
      {"9.99", 0.375, "0'38"},
      // Sign kept through rounding to zero, and -0.0 has none.
      {"ZZ9", -0.4, " -0"},
      {"ZZ9", -0.0, "  0"},
      {"ZZ9.99", -0.0, "  0'00"},
      // A minus with no position left overflows.
      {"9", -5, "!"},
      {"99", -5, "-5"},
      {"99", -15, "!!"},
      // Plain overflow keeps the decimals and cuts at the mask's width.
      {"ZZ9.99", 1234.5, "1234'5"},
      {"ZZZZZ.99", 123456.78, "123456'7"},
      {"ZZ", 123, "!!"},
      {"*", 12, "!"},
      // Decimal fillers: "*" shows zeros in the decimal part.
      {"**9.**", 1.5, "**1'50"},
      {"ZZ9.ZZ", 0, "  0   "},
      {"ZZZ.ZZ", 0, "      "},
      {"ZZZ.ZZ", 0.001, "   '00"},
      // Sign positions in the decimal part take a digit step.
      {"ZZ9.9+", 1.25, "  1'2+"},
      {"ZZ9.9+", -1.25, "  1'2-"},
      {"+ZZ9", 7, "+  7"},
      // Literals stay where they are.
      {"$ZZ9", 42, "$ 42"},
      {"ZZ9%", 42, " 42%"},
      // Thousands at the left of the digits take the filler.
      {"Z,ZZZ,ZZ9", 1234, "    1.234"},
      {"*,***,**9", 1234, "****1.234"},
      {"9,999,999", 1234, "0.001.234"},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(FormatMask(c.mask, c.value, kDefaults), c.want) << c.mask << " with " << c.value;
  }
}

TEST(FormatMaskTest, OtherCharactersReplaceTheDefaults) {
  const NumberChars continental{',', '.'};
  EXPECT_EQ(FormatMask("Z,ZZ9.99", 1234.5, continental), "1.234,50");
  const NumberChars english{'.', ','};
  EXPECT_EQ(FormatMask("Z,ZZ9.99", 1234.5, english), "1,234.50");
  EXPECT_EQ(FormatMask("ZZ9.99", 1234.5, english), "1234.5");
}

// Scaling with five decimals: the product rounded to the 64-bit significand
// lands exactly on the half, which then goes to even.
TEST(FormatMaskTest, ExtendedSignificandRoundsBeforeTheWholeNumber) {
  EXPECT_EQ(FormatMask("ZZZZZZZ9.99999", 22181591.809595, kDefaults), "22181591'80960");
  EXPECT_EQ(FormatMask("ZZZZZZZ9.99999", 14997184.196765, kDefaults), "14997184'19676");
}

TEST(FormatMaskTest, NonFiniteValuesShowTheOverflowRow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(FormatMask("ZZ9.99", nan, kDefaults), "!!!!!!");
  EXPECT_EQ(FormatMask("ZZ9.99", inf, kDefaults), "!!!!!!");
  EXPECT_EQ(FormatMask("-ZZ9", -inf, kDefaults), "!!!!");
  EXPECT_EQ(FormatMask("", nan, kDefaults), "");
}

TEST(FormatMaskTest, EmptyMaskGivesEmptyText) {
  EXPECT_EQ(FormatMask("", 0, kDefaults), "");
  EXPECT_EQ(FormatMask("", -1234.5, kDefaults), "");
}

TEST(FormatMaskTest, BadMasksAndValuesKeepTheMaskLength) {
  const std::vector<std::string> masks = {
      ",",
      ".",
      ",,,,",
      "....",
      "-",
      "+-+-",
      ".9",
      "9.",
      "..99",
      ".-",
      std::string(10000, 'Z'),
      std::string(10000, '9'),
      std::string(10000, ','),
      std::string(10000, '.'),
      "Z." + std::string(9998, '9'),
      "Z." + std::string(5000, 'Z') + "-" + std::string(4997, 'Z'),
      std::string(4000, '*') + "." + std::string(4000, '*'),
  };
  const std::vector<double> values = {0,      -0.0,     5,    -5,    0.5,     1e300,  -1e300,
                                      1e-300, 4.9e-324, 1e19, -1e19, 1.5e308, 123.456};
  for (const std::string& mask : masks) {
    for (double v : values) {
      EXPECT_EQ(FormatMask(mask, v, kDefaults).size(), mask.size())
          << mask.substr(0, 12) << " (" << mask.size() << ") with " << v;
    }
  }
  EXPECT_EQ(FormatMask(",", 5, kDefaults), "5");
  EXPECT_EQ(FormatMask(".", 5, kDefaults), "5");
  EXPECT_EQ(FormatMask(".", 0, kDefaults), "'");
  EXPECT_EQ(FormatMask(",", 0, kDefaults), ".");
  EXPECT_EQ(FormatMask(std::string(3, '.'), 0, kDefaults), "'''");
}

TEST(FormatMaskTest, HugeValues) {
  EXPECT_EQ(FormatMask("ZZZ,ZZZ,ZZ9", 1e300, kDefaults), std::string(11, '!'));
  // A mask wide enough takes every digit of the double's exact value.
  const std::string wide(320, 'Z');
  std::string text = FormatMask(wide, 1e300, kDefaults);
  ASSERT_EQ(text.size(), wide.size());
  const std::string digits = text.substr(text.find_first_not_of(' '));
  EXPECT_EQ(digits.size(), 301u);
  EXPECT_EQ(digits.substr(0, 20), "10000000000000000525");
  EXPECT_EQ(FormatMask(std::string(20, 'Z'), 9007199254740993.0, kDefaults),
            "    9007199254740992");
  // Beyond the extended range the scaled value is an overflow.
  EXPECT_EQ(FormatMask("9." + std::string(5000, '9'), 1e300, kDefaults), std::string(5002, '!'));
}

TEST(ScaledDigitsTest, Table) {
  struct {
    double v;
    int d;
    const char* want;
  } cases[] = {
      {0, 0, ""},
      {0, 40, ""},
      {0.4, 0, ""},
      {0.5, 0, ""},
      {0.51, 0, "1"},
      {1.5, 0, "2"},
      {2.5, 0, "2"},
      {-2.5, 0, "2"},
      {0.35, 1, "3"},
      {0.25, 1, "2"},
      {1234.56, 2, "123456"},
      {1e-5, 5, "1"},
      {1e-5, 4, ""},
      {123.0, 19, "1230000000000000000000"},
      {1.0, 20, "100000000000000000000"},
      {1.0, 25, "10000000000000000000000000"},
      {18446744073709551616.0, 0, "18446744073709551616"},
      {4.9e-324, 0, ""},
      {4.9e-324, 325, "49"},
  };
  for (const auto& c : cases) {
    std::string digits;
    EXPECT_TRUE(ScaledDigits(c.v, c.d, &digits));
    EXPECT_EQ(digits, c.want) << c.v << " x 10^" << c.d;
  }
  std::string digits = "x";
  EXPECT_FALSE(ScaledDigits(std::numeric_limits<double>::infinity(), 2, &digits));
  EXPECT_EQ(digits, "");
  EXPECT_FALSE(ScaledDigits(1.0, 4933, &digits));
  EXPECT_TRUE(ScaledDigits(1.0, 4931, &digits));
  EXPECT_EQ(digits.size(), 4932u);
}

// ---- Settings from Nuva.ini ----------------------------------------------

class NumberSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.SetVar("ZELROOT", dir_.path()); }
  void WriteNuva(const std::string& bytes) { testsupport::WriteFile(dir_.File("Nuva.ini"), bytes); }
  testsupport::ScratchDir dir_{"telvoran-masks"};
  testsupport::SettingsGuard settings_;
  platform::FakeEnv env_;
  platform::ScopedEnvOverride use_{&env_};
};

TEST_F(NumberSettingsTest, MissingFileGivesApostropheAndPoint) {
  EXPECT_EQ(FormatMask("Z,ZZ9.99", 1234.5), "1.234'50");
}

TEST_F(NumberSettingsTest, ValuesComeFromSectionUsuari) {
  WriteNuva("[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\n");
  EXPECT_EQ(FormatMask("Z,ZZ9.99", 1234.5), "1.234,50");
}

TEST_F(NumberSettingsTest, BlankValueTakesTheDefaultAndOnlyTheFirstCharacterCounts) {
  WriteNuva("[Usuari]\r\nDecCaracter=\" \"\r\nMilCaracter=#x\r\n");
  EXPECT_EQ(FormatMask("Z,ZZ9.99", 1234.5), "1#234'50");
}

TEST_F(NumberSettingsTest, ReadOncePerRun) {
  WriteNuva("[Usuari]\r\nDecCaracter=,\r\n");
  EXPECT_EQ(FormatMask("9.9", 1.5), "1,5");
  WriteNuva("[Usuari]\r\nDecCaracter=:\r\n");
  EXPECT_EQ(FormatMask("9.9", 1.5), "1,5");
  ResetFormatSettingsForTesting();
  EXPECT_EQ(FormatMask("9.9", 1.5), "1:5");
}

// ---- FormatAmount ----------------------------------------------------------

TEST_F(NumberSettingsTest, FormatAmountTable) {
  struct {
    const char* currency;
    const char* mask;
    double cents;
    const char* want;
  } cases[] = {
      {"E", "ZZZ,ZZZ,ZZ9", 123456, "   1.234'56"},
      {"E", "ZZZ,ZZZ,ZZ9", 0, "       0'00"},
      {"E", "ZZZ,ZZZ,ZZ9", -123456, "  -1.234'56"},
      {"E", "ZZZ,ZZZ,ZZ9", 100000000, " 1000000'00"},
      {"P", "ZZZ,ZZZ,ZZ9", 123456, "    205.414"},
      {"E", "ZZZ,ZZZ,ZZ9", -5, "       -'05"},
      {"E", "ZZZ,ZZZ,ZZ9", -12345678, "-123.456'78"},
      {"E", "ZZZ,ZZZ,ZZ9", 1, "       0'01"},
      {"", "ZZZ,ZZZ,ZZ9", 123456, "   1.234'56"},
      {"P", "ZZZ,ZZZ,ZZ9", 0, "          0"},
      {"P", "ZZZ,ZZZ,ZZ9", -100, "       -166"},
      // Without a "9" a zero amount shows nothing.
      {"E", "ZZZZ", 0, "    "},
      {"E", "ZZZZ", 250, "2'50"},
      {"E", "****", 250, "2'50"},
      {"E", "*****", 0, "**   "},  // the decimals are "Z" whatever the filler
      {"E", "ZZZ9-", -250, "2'50-"},
      {"E", "-ZZZ9", -250, "-2'50"},
      {"E", "ZZZ9+", 250, "2'50+"},
      {"E", "Z9", 250, "02"},
      {"E", "", 250, ""},
  };
  for (const auto& c : cases) {
    Currency().current = c.currency;
    EXPECT_EQ(FormatAmount(c.mask, c.cents), c.want)
        << c.mask << " with " << c.cents << " in " << c.currency;
  }
}

// Amounts in whole cents are written without the digit step; up to the
// widest (2^53, past which a double is no longer whole cents) and across
// masks and currencies taken in turn, each must read as the digit step
// writes it through the derived mask, and the largest as worked out here.
TEST_F(NumberSettingsTest, FormatAmountOfWholeCentsAsTheDigitStepWritesThem) {
  const double p52 = 4503599627370496.0;
  const double values[] = {0, -0.0, 1, -1, 5, -99, 100, 123456, -123456, 2147483647, -2147483648.0,
                           p52 - 1, -p52 + 1, p52, -p52, p52 + 2, 2 * p52,
                           // cents / 100 scaled back by 100 is not these
                           7370726438445143.0, -7370726438445143.0, 12.5, -0.5};
  const char* masks[] = {"ZZZ,ZZZ,ZZ9", "ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9", "***,***,**9+", "-ZZZ9", "ZZ9.9",
                         "ZZZZ"};
  for (const char* currency : {"E", "P"}) {
    for (const char* mask : masks) {
      for (double cents : values) {
        Currency().current = currency;
        const bool pesetas = currency[0] == 'P';
        const double value = pesetas ? cents / 100 * 166.3860015869140625 : cents / 100;
        EXPECT_EQ(FormatAmount(mask, cents),
                  FormatMask(DeriveAmountMask(mask, cents, pesetas), value))
            << mask << " with " << cents << " in " << currency;
      }
    }
  }
  Currency().current = "E";
  EXPECT_EQ(FormatAmount("ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9", p52 - 1), "  45.035.996.273.704'95");
  EXPECT_EQ(FormatAmount("ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9", -(p52 - 1)), " -45.035.996.273.704'95");
}

TEST_F(NumberSettingsTest, FormatAmountOfNonFiniteIsTheOverflowRow) {
  Currency().current = "E";
  EXPECT_EQ(FormatAmount("ZZZ,ZZZ,ZZ9", std::numeric_limits<double>::quiet_NaN()),
            std::string(11, '!'));
  EXPECT_EQ(FormatAmount("ZZZ,ZZZ,ZZ9", -std::numeric_limits<double>::infinity()),
            std::string(11, '!'));
  EXPECT_EQ(FormatAmount("ZZZ,ZZZ,ZZ9", 1e300), std::string(11, '!'));
}

TEST(DeriveAmountMaskTest, Table) {
  struct {
    const char* mask;
    double cents;
    bool pesetas;
    const char* want;
  } cases[] = {
      {"ZZZ,ZZZ,ZZ9", 5, false, ",ZZZ,ZZ9.99"},
      {"ZZZ,ZZZ,ZZ9", 0, false, ",ZZZ,ZZ9.99"},
      {"ZZZ,ZZZ,ZZ9", 5, true, "ZZZ,ZZZ,ZZ9"},
      {"ZZZZZZZZZZZ", 0, false, "ZZZZZZZZ.ZZ"},
      {"ZZZZZZZZZZZ", 0, true, "ZZZZZZZZZZZ"},
      {"ZZZZZZZZZZZ", 7, false, "ZZZZZZZ9.99"},
      {"**,**9", 7, false, "**9.99"},
      {"ZZ9.99", 7, false, "9.9999"},
      {"ZZ9.99", 7, true, "ZZ9.99"},
      {"ZZ9.", 7, false, "9.99"},
      {"ZZZ9-", 7, false, "9.99-"},
      {"-ZZZ9", 7, false, "-9.99"},
      {"+ZZZ,ZZ9", 7, false, "+,ZZ9.99"},
      {"*Z9", 7, false, ".99"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeriveAmountMask(c.mask, c.cents, c.pesetas), c.want)
        << c.mask << " " << c.cents << (c.pesetas ? " P" : " E");
  }
}

TEST(IsBadNumberTextTest, Table) {
  struct {
    const char* text;
    const char* mask;
    bool bad;
  } cases[] = {
      {"-12.5", "ZZ9.99-", false}, {" 12.5 ", "ZZ9.99-", false}, {"12-", "ZZ9.99-", true},
      {"1.2.3", "ZZ9.99-", true},  {"12a", "ZZ9.99-", true},     {"--1", "ZZ9.99-", true},
      {"1.5", "ZZ9", true},        {"15", "ZZ9", false},         {"", "ZZ9", false},
      {"   ", "ZZ9", false},       {"-1", "ZZ9", true},          {"+1", "+ZZ9", false},
      {".5", "Z.99", false},       {".-5", "Z.99-", true},       {"a1", "ZZ9", true},
      {"1a", "ZZ9", true},         {"1,000", "Z,ZZ9", true},     {"1 2", "ZZ9", false},
      {"- 5", "-ZZ9", false},      {"5 -", "ZZ9-", true},        {"\t5", "ZZ9", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsBadNumberText(c.text, c.mask), c.bad ? platform::kTrue : platform::kFalse)
        << "'" << c.text << "' for " << c.mask;
  }
}

}  // namespace
}  // namespace format
