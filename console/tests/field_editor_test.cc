#include "console/field_editor.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/tests/kit_test_support.h"
#include "platform/console.h"
#include "testsupport/scratch_dir.h"

namespace console {
namespace {

using platform::kModLeftAlt;
using platform::kModLeftCtrl;

// Row `row` (1-based) of a Dump().
std::string Line(const std::string& dump, int row) {
  size_t start = 0;
  for (int r = 1; r < row; ++r) start = dump.find('\n', start) + 1;
  return dump.substr(start, dump.find('\n', start) - start);
}

// What the editor showed while it waited for a key.
struct Seen {
  int row = 0;
  int col = 0;
  int shape = 0;
  std::string screen;
};

class FieldEditorTest : public ::testing::Test {
 protected:
  FieldEditorTest() : use_(&con_) {
    config::ModuleSettings().colours = config::ParseColourTable(config::kDefaultColours);
    platform::SetClipboardText("");
  }

  // Queues one key code as the console event that produces it.
  void Key(int code) {
    switch (code) {
      case kKeyCtrlLeft:
        con_.PushScan(0x4B, kModLeftCtrl);
        return;
      case kKeyCtrlRight:
        con_.PushScan(0x4D, kModLeftCtrl);
        return;
      case kKeyCtrlHome:
        con_.PushScan(0x47, kModLeftCtrl);
        return;
      case kKeyCtrlF4:
        con_.PushScan(0x3E, kModLeftCtrl);
        return;
      case kKeyAltF4:
        con_.PushScan(0x3E, kModLeftAlt);
        return;
      default:
        if (code > 0 && code < 256) {
          con_.PushChar(static_cast<uint8_t>(code));
        } else {
          con_.PushScan(static_cast<uint8_t>(code >> 8));
        }
    }
  }
  void Keys(std::initializer_list<int> codes) {
    for (int code : codes) Key(code);
  }

  // Pauses: once the keys queued so far are used up, the editor's cursor and
  // screen are recorded in seen_ and `next` queues the following keys.
  void Pause(std::function<void()> next) { pauses_.push_back(std::move(next)); }

  int16_t Edit(int16_t row, int16_t col, int16_t width, std::string& text, int16_t& pos) {
    con_.set_idle_limit(0);
    con_.set_idle_hook([this] {
      if (pauses_.empty()) throw platform::ScriptExhausted();
      seen_.push_back({con_.CursorRow(), con_.CursorCol(), con_.CursorShape(), con_.Dump()});
      auto next = std::move(pauses_.front());
      pauses_.pop_front();
      next();
    });
    row_ = row;
    col_ = col;
    width_ = width;
    int16_t key = 0;
    EditField(row_, col_, width_, text, pos, key);
    return key;
  }

  platform::MemoryConsole con_{25, 80};
  platform::ScopedConsoleOverride use_;
  KitState kit_;
  std::deque<std::function<void()>> pauses_;
  std::vector<Seen> seen_;
  int16_t row_ = 0, col_ = 0, width_ = 0;
};

// --- Start and layout ------------------------------------------------------

TEST_F(FieldEditorTest, DefaultsComeFromTheCursorAndTheTextLength) {
  con_.SetCursor(7, 12);
  std::string text = "ABC";
  int16_t pos = 9;
  Key(kKeyEnter);
  EXPECT_EQ(Edit(0, 0, 0, text, pos), kKeyEnter);
  EXPECT_EQ(row_, 7);
  EXPECT_EQ(col_, 12);
  EXPECT_EQ(width_, 4);
  EXPECT_EQ(pos, 4);  // clamped to N + 1
  EXPECT_EQ(con_.RowText(7).substr(11, 3), "ABC");
  // The field stays in the editing colour (0 on 7); the editor ends in "h".
  EXPECT_EQ(con_.DumpAttributes(7, 7).substr(22, 8), "70707007");
  EXPECT_EQ(CurrentColour(), 0);
  EXPECT_EQ(con_.CursorRow(), 7);
  EXPECT_EQ(con_.CursorCol(), 12);

  pos = -3;
  Key(kKeyEnter);
  Edit(7, 12, 0, text, pos);
  EXPECT_EQ(pos, 1);
}

TEST_F(FieldEditorTest, ThreeRowFieldMovesByRowsAndLeavesAtTheEdges) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += static_cast<char>('a' + i % 26);
  int16_t pos = 5;
  Pause([&] { Key(kKeyDown); });
  Pause([&] { Key(kKeyDown); });
  Pause([&] { Key(kKeyDown); });
  EXPECT_EQ(Edit(3, 5, 20, text, pos), kKeyDown);
  EXPECT_EQ(pos, 45);  // Down from 45 left the field
  ASSERT_EQ(seen_.size(), 3u);
  EXPECT_EQ(seen_[0].row, 3);
  EXPECT_EQ(seen_[0].col, 9);
  EXPECT_EQ(seen_[1].row, 4);  // position 25
  EXPECT_EQ(seen_[1].col, 9);
  EXPECT_EQ(seen_[2].row, 5);  // position 45
  EXPECT_EQ(con_.Dump(3, 6),
            "    abcdefghijklmnopqrst\n"
            "    uvwxyzabcdefghijklmn\n"
            "    opqrstuvwxyzabcdefgh\n"
            "\n");

