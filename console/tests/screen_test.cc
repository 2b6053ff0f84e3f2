#include "console/screen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/tests/kit_test_support.h"
#include "platform/console.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace console {
namespace {

std::string Int32Le(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}

// n copies of a (UTF-8) text.
std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ + "TMP");
    config::ModuleSettings().temp_dir = "TMP\\";
    config::ModuleSettings().colours = config::ParseColourTable(config::kDefaultColours);
  }

  std::string StackFile() const { return root_ + "TMP/WinPush.tmp"; }
  bool StackFileExists() const { return std::filesystem::exists(StackFile()); }
  std::string StackBytes() const { return testsupport::ReadFile(StackFile()); }
  void WriteStack(const std::string& bytes) const {
    ASSERT_TRUE(testsupport::WriteFile(StackFile(), bytes));
  }
  // A recognisable background: every row its own letters and attribute.
  void PaintBackground() {
    for (int r = 1; r <= con_.Rows(); ++r) {
      con_.SetAttribute(static_cast<uint8_t>(r));
      con_.SetCursor(r, 1);
      con_.Write(std::string(static_cast<size_t>(con_.Cols()), static_cast<char>('a' + r % 26)));
    }
  }
  std::string Screen() { return con_.Dump() + con_.DumpAttributes(); }

  KitState kit_;  // first made, last gone
  testsupport::ScratchDir scratch_{"telvoran-screen"};
  const std::string root_ = scratch_.path();
  platform::MemoryConsole con_{25, 80};
  platform::ScopedConsoleOverride console_override_{&con_};
  platform::FakeEnv env_{root_};
  platform::ScopedEnvOverride env_override_{&env_};
};

TEST_F(ScreenTest, ColourCodesSelectTableEntries) {
  // Default table: 0 white on black, 1 grey on black, 2..4 black on grey.
  struct Case {
    const char* code;
    int16_t index;
    uint8_t attr;
  } cases[] = {
      {"h", 0, 0x0F},  {"x", 0, 0x0F},  {"n", 1, 0x07}, {"N", 1, 0x07},  {"r", 2, 0x70},
      {"rn", 3, 0x70}, {"NR", 3, 0x70}, {"u", 4, 0x70}, {"ur", 4, 0x70}, {"Urn", 4, 0x70},
  };
  for (const Case& c : cases) {
    SetColour(c.code);
    EXPECT_EQ(CurrentColour(), c.index) << c.code;
    EXPECT_EQ(con_.Attribute(), c.attr) << c.code;
  }
}

TEST_F(ScreenTest, PlusSavesAndMinusRestores) {
  SetColour("r");
  SetColour("+n");
  EXPECT_EQ(CurrentColour(), 1);
  SetColour("+u");
  SetColour("+d");
  EXPECT_EQ(CurrentColour(), 0);
  SetColour("-");
  EXPECT_EQ(CurrentColour(), 4);
  SetColour("-");
  EXPECT_EQ(CurrentColour(), 1);
  SetColour("-");
  EXPECT_EQ(CurrentColour(), 2);
  EXPECT_EQ(con_.Attribute(), 0x70);
  // Blank codes change nothing; "-" with nothing saved gives index 0.
  SetColour("   ");
  SetColour("");
  EXPECT_EQ(CurrentColour(), 2);
  SetColour("-");
  EXPECT_EQ(CurrentColour(), 0);
  EXPECT_EQ(con_.Attribute(), 0x0F);
}

TEST_F(ScreenTest, ColourPartAbove15KeepsTheConsoleOne) {
  config::ModuleSettings().colours[1] = {16, 3};
  con_.SetAttribute(0x4E);
  SetColour("n");
  EXPECT_EQ(con_.Attribute(), 0x3E);
  config::ModuleSettings().colours[1] = {2, 99};
  SetColour("n");
  EXPECT_EQ(con_.Attribute(), 0x32);
}

TEST_F(ScreenTest, LocateIsRelativeToTheInnermostWindow) {
  Locate(3, 4);
  EXPECT_EQ(con_.CursorRow(), 3);
  EXPECT_EQ(con_.CursorCol(), 4);
  Locate(30, 7);  // row outside: kept
  EXPECT_EQ(con_.CursorRow(), 3);
  EXPECT_EQ(con_.CursorCol(), 7);
  EXPECT_EQ(WindowFirstRow(), 1);
  EXPECT_EQ(WindowFirstCol(), 1);
  EXPECT_EQ(WindowLastCol(), 80);

  WinPush(5, 10, 12, 40);
  Locate(1, 1);
  EXPECT_EQ(con_.CursorRow(), 6);
  EXPECT_EQ(con_.CursorCol(), 11);
  EXPECT_EQ(WindowFirstRow(), 6);
  EXPECT_EQ(WindowFirstCol(), 11);
  EXPECT_EQ(WindowLastCol(), 39);
  WinPop();
  EXPECT_EQ(WindowLastCol(), 80);
}

