// Cross-checks the date arithmetic against independent references: C++20
// civil dates (proleptic Gregorian) from 1583 on, and the Julian day number
// formulas for the Julian calendar before the reform. The sample is a fixed
// pseudo-random sequence, so every run checks the same dates.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "format/dates.h"
#include "format/packed.h"

namespace format {
namespace {

namespace chr = std::chrono;

constexpr int kSamples = 100000;

std::string Pack(int y, int m, int d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return PackDigits(buf);
}

std::string Pack(const chr::year_month_day& ymd) {
  return Pack(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
              static_cast<int>(static_cast<unsigned>(ymd.day())));
}

std::string Show(const std::string& packed) {
  return UnpackDigits(packed);
}

const std::string kHighest = PackDigits("99991231");

// The packed result the arithmetic must give for a reference date: the date
// itself, or the highest date once the year passes 9999.
std::string Expected(const chr::year_month_day& ymd) {
  return static_cast<int>(ymd.year()) > 9999 ? kHighest : Pack(ymd);
}

class Sampler {
 public:
  chr::year_month_day Date(int y0, int y1) {
    chr::sys_days lo{chr::year{y0} / 1 / 1};
    chr::sys_days hi{chr::year{y1} / 12 / 31};
    std::uniform_int_distribution<int> pick(0, (hi - lo).count());
    return chr::year_month_day{lo + chr::days{pick(rng_)}};
  }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937 rng_{20261208};
};

chr::year_month_day ClampDay(chr::year y, chr::month m, chr::day d) {
  chr::year_month_day ymd{y, m, d};
  if (ymd.ok()) return ymd;
  return chr::year_month_day{chr::year_month_day_last{y, chr::month_day_last{m}}};
}

TEST(DateCrossCheckTest, AddDaysMatchesCivilDates) {
  Sampler s;
  for (int i = 0; i < kSamples; ++i) {
    chr::year_month_day start = s.Date(1583, 9998);
    // Mostly small offsets, as the report uses; a tenth span centuries.
    int n = (i % 10 == 0) ? s.Int(-400000, 3000000) : s.Int(-2000, 2000);
    chr::year_month_day want{chr::sys_days{start} + chr::days{n}};
    if (static_cast<int>(want.year()) < 1) continue;
    ASSERT_EQ(Show(DateAdd(Pack(start), n, "D")), Show(Expected(want)))
        << Show(Pack(start)) << " + " << n << " D";
  }
}

TEST(DateCrossCheckTest, AddMonthsAndYearsMatchCivilDatesClampedToMonthEnd) {
  Sampler s;
  for (int i = 0; i < kSamples; ++i) {
    chr::year_month_day start = s.Date(1583, 9998);
    int n = (i % 10 == 0) ? s.Int(-18000, 120000) : s.Int(-240, 240);
    chr::year_month ym = chr::year_month{start.year(), start.month()} + chr::months{n};
    chr::year_month_day want = ClampDay(ym.year(), ym.month(), start.day());
    ASSERT_EQ(Show(DateAdd(Pack(start), n, i % 2 ? "M" : "m")), Show(Expected(want)))
        << Show(Pack(start)) << " + " << n << " M";

    int years = (i % 10 == 0) ? s.Int(-1500, 9000) : s.Int(-50, 50);
    chr::year_month_day want_y =
        ClampDay(start.year() + chr::years{years}, start.month(), start.day());
    ASSERT_EQ(Show(DateAdd(Pack(start), years, "A")), Show(Expected(want_y)))
        << Show(Pack(start)) << " + " << years << " A";
  }
}

TEST(DateCrossCheckTest, DiffAndWeekDayMatchCivilDates) {
  Sampler s;
  for (int i = 0; i < kSamples; ++i) {
    chr::year_month_day a = s.Date(1583, 9998);
    chr::year_month_day b =
        (i % 4 == 0) ? s.Date(1583, 9998)
                     : chr::year_month_day{chr::sys_days{a} + chr::days{s.Int(-800, 800)}};
    if (static_cast<int>(b.year()) < 1583 || static_cast<int>(b.year()) > 9999) continue;
    std::string pa = Pack(a), pb = Pack(b);
    int days = std::abs((chr::sys_days{a} - chr::sys_days{b}).count());
    ASSERT_EQ(DateDiff(pa, pb, "D"), days) << Show(pa) << " " << Show(pb);
    ASSERT_EQ(DateDiff(pb, pa, "d"), days);

    const chr::year_month_day& lo = chr::sys_days{a} < chr::sys_days{b} ? a : b;
    const chr::year_month_day& hi = chr::sys_days{a} < chr::sys_days{b} ? b : a;
    int months =
        (chr::year_month{hi.year(), hi.month()} - chr::year_month{lo.year(), lo.month()}).count();
    ASSERT_EQ(DateDiff(pa, pb, "M"), months) << Show(pa) << " " << Show(pb);
    // Whole years: lo plus k years (on the same month and day) not after hi.
    int years = static_cast<int>(hi.year()) - static_cast<int>(lo.year());
    if (chr::year_month_day{hi.year(), lo.month(), lo.day()} > hi) --years;
    ASSERT_EQ(DateDiff(pa, pb, "A"), years) << Show(pa) << " " << Show(pb);

    int iso = static_cast<int>(chr::weekday{chr::sys_days{a}}.iso_encoding());
    ASSERT_EQ(WeekDay(pa), iso) << Show(pa);
  }
}

// Julian calendar date <-> Julian day number.
long JulianDayNumber(long y, long m, long d) {
  long a = (14 - m) / 12;
  long yy = y + 4800 - a;
  long mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - 32083;
}

void FromJulianDayNumber(long jdn, long* y, long* m, long* d) {
  long c = jdn + 32082;
  long dd = (4 * c + 3) / 1461;
  long e = c - 1461 * dd / 4;
  long mm = (5 * e + 2) / 153;
  *d = e - (153 * mm + 2) / 5 + 1;
  *m = mm + 3 - 12 * (mm / 10);
  *y = dd - 4800 + mm / 10;
}

TEST(DateCrossCheckTest, JulianRulesBeforeTheReform) {
  std::mt19937 rng(1582);
  const long lo = JulianDayNumber(100, 1, 1);
  const long hi = JulianDayNumber(1582, 10, 4);
  std::uniform_int_distribution<long> pick(lo, hi);
  std::uniform_int_distribution<int> offset(-30000, 30000);
  for (int i = 0; i < 20000; ++i) {
    long j = pick(rng);
    long y, m, d;
    FromJulianDayNumber(j, &y, &m, &d);
    std::string p = Pack(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));

    // Addition keeps the Julian rule for the whole operation when it starts
    // before the reform, even when it ends after it.
    int n = offset(rng);
    long y2, m2, d2;
    FromJulianDayNumber(j + n, &y2, &m2, &d2);
    ASSERT_EQ(Show(DateAdd(p, n, "D")),
              Show(Pack(static_cast<int>(y2), static_cast<int>(m2), static_cast<int>(d2))))
        << Show(p) << " + " << n;

    // ISO weekday of a Julian day number: JDN mod 7 is 0 on a Monday.
    ASSERT_EQ(WeekDay(p), static_cast<int16_t>(j % 7 + 1)) << Show(p);

    // Differences between two dates before 1582 count Julian years.
    long k = pick(rng);
    FromJulianDayNumber(k, &y2, &m2, &d2);
    if (y2 < 1582 && y < 1582) {
      std::string q = Pack(static_cast<int>(y2), static_cast<int>(m2), static_cast<int>(d2));
      ASSERT_EQ(DateDiff(p, q, "D"), std::labs(j - k)) << Show(p) << " " << Show(q);
    }
  }
}

}  // namespace
}  // namespace format
