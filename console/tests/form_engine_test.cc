#include "console/form_engine.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "console/field_editor.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/tests/kit_test_support.h"
#include "format/dates.h"
#include "format/masks.h"
#include "format/packed.h"
#include "format/written_date.h"
#include "platform/console.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace console {
namespace {

// The keys every test form accepts (Enter, Esc, Up, Down, PgUp, PgDn, F2,
// F4, Ctrl+B, F10).
constexpr char kKeys[] = "d,1b,4800,5000,4900,5100,3c00,3e00,2,4400";

struct FieldLine {
  int16_t row;
  int16_t column;
  std::string label;
  int16_t length;
  int16_t flags = 0;
  int16_t type = 0;
  std::string choices = "";
  int16_t browse = 0;
  int16_t width = 0;
  int16_t trailer = 0;
};

FormDef MakeForm(const std::string& keys, int16_t next, int16_t top, int16_t left, int16_t bottom,
                 int16_t right, const std::vector<FieldLine>& fields) {
  FormDef f;
  f.exit_keys = keys;
  f.next = next;
  f.top = top;
  f.left = left;
  f.bottom = bottom;
  f.right = right;
  f.field_count = static_cast<int16_t>(fields.size());
  f.fields.resize(fields.size() + 1);
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldLine& s = fields[i];
    FieldDef& d = f.fields[i + 1];
    d.attr = {s.row, s.column, s.length, s.width, s.trailer, s.flags, s.type, s.browse};
    d.label = s.label;
    d.choices = s.choices;
    d.value = std::string(static_cast<size_t>(s.length), ' ');
  }
  return f;
}

class FormEngineTest : public ::testing::Test {
 protected:
  FormEngineTest() : use_console_(&con_), use_env_(&env_) {
    config::Settings& s = config::ModuleSettings();
    s.colours = config::ParseColourTable(config::kDefaultColours);
    s.temp_dir = "";
    s.screen_title = " TITOL ";
    s.menu_name = "";
    s.working_date = format::PackDigits("20261208");
    ResumeForm() = 0;
    InstallHooks();
    con_.set_idle_limit(0);
    con_.set_idle_hook([this] {
      if (pauses_.empty()) throw platform::ScriptExhausted();
      seen_.push_back(con_.Dump());
      auto next = std::move(pauses_.front());
      pauses_.pop_front();
      next();
    });
  }
  ~FormEngineTest() override { SetFormHooks(FormHooks()); }

  // Records every completion check; answers_ (front first) refuse or accept,
  // 0 once they run out.
  void InstallHooks() {
    FormHooks hooks;
    hooks.completion = [this](int16_t form, int16_t key) -> int16_t {
      checks_.emplace_back(form, key);
      if (answers_.empty()) return 0;
      const int16_t a = answers_.front();
      answers_.pop_front();
      return a;
    };
    hooks_ = hooks;
    SetFormHooks(hooks);
  }

  void Define(std::vector<FormDef> forms) {
    Forms().forms.assign(1, FormDef());
    for (FormDef& f : forms) Forms().forms.push_back(std::move(f));
  }
  // One window form (rows 5..15, columns 10..70) with these fields.
  void DefineOne(const std::vector<FieldLine>& fields, const std::string& keys = kKeys) {
    Define({MakeForm(keys, 0, 5, 10, 15, 70, fields)});
  }

  // Queues one key code as the console event that produces it.
  void Key(int code) {
    if (code > 0 && code < 256) {
      con_.PushChar(static_cast<uint8_t>(code));
    } else {
      con_.PushScan(static_cast<uint8_t>(code >> 8));
    }
  }
  void Keys(std::initializer_list<int> codes) {
    for (int code : codes) Key(code);
  }
  void Type(const std::string& text) { con_.PushText(text); }
  // Once the keys queued so far are used up, the screen is kept in seen_
  // and `next` queues the following ones.
  void Pause(std::function<void()> next) { pauses_.push_back(std::move(next)); }

  int16_t Run(int16_t form, int16_t may_leave_up = 0, int16_t may_leave_down = 0) {
    int16_t key = 0;
    RunForm(form, may_leave_up, may_leave_down, key);
    return key;
  }
  std::string Value(int form, int field) { return Forms().Value(form, field); }
  bool StackFileExists() { return env_.FileExists("WinPush.tmp"); }

  KitState kit_;  // first made, last gone
  testsupport::ScratchDir folder_{"form-engine-test"};
  platform::MemoryConsole con_{25, 80};
  platform::FakeEnv env_{folder_.path()};
  platform::ScopedConsoleOverride use_console_;
  platform::ScopedEnvOverride use_env_;
  FormHooks hooks_;
  std::deque<std::function<void()>> pauses_;
  std::vector<std::string> seen_;
  std::vector<std::pair<int16_t, int16_t>> checks_;
  std::deque<int16_t> answers_;
};

