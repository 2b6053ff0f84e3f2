// Packed dates and their arithmetic. A packed date is the packed digits of
// YYYYMMDD in four bytes (century, year in century, month, day), so byte
// order is chronological order. Four 0x80 bytes mean "no date"; "99991231"
// is the highest date. The calendar is Gregorian, Julian before the reform of
// October 1582; each operation says where it switches rules.
//
// Offset/size of a packed date:
//   0  1  century        (0x80 + 0..99)
//   1  1  year in century
//   2  1  month
//   3  1  day
//
// The routines that read typed dates share one parsing state (the last
// parsed day, month and year, and the month length left by the check); it is
// module-level, overwritten by every call. The program is single-threaded.
#ifndef TELVORAN_FORMAT_DATES_H_
#define TELVORAN_FORMAT_DATES_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace format {

inline constexpr int kPackedDateSize = 4;

// The packed form of "00000000".
std::string NoDate();
// True when every byte is 0x80 (an empty text counts as no date too).
bool IsNoDate(const std::string& packed);

// The state shared by ParseDateText and IsBadDateText.
struct DateParseState {
  int16_t day = 0;
  int16_t month = 0;
  int16_t year = 0;
  int16_t month_length = 0;  // left by IsBadDateText
};
DateParseState& ParsedDate();

// DDMMYY when the year lies in current_year - 50 .. current_year + 49,
// otherwise DDMMYYYY; the empty text when day and month are both 0.
// packed holds 3 or 4 bytes (shorter texts give the empty text).
std::string DateToEditText(const std::string& packed, int current_year);
std::string DateToEditText(const std::string& packed);

// Reads a typed date: day, month and year separated by "/", "." or "-", or
// run together as DDMMYY[YY]. Two-digit years fall in current_year - 50 ..
// current_year + 49. Never fails: bad text gives NoDate(); impossible days
// are packed as they are (31/02/24 gives 20240231).
std::string ParseDateText(const std::string& text, int current_year);
std::string ParseDateText(const std::string& text);

// True (-1) when the text is not a valid date: bad characters, one or three
// separators, an impossible day or month, or one of 1582-10-05..14. Two-digit
// years fall in current_year - 50 .. current_year + 50.
platform::Bool16 IsBadDateText(const std::string& text, int current_year);
platform::Bool16 IsBadDateText(const std::string& text);

// Adds count days ("D"), months ("M") or years ("A"), unit case-insensitive.
// Month and year steps keep the day within the target month. Julian month
// lengths when the start is before 1582-10-05. Saturates at 9999-12-31.
std::string DateAdd(const std::string& packed, int32_t count, const std::string& unit);

// Days, months or whole years between two dates, never negative and
// independent of argument order; 0 for another unit.
int32_t DateDiff(const std::string& a, const std::string& b, const std::string& unit);

// 1 (Monday) .. 7 (Sunday); Julian before 1582-10-05.
int16_t WeekDay(const std::string& packed);

// Length of month m (1..12) of year y; a month outside 1..12 gives 31.
int MonthLength(int month, long long year, bool julian);
bool IsLeapYear(long long year, bool julian);

}  // namespace format

#endif  // TELVORAN_FORMAT_DATES_H_
