#include "format/dates.h"

#include <cctype>
#include <cstdlib>

#include "format/packed.h"
#include "platform/env.h"

namespace format {

namespace {

int CurrentYear() {
  return platform::CurrentEnv().Today().year;
}

int ByteValue(char c) {
  return (static_cast<unsigned char>(c) & 0x7F) % 100;
}

// The numeric value v = YYYYMMDD of a packed date. Missing bytes of a short
// text count as zero digits at the end; bytes past the fourth are ignored.
long long DateValue(const std::string& packed) {
  long long v = 0;
  for (int i = 0; i < kPackedDateSize; ++i) {
    int b = i < static_cast<int>(packed.size()) ? ByteValue(packed[static_cast<size_t>(i)]) : 0;
    v = v * 100 + b;
  }
  return v;
}

char UnitLetter(const std::string& unit) {
  if (unit.empty()) return '\0';
  return static_cast<char>(std::toupper(static_cast<unsigned char>(unit[0])));
}

bool UnitIs(const std::string& unit, char letter) {
  return unit.size() == 1 && UnitLetter(unit) == letter;
}

// Days of the years from .. to - 1 (none when to <= from); Julian below 1582.
long long DaysOfYears(long long from, long long to) {
  if (to <= from) return 0;
  // Leap years in [1, y] under each rule, extended to all integers by floor.
  auto fdiv = [](long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
  };
  auto julian_leaps = [&](long long y) { return fdiv(y, 4); };
  auto gregorian_leaps = [&](long long y) { return fdiv(y, 4) - fdiv(y, 100) + fdiv(y, 400); };
  long long days = 365 * (to - from);
  // Julian part: years from .. min(to, 1582) - 1.
  long long jt = to < 1582 ? to : 1582;
  if (from < jt) days += julian_leaps(jt - 1) - julian_leaps(from - 1);
  long long gf = from > 1582 ? from : 1582;
  if (gf < to) days += gregorian_leaps(to - 1) - gregorian_leaps(gf - 1);
  return days;
}

}  // namespace

std::string NoDate() {
  return std::string(kPackedDateSize, static_cast<char>(0x80));
}

bool IsNoDate(const std::string& packed) {
  for (char c : packed) {
    if (static_cast<unsigned char>(c) != 0x80) return false;
  }
  return true;
}

DateParseState& ParsedDate() {
  static DateParseState state;
  return state;
}

bool IsLeapYear(long long year, bool julian) {
  if (julian) return year % 4 == 0;
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int MonthLength(int month, long long year, bool julian) {
  static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  if (month == 2 && IsLeapYear(year, julian)) return 29;
  return kLengths[month - 1];
}

std::string DateToEditText(const std::string& packed, int current_year) {
  if (packed.size() < 2) return std::string();
  int day = ByteValue(packed[packed.size() - 1]);
  int month = ByteValue(packed[packed.size() - 2]);
  long long year = DigitValue(UnpackDigits(packed.substr(0, packed.size() - 2)));
  if (day <= 0 && month <= 0) return std::string();
  std::string text = ZeroPad(day, 2) + ZeroPad(month, 2);
  if (current_year - 50 <= year && year <= current_year + 49) {
    text += ZeroPad(static_cast<double>(year % 100), 2);
  } else {
    text += ZeroPad(static_cast<double>(year), 4);
  }
  return text;
}

std::string DateToEditText(const std::string& packed) {
  return DateToEditText(packed, CurrentYear());
}

namespace {

// Steps 1-3 shared by ParseDateText and IsBadDateText. Fills the shared
// state's day, month and year; returns false when the error flag is set.
// *four_digits tells whether the year was written with four digits or more.
bool ParseDateParts(const std::string& text, bool* four_digits) {
  DateParseState& st = ParsedDate();
  bool error = false;
  int component = 1;
  std::string acc;
  // A value that does not fit the 16-bit state makes the text bad instead of
  // wrapping into some other date.
  auto to16 = [&](long long v) -> int16_t {
    if (v > 32767) {
      error = true;
      return 0;
    }
    return static_cast<int16_t>(v);
  };
  for (char c : text) {
    if (c == ' ' || (c >= '0' && c <= '9')) {
      acc.push_back(c);
    } else if (c == '.' || c == '/' || c == '-') {
      if (component == 1) {
        st.day = to16(DigitValue(acc));
      } else if (component == 2) {
        st.month = to16(DigitValue(acc));
      } else {
        error = true;
      }
      acc.clear();
      if (component < 1000) ++component;
    } else {
      error = true;
    }
  }
  auto trimmed_length = [](const std::string& s) -> size_t {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return 0;
    return s.find_last_not_of(' ') - b + 1;
  };
  *four_digits = false;
  if (component == 1) {
    st.day = to16(DigitValue(acc.substr(0, 2)));
    st.month = to16(DigitValue(acc.size() > 2 ? acc.substr(2, 2) : std::string()));
    std::string rest = acc.size() > 4 ? acc.substr(4) : std::string();
    st.year = to16(DigitValue(rest));
    *four_digits = trimmed_length(rest) > 3;
  } else if (component == 3) {
    st.year = to16(DigitValue(acc));
    *four_digits = trimmed_length(acc) > 3;
  } else if (component == 2) {
    error = true;
  }
  return !error;
}

}  // namespace

std::string ParseDateText(const std::string& text, int current_year) {
  bool four = false;
  if (!ParseDateParts(text, &four)) return NoDate();
  DateParseState& st = ParsedDate();
  int year = st.year;
  if (st.day > 0 && st.month > 0 && !four) {
    year = 100 * (current_year / 100) + year;
    if (year - current_year > 49) {
      year -= 100;
    } else if (current_year - year > 50) {
      year += 100;
    }
  }
  st.year = static_cast<int16_t>(year);
  return PackDigits(ZeroPad(year, 4) + ZeroPad(st.month, 2) + ZeroPad(st.day, 2));
}

std::string ParseDateText(const std::string& text) {
  return ParseDateText(text, CurrentYear());
}

platform::Bool16 IsBadDateText(const std::string& text, int current_year) {
  bool four = false;
  if (!ParseDateParts(text, &four)) return platform::kTrue;
  DateParseState& st = ParsedDate();
  int year = st.year;
  if (year < 100 && !four) {
    year = 100 * (current_year / 100) + year;
    if (year - current_year > 50) {
      year -= 100;
    } else if (current_year - year > 50) {
      year += 100;
    }
  }
  st.year = static_cast<int16_t>(year);
  long long v = static_cast<long long>(year) * 10000 + st.month * 100 + st.day;
  if (v > 15821004 && v < 15821015) return platform::kTrue;
  st.month_length = static_cast<int16_t>(
      (st.month >= 1 && st.month <= 12) ? MonthLength(st.month, year, false) : 0);
  if (st.day < 1 || st.day > st.month_length || st.month < 1 || st.month > 12) {
    return platform::kTrue;
  }
  return platform::kFalse;
}

platform::Bool16 IsBadDateText(const std::string& text) {
  return IsBadDateText(text, CurrentYear());
}

std::string DateAdd(const std::string& packed, int32_t count, const std::string& unit) {
  if (count == 0) return packed;
  const long long v = DateValue(packed);
  long long d = v % 100;
  long long m = (v / 100) % 100;
  long long y = v / 10000;
  const long long n = count;
  const char u = UnitIs(unit, 'D') ? 'D' : UnitIs(unit, 'M') ? 'M' : UnitIs(unit, 'A') ? 'A' : '\0';
  if (u == 'D') {
    d += n;
  } else if (u == 'M') {
    m += n;
    long long q = (m - 1 >= 0) ? (m - 1) / 12 : -((12 - m) / 12);  // floor((m - 1) / 12)
    y += q;
    m -= 12 * q;
  } else if (u == 'A') {
    y += n;
  }
  const bool julian = v < 15821005;
  // Whole cycles of the leap rule in force hold a fixed number of days; they
  // are taken in one step so that large day counts stay fast.
  const long long cycle_years = julian ? 4 : 400;
  const long long cycle_days = julian ? 1461 : 146097;
  auto next_month = [&]() {
    if (m >= 12) {
      m = 1;
      ++y;
    } else if (m < 1) {
      m = 1;
    } else {
      ++m;
    }
  };
  auto previous_month = [&]() {
    if (m <= 1) {
      m = 12;
      --y;
    } else if (m > 12) {
      m = 12;
    } else {
      --m;
    }
  };
  if (n > 0) {
    if (u == 'D') {
      while (d > cycle_days + 366 && y <= 9999) {
        d -= cycle_days;
        y += cycle_years;
      }
    }
    while (y <= 9999) {
      int len = MonthLength(static_cast<int>(m), y, julian);
      if (d <= len) break;
      if (u == 'D') {
        d -= len;
        next_month();
      } else {
        d = len;
        break;
      }
    }
  } else {
    if (d <= -cycle_days) {
      long long k = (-d) / cycle_days;
      d += k * cycle_days;
      y -= k * cycle_years;
    }
    while (d <= 0) {
      previous_month();
      d += MonthLength(static_cast<int>(m), y, julian);
    }
    if (u == 'M' || u == 'A') {
      int len = MonthLength(static_cast<int>(m), y, julian);
      if (d > len) d = len;
    }
  }
  if (y > 9999) return PackDigits("99991231");
  return PackDigits(ZeroPad(static_cast<double>(y * 10000 + m * 100 + d), 8));
}

int32_t DateDiff(const std::string& a, const std::string& b, const std::string& unit) {
  // Byte-wise unsigned comparison picks the earlier date.
  auto less = [](const std::string& x, const std::string& y) {
    size_t n = x.size() < y.size() ? x.size() : y.size();
    for (size_t i = 0; i < n; ++i) {
      unsigned char cx = static_cast<unsigned char>(x[i]);
      unsigned char cy = static_cast<unsigned char>(y[i]);
      if (cx != cy) return cx < cy;
    }
    return x.size() < y.size();
  };
  const std::string& e = less(a, b) ? a : b;
  const std::string& l = less(a, b) ? b : a;
  long long v1 = DateValue(e), v2 = DateValue(l);
  long long d1 = v1 % 100, m1 = (v1 / 100) % 100, y1 = v1 / 10000;
  long long d2 = v2 % 100, m2 = (v2 / 100) % 100, y2 = v2 / 10000;
  long long total = 0;
  if (UnitIs(unit, 'D')) {
    total = DaysOfYears(y1 + 1, y2);
    if (y1 < y2) {
      for (long long mm = m1; mm <= 12; ++mm)
        total += MonthLength(static_cast<int>(mm), y1, y1 < 1582);
      for (long long mm = 1; mm <= m2 - 1; ++mm)
        total += MonthLength(static_cast<int>(mm), y2, y2 < 1582);
    } else {
      for (long long mm = m1; mm <= m2 - 1; ++mm)
        total += MonthLength(static_cast<int>(mm), y1, y1 < 1582);
    }
    total = total - d1 + d2;
  } else if (UnitIs(unit, 'M')) {
    total = 12 * (y2 - y1) + (m2 - m1);
  } else if (UnitIs(unit, 'A')) {
    total = y2 - y1;
    if (m1 > m2 || (m1 == m2 && d1 > d2)) --total;
  }
  return static_cast<int32_t>(total);
}

int16_t WeekDay(const std::string& packed) {
  std::string p = packed.substr(0, kPackedDateSize);
  while (p.size() < kPackedDateSize) p.push_back(static_cast<char>(0x80));
  std::string jan1 = p.substr(0, 2) + PackDigits("0101");
  long long k = DateDiff(p, jan1, "d") - 1;
  long long year = DigitValue(UnpackDigits(p.substr(0, 2)));
  long long Y = year - 1;
  long long w;
  std::string reform = PackDigits("15821005");
  bool before = false;
  for (size_t i = 0; i < kPackedDateSize; ++i) {
    unsigned char x = static_cast<unsigned char>(p[i]);
    unsigned char r = static_cast<unsigned char>(reform[i]);
    if (x != r) {
      before = x < r;
      break;
    }
  }
  if (before) {
    w = ((Y + Y / 4) % 7 + 6 + k) % 7 + 1;
  } else {
    w = ((Y + Y / 4 - Y / 100 + Y / 400) % 7 + 1 + k) % 7 + 1;
  }
  return static_cast<int16_t>(w);
}

}  // namespace format