using Checks = std::vector<std::pair<int16_t, int16_t>>;

// --- Drawing -----------------------------------------------------------------

TEST_F(FormEngineTest, DrawsTitleFrameLabelsAndValuesInTheirColours) {
  DefineOne({{2, 3, "Data ...... ", 10, 0, kFieldTypeDate},
             {3, 3, "Nombre .... ", 4, 0, kFieldTypeNumber},
             {4, 3, "Resposta .. ", 1, 0, 0, "|N,No|S,S\xA1", 0, 0, 2},
             {5, 3, "Clau ...... ", 6, kFieldHidden}});
  Forms().SetValue(1, 1, "050324");
  Forms().SetValue(1, 2, "12");
  Forms().SetValue(1, 3, "S");
  Forms().SetValue(1, 4, "SECRET");
  WinPush(5, 10, 15, 70);
  DrawFrame(2);
  DrawForm(1);
  EXPECT_EQ(con_.Dump(1, 16),
            "                                     TITOL\n"
            "\n"
            "\n"
            "\n"
            "         ╔═══════════════════════════════════════════════════════════╗\n"
            "         ║                                                           ║\n"
            "         ║  Data ...... 5/3/2024                                     ║\n"
            "         ║  Nombre .... 12                                           ║\n"
            "         ║  Resposta .. Sí                                           ║\n"
            "         ║  Clau ......                                              ║\n"
            "         ║                                                           ║\n"
            "         ║                                                           ║\n"
            "         ║                                                           ║\n"
            "         ║                                                           ║\n"
            "         ╚═══════════════════════════════════════════════════════════╝\n"
            "\n");
  // Title in colour index 2 (0 on 7), labels in index 1 (7 on 0), values in
  // index 0 (15 on 0).
  EXPECT_EQ(con_.DumpAttributes(1, 1).substr(36 * 2, 7 * 2), "70707070707070");
  EXPECT_EQ(con_.DumpAttributes(7, 7).substr(12 * 2, 2), "07");
  EXPECT_EQ(con_.DumpAttributes(7, 7).substr(24 * 2, 2), "0f");
  WinPop();
}

struct TitleCase {
  const char* title;
  int column;
};

class TitleCentring : public FormEngineTest, public ::testing::WithParamInterface<TitleCase> {};

// Column 41 minus half the length, halves rounded to even.
TEST_P(TitleCentring, HalvesRoundToEven) {
  config::ModuleSettings().screen_title = GetParam().title;
  Define({MakeForm(kKeys, 0, 0, 0, 0, 0, {})});
  DrawForm(1);
  const std::string row = con_.RowText(1);
  EXPECT_EQ(row.find_first_not_of(' ') + 1, static_cast<size_t>(GetParam().column));
}

INSTANTIATE_TEST_SUITE_P(Lengths, TitleCentring,
                         ::testing::Values(TitleCase{"xABCx", 39},     // 2.5 -> 2
                                           TitleCase{"xABCDx", 38},    // 3
                                           TitleCase{"xABCDEx", 37},   // 3.5 -> 4
                                           TitleCase{"xABCDEFx", 37},  // 4
                                           TitleCase{"xABCDEFGx", 37}  // 4.5 -> 4
                                           ));

// --- StoreField ------------------------------------------------------------

struct StoreCase {
  const char* name;
  int16_t type;
  int16_t length;
  const char* typed;
  int16_t result;
  const char* stored;  // the value afterwards ("----" before)
};

