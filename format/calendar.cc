#include "format/calendar.h"

#include <algorithm>
#include <cassert>

#include "format/dates.h"
#include "format/packed.h"

namespace format {

namespace {

int16_t Byte(const std::string& packed, size_t i) {
  return static_cast<int16_t>(static_cast<unsigned char>(packed[i]) & 0x7F);
}

// The weekday (1 Monday .. 7 Sunday) of the first day of the month.
int16_t FirstWeekDay(int16_t year, int16_t month) {
  return WeekDay(PackedFromCalendarDay(CalendarDay{year, month, 1}));
}

}  // namespace

bool IsValidCalendarDay(const CalendarDay& day) {
  return day.year >= kCalendarFirstYear && day.year <= kCalendarLastYear && day.month >= 1 &&
         day.month <= 12 && day.day >= 1 && day.day <= CalendarMonthLength(day.year, day.month);
}

std::optional<CalendarDay> CalendarDayFromPacked(const std::string& packed) {
  if (packed.size() < static_cast<size_t>(kPackedDateSize)) return std::nullopt;
  CalendarDay day{static_cast<int16_t>(Byte(packed, 0) * 100 + Byte(packed, 1)), Byte(packed, 2),
                  Byte(packed, 3)};
  if (!IsValidCalendarDay(day)) return std::nullopt;
  return day;
}

std::string PackedFromCalendarDay(const CalendarDay& day) {
  assert(day.year >= 0 && day.year <= kCalendarLastYear);
  return PackDigits(ZeroPad(day.year * 10000.0 + day.month * 100 + day.day, 8));
}

int16_t QuarterFirstMonth(int16_t month) {
  assert(month >= 1 && month <= 12);
  return static_cast<int16_t>((month - 1) / 3 * 3 + 1);
}

int16_t CalendarMonthLength(int16_t year, int16_t month) {
  return static_cast<int16_t>(MonthLength(month, year, false));
}

std::string WeekdayHeader(const std::string& language) {
  const std::string code = language.substr(0, 3);
  if (code == "SPA" || code == "GLG") return " L  M  X  J  V  S  D";
  if (code == "OCI") return "DL DT DC DJ DD DS DG";
  return "DL DT DC DJ DV DS DG";
}

std::array<int16_t, kCalendarCells> MonthGrid(int16_t year, int16_t month) {
  std::array<int16_t, kCalendarCells> cells{};
  const int first = FirstWeekDay(year, month) - 1;
  const int16_t length = CalendarMonthLength(year, month);
  for (int16_t d = 1; d <= length; ++d) cells[first + d - 1] = d;
  return cells;
}

int CalendarCell(const CalendarDay& day) {
  return FirstWeekDay(day.year, day.month) + day.day - 2;
}

int16_t MonthTitleRow(int16_t month) {
  return static_cast<int16_t>(7 * (month - QuarterFirstMonth(month)) + 2);
}

CalendarPlace CellPlace(int16_t month, int cell) {
  assert(cell >= 0 && cell < kCalendarCells);
  return CalendarPlace{static_cast<int16_t>(MonthTitleRow(month) + 1 + cell / 7),
                       static_cast<int16_t>(3 * (cell % 7 + 1) - 2)};
}

CalendarPlace DayPlace(const CalendarDay& day) {
  return CellPlace(day.month, CalendarCell(day));
}

int16_t YearColumn(int16_t first_col, int16_t last_col) {
  return static_cast<int16_t>((last_col - first_col - 6 + 1) / 2 + 1);
}

int16_t TitleColumn(int16_t first_col, int16_t last_col, int title_length) {
  return static_cast<int16_t>(((last_col - first_col) - title_length + 1) / 2 + 1);
}

std::string YearText(int16_t year) {
  std::string digits = std::to_string(year);
  return " " + std::string(4 - std::min<size_t>(4, digits.size()), ' ') + digits + " ";
}

CalendarMoveResult MoveCalendarDay(const CalendarDay& from, CalendarMove move) {
  assert(IsValidCalendarDay(from));
  int y = from.year;
  int m = from.month;
  int d = from.day;
  const int first = QuarterFirstMonth(from.month);
  bool redraw = false;
  switch (move) {
    case CalendarMove::kNextDay:
    case CalendarMove::kPreviousDay:
    case CalendarMove::kNextWeek:
    case CalendarMove::kPreviousWeek: {
      static constexpr int kStep[] = {1, -1, 7, -7};
      d += kStep[static_cast<int>(move)];
      if (d < 1) {
        --m;
        if (m < first) {
          if (m < 1) {
            m += 12;
            --y;
          }
          redraw = true;
        }
        d += MonthLength(m, y, false);
      }
      if (d > MonthLength(m, y, false)) {
        d -= MonthLength(m, y, false);
        ++m;
        if (m > first + 2) {
          if (m > 12) {
            m -= 12;
            ++y;
          }
          redraw = true;
        }
      }
      break;
    }
    case CalendarMove::kNextQuarter:
    case CalendarMove::kPreviousQuarter:
      m += move == CalendarMove::kNextQuarter ? 3 : -3;
      if (m > 12) {
        m -= 12;
        ++y;
      } else if (m < 1) {
        m += 12;
        --y;
      }
      if (y >= kCalendarFirstYear && y <= kCalendarLastYear) {
        d = std::min(d, MonthLength(m, y, false));
      }
      redraw = true;
      break;
    case CalendarMove::kFirstMonth:
      m = 1;
      redraw = 1 < first;
      break;
    case CalendarMove::kLastMonth:
      m = 12;
      redraw = 12 > first + 2;
      break;
  }
  // The picker hands back a packed date of eight digits, so the years stay
  // within 1..9999; a move past either end does nothing.
  if (y < kCalendarFirstYear || y > kCalendarLastYear) return CalendarMoveResult{from, false};
  return CalendarMoveResult{
      CalendarDay{static_cast<int16_t>(y), static_cast<int16_t>(m), static_cast<int16_t>(d)},
      redraw};
}

}  // namespace format