  // Position 61 is shown just after the third row, not on a fourth one; Up
  // moves a row at a time and leaves from the first row.
  pos = 61;
  Pause([&] { Key(kKeyUp); });
  Pause([&] { Keys({kKeyUp, kKeyUp, kKeyUp}); });
  EXPECT_EQ(Edit(3, 5, 20, text, pos), kKeyUp);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(seen_[3].row, 5);
  EXPECT_EQ(seen_[3].col, 25);
  EXPECT_EQ(seen_[4].row, 5);  // position 41
  EXPECT_EQ(seen_[4].col, 5);
}

TEST_F(FieldEditorTest, InsideAWindowCoordinatesAreWindowRelative) {
  testsupport::ScratchDir dir("field-editor-test");
  config::ModuleSettings().temp_dir = dir.path();
  WinPush(5, 10, 15, 60);
  std::string text = "ABCD";
  int16_t pos = 1;
  con_.PushMouse(7, 15, 1);  // absolute: the third cell of the field
  Key(kKeyEnter);
  Edit(2, 3, 0, text, pos);
  EXPECT_EQ(Line(con_.Dump(), 7), std::string(12, ' ') + "ABCD");
  EXPECT_EQ(pos, 3);

  // Row and column 0 take the cursor's cell, made window-relative.
  con_.SetCursor(9, 30);
  Key(kKeyEnter);
  Edit(0, 0, 0, text, pos);
  EXPECT_EQ(row_, 4);
  EXPECT_EQ(col_, 20);
  WinPop();
}

// --- Typing ----------------------------------------------------------------

TEST_F(FieldEditorTest, InsertModePushesTheLastCharacterOutAndStopsWhenFull) {
  platform::SetInsertToggle(true);
  std::string text = "AB  ";
  int16_t pos = 1;
  Key('x');
  Pause([&] { Key('y'); });
  Pause([&] { Keys({'z', kKeyEnter}); });
  EXPECT_EQ(Edit(2, 1, 0, text, pos), kKeyEnter);
  EXPECT_EQ(text, "xyAB");  // the z found the field full
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(Line(seen_[0].screen, 2), "xAB");
  EXPECT_EQ(seen_[0].shape, 50);
}

TEST_F(FieldEditorTest, OverwriteWritesOnlyTheTypedCellAndIgnoresTheEnd) {
  std::string text = "ABCD";
  int16_t pos = 2;
  Pause([&] {
    EXPECT_EQ(con_.CursorShape(), 100);
    // A mark on another cell of the field survives the typed character.
    con_.SetCursor(1, 4);
    con_.Write("#");
    Keys({'x', kKeyEnd, 'y', kKeyEnter});
  });
  EXPECT_EQ(Edit(1, 1, 0, text, pos), kKeyEnter);
  EXPECT_EQ(text, "AxCD");
  EXPECT_EQ(pos, 5);  // End, then the y at N + 1 was ignored
  EXPECT_EQ(con_.Dump(1, 1), "AxC#\n");
}

TEST_F(FieldEditorTest, InsertKeyTogglesTheKeyboardStateAndTheCursor) {
  std::string text = "AB  ";
  int16_t pos = 1;
  Pause([&] { Key(kKeyInsert); });
  Pause([&] { Keys({'q', kKeyInsert, kKeyEnter}); });
  EXPECT_EQ(Edit(1, 1, 0, text, pos), kKeyEnter);
  EXPECT_EQ(seen_[0].shape, 100);
  EXPECT_EQ(seen_[1].shape, 50);
  EXPECT_EQ(text, "qAB ");
  EXPECT_FALSE(platform::InsertToggle());
  EXPECT_EQ(con_.CursorShape(), 0);  // hidden on return
}

// --- The key table of a text field ----------------------------------------

struct KeyCase {
  const char* name;
  std::string text;
  int16_t pos;
  std::vector<int> keys;  // an Enter follows unless the case leaves itself
  std::string want_text;
  int16_t want_pos;
  int16_t want_key;
};

TEST_F(FieldEditorTest, TextFieldKeyTable) {
  const std::string kWords = "ONE,TWO THREE";
  const std::vector<KeyCase> cases = {
      {"backspace", "ABCD", 3, {kKeyBackspace}, "ACD ", 2, kKeyEnter},
      {"backspace at 1", "ABCD", 1, {kKeyBackspace}, "ABCD", 1, kKeyEnter},
      {"delete", "ABCD", 2, {kKeyDelete}, "ACD ", 2, kKeyEnter},
      {"delete at N+1", "ABCD", 5, {kKeyDelete}, "ABCD", 5, kKeyEnter},
      {"left stops at 1", "ABCD", 2, {kKeyLeft, kKeyLeft}, "ABCD", 1, kKeyEnter},
      {"right stops at N+1", "ABCD", 4, {kKeyRight, kKeyRight}, "ABCD", 5, kKeyEnter},
      {"home", "ABCD", 4, {kKeyHome}, "ABCD", 1, kKeyEnter},
      {"end", "AB D  ", 1, {kKeyEnd}, "AB D  ", 5, kKeyEnter},
      {"ctrl+y", "ABCD", 3, {kKeyCtrlY}, "    ", 1, kKeyEnter},
      {"ctrl+home", "ABCD", 3, {kKeyCtrlHome}, "    ", 1, kKeyEnter},
      {"word right 1", kWords, 1, {kKeyCtrlRight}, kWords, 5, kKeyEnter},
      {"word right 5", kWords, 5, {kKeyCtrlRight}, kWords, 9, kKeyEnter},
      {"word right 9", kWords, 9, {kKeyCtrlRight}, kWords, 14, kKeyEnter},
      {"word right on a separator", kWords, 4, {kKeyCtrlRight}, kWords, 5, kKeyEnter},
      {"word right at N+1 leaves", kWords, 14, {kKeyCtrlRight}, kWords, 14, kKeyCtrlRight},
      {"word left from the end", kWords, 14, {kKeyCtrlLeft}, kWords, 9, kKeyEnter},
      {"word left inside a word", kWords, 11, {kKeyCtrlLeft}, kWords, 9, kKeyEnter},
      {"word left twice", kWords, 9, {kKeyCtrlLeft, kKeyCtrlLeft}, kWords, 1, kKeyEnter},
      {"word left to a word at 2", " AB CD", 5, {kKeyCtrlLeft}, " AB CD", 1, kKeyEnter},
      {"word left at 1 leaves", kWords, 1, {kKeyCtrlLeft}, kWords, 1, kKeyCtrlLeft},
      {"up on one row leaves", "ABCD", 3, {kKeyUp}, "ABCD", 3, kKeyUp},
      {"shift+tab leaves as up", "ABCD", 3, {kKeyShiftTab}, "ABCD", 3, kKeyUp},
      {"tab leaves as enter", "ABCD", 3, {kKeyTab}, "ABCD", 3, kKeyEnter},
      {"ctrl+f4 leaves as esc", "ABCD", 3, {kKeyCtrlF4}, "ABCD", 3, kKeyEsc},
      {"alt+f4 leaves as esc", "ABCD", 3, {kKeyAltF4}, "ABCD", 3, kKeyEsc},
      {"other keys leave", "ABCD", 3, {kKeyF1}, "ABCD", 3, kKeyF1},
      {"del character leaves", "ABCD", 3, {127}, "ABCD", 3, 127},
      {"accented character",
       "ABCD",
       1,
       {0x87},
       "\x87"
       "BCD",
       2,
       kKeyEnter},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (int k : c.keys) Key(k);
    Key(kKeyEnter);
    std::string text = c.text;
    int16_t pos = c.pos;
    EXPECT_EQ(Edit(1, 1, 0, text, pos), c.want_key);
    EXPECT_EQ(text, c.want_text);
    EXPECT_EQ(pos, c.want_pos);
    con_.DiscardInput();
  }
}

// --- Clipboard -------------------------------------------------------------

TEST_F(FieldEditorTest, ClipboardPasteFiltersAndCopyTrims) {
  platform::SetClipboardText(
      std::string("  \tAB\x01"
                  "C\x7f \xff\r\n",
                  13));
  std::string text = "123456";
  int16_t pos = 5;
  Keys({kKeyCtrlV, kKeyEnter});
  Edit(1, 1, 0, text, pos);
  EXPECT_EQ(text, "1234AB");  // "ABC" cut at the end of the text
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(con_.Dump(1, 1), "1234AB\n");

  text = "123456";
  pos = 2;
  Keys({kKeyCtrlV, kKeyEnter});
  Edit(1, 1, 0, text, pos);
  EXPECT_EQ(text, "1ABC56");

  for (std::string clip : {std::string(), std::string("\x01\x02  \x7f")}) {
    platform::SetClipboardText(clip);
    text = "123456";
    pos = 1;
    Keys({kKeyCtrlV, kKeyEnter});
    Edit(1, 1, 0, text, pos);
    EXPECT_EQ(text, "123456");
  }

  // Ctrl+C copies the text without its surrounding blanks.
  text = "  AB C  ";
  Keys({kKeyCtrlC, kKeyEnter});
  Edit(1, 1, 0, text, pos);
  EXPECT_EQ(platform::ClipboardText(), "AB C");
}

// --- Hidden input ------------------------------------------------------------

TEST_F(FieldEditorTest, HiddenFieldShowsTheMaskWhateverIsTyped) {
  KeyMap("h", "");
  std::string text(8, ' ');
  int16_t pos = 1;
  con_.PushText("secret");
  Keys({kKeyCtrlC, kKeyEnter});
  platform::SetClipboardText("kept");
  Edit(2, 3, 9, text, pos);
  EXPECT_EQ(con_.Dump(2, 2), "  XXXXXXXX\n");
  EXPECT_EQ(text, "secret  ");
  EXPECT_EQ(pos, 7);
  // A hidden text never reaches the clipboard.
  EXPECT_EQ(platform::ClipboardText(), "kept");
}

// --- Mouse -----------------------------------------------------------------

TEST_F(FieldEditorTest, ClickInsideMovesTheCursorOntoTheCharacter) {
  std::string text(30, '.');
  int16_t pos = 1;
  con_.PushMouse(6, 13, 1);  // second row, fourth cell: offset 23
  Key(kKeyEnter);
  EXPECT_EQ(Edit(5, 10, 20, text, pos), kKeyEnter);
  EXPECT_EQ(pos, 24);

  // Past the text on the last row: the cursor goes to N + 1.
  pos = 1;
  con_.PushMouse(6, 26, 1);
  Key(kKeyEnter);
  Edit(5, 10, 20, text, pos);
  EXPECT_EQ(pos, 31);

  // A mere movement is no click.
  pos = 3;
  con_.PushMouse(6, 13, 0);
  Key(kKeyEnter);
  Edit(5, 10, 20, text, pos);
  EXPECT_EQ(pos, 3);
}

TEST_F(FieldEditorTest, ClickOutsideLeavesWithTheMouseCodeEvenWhenTheMapIsSet) {
  std::string text(30, '.');
  int16_t pos = 4;
  con_.PushMouse(20, 7, 1);
  EXPECT_EQ(Edit(5, 10, 20, text, pos), -(7 * 100 + 20));
  EXPECT_EQ(pos, 4);

  KeyMap("a", "d");
  con_.PushMouse(5, 30, 2);  // just right of the field's width
  EXPECT_EQ(Edit(5, 10, 20, text, pos), -(30 * 100 + 5));
}

TEST_F(FieldEditorTest, HighFunctionKeysAreKeysNotClicks) {
  // F11, F12 and their modified forms are negative as 16-bit codes, but no
  // click code: with a map that does not list them they are ignored like
  // any other key, in a text field and in a choice field.
  KeyMap("a", "d");
  const uint16_t kModifiers[] = {0, platform::kModShift, kModLeftCtrl, kModLeftAlt};
  for (bool choice : {false, true}) {
    SetChoices(choice ? "|A,Apple|B,Banana" : "");
    for (uint8_t scan : {0x85, 0x86}) {
      for (uint16_t modifiers : kModifiers) {
        SCOPED_TRACE(testing::Message() << choice << " " << int{scan} << " " << modifiers);
        std::string text = "AB";
        int16_t pos = 1;
        con_.PushScan(scan, modifiers);
        Key(kKeyEnter);
        EXPECT_EQ(Edit(5, 10, 0, text, pos), kKeyEnter);
      }
    }
  }
  // Without a map every key leaves, these too, with their own code.
  KeyMap("e", "");
  SetChoices("");
  std::string text = "AB";
  int16_t pos = 1;
  con_.PushScan(0x86, kModLeftAlt);
  EXPECT_EQ(Edit(5, 10, 0, text, pos), static_cast<int16_t>(0x8C00));
}

// --- Exit processing ------------------------------------------------------

TEST_F(FieldEditorTest, ExitKeyMapTranslatesAndIgnoresUnlistedKeys) {
  KeyMap("a", "1b=3e00,d");
  std::string text = "ABCD";
  int16_t pos = 2;
  Pause([&] {
    con_.SetCursor(1, 1);
    con_.Write("####");
    Key(kKeyF2);
  });
  Pause([&] { Key(kKeyEsc); });
  EXPECT_EQ(Edit(1, 1, 0, text, pos), kKeyF4);
  // F2 was ignored: the field was drawn again and the edit went on.
  EXPECT_EQ(Line(seen_[1].screen, 1), "ABCD");
  EXPECT_EQ(seen_[1].col, 2);
  EXPECT_EQ(pos, 2);

  Key(kKeyEnter);
  EXPECT_EQ(Edit(1, 1, 0, text, pos), kKeyEnter);
}

TEST_F(FieldEditorTest, EnterAndTabLeaveAsEndWhenEndIsAnExitKey) {
  KeyMap("a", "d,4f00=4f00");
  std::string text = "ABCD";
  int16_t pos = 1;
  Key(kKeyEnter);
  EXPECT_EQ(Edit(1, 1, 0, text, pos), kKeyEnd);
  Key(kKeyTab);
  EXPECT_EQ(Edit(1, 1, 0, text, pos), kKeyEnd);
}

// --- Choice fields -----------------------------------------------------------

class ChoiceFieldTest : public FieldEditorTest {
 protected:
  ChoiceFieldTest() { SetChoices("|A,Apple|B,Banana|C,Cherry"); }
};

TEST_F(ChoiceFieldTest, ShowsTheLabelBetweenArrowsAndBlanksThemOnReturn) {
  std::string text = "B";
  int16_t pos = 1;
  Pause([&] { Key(kKeyEnter); });
  EXPECT_EQ(Edit(10, 20, 0, text, pos), kKeyEnter);
  // The arrows are the code page 850 bytes 0x11 (shown as a left-pointing
  // triangle) and 0x10 (right-pointing).
  EXPECT_EQ(Line(seen_[0].screen, 10), std::string(18, ' ') +
                                           "\x11"
                                           "Banana\x10");
  EXPECT_EQ(seen_[0].shape, 0);  // no cursor in a choice field
  EXPECT_EQ(con_.Dump(10, 10), std::string(19, ' ') + "Banana\n");
  EXPECT_EQ(text, "B");
}

TEST_F(ChoiceFieldTest, TypeAheadWrapsAndTheValueIsWrittenBack) {
  std::string text = "B";
  int16_t pos = 1;
  Keys({'a', kKeyEnter});
  Edit(10, 20, 0, text, pos);
  EXPECT_EQ(text, "A");
  EXPECT_EQ(con_.Dump(10, 10), std::string(19, ' ') + "Apple\n");

  // Right from Cherry goes round to Apple; blank acts as Right.
  text = "C";
  Keys({kKeyRight, kKeyEnter});
  Edit(10, 20, 0, text, pos);
  EXPECT_EQ(text, "A");
  Keys({' ', ' ', kKeyEnter});
  Edit(10, 20, 0, text, pos);
  EXPECT_EQ(text, "C");
  // Left from Apple goes to Cherry; a letter no label starts with does
  // nothing.
  text = "A";
  Keys({'z', kKeyLeft, kKeyEnter});
  Edit(10, 20, 0, text, pos);
  EXPECT_EQ(text, "C");
}

TEST_F(ChoiceFieldTest, TypeAheadIgnoresCaseAndAccents) {
  // "Ésser" (É is 0x90) and "aigua".
  SetChoices("|1,aigua|2,\x90sser|3,Foc");
  std::string text = "3";
  int16_t pos = 1;
  Keys({'e', kKeyEnter});
  Edit(1, 2, 0, text, pos);
  EXPECT_EQ(text, "2");
  Keys({'A', kKeyEnter});
  Edit(1, 2, 0, text, pos);
  EXPECT_EQ(text, "1");
}

TEST_F(ChoiceFieldTest, AnUnknownValueStartsAtTheFirstEntryAndPaddingMatches) {
  std::string text = "X ";
  int16_t pos = 1;
  Key(kKeyEnter);
  Edit(3, 2, 0, text, pos);
  EXPECT_EQ(text, "A ");
  // The value as written back (padded to N) is found again.
  text = "C ";
  Key(kKeyEnter);
  Edit(3, 2, 0, text, pos);
  EXPECT_EQ(text, "C ");
}

TEST_F(ChoiceFieldTest, MovementKeysLeaveAndEditingKeysDoNothing) {
  for (int k : {kKeyUp, kKeyShiftTab, kKeyDown, kKeyCtrlLeft, kKeyCtrlRight, kKeyF4}) {
    std::string text = "B";
    int16_t pos = 1;
    Keys({kKeyBackspace, kKeyDelete, kKeyCtrlY, kKeyCtrlV, k});
    EXPECT_EQ(Edit(3, 2, 0, text, pos), k == kKeyShiftTab ? kKeyUp : k);
    EXPECT_EQ(text, "B");
  }
  std::string text = "B";
  int16_t pos = 1;
  Keys({kKeyCtrlC, kKeyEnter});
  Edit(3, 2, 0, text, pos);
  EXPECT_EQ(platform::ClipboardText(), "Banana");
}

TEST_F(ChoiceFieldTest, ClicksOnTheArrowsStepAndOutsideLeave) {
  // The field at (4, 10): ◄ at column 9, the label in 10..15, ► at 16.
  std::string text = "B";
  int16_t pos = 1;
  con_.PushMouse(4, 16, 1);
  con_.PushMouse(4, 16, 1);
  con_.PushMouse(4, 9, 1);
  con_.PushMouse(5, 12, 1);
  EXPECT_EQ(Edit(4, 10, 0, text, pos), -(12 * 100 + 5));
  EXPECT_EQ(text, "C");

  // A click on the label is key 0, which leaves a choice field.
  con_.PushMouse(4, 12, 1);
  EXPECT_EQ(Edit(4, 10, 0, text, pos), 0);
}

}  // namespace
}  // namespace console