class StoreByType : public FormEngineTest, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(StoreByType, ValidatesAndStoresPaddedOrCut) {
  const StoreCase& c = GetParam();
  Define({MakeForm(kKeys, 0, 0, 0, 0, 0, {{2, 1, "", c.length, 0, c.type}})});
  Forms().Field(1, 1).value = std::string(static_cast<size_t>(c.length), '-');
  EXPECT_EQ(StoreField(1, c.typed, 1, 0), c.result);
  EXPECT_EQ(Value(1, 1), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Types, StoreByType,
    ::testing::Values(
        // Dates are stored in their edit form; blanks take the working date.
        StoreCase{"DateTyped", kFieldTypeDate, 10, "5/3/24    ", 0, "050324    "},
        StoreCase{"DateRunTogether", kFieldTypeDate, 10, "05031924", 0, "05031924  "},
        StoreCase{"DateBlank", kFieldTypeDate, 10, "          ", 0, "081226    "},
        StoreCase{"DateImpossible", kFieldTypeDate, 10, "31/02/24  ", -1, "----------"},
        StoreCase{"DateWithoutYear", kFieldTypeDate, 10, "5/3       ", -1, "----------"},
        // Numbers: digits and blanks only.
        StoreCase{"Number", kFieldTypeNumber, 4, "12  ", 0, "12  "},
        StoreCase{"NumberBlank", kFieldTypeNumber, 4, "    ", 0, "    "},
        StoreCase{"NumberSign", kFieldTypeNumber, 4, "-1  ", -1, "----"},
        StoreCase{"NumberPoint", kFieldTypeNumber, 4, "1.5 ", -1, "----"},
        StoreCase{"NumberLetter", kFieldTypeNumber, 4, "1a  ", -1, "----"},
        // Number or P: P in either case, stored as typed.
        StoreCase{"NumberOrPLowerP", kFieldTypeNumberOrP, 3, "p  ", 0, "p  "},
        StoreCase{"NumberOrPBlanksAroundP", kFieldTypeNumberOrP, 3, " P ", 0, " P "},
        StoreCase{"NumberOrPDigits", kFieldTypeNumberOrP, 3, "7  ", 0, "7  "},
        StoreCase{"NumberOrPOther", kFieldTypeNumberOrP, 3, "x  ", -1, "---"},
        // Texts: anything, cut or padded to the length.
        StoreCase{"TextCut", 0, 4, "ABCDEFG", 0, "ABCD"},
        StoreCase{"TextPadded", 0, 4, "AB", 0, "AB  "}),
    [](const ::testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

TEST_F(FormEngineTest, StoreFieldRedrawsTheFieldInItsDisplayForm) {
  Define({MakeForm(kKeys, 0, 0, 0, 0, 0, {{2, 1, "D: ", 10, 0, kFieldTypeDate}})});
  EXPECT_EQ(StoreField(1, "5/3/24", 1, 0), 0);
  // The value only: labels are DrawForm's.
  EXPECT_EQ(con_.RowText(2).substr(0, 13), "   5/3/2024  ");
  EXPECT_EQ(CurrentColour(), 0);
}

// --- Editing and validation ------------------------------------------------

TEST_F(FormEngineTest, BlankDateIsFilledWithTheWorkingDateWhenLeft) {
  DefineOne({{2, 3, "Data: ", 10, 0, kFieldTypeDate}, {3, 3, "Nom: ", 4}});
  Keys({kKeyEnter, kKeyCtrlB});
  EXPECT_EQ(Run(1), kKeyCtrlB);
  EXPECT_EQ(Value(1, 1), "081226    ");
  EXPECT_EQ(con_.beeps(), 0);
}

TEST_F(FormEngineTest, InvalidDateBeepsAndKeepsTheUserInTheField) {
  DefineOne({{2, 3, "Data: ", 10, 0, kFieldTypeDate}, {3, 3, "Nom: ", 4}});
  Type("31/02/24");
  Key(kKeyEnter);
  Pause([&] {
    // Still the date field: blank it and type a good date.
    Key(kKeyCtrlY);
    Type("1/2/24");
    Keys({kKeyEnter, 'n', kKeyCtrlB});
  });
  EXPECT_EQ(Run(1), kKeyCtrlB);
  EXPECT_EQ(con_.beeps(), 1);
  EXPECT_EQ(Value(1, 1), "010224    ");
  EXPECT_EQ(Value(1, 2), "n   ");
  // Shown in the numeric form once stored.
  EXPECT_EQ(Forms().Field(1, 1).value.size(), 10u);
}

TEST_F(FormEngineTest, NumberOrPFieldAcceptsALowerCaseP) {
  DefineOne({{2, 3, "Copies: ", 3, 0, kFieldTypeNumberOrP}, {3, 3, "Nom: ", 4}});
  Keys({'x', kKeyEnter});  // rejected
  Pause([&] { Keys({'p', kKeyEnter, kKeyCtrlB}); });
  Run(1);
  EXPECT_EQ(con_.beeps(), 1);
  EXPECT_EQ(Value(1, 1), "p  ");
}

TEST_F(FormEngineTest, EscGoesBackToTheFirstFieldWithoutStoringAndEndsThere) {
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 4}});
  Forms().SetValue(1, 2, "bbbb");
  Keys({kKeyEnter, 'z', kKeyEsc});
  Pause([&] { Key(kKeyEsc); });
  EXPECT_EQ(Run(1), kKeyEsc);
  EXPECT_EQ(Value(1, 2), "bbbb");
  // On the second Esc the form was back on field 1 and field 2 had been
  // redrawn from its stored value.
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_NE(seen_[0].find("B: bbbb"), std::string::npos);
  EXPECT_EQ((checks_), (Checks{{1, kKeyEsc}}));
}

