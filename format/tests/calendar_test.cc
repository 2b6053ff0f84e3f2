#include "format/calendar.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace format {
namespace {

CalendarDay Day(int y, int m, int d) {
  return CalendarDay{static_cast<int16_t>(y), static_cast<int16_t>(m), static_cast<int16_t>(d)};
}

struct MoveCase {
  CalendarDay from;
  CalendarMove move;
  CalendarDay want;
  bool redraw;
};

TEST(CalendarMoveTest, MovesAcrossMonthsQuartersAndYears) {
  const std::vector<MoveCase> cases = {
      // Within the quarter January-March: no redraw.
      {Day(2024, 1, 31), CalendarMove::kNextDay, Day(2024, 2, 1), false},
      {Day(2024, 2, 1), CalendarMove::kPreviousDay, Day(2024, 1, 31), false},
      {Day(2024, 2, 26), CalendarMove::kNextWeek, Day(2024, 3, 4), false},
      {Day(2024, 3, 4), CalendarMove::kPreviousWeek, Day(2024, 2, 26), false},
      {Day(2024, 2, 28), CalendarMove::kNextDay, Day(2024, 2, 29), false},
      {Day(2023, 2, 28), CalendarMove::kNextDay, Day(2023, 3, 1), false},
      // Into the next or previous quarter.
      {Day(2024, 3, 31), CalendarMove::kNextDay, Day(2024, 4, 1), true},
      {Day(2024, 4, 1), CalendarMove::kPreviousDay, Day(2024, 3, 31), true},
      {Day(2024, 6, 28), CalendarMove::kNextWeek, Day(2024, 7, 5), true},
      // Across the year.
      {Day(2024, 1, 3), CalendarMove::kPreviousWeek, Day(2023, 12, 27), true},
      {Day(2023, 12, 31), CalendarMove::kNextDay, Day(2024, 1, 1), true},
      {Day(2023, 12, 28), CalendarMove::kNextWeek, Day(2024, 1, 4), true},
      // PgUp / PgDn keep the day within the month.
      {Day(2024, 5, 31), CalendarMove::kPreviousQuarter, Day(2024, 2, 29), true},
      {Day(2024, 11, 30), CalendarMove::kNextQuarter, Day(2025, 2, 28), true},
      {Day(2024, 2, 15), CalendarMove::kPreviousQuarter, Day(2023, 11, 15), true},
      {Day(2024, 1, 31), CalendarMove::kNextQuarter, Day(2024, 4, 30), true},
      // Home / End redraw only when the quarter changes.
      {Day(2024, 11, 15), CalendarMove::kFirstMonth, Day(2024, 1, 15), true},
      {Day(2024, 1, 15), CalendarMove::kLastMonth, Day(2024, 12, 15), true},
      {Day(2024, 2, 29), CalendarMove::kFirstMonth, Day(2024, 1, 29), false},
      {Day(2024, 11, 30), CalendarMove::kLastMonth, Day(2024, 12, 30), false},
      // The ends of the calendar: the move does nothing.
      {Day(9999, 12, 31), CalendarMove::kNextDay, Day(9999, 12, 31), false},
      {Day(9999, 11, 10), CalendarMove::kNextQuarter, Day(9999, 11, 10), false},
      {Day(1, 1, 3), CalendarMove::kPreviousWeek, Day(1, 1, 3), false},
      {Day(1, 2, 3), CalendarMove::kPreviousQuarter, Day(1, 2, 3), false},
  };
  for (const MoveCase& c : cases) {
    CalendarMoveResult got = MoveCalendarDay(c.from, c.move);
    EXPECT_EQ(got.day, c.want) << c.from.year << "-" << c.from.month << "-" << c.from.day
                               << " move " << static_cast<int>(c.move);
    EXPECT_EQ(got.redraw, c.redraw) << c.from.year << "-" << c.from.month << "-" << c.from.day
                                    << " move " << static_cast<int>(c.move);
  }
}

TEST(CalendarMoveTest, EveryDayMoveKeepsAValidDay) {
  // A walk over four years in every direction never leaves a valid day.
  const CalendarMove moves[] = {CalendarMove::kNextDay,     CalendarMove::kPreviousDay,
                                CalendarMove::kNextWeek,    CalendarMove::kPreviousWeek,
                                CalendarMove::kNextQuarter, CalendarMove::kPreviousQuarter,
                                CalendarMove::kFirstMonth,  CalendarMove::kLastMonth};
  CalendarDay day = Day(2023, 1, 1);
  for (int i = 0; i < 1461; ++i) {
    for (CalendarMove move : moves) {
      ASSERT_TRUE(IsValidCalendarDay(MoveCalendarDay(day, move).day));
    }
    day = MoveCalendarDay(day, CalendarMove::kNextDay).day;
  }
  EXPECT_EQ(day, Day(2027, 1, 1));
}

TEST(CalendarLayoutTest, WeekdayHeaderPerLanguage) {
  EXPECT_EQ(WeekdayHeader("CAT"), "DL DT DC DJ DV DS DG");
  EXPECT_EQ(WeekdayHeader("SPA"), " L  M  X  J  V  S  D");
  EXPECT_EQ(WeekdayHeader("GLG"), " L  M  X  J  V  S  D");
  EXPECT_EQ(WeekdayHeader("OCI"), "DL DT DC DJ DD DS DG");
  EXPECT_EQ(WeekdayHeader("ENG"), "DL DT DC DJ DV DS DG");
  EXPECT_EQ(WeekdayHeader(""), "DL DT DC DJ DV DS DG");
}

TEST(CalendarLayoutTest, GridStartsOnTheFirstDaysWeekday) {
  // 1 January 2024 is a Monday, 1 September 2024 a Sunday.
  std::array<int16_t, kCalendarCells> january = MonthGrid(2024, 1);
  EXPECT_EQ(january[0], 1);
  EXPECT_EQ(january[30], 31);
  EXPECT_EQ(january[31], 0);
  std::array<int16_t, kCalendarCells> september = MonthGrid(2024, 9);
  EXPECT_EQ(september[5], 0);
  EXPECT_EQ(september[6], 1);
  EXPECT_EQ(september[35], 30);
  // A 31-day month starting on Sunday reaches the sixth week.
  std::array<int16_t, kCalendarCells> march = MonthGrid(2026, 3);
  EXPECT_EQ(march[6], 1);
  EXPECT_EQ(march[36], 31);
  EXPECT_EQ(CalendarCell(Day(2026, 3, 31)), 36);
}

TEST(CalendarLayoutTest, PlacesInTheQuarterView) {
  EXPECT_EQ(QuarterFirstMonth(1), 1);
  EXPECT_EQ(QuarterFirstMonth(3), 1);
  EXPECT_EQ(QuarterFirstMonth(4), 4);
  EXPECT_EQ(QuarterFirstMonth(12), 10);
  EXPECT_EQ(MonthTitleRow(4), 2);
  EXPECT_EQ(MonthTitleRow(5), 9);
  EXPECT_EQ(MonthTitleRow(12), 16);
  // 31 January 2024 is a Wednesday in the fifth week.
  EXPECT_EQ(DayPlace(Day(2024, 1, 31)), (CalendarPlace{7, 7}));
  // 1 February 2024 is a Thursday in the first week of the second month.
  EXPECT_EQ(DayPlace(Day(2024, 2, 1)), (CalendarPlace{10, 10}));
  // Tuesday 31 March 2026 lies in the sixth week.
  EXPECT_EQ(DayPlace(Day(2026, 3, 31)), (CalendarPlace{22, 4}));
  // The picker's window has columns 60..79 inside its frame.
  EXPECT_EQ(YearColumn(60, 79), 8);
  EXPECT_EQ(TitleColumn(60, 79, 5), 8);
  EXPECT_EQ(TitleColumn(60, 79, 8), 7);
  EXPECT_EQ(YearText(2024), " 2024 ");
  EXPECT_EQ(YearText(987), "  987 ");
}

// Packed dates: one byte per two digits, 0x80 plus their value.
TEST(CalendarDayTest, PackedDatesInAndOut) {
  EXPECT_EQ(PackedFromCalendarDay(Day(2024, 1, 31)), "\x94\x98\x81\x9F");
  EXPECT_EQ(PackedFromCalendarDay(Day(987, 6, 5)), "\x89\xD7\x86\x85");

  struct Case {
    const char* name;
    std::string packed;
    std::optional<CalendarDay> want;
  };
  const Case cases[] = {
      {"31 January 2024", "\x94\x98\x81\x9F", Day(2024, 1, 31)},
      {"29 February of a leap year", "\x94\x98\x82\x9D", Day(2024, 2, 29)},
      {"empty", "", std::nullopt},
      {"all zeros", "\x80\x80\x80\x80", std::nullopt},
      {"29 February of a common year", "\x94\x97\x82\x9D", std::nullopt},
      {"month 13", "\x94\x98\x8D\x81", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<CalendarDay> got = CalendarDayFromPacked(c.packed);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (c.want.has_value()) {
      EXPECT_EQ(*got, *c.want);
    }
  }
}

}  // namespace
}  // namespace format
