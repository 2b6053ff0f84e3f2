#include "console/field_display.h"

#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "console/form_set.h"
#include "console/screen.h"
#include "console/tests/kit_test_support.h"
#include "platform/console.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace console {
namespace {

// One form with one field at row 3, column 5, label "Camp: " (so the value
// starts at column 11).
class FieldDisplayTest : public ::testing::Test {
 protected:
  FieldDisplayTest() : use_console_(&con_), use_env_(&env_) {
    config::ModuleSettings().temp_dir = "";
    config::ModuleSettings().colours = config::ParseColourTable(config::kDefaultColours);
    Forms().forms.resize(2);
    Forms().forms[1].field_count = 1;
    Forms().forms[1].fields.resize(2);
    Dots(3);
  }
  // Fills the row with dots, so blanks written by the field show.
  void Dots(int row) {
    con_.SetCursor(row, 1);
    con_.Write(std::string(40, '.'));
  }

  FieldDef& Define(int16_t length, int16_t type, const std::string& value, int16_t flags = 0,
                   int16_t width = 0, int16_t trailer = 0, const std::string& choices = "") {
    FieldDef& f = Forms().Field(1, 1);
    f.attr = {3, 5, length, width, trailer, flags, type, 0};
    f.label = "Camp: ";
    f.choices = choices;
    f.value = value;
    return f;
  }
  // The cells from the value's start to column 30.
  std::string Shown(int row = 3) { return con_.RowText(row).substr(10, 20); }

  platform::MemoryConsole con_{25, 80};
  testsupport::ScratchDir folder_{"field-display-test"};  // the window stack file's
  platform::FakeEnv env_{folder_.path()};
  platform::ScopedConsoleOverride use_console_;
  platform::ScopedEnvOverride use_env_;
  KitState kit_;
};

struct DisplayCase {
  const char* name;
  int16_t type;
  int16_t length;
  const char* value;
  const char* shown;  // the 20 cells from the value's start
};

class FieldDisplayByType : public FieldDisplayTest,
                           public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(FieldDisplayByType, ShowsTheDisplayForm) {
  const DisplayCase& c = GetParam();
  Define(c.length, c.type, c.value);
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Types, FieldDisplayByType,
    ::testing::Values(
        // Dates: the numeric form in ten cells; what is not a date, ten blanks.
        DisplayCase{"TypedDate", 1, 10, "5/3/24    ", "5/3/2024  .........."},
        DisplayCase{"EditFormDate", 1, 10, "050324    ", "5/3/2024  .........."},
        DisplayCase{"DateWithoutYear", 1, 10, "5/3       ", "          .........."},
        DisplayCase{"BlankDate", 1, 10, "          ", "          .........."},
        // Number or P: 0 and P show as P, others through ZZ9.
        DisplayCase{"LetterP", 3, 3, "P  ", "P  ................."},
        DisplayCase{"BlankNumberOrP", 3, 3, "   ", "P  ................."},
        DisplayCase{"NumberOrP12", 3, 3, "12 ", " 12................."},
        DisplayCase{"NumberOrPOverflow", 3, 4, "1234", "!!!................."},
        // Numbers and plain texts: the value as it is.
        DisplayCase{"Number", 2, 4, "42  ", "42  ................"},
        DisplayCase{"Text", 0, 6, "abc   ", "abc   .............."}),
    [](const ::testing::TestParamInfo<DisplayCase>& info) { return std::string(info.param.name); });

TEST_F(FieldDisplayTest, ChoiceFieldShowsTheLabelInLengthPlusTrailerCells) {
  Define(1, 0, "S", 0, 0, 3, "|N,No|S,S\xA1");
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), "S\xC3\xAD  ...............");  // "Sí" and two blanks

  // A long label is cut at length + trailer.
  Dots(3);
  Define(1, 0, "L", 0, 0, 2, "|L,Llarg|C,Curt");
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), "Lla.................");
}

TEST_F(FieldDisplayTest, ChoiceCodesCompareExactlyAndUnmatchedValuesDrawNothing) {
  // The value is blank padded to the length, so "A " is not the code "A".
  Define(2, 0, "A ", 0, 0, 0, "|A,Alfa|AB,Alfa-beta");
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), "....................");
  Define(2, 0, "AB", 0, 0, 0, "|A,Alfa|AB,Alfa-beta");
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), "Al..................");
  // An entry without a comma has an empty label, and its code does not run
  // on into the next entry.
  Define(2, 0, "ZZ", 0, 0, 1, "|ZZ|Y,Ye");
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), "   .................");
}

TEST_F(FieldDisplayTest, HiddenFieldShowsNothing) {
  Define(6, 0, "SECRET", 2);
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(), "....................");
  EXPECT_EQ(con_.CursorRow(), 3);
  EXPECT_EQ(con_.CursorCol(), 11);
}

TEST_F(FieldDisplayTest, DisplayWidthWrapsTheValueOverRowsAtTheSameColumn) {
  Dots(4);
  Dots(5);
  Define(10, 0, "ABCDEFGHIJ", 0, 4);
  ShowFieldValue(1, 1);
  EXPECT_EQ(Shown(3), "ABCD................");
  EXPECT_EQ(Shown(4), "EFGH................");
  EXPECT_EQ(Shown(5), "IJ..................");
  // The cursor stays after the last character written.
  EXPECT_EQ(con_.CursorRow(), 5);
  EXPECT_EQ(con_.CursorCol(), 13);
}

TEST_F(FieldDisplayTest, WritesInsideTheCurrentWindowInTheCurrentColour) {
  WinPush(10, 20, 20, 60);
  SetColour("n");
  Define(3, 0, "XYZ");
  ShowFieldValue(1, 1);
  // Row 3, column 11 of the window: absolute row 13, column 31.
  EXPECT_EQ(con_.RowText(13).substr(30, 3), "XYZ");
  EXPECT_EQ(con_.ReadCell(13, 31).attr, 0x07);
  WinPop();
}

TEST(FieldNumericValueTest, ReadsNumbersAsUsersTypeThem) {
  EXPECT_EQ(FieldNumericValue(" 1 2 "), 12);
  EXPECT_EQ(FieldNumericValue("-3.5e1x"), -35);
  EXPECT_EQ(FieldNumericValue("7P"), 7);
  EXPECT_EQ(FieldNumericValue("P"), 0);
  EXPECT_EQ(FieldNumericValue(""), 0);
  EXPECT_EQ(FieldNumericValue("1.2.3"), 1.2);
  EXPECT_EQ(FieldNumericValue("1e00002"), 100);  // leading exponent zeros
  EXPECT_EQ(FieldNumericValue("5E000"), 5);
  EXPECT_EQ(FieldNumericValue("5e"), 5);
}

}  // namespace
}  // namespace console
