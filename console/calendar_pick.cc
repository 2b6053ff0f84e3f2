#include "console/calendar_pick.h"

#include <cstdint>
#include <optional>

#include "config/settings.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/upper_text.h"
#include "format/written_date.h"
#include "platform/console.h"
#include "platform/env.h"

namespace console {

namespace {

constexpr int16_t kKeyAltF = 0x2100;

std::string DayText(int16_t day) {
  std::string text = std::to_string(day);
  return text.size() < 2 ? " " + text : text;
}

void PrintCell(int16_t month, int cell, const std::string& text) {
  format::CalendarPlace place = format::CellPlace(month, cell);
  Locate(place.row, place.col);
  Print(text);
}

void PrintDay(const format::CalendarDay& day) {
  PrintCell(day.month, format::CalendarCell(day), DayText(day.day));
}

// The year line, the weekday header and the three months of the day's
// quarter.
void DrawQuarter(const format::CalendarDay& day) {
  const std::string& language = config::ModuleSettings().language;
  const int16_t first_col = WindowFirstCol();
  const int16_t last_col = WindowLastCol();
  SetColour("n");
  Locate(0, format::YearColumn(first_col, last_col));
  Print(format::YearText(day.year));
  Locate(1, 1);
  Print(format::WeekdayHeader(language));
  const int16_t first = format::QuarterFirstMonth(day.month);
  for (int16_t m = first; m <= first + 2; ++m) {
    SetColour("n");
    Locate(format::MonthTitleRow(m), 1);
    Print(std::string(last_col - first_col + 1, ' '));
    const std::string title = UpperText(
        format::WrittenDate(format::PackedFromCalendarDay(format::CalendarDay{day.year, m, 1}),
                            format::kDateWords, "m"));
    Locate(format::MonthTitleRow(m),
           format::TitleColumn(first_col, last_col, static_cast<int>(title.size())));
    Print(title);
    SetColour("h");
    const std::array<int16_t, format::kCalendarCells> grid = format::MonthGrid(day.year, m);
    for (int cell = 0; cell < format::kCalendarCells; ++cell) {
      PrintCell(m, cell, grid[cell] == 0 ? "  " : DayText(grid[cell]));
    }
  }
}

std::optional<format::CalendarMove> MoveForKey(int16_t key) {
  switch (key) {
    case kKeyRight:
      return format::CalendarMove::kNextDay;
    case kKeyLeft:
      return format::CalendarMove::kPreviousDay;
    case kKeyDown:
      return format::CalendarMove::kNextWeek;
    case kKeyUp:
      return format::CalendarMove::kPreviousWeek;
    case kKeyPgDn:
      return format::CalendarMove::kNextQuarter;
    case kKeyPgUp:
      return format::CalendarMove::kPreviousQuarter;
    case kKeyHome:
      return format::CalendarMove::kFirstMonth;
    case kKeyEnd:
      return format::CalendarMove::kLastMonth;
    default:
      return std::nullopt;
  }
}

}  // namespace

format::CalendarDay CalendarStartDay() {
  if (std::optional<format::CalendarDay> working =
          format::CalendarDayFromPacked(config::ModuleSettings().working_date)) {
    return *working;
  }
  const platform::CivilDate today = platform::CurrentEnv().Today();
  const format::CalendarDay local{static_cast<int16_t>(today.year),
                                  static_cast<int16_t>(today.month),
                                  static_cast<int16_t>(today.day)};
  if (format::IsValidCalendarDay(local)) return local;
  return format::CalendarDay{2000, 1, 1};
}

std::string CalendarPick() {
  // The picker reads its keys with WaitKey and never edits a field, so the
  // exit-key map is left alone: the map keeps a single saved copy, which the
  // form being edited under the picker already holds, and saving and
  // restoring it here would lose the form's own exit keys.
  SetColour("+n");
  platform::Console& screen = platform::CurrentConsole();
  const int cursor_shape = screen.CursorShape();
  screen.SetCursorShape(0);
  WinPush(kCalendarTop, kCalendarLeft, kCalendarBottom, kCalendarRight);
  DrawFrame(1);

  format::CalendarDay day = CalendarStartDay();
  DrawQuarter(day);
  std::string result;
  for (;;) {
    SetColour("+u");
    PrintDay(day);
    int16_t key = 0;
    WaitKey(key);
    SetColour("-");
    PrintDay(day);
    if (std::optional<format::CalendarMove> move = MoveForKey(key)) {
      format::CalendarMoveResult moved = format::MoveCalendarDay(day, *move);
      day = moved.day;
      if (moved.redraw) DrawQuarter(day);
    } else if (key == 'F' || key == 'f' || key == kKeyAltF) {
      result = format::WrittenDate(format::PackedFromCalendarDay(day), format::kDateNumeric, "dma");
      break;
    } else if (key == kKeyEsc) {
      break;
    }
  }

  WinPop();
  screen.SetCursorShape(cursor_shape);
  SetColour("-");
  return result;
}

}  // namespace console
