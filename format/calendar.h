// The calendar model behind the date picker: a quarter of a year shown as
// three month grids of six Monday-first weeks, the weekday header of each
// language, the window-relative places of the year, the titles and the day
// cells, and the moves of the highlighted day across months and years. Pure
// functions of a date and a language; the picker (console/calendar_pick.h)
// draws and reads keys.
//
// Quarter view inside the picker's window (rows and columns relative to the
// window frame, as Locate takes them):
//   row 0              the year, " YYYY ", centred on the top border
//   row 1, column 1    the weekday header, 20 characters
//   row R(m)           the title of month m, R(m) = 7 x (m - F) + 2
//   rows R(m)+1..+6    six weeks of seven cells; cell g (0..41) of day d is
//                      g = WeekDay(day 1) + d - 2, at row R(m) + 1 + g / 7,
//                      column 3 x (g mod 7 + 1) - 2, two characters wide
// where F = ((M - 1) / 3) x 3 + 1 is the first month of the quarter.
#ifndef TELVORAN_FORMAT_CALENDAR_H_
#define TELVORAN_FORMAT_CALENDAR_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace format {

// One day of the Gregorian calendar. Years 1..9999.
struct CalendarDay {
  int16_t year = 0;
  int16_t month = 0;
  int16_t day = 0;
  bool operator==(const CalendarDay&) const = default;
};

inline constexpr int kCalendarCells = 42;  // six weeks of seven days
inline constexpr int16_t kCalendarFirstYear = 1;
inline constexpr int16_t kCalendarLastYear = 9999;

// True for a day that exists in its month (Gregorian leap rule) in years
// kCalendarFirstYear..kCalendarLastYear.
bool IsValidCalendarDay(const CalendarDay& day);

// The day of a packed date (century, year, month, day bytes); nothing when
// the text is shorter than four bytes or the day does not exist.
std::optional<CalendarDay> CalendarDayFromPacked(const std::string& packed);
// The packed date of the day. REQUIRES: IsValidCalendarDay(day).
std::string PackedFromCalendarDay(const CalendarDay& day);

// 1, 4, 7 or 10: the first month of the quarter holding the month.
// REQUIRES: 1 <= month <= 12.
int16_t QuarterFirstMonth(int16_t month);

// Length of the month in the year, Gregorian leap rule.
int16_t CalendarMonthLength(int16_t year, int16_t month);

// The weekday header for the language code: "SPA" and "GLG"
// " L  M  X  J  V  S  D", "OCI" "DL DT DC DJ DD DS DG", any other (Catalan)
// "DL DT DC DJ DV DS DG". Must match the grid's Monday-first columns.
std::string WeekdayHeader(const std::string& language);

// The 42 cells of the month's grid: the day number in the cells of the
// month's days, 0 in the cells before the first and after the last.
std::array<int16_t, kCalendarCells> MonthGrid(int16_t year, int16_t month);

// Cell 0..41 of the day in its month's grid.
int CalendarCell(const CalendarDay& day);

struct CalendarPlace {
  int16_t row = 0;
  int16_t col = 0;
  bool operator==(const CalendarPlace&) const = default;
};

// The title row of the month in the quarter view: 2, 9 or 16.
int16_t MonthTitleRow(int16_t month);
// The window-relative cell of the day in the quarter view of its own quarter.
CalendarPlace DayPlace(const CalendarDay& day);
// The window-relative place of cell g of the month's grid.
CalendarPlace CellPlace(int16_t month, int cell);
// Columns of the year text (6 characters) and of a month title of the given
// length, from the window's first and last column inside the frame.
int16_t YearColumn(int16_t first_col, int16_t last_col);
int16_t TitleColumn(int16_t first_col, int16_t last_col, int title_length);
// " YYYY ": the year line.
std::string YearText(int16_t year);

// The picker's moves of the highlighted day.
enum class CalendarMove {
  kNextDay,          // Right
  kPreviousDay,      // Left
  kNextWeek,         // Down
  kPreviousWeek,     // Up
  kNextQuarter,      // PgDn: three months on, the day cut to the month
  kPreviousQuarter,  // PgUp
  kFirstMonth,       // Home: January of the same year, same day
  kLastMonth,        // End: December of the same year, same day
};

struct CalendarMoveResult {
  CalendarDay day;
  // True when the quarter shown (or its year) changed, so the picker draws
  // the whole quarter again.
  bool redraw = false;
};

// The day after the move. The day always stays within its month. A move
// that would leave years kCalendarFirstYear..kCalendarLastYear leaves the
// day where it is. REQUIRES: IsValidCalendarDay(from).
CalendarMoveResult MoveCalendarDay(const CalendarDay& from, CalendarMove move);

}  // namespace format

#endif  // TELVORAN_FORMAT_CALENDAR_H_