TEST_F(ScreenTest, NestedPushAndPopRestoreScreenCursorAndWindow) {
  PaintBackground();
  con_.SetCursor(7, 9);
  const std::string original = Screen();

  WinPush(3, 5, 10, 40);
  DrawFrame(2);
  Locate(1, 1);
  Print("outer");
  Locate(4, 3);
  const std::string with_outer = Screen();

  WinPush(5, 10, 8, 30);
  EXPECT_EQ(WindowDepth(), 2);
  SetColour("r");
  DrawFrame(1);
  Locate(1, 1);
  Print("inner");

  WinPop();
  EXPECT_EQ(Screen(), with_outer);
  EXPECT_EQ(con_.CursorRow(), 7);  // (4, 3) inside the outer window
  EXPECT_EQ(con_.CursorCol(), 8);
  EXPECT_EQ(WindowDepth(), 1);
  EXPECT_EQ(CurrentWindow().top, 3);
  EXPECT_EQ(CurrentWindow().left, 5);
  EXPECT_EQ(CurrentWindow().bottom, 10);
  EXPECT_EQ(CurrentWindow().right, 40);
  EXPECT_TRUE(StackFileExists());

  WinPop();
  EXPECT_EQ(Screen(), original);
  EXPECT_EQ(con_.CursorRow(), 7);
  EXPECT_EQ(con_.CursorCol(), 9);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(CurrentWindow().top, 0);
  EXPECT_EQ(CurrentWindow().right, 0);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(ScreenTest, RecordsHaveTheFileLayoutAndTheFileIsNeverShortened) {
  con_.SetAttribute(0x1E);
  con_.Write("A");
  con_.SetAttribute(0x70);
  con_.Write("B");
  con_.SetCursor(3, 4);
  WinPush(1, 1, 1, 2);
  const std::string first =
      "03040000000001010102A\x1E"
      "B\x70"
      "00029";
  EXPECT_EQ(StackBytes(), Int32Le(34) + first);

  con_.SetCursor(2, 3);
  WinPush(2, 3, 2, 3);  // one blank cell in attribute 7
  const std::string second = std::string("02030101010202030203 \x07", 22) + "00027";
  EXPECT_EQ(StackBytes(), Int32Le(61) + first + second);

  WinPop();  // only the end pointer moves back
  EXPECT_EQ(StackBytes(), Int32Le(34) + first + second);
  WinPush(2, 3, 2, 4);
  const std::string third = std::string("02030101010202030204 \x07 \x07", 24) + "00029";
  EXPECT_EQ(StackBytes(), Int32Le(63) + first + third);
  WinPop();
  WinPop();
  EXPECT_FALSE(StackFileExists());
  EXPECT_EQ(con_.CursorRow(), 3);
  EXPECT_EQ(con_.CursorCol(), 4);
}

TEST_F(ScreenTest, ASignalLeavesTheStackFileAsTheProcessFoundIt) {
  // A stack of this process only: the file goes.
  WinPush(1, 1, 2, 2);
  WinPush(3, 3, 4, 4);
  UndoWindowPushesAfterSignal();
  EXPECT_FALSE(StackFileExists());

  // Under a window of the program that started this one (pushed, then
  // forgotten as a new process would), only this process's windows go.
  ResetScreenState();
  WinPush(1, 1, 1, 2);
  const std::string callers = StackBytes();
  ResetScreenState();
  WinPush(2, 2, 5, 9);
  WinPush(3, 3, 4, 4);
  WinPop();
  UndoWindowPushesAfterSignal();
  EXPECT_EQ(StackBytes(), callers);

  // Popped back to where it began: nothing more to undo, even if the
  // caller's stack moves on afterwards.
  ResetScreenState();
  WinPush(2, 2, 5, 9);
  WinPop();
  const std::string after_pop = StackBytes();
  UndoWindowPushesAfterSignal();
  EXPECT_EQ(StackBytes(), after_pop);
}

TEST_F(ScreenTest, PushWithACornerOutsideTheConsoleDoesNothing) {
  const int rects[][4] = {{0, 1, 5, 5}, {1, 0, 5, 5}, {1, 1, 26, 5}, {1, 1, 5, 81}, {26, 1, 26, 1}};
  for (const auto& r : rects) {
    WinPush(r[0], r[1], r[2], r[3]);
    EXPECT_EQ(WindowDepth(), 0);
    EXPECT_FALSE(StackFileExists());
  }
}

TEST_F(ScreenTest, PopOnAnEmptyOrMissingStackOnlyDeletesTheFile) {
  PaintBackground();
  const std::string before = Screen();
  WinPop();
  EXPECT_FALSE(StackFileExists());
  WriteStack("\x05\x00\x00");
  WinPop();
  EXPECT_FALSE(StackFileExists());
  EXPECT_EQ(Screen(), before);
}

TEST_F(ScreenTest, DamagedStackFileIsTreatedAsEmpty) {
  const std::string good =
      "03040000000001010102A\x1E"
      "B\x70"
      "00029";
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"end pointer far past the end", Int32Le(0x7FFFFFFF) + good},
      {"negative end pointer", Int32Le(0xFFFFFFF0) + good},
      {"end pointer inside the header", Int32Le(2) + good},
      {"end pointer one past the file", Int32Le(35) + good},
      {"length not digits", Int32Le(34) + good.substr(0, 24) + "00x29"},
      {"length beyond the first record", Int32Le(34) + good.substr(0, 24) + "99999"},
      {"length below a header", Int32Le(34) + good.substr(0, 24) + "00010"},
      {"length not matching the rectangle", Int32Le(34) + "03040000000001010103" + good.substr(20)},
      {"field not digits", Int32Le(34) + "0304000000000101010-" + good.substr(20)},
  };
  PaintBackground();
  const std::string before = Screen();
  for (const Case& c : cases) {
    WriteStack(c.bytes);
    WinPop();
    EXPECT_EQ(Screen(), before) << c.what;
    EXPECT_FALSE(StackFileExists()) << c.what;
  }

  // A push over a bad end pointer starts the stack again at position 5.
  WriteStack(Int32Le(0x7FFFFFFF) + std::string(100, 'z'));
  con_.SetCursor(3, 4);
  WinPush(1, 1, 1, 1);
  EXPECT_EQ(StackBytes().substr(0, 4), Int32Le(32));
  EXPECT_EQ(StackBytes().size(), 104u);
  DrawFrame(1);
  WinPop();
  EXPECT_EQ(Screen(), before);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(ScreenTest, PopPaintsOnlyWhatFitsASmallerConsole) {
  WinPush(20, 70, 25, 80);
  DrawFrame(2);
  con_.Resize(10, 40);
  WinPop();
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(ScreenTest, DrawFrameStyles) {
  DrawFrame(1);  // no window: nothing
  EXPECT_EQ(con_.Dump(1, 3), "\n\n\n");

  for (int r = 1; r <= 6; ++r) {
    con_.SetCursor(r, 1);
    con_.Write("xxxxxxxxxx");
  }
  WinPush(2, 2, 5, 7);
  DrawFrame(1);
  EXPECT_EQ(con_.Dump(1, 6),
            "xxxxxxxxxx\n"
            "x┌────┐xxx\n"
            "x│    │xxx\n"
            "x│    │xxx\n"
            "x└────┘xxx\n"
            "xxxxxxxxxx\n");
  DrawFrame(2);
  EXPECT_EQ(con_.Dump(2, 5),
            "x╔════╗xxx\n"
            "x║    ║xxx\n"
            "x║    ║xxx\n"
            "x╚════╝xxx\n");
  SetColour("r");
  DrawFrame(0);
  EXPECT_EQ(con_.Dump(2, 3), "x      xxx\nx      xxx\n");
  EXPECT_EQ(con_.DumpAttributes(2, 2).substr(0, 20), "07707070707070070707");
  WinPop();
}

TEST_F(ScreenTest, ScrollAreaTakesZeroBasedCoordinates) {
  for (int r = 1; r <= 5; ++r) {
    con_.SetCursor(r, 1);
    con_.Write(std::string(4, static_cast<char>('0' + r)));
  }
  SetColour("r");
  ScrollArea(1, 0, 3, 1, 1);  // rows 2..4, columns 1..2, up one row
  EXPECT_EQ(con_.Dump(1, 5), "1111\n3322\n4433\n  44\n5555\n");
  EXPECT_EQ(con_.DumpAttributes(4, 4).substr(0, 6), "707007");
  ScrollArea(0, 0, 4, 3, -2);
  EXPECT_EQ(con_.Dump(1, 5), "\n\n1111\n3322\n4433\n");
}

TEST_F(ScreenTest, TextStackIsLastInFirstOut) {
  PushText("abc");
  PushText("");
  PushText(std::string("d\x00\x02", 3));
  EXPECT_EQ(PopText(), std::string("d\x00\x02", 3));
  EXPECT_EQ(PopText(), "");
  EXPECT_EQ(PopText(), "abc");
  EXPECT_EQ(PopText(), "");  // empty stack
}

TEST_F(ScreenTest, TextFromBufferCopiesTheBytes) {
  const char buffer[] = {'a', 'b', '\0', 'c', 'd'};
  EXPECT_EQ(TextFromBuffer(buffer, 5), std::string(buffer, 5));
  EXPECT_EQ(TextFromBuffer(buffer, 2), "ab");
  EXPECT_EQ(TextFromBuffer(buffer, 0), "");
}

TEST_F(ScreenTest, MessageWindowPlacement) {
  struct Case {
    int row;
    int length;  // of the text; 76 per line
    int top, bottom;
  } cases[] = {
      {12, 10, 9, 11},  {24, 10, 21, 23},  {1, 10, 1, 3},     {25, 10, 22, 24},
      {12, 100, 9, 12}, {25, 200, 21, 25}, {25, 350, 19, 25},
  };
  for (const Case& c : cases) {
    std::string text;
    while (static_cast<int>(text.size()) < c.length) text += "word ";
    text.resize(static_cast<size_t>(c.length));
    ASSERT_TRUE(ShowMessageWindow(c.row, text)) << c.row << "/" << c.length;
    EXPECT_EQ(CurrentWindow().top, c.top) << c.row << "/" << c.length;
    EXPECT_EQ(CurrentWindow().bottom, c.bottom) << c.row << "/" << c.length;
    WinPop();
  }
  EXPECT_FALSE(StackFileExists());
}

TEST_F(ScreenTest, MessageWindowScreen) {
  SetColour("n");
  ASSERT_TRUE(ShowMessageWindow(12, "FITXER BLOQUEJAT. ESPEREU UN MOMENT."));
  EXPECT_EQ(con_.Dump(8, 12), "\n" + std::string(20, ' ') + "┌" + Repeat("─", 38) + "┐\n" +
                                  std::string(20, ' ') +
                                  "│ FITXER BLOQUEJAT. ESPEREU UN MOMENT. │\n" +
                                  std::string(20, ' ') + "└" + Repeat("─", 38) + "┘\n\n");
  EXPECT_EQ(con_.DumpAttributes(10, 10).substr(38, 84), "07" + Repeat("70", 40) + "07");
  EXPECT_EQ(CurrentColour(), 1);
  EXPECT_EQ(con_.Attribute(), 0x07);
  WinPop();
  EXPECT_EQ(con_.Dump(9, 11), "\n\n\n");

  // Two lines: the box fits the longer one.
  const std::string longer(72, 'L');
  ASSERT_TRUE(ShowMessageWindow(12, "short " + longer));
  EXPECT_EQ(con_.Dump(9, 12), "  ┌" + Repeat("─", 74) + "┐\n" + "  │ short" + std::string(68, ' ') +
                                  "│\n" + "  │ " + longer + " │\n" + "  └" + Repeat("─", 74) +
                                  "┘\n");
  WinPop();
}

TEST_F(ScreenTest, MessageWindowThatDoesNotFitShowsNothing) {
  SetColour("n");
  {
    platform::MemoryConsole tiny(2, 80);
    platform::ScopedConsoleOverride use(&tiny);
    EXPECT_FALSE(ShowMessageWindow(1, "TEXT"));
    EXPECT_EQ(tiny.Dump(), "\n\n");
  }
  {
    // Too narrow for a box centred on column 41.
    platform::MemoryConsole narrow(25, 40);
    platform::ScopedConsoleOverride use(&narrow);
    WinPush(1, 1, 25, 40);
    EXPECT_FALSE(ShowMessageWindow(12, "A MESSAGE OF SOME LENGTH"));
    EXPECT_EQ(WindowDepth(), 1);
    EXPECT_EQ(narrow.Dump(), std::string(25, '\n'));
    WinPop();
  }
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(CurrentColour(), 1);
  EXPECT_FALSE(StackFileExists());
}

}  // namespace
}  // namespace console

namespace console {
namespace {

// A directory where the stack file belongs: the push and the pop are left
// undone and the program's handler hears of it; the kit never ends the
// process.
TEST_F(ScreenTest, StackFileFailureGoesToTheProgramsHandler) {
  std::filesystem::create_directories(StackFile());
  std::vector<std::string> messages;
  SetStackFileFailureHandler([&](const std::string& m) { messages.push_back(m); });
  PaintBackground();
  const std::string before = Screen();
  WinPush(5, 10, 8, 30);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_TRUE(StackFileFailed());
  WinPop();
  EXPECT_EQ(Screen(), before);
  SetStackFileFailureHandler(nullptr);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], WindowStackPath() + ": no es pot obrir");
  ResetScreenState();
  EXPECT_FALSE(StackFileFailed());
}

}  // namespace
}  // namespace console
