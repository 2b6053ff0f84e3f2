#include "console/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "console/tests/popup_test_support.h"

namespace console {
namespace {

constexpr uint8_t kScanLeft = 0x4B, kScanRight = 0x4D, kScanF = 0x21;

// Presses each character of the text as a key.
void Press(CalculatorState& s, const std::string& keys) {
  for (char c : keys) PressCalculatorKey(s, static_cast<int16_t>(static_cast<unsigned char>(c)));
}

// The entry line's number without its padding.
std::string Shown(const CalculatorState& s) {
  std::string text = CalculatorNumberText(s.entry, s.point, s.decimals);
  std::erase(text, ' ');
  return text;
}

class CalculatorTest : public PopupTest {
 protected:
  // Rows first..25 of the calculator's window at column 1.
  std::string Window(int first) { return Region(first, 1, 25, 26); }
  // A recognisable background, to see what the window covers and restores.
  void PaintBackground() {
    for (int r = 1; r <= 25; ++r) {
      con_.SetCursor(r, 1);
      con_.Write(std::string(80, '.'));
    }
  }
};

// --- Arithmetic ------------------------------------------------------------

TEST_F(CalculatorTest, KeySequences) {
  struct Case {
    const char* keys;
    const char* shown;   // the entry line
    const char* amount;  // what F hands back
  };
  const Case cases[] = {
      {"12.5", "12.5", "1250"},
      {"1.234", "1.234", "123.4"},
      {"200+10%", "20", "2000"},
      {"200-10%", "20", "2000"},
      {"200%", "2", "200"},
      {"50*10%", "0.1", "10"},
      {"0.125R", "0.12", "12"},
      {"0.375R", "0.38", "38"},
      {"2.675R", "2.68", "268"},
      {"0.145R", "0.14", "14"},
      {"0.125TR", "-0.12", "12"},  // the sign is not typed back
      {"2+3=", "5", "500"},
      {"2+3*4=", "20", "2000"},
      {"10-2.5=", "7.5", "750"},
      {"12.5+1=", "13.5", "1350"},
      {"1/3=", "0.33", "33"},
      {"7T", "-7", "700"},
      {"7T3", "-73", "7300"},
      {"123\b", "12", "1200"},
      {"1.25\b", "1.2", "120"},
      {"1.2\b\b", "1", "100"},
      {"1.0996/1.00=\b", "1.0", "100"},  // a result shown "1.10" is cut, not rounded
      {"1.1/1=\b", "1.", "100"},         // the point stays at 0 decimals
      {"5\b", "0", "0"},
      {"0.001", "0.001", ".1"},  // all digits but the last d - 2: none
      {"0.0012", "0.0012", ".12"},
      {"0.0001", "0.0001", ".01"},
      {"1.2345", "1.2345", "123.45"},
      {"0.000", "0.000", ".0"},
      {"2+3.5=.5", "0.5", "50"},  // "." starts a new entry without decimals
      {"", "0", "0"},
      {"2+3=C", "0", "0"},
      {"2+3C", "2", "200"},  // C while typing abandons the entry
      {"2+3C4=", "6", "600"},
      {"9999999999999999", "999,999,999,999,999", "99999999999999900"},
      {"=", "0", "0"},  // "=" only while typing
      {"q\x01", "0", "0"},
  };
  for (const Case& c : cases) {
    CalculatorState s;
    Press(s, c.keys);
    EXPECT_EQ(Shown(s), c.shown) << c.keys;
    EXPECT_EQ(CalculatorAmountText(s), c.amount) << c.keys;
  }
}

TEST_F(CalculatorTest, RoundToCentsHalvesToEven) {
  const struct {
    double in, want;
  } cases[] = {{0.125, 0.12}, {0.375, 0.38},   {0.135, 0.14},   {0.1251, 0.13},
               {0.12, 0.12},  {-0.125, -0.12}, {-0.375, -0.38}, {9.995, 10.0},
               {0.005, 0.0},  {0.015, 0.02},   {1e20, 1e20},    {123.456, 123.46}};
  for (const auto& c : cases) EXPECT_EQ(RoundToCents(c.in), c.want) << c.in;
}

TEST_F(CalculatorTest, DivisionByZeroBeepsAndChangesNothing) {
  CalculatorState s;
  Press(s, "8/0");
  const CalculatorState before = s;
  EXPECT_EQ(PressCalculatorKey(s, '='), CalculatorOutcome::kBeep);
  EXPECT_EQ(s, before);
  EXPECT_EQ(PressCalculatorKey(s, '+'), CalculatorOutcome::kBeep);
  EXPECT_EQ(s, before);
  // Typing another divisor goes on as usual.
  Press(s, "\b4=");
  EXPECT_EQ(s.total, 2);
  EXPECT_TRUE(std::isfinite(s.total));
  // A product beyond the doubles is refused the same way.
  CalculatorState big;
  big.total = 1e308;
  big.pending = "*";
  Press(big, "10");
  const CalculatorState big_before = big;
  EXPECT_EQ(PressCalculatorKey(big, '='), CalculatorOutcome::kBeep);
  EXPECT_EQ(big, big_before);
}

TEST_F(CalculatorTest, TapeKeepsTheNewestTwentyTwoLines) {
  CalculatorState s;
  Press(s, "2+3=");
  EXPECT_EQ(s.tape_start, 20);
  EXPECT_EQ(s.tape[19], (TapeEntry{2, false, 0, '+'}));
  EXPECT_EQ(s.tape[20], (TapeEntry{3, false, 0, '='}));
  EXPECT_EQ(s.tape[21], (TapeEntry{5, false, 0, ' '}));
  EXPECT_EQ(s.pending, "");
  for (int i = 0; i < 30; ++i) Press(s, "1+");
  EXPECT_EQ(s.tape_start, 1);
  EXPECT_EQ(s.tape[0], (TapeEntry{1, false, 0, '+'}));
  EXPECT_EQ(s.total, 30);  // "=" left no operator pending
  // C after a calculation clears the total, a second C the tape.
  EXPECT_EQ(PressCalculatorKey(s, 'C'), CalculatorOutcome::kUpdate);
  EXPECT_EQ(s.total, 0);
  EXPECT_TRUE(s.cleared);
  EXPECT_EQ(s.tape_start, 1);
  EXPECT_EQ(PressCalculatorKey(s, 'c'), CalculatorOutcome::kRedraw);
  EXPECT_EQ(s.tape_start, kTapeEmpty);
}

// --- State file ------------------------------------------------------------

TEST_F(CalculatorTest, StateFileRoundTrips) {
  CalculatorState s;
  Press(s, "1/3=12.5+0.1");
  s.column = 40;
  std::optional<CalculatorState> back = ParseCalculatorState(SerializeCalculatorState(s));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, s);
  EXPECT_EQ(ParseCalculatorState(""), CalculatorState{});
  // The start state's file: 98 lines.
  const std::string start = SerializeCalculatorState(CalculatorState{});
  EXPECT_EQ(start.rfind("1\r\n23\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n\r\n\r\n0\r\n0\r\n0\r\n \r\n", 0),
            0u);
  EXPECT_EQ(std::count(start.begin(), start.end(), '\n'), 98);
  // LF endings and a missing final line ending are accepted.
  std::string lf = start;
  std::erase(lf, '\r');
  lf.pop_back();
  EXPECT_EQ(ParseCalculatorState(lf), CalculatorState{});
}

TEST_F(CalculatorTest, CorruptStateFilesAreRefused) {
  const std::string good = SerializeCalculatorState(CalculatorState{});
  auto with_line = [&good](int index, const std::string& text) {
    std::string bytes;
    size_t start = 0;
    for (int i = 0; start < good.size(); ++i) {
      size_t end = good.find("\r\n", start);
      bytes += (i == index ? text : good.substr(start, end - start)) + "\r\n";
      start = end + 2;
    }
    return bytes;
  };
  const std::string corrupt[] = {
      good.substr(0, good.size() / 2),  // cut short
      good + "7\r\n",                   // a value too many
      with_line(0, "0"),                // column below 1
      with_line(0, "56"),               // column beyond the screen
      with_line(0, "x"),
      with_line(1, "24"),  // tape start beyond the empty tape
      with_line(1, "0"),
      with_line(2, "inf"),
      with_line(2, "nan"),
      with_line(3, "1e999"),
      with_line(3, "12abc"),
      with_line(4, "2"),   // a flag
      with_line(7, "16"),  // decimals
      with_line(7, "-1"),
      with_line(8, "X"),  // last key
      with_line(9, "C"),  // pending operator
      with_line(9, "++"),
      with_line(10, "-nan"),  // a tape value
      with_line(13, "ab"),    // a tape operator
      with_line(13, "?"),
      std::string(200, '\0'),
      "\r\n",
  };
  for (const std::string& bytes : corrupt) {
    EXPECT_FALSE(ParseCalculatorState(bytes).has_value()) << bytes.substr(0, 40);
  }
}

// --- The window ------------------------------------------------------------

TEST_F(CalculatorTest, DrawsTheTapeAboveTheEntryLine) {
  std::string window;
  PaintBackground();
  std::string above;
  con_.PushText("12.5+7.25=3");
  SnapshotThenClose([&] {
    window = Window(19);
    above = Region(18, 1, 18, 27);
  });
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(window,
            "┌────────────────────────┐\n"
            "│                  12.5 +│\n"
            "│                  7.25 =│\n"
            "│                 19.75  │\n"
            "├────────────────────────┤\n"
            "│                     3  │\n"
            "└────────────────────────┘\n");
  // Above the tape the screen under the window stays visible.
  EXPECT_EQ(above, std::string(27, '.') + "\n");
}

TEST_F(CalculatorTest, EmptyTapeAndFinishWithF) {
  std::string window;
  con_.PushText("12.5");
  SnapshotThenClose([&] { window = Window(23); }, 'F');
  EXPECT_EQ(Calculator(), "1250");
  EXPECT_EQ(window,
            "┌────────────────────────┐\n"
            "│                  12.5  │\n"
            "└────────────────────────┘\n");
}

TEST_F(CalculatorTest, AltXTypesTheAmountIntoTheField) {
  SetCalculatorHook(Calculator);
  con_.PushScan(0x2D, platform::kModLeftAlt);  // Alt+X
  con_.PushText("12.5");
  con_.PushScan(kScanF, platform::kModLeftAlt);  // Alt+F
  int16_t key = 0;
  WaitKey(key);
  EXPECT_EQ(key, kKeyAltX);
  std::string typed;
  for (int i = 0; i < 4; ++i) {
    WaitKey(key);
    typed += static_cast<char>(key);
  }
  EXPECT_EQ(typed, "1250");
  EXPECT_TRUE(PendingKeys().empty());
}

TEST_F(CalculatorTest, ReopensAsItWasLeftAfterEsc) {
  con_.PushText("200+10%");
  con_.PushChar(27);
  EXPECT_EQ(Calculator(), "");
  ASSERT_TRUE(Exists("TERM/ZELCALC.TMP"));
  std::string window;
  SnapshotThenClose([&] { window = Window(20); });
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(window,
            "┌────────────────────────┐\n"
            "│                   200 +│\n"
            "│                    10 %│\n"
            "├────────────────────────┤\n"
            "│                    20  │\n"
            "└────────────────────────┘\n");
  std::optional<CalculatorState> saved = ParseCalculatorState(ReadFile("TERM/ZELCALC.TMP"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->entry, 20);
  EXPECT_EQ(saved->total, 200);
  EXPECT_EQ(saved->pending, "%");
}

TEST_F(CalculatorTest, ACorruptOrMissingStateFileGivesTheStartState) {
  for (const char* bytes : {"garbage\r\n", "", "1\r\n23\r\nnan\r\n"}) {
    ResetKitState();
    WriteFile("TERM/ZELCALC.TMP", bytes);
    con_.PushText("5");
    con_.PushChar('F');
    EXPECT_EQ(Calculator(), "500") << bytes;
    std::optional<CalculatorState> saved = ParseCalculatorState(ReadFile("TERM/ZELCALC.TMP"));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->entry, 5);
    EXPECT_EQ(saved->tape_start, kTapeEmpty);
    std::filesystem::remove(root_ + "TERM/ZELCALC.TMP");
  }
}

TEST_F(CalculatorTest, MovesAndWrapsAcrossTheScreen) {
  PaintBackground();
  const std::string before = con_.Dump() + con_.DumpAttributes();
  std::string at_55, at_2;  // the bottom rows of the window
  con_.PushScan(kScanLeft);
  Steps({[&] {
           at_55 = Region(23, 54, 25, 80);
           con_.PushScan(kScanRight);
           con_.PushScan(kScanRight);
         },
         [&] {
           at_2 = Region(23, 1, 25, 28);
           con_.PushChar(27);
         }});
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(at_55,
            ".┌────────────────────────┐\n"
            ".│                     0  │\n"
            ".└────────────────────────┘\n");
  EXPECT_EQ(at_2,
            ".┌────────────────────────┐.\n"
            ".│                     0  │.\n"
            ".└────────────────────────┘.\n");
  EXPECT_EQ(con_.Dump() + con_.DumpAttributes(), before);
  EXPECT_EQ(ParseCalculatorState(ReadFile("TERM/ZELCALC.TMP"))->column, 2);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(Exists("TMP/WinPush.tmp"));
}

TEST_F(CalculatorTest, DivisionByZeroOnScreenBeeps) {
  con_.PushText("8/0=");
  con_.PushChar(27);
  EXPECT_EQ(Calculator(), "");
  EXPECT_EQ(con_.beeps(), 1);
  const std::string file = ReadFile("TERM/ZELCALC.TMP");
  EXPECT_EQ(file.find("inf"), std::string::npos);
  EXPECT_EQ(file.find("nan"), std::string::npos);
}

}  // namespace
}  // namespace console
