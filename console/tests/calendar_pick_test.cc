#include "console/calendar_pick.h"

#include <gtest/gtest.h>

#include <string>

#include "console/tests/popup_test_support.h"

namespace console {
namespace {

constexpr uint8_t kScanRight = 0x4D, kScanLeft = 0x4B, kScanUp = 0x48, kScanDown = 0x50,
                  kScanPgUp = 0x49, kScanPgDn = 0x51, kScanHome = 0x47, kScanEnd = 0x4F,
                  kScanF = 0x21;
constexpr uint8_t kAttrPlain = 0x0F;      // "h": the day grid
constexpr uint8_t kAttrHighlight = 0x70;  // "u": the highlighted day

class CalendarPickTest : public PopupTest {
 protected:
  void StartOn(const char* digits) {
    config::ModuleSettings().working_date = format::PackDigits(digits);
  }
  // The picker's window.
  std::string Window() {
    return Region(kCalendarTop, kCalendarLeft, kCalendarBottom, kCalendarRight);
  }
  // The attribute of the day cell at the window-relative place.
  uint8_t CellAttr(format::CalendarPlace p) {
    return AttrAt(kCalendarTop + p.row, kCalendarLeft + p.col);
  }
  std::string CellText(format::CalendarPlace p) {
    return Region(kCalendarTop + p.row, kCalendarLeft + p.col, kCalendarTop + p.row,
                  kCalendarLeft + p.col + 1);
  }
  // Runs the picker over the pushed keys, keeping the screen as it stands
  // when they have run out; Esc then closes it.
  std::string PickAndLook(std::string* window) {
    SnapshotThenClose([this, window] { *window = Window(); });
    return CalendarPick();
  }
};

TEST_F(CalendarPickTest, OpensOnTheWorkingDateInTheQuarterView) {
  std::string window;
  uint8_t highlight = 0, plain = 0;
  SnapshotThenClose([&] {
    window = Window();
    highlight = CellAttr(format::DayPlace({2024, 1, 31}));
    plain = CellAttr(format::DayPlace({2024, 1, 30}));
  });
  EXPECT_EQ(CalendarPick(), "");
  EXPECT_EQ(window, R"(┌─────── 2024 ───────┐
│DL DT DC DJ DV DS DG│
│       GENER        │
│ 1  2  3  4  5  6  7│
│ 8  9 10 11 12 13 14│
│15 16 17 18 19 20 21│
│22 23 24 25 26 27 28│
│29 30 31            │
│                    │
│       FEBRER       │
│          1  2  3  4│
│ 5  6  7  8  9 10 11│
│12 13 14 15 16 17 18│
│19 20 21 22 23 24 25│
│26 27 28 29         │
│                    │
│        MARÇ        │
│             1  2  3│
│ 4  5  6  7  8  9 10│
│11 12 13 14 15 16 17│
│18 19 20 21 22 23 24│
│25 26 27 28 29 30 31│
│                    │
└────────────────────┘
)");
  EXPECT_EQ(highlight, kAttrHighlight);
  EXPECT_EQ(plain, kAttrPlain);
}

TEST_F(CalendarPickTest, RightWithinTheQuarterMovesTheHighlightWithoutRedrawing) {
  uint8_t old_day = 0, new_day = 0;
  std::string mark;
  Steps({[&] {
           // A mark on the title row shows whether the quarter is drawn again.
           con_.SetCursor(kCalendarTop + 2, kCalendarLeft + 1);
           con_.Write("*");
           con_.PushScan(kScanRight);
         },
         [&] {
           old_day = CellAttr(format::DayPlace({2024, 1, 31}));
           new_day = CellAttr(format::DayPlace({2024, 2, 1}));
           mark = Region(kCalendarTop + 2, kCalendarLeft + 1, kCalendarTop + 2, kCalendarLeft + 1);
           con_.PushChar('F');
         }});
  EXPECT_EQ(CalendarPick(), "1/2/2024  ");
  EXPECT_EQ(old_day, kAttrPlain);
  EXPECT_EQ(new_day, kAttrHighlight);
  EXPECT_EQ(mark, "*\n");
}

TEST_F(CalendarPickTest, MovesIntoOtherQuartersRedrawTheView) {
  struct Case {
    const char* start;
    uint8_t scan;
    format::CalendarDay want;
    const char* year_line;
    const char* first_title;
  };
  const Case cases[] = {
      {"20240331",
       kScanRight,
       {2024, 4, 1},
       "┌─────── 2024 ───────┐\n",
       "│       ABRIL        │\n"},
      {"20240103", kScanUp, {2023, 12, 27}, "┌─────── 2023 ───────┐\n", "│      OCTUBRE       │\n"},
      {"20240531",
       kScanPgUp,
       {2024, 2, 29},
       "┌─────── 2024 ───────┐\n",
       "│       GENER        │\n"},
      {"20241130",
       kScanPgDn,
       {2025, 2, 28},
       "┌─────── 2025 ───────┐\n",
       "│       GENER        │\n"},
      {"20241115",
       kScanHome,
       {2024, 1, 15},
       "┌─────── 2024 ───────┐\n",
       "│       GENER        │\n"},
      {"20240115",
       kScanEnd,
       {2024, 12, 15},
       "┌─────── 2024 ───────┐\n",
       "│      OCTUBRE       │\n"},
      {"20241225", kScanDown, {2025, 1, 1}, "┌─────── 2025 ───────┐\n", "│       GENER        │\n"},
      {"20240101",
       kScanLeft,
       {2023, 12, 31},
       "┌─────── 2023 ───────┐\n",
       "│      OCTUBRE       │\n"},
  };
  for (const Case& c : cases) {
    ResetKitState();
    StartOn(c.start);
    std::string year_line, title, day_text;
    uint8_t attr = 0;
    con_.PushScan(c.scan);
    SnapshotThenClose([&] {
      year_line = Region(kCalendarTop, kCalendarLeft, kCalendarTop, kCalendarRight);
      title = Region(kCalendarTop + 2, kCalendarLeft, kCalendarTop + 2, kCalendarRight);
      day_text = CellText(format::DayPlace(c.want));
      attr = CellAttr(format::DayPlace(c.want));
    });
    EXPECT_EQ(CalendarPick(), "") << c.start;
    EXPECT_EQ(year_line, c.year_line) << c.start;
    EXPECT_EQ(title, c.first_title) << c.start;
    EXPECT_EQ(day_text, (c.want.day < 10 ? " " : "") + std::to_string(c.want.day) + "\n")
        << c.start;
    EXPECT_EQ(attr, kAttrHighlight) << c.start;
  }
}

TEST_F(CalendarPickTest, ChoosingReturnsTheNumericDate) {
  StartOn("20241115");
  con_.PushScan(kScanHome);
  con_.PushChar('F');
  EXPECT_EQ(CalendarPick(), "15/1/2024 ");
  // Home then End reach December of the same year; lower-case f and Alt+F
  // choose as well.
  con_.PushScan(kScanHome);
  con_.PushScan(kScanEnd);
  con_.PushChar('f');
  EXPECT_EQ(CalendarPick(), "15/12/2024");
  con_.PushScan(kScanPgUp);
  con_.PushScan(kScanF, platform::kModLeftAlt);
  EXPECT_EQ(CalendarPick(), "15/8/2024 ");
  // The date order and separator come from the user settings.
  testsupport::ResetFormatCells();
  WriteFile("Nuva.ini", "[Usuari]\r\nDatCaracter=-\r\nDatOrdre=AMD\r\n");
  con_.PushChar('F');
  EXPECT_EQ(CalendarPick(), "2024-11-15");
}

TEST_F(CalendarPickTest, EscReturnsNothingAndRestoresTheCaller) {
  con_.SetCursor(5, 5);
  con_.SetCursorShape(50);
  con_.Write("caller text");
  const std::string before = con_.Dump() + con_.DumpAttributes();
  SetColour("+u");
  // A form being edited holds the exit-key map's one saved copy.
  KeyMap("+ea", "d,3e00");
  // Keys the picker does not know, a click and a move first.
  con_.PushChar('x');
  con_.PushChar(13);
  con_.PushMouse(3, 70, 1);
  con_.PushScan(kScanRight);
  con_.PushChar(27);
  EXPECT_EQ(CalendarPick(), "");
  EXPECT_EQ(con_.Dump() + con_.DumpAttributes(), before);
  EXPECT_EQ(con_.CursorShape(), 50);
  EXPECT_EQ(CurrentColour(), 4);
  int16_t target = 0;
  EXPECT_TRUE(ExitKeyLookup(kKeyF4, &target));
  EXPECT_FALSE(ExitKeyLookup(kKeyRight, &target));
  KeyMap("-", "");
  EXPECT_TRUE(ExitKeyMapEmpty());
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(Exists("TMP/WinPush.tmp"));
}

TEST_F(CalendarPickTest, HeaderAndTitlesFollowTheLanguage) {
  struct Case {
    const char* language;
    const char* header;
    const char* title;
  };
  const Case cases[] = {
      {"SPA", "│ L  M  X  J  V  S  D│\n", "│       ENERO        │\n"},
      {"GLG", "│ L  M  X  J  V  S  D│\n", "│      JANEIRO       │\n"},
      {"OCI", "│DL DT DC DJ DD DS DG│\n", "│        GÈR         │\n"},
      {"CAT", "│DL DT DC DJ DV DS DG│\n", "│       GENER        │\n"},
  };
  for (const Case& c : cases) {
    ResetKitState();
    config::ModuleSettings().language = c.language;
    std::string header, title;
    SnapshotThenClose([&] {
      header = Region(kCalendarTop + 1, kCalendarLeft, kCalendarTop + 1, kCalendarRight);
      title = Region(kCalendarTop + 2, kCalendarLeft, kCalendarTop + 2, kCalendarRight);
    });
    CalendarPick();
    EXPECT_EQ(header, c.header) << c.language;
    EXPECT_EQ(title, c.title) << c.language;
  }
}

TEST_F(CalendarPickTest, WithoutAValidWorkingDateStartsOnTheLocalDate) {
  env_.SetToday({2026, 12, 8});
  for (const char* working : {"", "00000000", "20230229", "20241301"}) {
    config::ModuleSettings().working_date = format::PackDigits(working);
    EXPECT_EQ(CalendarStartDay(), (format::CalendarDay{2026, 12, 8})) << working;
  }
  config::ModuleSettings().working_date.clear();
  con_.PushChar('F');
  EXPECT_EQ(CalendarPick(), "8/12/2026 ");
}

TEST_F(CalendarPickTest, AltCTypesTheChosenDateAsPendingKeys) {
  SetCalendarHook(CalendarPick);
  con_.PushScan(0x2E, platform::kModLeftAlt);  // Alt+C
  con_.PushScan(kScanRight);
  con_.PushChar('F');
  int16_t key = 0;
  WaitKey(key);
  EXPECT_EQ(key, kKeyAltC);
  std::string typed;
  for (int i = 0; i < 10; ++i) {
    WaitKey(key);
    typed += static_cast<char>(key);
  }
  EXPECT_EQ(typed, "1/2/2024  ");
  EXPECT_TRUE(PendingKeys().empty());
}

}  // namespace
}  // namespace console