TEST_F(FormEngineTest, HiddenFieldShowsXStartsBlankAndKeepsTheStoredValueWhenLeftBlank) {
  DefineOne({{2, 3, "Clau: ", 6, kFieldHidden}, {3, 3, "Nom: ", 4}});
  Forms().SetValue(1, 1, "SECRET");
  Pause([&] { Keys({kKeyEnter, kKeyCtrlB}); });
  Run(1);
  EXPECT_EQ(Value(1, 1), "SECRET");
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_NE(seen_[0].find("Clau: XXXXXX"), std::string::npos);

  // Typed text replaces it; the field again starts blank and never shows
  // the stored text.
  Type("NEW");
  Pause([&] { Keys({kKeyEnter, kKeyCtrlB}); });
  Run(1);
  EXPECT_EQ(Value(1, 1), "NEW   ");
  for (const std::string& screen : seen_) EXPECT_EQ(screen.find("SECRET"), std::string::npos);
  EXPECT_EQ(HiddenMask(), 0);
}

TEST_F(FormEngineTest, ClickOnAnotherFieldsLabelMovesThereAndOutsideChangesNothing) {
  // Window at row 5, column 10: field 2's label starts at row 9, column 13.
  DefineOne({{2, 3, "Nom: ", 6}, {4, 3, "Cognom: ", 6}});
  con_.PushMouse(12, 40, 1);  // inside the window, on no field
  Key('Y');
  con_.PushMouse(9, 13, 1);
  Keys({'X', kKeyCtrlB});
  EXPECT_EQ(Run(1), kKeyCtrlB);
  EXPECT_EQ(Value(1, 1), "Y     ");
  EXPECT_EQ(Value(1, 2), "X     ");
}

TEST_F(FormEngineTest, ClickOnTheLastRowOfAWrappedFieldMovesThere) {
  // Ten characters four to a row: the third row holds the last two.
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 10, 0, 0, "", 0, 4}});
  con_.PushMouse(5 + 5, 10 + 3, 1);
  Keys({'W', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 2), "W         ");
}

TEST_F(FormEngineTest, ClickOnAWrappedFieldShorterThanOneRowMovesThere) {
  // Three characters, ten to a row: one row, which a click must still find.
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 3, 0, 0, "", 0, 10}});
  con_.PushMouse(5 + 3, 10 + 6, 1);
  Keys({'W', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 2), "W  ");
}

TEST_F(FormEngineTest, ClicksInAFormWithoutAWindowAreRelativeToTheWindowOpen) {
  WinPush(3, 3, 20, 70);
  DefineOne({{2, 3, "A: ", 4}, {6, 3, "B: ", 4}});
  Forms().forms[1].top = 0;
  con_.PushMouse(3 + 6, 3 + 4, 1);
  Keys({'b', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 2), "b   ");
  EXPECT_EQ(WindowDepth(), 1);
  WinPop();
}

TEST_F(FormEngineTest, TrailerIsBlankedWhileEditingAndAChoiceShowsItsLabelOverIt) {
  // No window of its own: what is on the screen stays until the form
  // blanks it.
  Define({MakeForm(
      kKeys, 0, 0, 0, 0, 0,
      {{2, 1, "T: ", 3, 0, 0, "", 0, 0, 2}, {3, 1, "X: ", 1, 0, 0, "|A,Alfa|B,Beta", 0, 0, 3}})});
  Forms().SetValue(1, 1, "abc");
  Forms().SetValue(1, 2, "A");
  con_.SetCursor(2, 7);
  con_.Write("##");
  Pause([&] { Keys({kKeyEnter, kKeyRight, kKeyEnter}); });
  EXPECT_EQ(Run(1), kKeyEnter);
  ASSERT_EQ(seen_.size(), 1u);
  // The "##" after field 1 is gone; field 2 shows its label.
  EXPECT_EQ(seen_[0].substr(seen_[0].find("T: "), 15), "T: abc\nX: Alfa\n");
  EXPECT_EQ(Value(1, 2), "B");
  EXPECT_EQ(con_.RowText(3).substr(0, 8), "X: Beta ");
}

