// Cross-checks the edit masks against independent references: the report's
// money mask against a rendering of the amount done with integers only, and
// the digit step against the host's 80-bit long double where it has one.
// The samples come from a fixed generator, so every run checks the same
// values.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "format/currency.h"
#include "format/masks.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"

namespace format {
namespace {

// splitmix64: the same sequence on every host and standard library.
class Generator {
 public:
  explicit Generator(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Below 2^bits, for bits in 0..64.
  uint64_t Bits(int bits) { return bits == 0 ? 0 : Next() >> (64 - bits); }

 private:
  uint64_t state_;
};

// What "ZZZ,ZZZ,ZZ9" must show for an amount in euro cents, from integers
// alone: sign, whole euros grouped in threes by ".", "'", two cent digits,
// right-aligned in eleven. The derived mask has no sign position, so the
// minus takes the place left of the digits, and with no whole euros it
// takes the place of the units digit ("-'05"). From one million euros on the
// number is written plainly in the width, cut after eleven characters.
std::string MoneyReference(int32_t amount) {
  const int64_t c = amount;
  const bool negative = c < 0;
  const uint64_t magnitude = static_cast<uint64_t>(negative ? -c : c);
  const uint64_t euros = magnitude / 100;
  const uint64_t cents = magnitude % 100;
  std::string text = negative ? "-" : "";
  const std::string euro_digits = std::to_string(euros);
  if (euros >= 1000000) {
    text += euro_digits;
  } else if (!(negative && euros == 0)) {
    for (size_t i = 0; i < euro_digits.size(); ++i) {
      if (i > 0 && (euro_digits.size() - i) % 3 == 0) text += '.';
      text += euro_digits[i];
    }
  }
  text += '\'';
  text += static_cast<char>('0' + cents / 10);
  text += static_cast<char>('0' + cents % 10);
  if (text.size() >= 11) return text.substr(0, 11);
  return std::string(11 - text.size(), ' ') + text;
}

TEST(MoneyMaskCrossCheckTest, MoneyReferenceItself) {
  // The reference agrees with the worked amounts.
  EXPECT_EQ(MoneyReference(123456), "   1.234'56");
  EXPECT_EQ(MoneyReference(0), "       0'00");
  EXPECT_EQ(MoneyReference(-123456), "  -1.234'56");
  EXPECT_EQ(MoneyReference(100000000), " 1000000'00");
}

TEST(MoneyMaskCrossCheckTest, MillionAmountsAcrossTheRange) {
  // No Nuva.ini: the default characters, whatever the host's ZELROOT.
  testsupport::ScratchDir dir("telvoran-money");
  platform::FakeEnv env(dir.path());
  platform::ScopedEnvOverride use(&env);
  testsupport::SettingsGuard settings;
  const NumberChars defaults = LoadedNumberChars();
  ASSERT_EQ(defaults.decimal, '\'');
  ASSERT_EQ(defaults.thousands, '.');
  Currency().current = "E";
  std::vector<int32_t> amounts = {0,
                                  1,
                                  -1,
                                  99,
                                  -99,
                                  100,
                                  -100,
                                  99999999,
                                  -99999999,
                                  100000000,
                                  -100000000,
                                  999999999,
                                  -999999999,
                                  std::numeric_limits<int32_t>::max(),
                                  std::numeric_limits<int32_t>::min()};
  Generator gen(20261208);
  while (amounts.size() < 1000000) {
    // Magnitudes spread over every bit length, so that small amounts are
    // as well represented as the overflowing ones.
    const int bits = static_cast<int>(gen.Bits(5)) + 1;  // 1..32
    const uint64_t r = gen.Bits(bits);
    const int64_t v = (r & 1) != 0 ? -static_cast<int64_t>(r >> 1) : static_cast<int64_t>(r >> 1);
    amounts.push_back(static_cast<int32_t>(v));
  }
  int failures = 0;
  for (int32_t a : amounts) {
    const std::string got = FormatAmount("ZZZ,ZZZ,ZZ9", static_cast<double>(a));
    const std::string want = MoneyReference(a);
    if (got != want && ++failures <= 10) {
      ADD_FAILURE() << a << " cents gives '" << got << "', want '" << want << "'";
    }
  }
  EXPECT_EQ(failures, 0);
}

#if LDBL_MANT_DIG == 64
// The x87 extended format: |v| x 10^d rounded to 64 bits, then nearbyint
// (ties to even in the default rounding mode). 10^d is exact up to 10^27.
std::string LongDoubleDigits(double v, int d) {
  long double p = 1;
  for (int k = 0; k < d; ++k) p *= 10;
  const long double x = std::nearbyint(std::fabs(static_cast<long double>(v)) * p);
  std::vector<char> buf(6000);
  std::snprintf(buf.data(), buf.size(), "%.0Lf", x);
  const std::string s = buf.data();
  return s == "0" ? std::string() : s;
}
#endif

TEST(ScaledDigitsCrossCheckTest, AgreesWithExtendedPrecision) {
#if LDBL_MANT_DIG == 64
  Generator gen(4242);
  int failures = 0;
  for (int n = 0; n < 300000; ++n) {
    const int d = static_cast<int>(gen.Next() % 28);
    double v;
    switch (n % 3) {
      case 0: {  // any significand, magnitudes around the digits shown
        const double m = static_cast<double>(gen.Bits(53));
        v = std::ldexp(m, static_cast<int>(gen.Next() % 140) - 140);
        break;
      }
      case 1: {  // next to a half at the last decimal shown
        const double whole = static_cast<double>(gen.Bits(static_cast<int>(gen.Next() % 50)));
        v = (whole + 0.5) / std::pow(10.0, d);
        const int step = static_cast<int>(gen.Next() % 3) - 1;
        if (step != 0) v = std::nextafter(v, step * std::numeric_limits<double>::infinity());
        break;
      }
      default: {  // amounts in cents made euros
        v = static_cast<double>(static_cast<int64_t>(gen.Bits(40)) - (int64_t{1} << 39)) / 100;
        break;
      }
    }
    std::string got;
    ASSERT_TRUE(ScaledDigits(v, d, &got));
    const std::string want = LongDoubleDigits(v, d);
    if (got != want && ++failures <= 10) {
      ADD_FAILURE() << std::hexfloat << v << std::defaultfloat << " x 10^" << d << " gives " << got
                    << ", want " << want;
    }
  }
  EXPECT_EQ(failures, 0);
#else
  GTEST_SKIP() << "long double is not the 80-bit extended format on this host";
#endif
}

}  // namespace
}  // namespace format
