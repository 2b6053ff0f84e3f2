// CalendarPick: the pop-up calendar of the console kit. It shows one quarter
// of a year in a single-line window at the right edge of the screen (rows
// 1..24, columns 59..80), starts on the working date of the module-wide
// settings, lets the user move the highlighted day with the cursor keys
// across months and years, and returns the chosen date as the numeric
// written date, so that the key layer can type it into the field being
// edited (the Alt+C hot key). The layout and the moves are the calendar
// model of format/calendar.h. Keeps nothing between runs; single-threaded.
#ifndef TELVORAN_CONSOLE_CALENDAR_PICK_H_
#define TELVORAN_CONSOLE_CALENDAR_PICK_H_

#include <string>

#include "format/calendar.h"

namespace console {

// The picker's window, frame included (absolute screen coordinates).
inline constexpr int kCalendarTop = 1;
inline constexpr int kCalendarLeft = 59;
inline constexpr int kCalendarBottom = 24;
inline constexpr int kCalendarRight = 80;

// Runs the picker: F, f or Alt+F returns WrittenDate(day, 0, "dma") (ten
// characters, in the configured order and separator), Esc the empty text.
// The caller's colour and cursor are restored on return; the exit-key
// map is not touched.
std::string CalendarPick();

// The day the picker starts on: the working date of the module-wide
// settings, or the local date of the platform when the working date is
// empty or not a valid day (and 1 January 2000 when even that is not).
format::CalendarDay CalendarStartDay();

}  // namespace console

#endif  // TELVORAN_CONSOLE_CALENDAR_PICK_H_