TEST_F(FormEngineTest, HiddenFieldWithATrailerNeverShowsTheTypedText) {
  DefineOne({{2, 3, "Clau: ", 6, kFieldHidden, 0, "", 0, 0, 2}, {3, 3, "Nom: ", 4}});
  Type("PASS");
  Key(kKeyEnter);
  Pause([&] { Key(kKeyCtrlB); });
  Run(1);
  EXPECT_EQ(Value(1, 1), "PASS  ");
  ASSERT_EQ(seen_.size(), 1u);
  // On field 2: field 1 was written over with the mask and its trailer
  // blanked, and the stored value drew nothing over it.
  EXPECT_NE(seen_[0].find("Clau: XXXXXX  "), std::string::npos) << seen_[0];
  EXPECT_EQ(seen_[0].find("PASS"), std::string::npos);
}

TEST_F(FormEngineTest, CursorAfterTextFlagStartsEditingAfterTheStoredText) {
  constexpr int16_t kCursorAfterText = 8;
  DefineOne({{2, 3, "A: ", 6, kCursorAfterText}, {3, 3, "B: ", 6}});
  Forms().SetValue(1, 1, "ab");
  Forms().SetValue(1, 2, "cd");
  Keys({'x', kKeyEnter, 'y', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 1), "abx   ");
  EXPECT_EQ(Value(1, 2), "yd    ");  // overwrite from position 1
}

TEST_F(FormEngineTest, DisplayOnlyFieldsAreSkippedInTheDirectionOfTravel) {
  DefineOne(
      {{2, 3, "A: ", 4}, {3, 3, "B: ", 4, kFieldDisplayOnly, kFieldTypeNumber}, {4, 3, "C: ", 4}});
  // Not a valid number, but never checked: it is never edited, so it cannot
  // keep the user beeping on a field they cannot change.
  Forms().SetValue(1, 2, "-1");
  Keys({kKeyDown, 'c', kKeyUp, 'a', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 1), "a   ");
  EXPECT_EQ(Value(1, 2), "-1  ");
  EXPECT_EQ(Value(1, 3), "c   ");
  EXPECT_EQ(con_.beeps(), 0);
}

TEST_F(FormEngineTest, StartBlankFieldLeftBlankKeepsItsValue) {
  DefineOne({{2, 3, "A: ", 4, kFieldStartsBlank}, {3, 3, "B: ", 4}});
  Forms().SetValue(1, 1, "old");
  Keys({kKeyEnter, kKeyUp, 'n', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 1), "n   ");
  Keys({kKeyEnter, kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 1), "n   ");
}

// --- The move table --------------------------------------------------------

struct MoveCase {
  const char* name;
  std::vector<int> keys;  // pressed on field 2 of 3
  int field;              // where the next typed text lands
};

class MoveTable : public FormEngineTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveTable, MovesBetweenFields) {
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 4}, {4, 3, "C: ", 4}});
  Key(kKeyEnter);
  for (int k : GetParam().keys) Key(k);
  Keys({'Q', kKeyCtrlB});
  EXPECT_EQ(Run(1), kKeyCtrlB);
  for (int field = 1; field <= 3; ++field) {
    EXPECT_EQ(Value(1, field), field == GetParam().field ? "Q   " : "    ") << field;
  }
  EXPECT_EQ(ResumeForm(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MoveTable,
    ::testing::Values(MoveCase{"Down", {kKeyDown}, 3},
                      MoveCase{"DownOnLast", {kKeyDown, kKeyDown}, 3}, MoveCase{"Up", {kKeyUp}, 1},
                      MoveCase{"UpOnFirst", {kKeyUp, kKeyUp}, 1}, MoveCase{"Enter", {kKeyEnter}, 3},
                      MoveCase{"PgUp", {kKeyPgUp}, 1},
                      MoveCase{"PgUpOnFirstMayNotLeave", {kKeyPgUp, kKeyPgUp}, 1},
                      MoveCase{"PgDn", {kKeyPgDn}, 3},
                      MoveCase{"PgDnOnLastMayNotLeave", {kKeyPgDn, kKeyPgDn}, 3},
                      MoveCase{"F2WithoutNextPage", {kKeyF2}, 2}, MoveCase{"Esc", {kKeyEsc}, 1},
                      MoveCase{"F4WithoutList", {kKeyF4}, 2}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

struct EndCase {
  const char* name;
  std::vector<int> keys;  // pressed on field 2 of 2
  int16_t result;
};

class EndingKeys : public FormEngineTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndingKeys, LeaveTheFormWithTheirKey) {
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 4}});
  Key(kKeyEnter);
  for (int k : GetParam().keys) Key(k);
  EXPECT_EQ(Run(1), GetParam().result);
  EXPECT_EQ((checks_), (Checks{{1, GetParam().result}}));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
}

INSTANTIATE_TEST_SUITE_P(Keys, EndingKeys,
                         ::testing::Values(EndCase{"EnterOnLast", {kKeyEnter}, kKeyEnter},
                                           EndCase{"CtrlB", {kKeyCtrlB}, kKeyCtrlB},
                                           EndCase{"OtherExitKey", {kKeyF10}, kKeyF10},
                                           EndCase{"EscTwice", {kKeyEsc, kKeyEsc}, kKeyEsc}),
                         [](const ::testing::TestParamInfo<EndCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(FormEngineTest, EnterLeavesAsEndWhenEndIsAnExitKey) {
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 4}}, "d,1b,4f00");
  Keys({'e', kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnd);
  EXPECT_EQ(Value(1, 1), "e   ");
}

TEST_F(FormEngineTest, PgUpOnTheFirstFieldLeavesWhenAllowedAndNamesTheForm) {
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 4}});
  Keys({kKeyEnter, kKeyPgUp, kKeyPgUp});
  EXPECT_EQ(Run(1, 1, 0), kKeyPgUp);
  EXPECT_EQ(ResumeForm(), 1);
  Keys({kKeyPgDn, kKeyPgDn});
  EXPECT_EQ(Run(1, 0, 1), kKeyPgDn);
  EXPECT_EQ(ResumeForm(), 1);
}

// --- Continuation pages ----------------------------------------------------

class ChainedForms : public FormEngineTest {
 protected:
  ChainedForms() {
    Define({MakeForm(kKeys, 2, 3, 5, 8, 60, {{2, 3, "A: ", 4}, {3, 3, "B: ", 4}}),
            MakeForm(kKeys, 0, 12, 5, 17, 60, {{2, 3, "C: ", 4}, {3, 3, "D: ", 4}})});
  }
};

TEST_F(ChainedForms, PgDnLeavesBothPagesAndTheNextRunResumesOnThePage) {
  Keys({kKeyEnter, kKeyEnter, 'c', kKeyEnter});
  Pause([&] { Key(kKeyPgDn); });
  EXPECT_EQ(Run(1, 1, 1), kKeyPgDn);
  EXPECT_EQ(Value(2, 1), "c   ");
  EXPECT_EQ(ResumeForm(), 2);
  EXPECT_EQ((checks_), (Checks{{2, kKeyPgDn}, {1, kKeyPgDn}}));
  // Both windows were open while page 2 was edited.
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_NE(seen_[0].find("A:"), std::string::npos);
  EXPECT_NE(seen_[0].find("D:"), std::string::npos);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());

  // The next run starts on page 2; Up on its first field goes back to page 1,
  // where editing starts at the first field.
  checks_.clear();
  seen_.clear();
  Keys({'x', kKeyEnter, kKeyUp, kKeyUp, 'a', kKeyEnter, kKeyEsc, kKeyEsc});
  EXPECT_EQ(Run(1, 1, 1), kKeyEsc);
  EXPECT_EQ(Value(2, 1), "x   ");
  EXPECT_EQ(Value(1, 1), "a   ");
  EXPECT_EQ(ResumeForm(), 0);
  EXPECT_EQ((checks_), (Checks{{2, kKeyEsc}, {1, kKeyEsc}}));
}

TEST_F(ChainedForms, PgUpOnTheResumedPageLeavesAgainAtOnce) {
  ResumeForm() = 2;
  Keys({kKeyPgUp});
  EXPECT_EQ(Run(1, 1, 1), kKeyPgUp);
  EXPECT_EQ(ResumeForm(), 2);
  EXPECT_EQ((checks_), (Checks{{2, kKeyPgUp}, {1, kKeyPgUp}}));
}

TEST_F(ChainedForms, ResumeFormOffTheChainIsForgotten) {
  ResumeForm() = 7;
  Keys({'a', kKeyCtrlB});
  Run(1);
  EXPECT_EQ(Value(1, 1), "a   ");
  EXPECT_EQ(ResumeForm(), 0);
}

TEST_F(ChainedForms, EscOnTheNextPageStaysOnTheFieldThatOpenedIt) {
  // F2 opens the next page from any field.
  Keys({kKeyF2, kKeyEsc, 'z', kKeyCtrlB});
  EXPECT_EQ(Run(1), kKeyCtrlB);
  EXPECT_EQ(Value(1, 1), "z   ");
  EXPECT_EQ((checks_), (Checks{{2, kKeyEsc}, {1, kKeyCtrlB}}));
}

TEST_F(ChainedForms, EnterOnTheLastFieldOfTheLastPageEndsEveryPage) {
  Keys({kKeyEnter, kKeyEnter, kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ((checks_), (Checks{{2, kKeyEnter}, {1, kKeyEnter}}));
}

// --- Completion check, F1, F4 ----------------------------------------------

TEST_F(FormEngineTest, RefusedFormRestartsAtTheFirstField) {
  DefineOne({{2, 3, "A: ", 4}, {3, 3, "B: ", 4}});
  answers_ = {-1};
  Keys({kKeyEnter, kKeyEnter, 'Z', kKeyCtrlB});
  EXPECT_EQ(Run(1), kKeyCtrlB);
  EXPECT_EQ(Value(1, 1), "Z   ");
  EXPECT_EQ((checks_), (Checks{{1, kKeyEnter}, {1, kKeyCtrlB}}));
}

TEST_F(FormEngineTest, FormWithoutEditableFieldsIsDrawnCheckedOnceAndClosed) {
  DefineOne({{2, 3, "Nota: ", 4, kFieldDisplayOnly}});
  Forms().SetValue(1, 1, "info");
  answers_ = {-1};  // even a refusal cannot keep it open
  int16_t form = 1, up = 0, down = 0, key = kKeyEnter;
  con_.set_idle_hook(nullptr);  // reading a key would fail the test
  RunForm(form, up, down, key);
  EXPECT_EQ(key, kKeyEnter);
  EXPECT_EQ((checks_), (Checks{{1, kKeyEnter}}));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(FormEngineTest, WindowIsPoppedAndTheScreenUnderItRestored) {
  for (int r = 1; r <= 25; ++r) {
    con_.SetCursor(r, 1);
    con_.Write(std::string(80, static_cast<char>('a' + r % 26)));
  }
  const std::string before = con_.Dump(2, 25);
  DefineOne({{2, 3, "A: ", 4}});
  Keys({'q', kKeyEnter});
  Run(1);
  EXPECT_EQ(con_.Dump(2, 25), before);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(FormEngineTest, F1ShowsTheMenuTopicAndKeepsTheTypedText) {
  std::vector<std::string> topics;
  hooks_.help = [&](const std::string& topic) { topics.push_back(topic); };
  SetFormHooks(hooks_);
  config::ModuleSettings().menu_name = "AJUDA   ";
  DefineOne({{2, 3, "A: ", 4}});
  Keys({'a', 'b', kKeyF1, kKeyCtrlB});
  Run(1);
  EXPECT_EQ(topics, std::vector<std::string>{"AJUDA"});
  EXPECT_EQ(Value(1, 1), "ab  ");

  // Without a topic the viewer is not called.
  config::ModuleSettings().menu_name = "  ";
  Keys({kKeyF1, kKeyCtrlB});
  Run(1);
  EXPECT_EQ(topics.size(), 1u);
}

TEST_F(FormEngineTest, F4RunsTheBrowseListAndTransfersTheChoice) {
  std::vector<bool> answers = {false, true, true};
  std::vector<int16_t> lists;
  hooks_.browse = [&](int16_t list) {
    lists.push_back(list);
    // The list sets its own exit keys, as the browse list does.
    KeyMap("+ea", "d,1b");
    KeyMap("-", "");
    const bool chosen = answers.front();
    answers.erase(answers.begin());
    return chosen;
  };
  hooks_.browse_transfer = [](int16_t list, int16_t form, int16_t field) {
    EXPECT_EQ(list, 7);
    return StoreField(form, "123", field, 0);
  };
  SetFormHooks(hooks_);
  DefineOne({{2, 3, "A: ", 4, 0, kFieldTypeNumber, "", 7}, {3, 3, "B: ", 4, 0, 0, "", 7}});
  // Leaving the list without a choice beeps and stays; a choice moves on
  // (Down), and on the last field ends the form (Enter).
  Keys({kKeyF4, kKeyF4, kKeyF4});
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ(con_.beeps(), 1);
  EXPECT_EQ(lists, (std::vector<int16_t>{7, 7, 7}));
  EXPECT_EQ(Value(1, 1), "123 ");
  EXPECT_EQ(Value(1, 2), "123 ");
  EXPECT_TRUE(ExitKeyMapEmpty());
}

TEST_F(FormEngineTest, F4WithoutABrowseListRunnerLeavesTheFieldRejected) {
  DefineOne({{2, 3, "A: ", 4, 0, 0, "", 1}});
  Keys({kKeyF4, 'a', kKeyEnter});
  Run(1);
  EXPECT_EQ(con_.beeps(), 1);
  EXPECT_EQ(Value(1, 1), "a   ");
}

// --- The module's own forms ------------------------------------------------

// Forms 1 and 2 as the module form file defines them, and a completion check
// that does what the module's does: form 1 is accepted only when form 2 is
// answered S.
class ModuleForms : public FormEngineTest {
 protected:
  ModuleForms() {
    config::ModuleSettings().screen_title = " GESTI\xE0 DE FINQUES ";
    Define({MakeForm("d,1b,4800,5000,4900,5100,3b00,3e00", 0, 6, 8, 15, 72,
                     {{2, 3, "Data de l'informe ...... ", 10, 0, kFieldTypeDate},
                      {4, 3, "Des de la comunitat .... ", 4, 0, kFieldTypeNumber, "", 1},
                      {4, 34, "pis ", 4, 0, kFieldTypeNumber, "", 2},
                      {5, 3, "Fins a la comunitat .... ", 4, 0, kFieldTypeNumber, "", 1},
                      {5, 34, "pis ", 4, 0, kFieldTypeNumber, "", 3},
                      {7, 3, "C\x95pies per comunitat (0 = una per propietari) ", 3, 0,
                       kFieldTypeNumber}}),
            MakeForm("d,1b", 0, 17, 18, 19, 62,
                     {{1, 3, "Confirmeu la impressi\xA2 (S/N) ", 1, 0, 0, "|N,No|S,S\xA1"}})});
    Forms().SetValue(1, 1, format::DateToEditText(config::ModuleSettings().working_date));
    Forms().SetValue(1, 2, "1");
    Forms().SetValue(1, 3, "0");
    Forms().SetValue(1, 4, "999");
    Forms().SetValue(1, 5, "999");
    Forms().SetValue(1, 6, "1");
    hooks_.completion = [this](int16_t form, int16_t key) -> int16_t {
      checks_.emplace_back(form, key);
      if (key == kKeyEsc || form != 1) return 0;
      Forms().SetValue(2, 1, "");
      Run(2);
      return Value(2, 1) == "S" ? 0 : -1;
    };
    SetFormHooks(hooks_);
  }
};

TEST_F(ModuleForms, ParameterFormThenConfirmation) {
  Pause([&] { Keys({kKeyEnter, kKeyEnter, kKeyEnter, kKeyEnter, kKeyEnter, kKeyEnter}); });
  Pause([&] { Keys({'S', kKeyEnter}); });
  EXPECT_EQ(Run(1), kKeyEnter);
  ASSERT_EQ(seen_.size(), 2u);
  // Form 1 while its first field is edited.
  EXPECT_EQ(seen_[0],
            "                               GESTIÓ DE FINQUES\n"
            "\n\n\n\n"
            "       ╔═══════════════════════════════════════════════════════════════╗\n"
            "       ║                                                               ║\n"
            "       ║  Data de l'informe ...... 081226                              ║\n"
            "       ║                                                               ║\n"
            "       ║  Des de la comunitat .... 1     pis 0                         ║\n"
            "       ║  Fins a la comunitat .... 999   pis 999                       ║\n"
            "       ║                                                               ║\n"
            "       ║  Còpies per comunitat (0 = una per propietari) 1              ║\n"
            "       ║                                                               ║\n"
            "       ╚═══════════════════════════════════════════════════════════════╝\n"
            "\n\n\n\n\n\n\n\n\n\n");
  // Form 2 over it, with the first answer (No) offered between the editor's
  // arrows (code page 850 bytes 0x11 and 0x10, the first over the label's
  // last blank).
  EXPECT_NE(seen_[1].find("Confirmeu la impressió (S/N)\x11No\x10"), std::string::npos) << seen_[1];
  EXPECT_NE(seen_[1].find("Data de l'informe ...... 8/12/2026"), std::string::npos);
  EXPECT_EQ(Value(2, 1), "S");
  // Form 1's check runs form 2, whose own check comes inside it.
  EXPECT_EQ((checks_), (Checks{{1, kKeyEnter}, {2, kKeyEnter}}));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(ModuleForms, AnswerNoReturnsToTheParameterFormWithItsValues) {
  Keys({kKeyEnter, '2', kKeyEnter, kKeyEnter, kKeyEnter, kKeyEnter, kKeyEnter});
  Pause([&] { Keys({'N', kKeyEnter}); });
  Pause([&] { Key(kKeyEsc); });  // back on field 1 of form 1
  EXPECT_EQ(Run(1), kKeyEsc);
  EXPECT_EQ(con_.beeps(), 0);
  EXPECT_EQ(Value(1, 2), "2   ");
  EXPECT_EQ(Value(1, 6), "1  ");
  EXPECT_EQ(Value(2, 1), "N");
  EXPECT_EQ((checks_), (Checks{{1, kKeyEnter}, {2, kKeyEnter}, {1, kKeyEsc}}));
}

}  // namespace
}  // namespace console
