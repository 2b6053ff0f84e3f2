#include "console/keys.h"

#include <gtest/gtest.h>

#include <string>

#include "console/tests/kit_test_support.h"
#include "platform/console.h"

namespace console {
namespace {

using platform::kModLeftAlt;
using platform::kModLeftCtrl;
using platform::kModRightAlt;
using platform::kModRightCtrl;
using platform::kModShift;

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override { con_.set_idle_limit(3); }
  int16_t Key() {
    GetKey(key_, button_, row_, col_);
    return key_;
  }

  platform::MemoryConsole con_{25, 80};
  platform::ScopedConsoleOverride console_override_{&con_};
  KitState kit_;
  int16_t key_ = 0, button_ = 0, row_ = 0, col_ = 0;
};

TEST_F(KeysTest, NothingWaitingGivesKeyZeroAtOnce) {
  key_ = button_ = row_ = col_ = 99;
  EXPECT_EQ(Key(), 0);
  EXPECT_EQ(button_, 0);
  EXPECT_EQ(row_, 0);
  EXPECT_EQ(col_, 0);
}

TEST_F(KeysTest, KeyCodesAndModifierFolding) {
  struct Case {
    uint8_t ch;
    uint8_t scan;
    uint16_t modifiers;
    uint16_t code;
  } cases[] = {
      {'a', 0x1E, 0, 'a'},
      {0x82, 0, 0, 0x82},  // é: the character's code page 850 code
      {27, 0x01, 0, 27},
      {0, 0x48, 0, 0x4800},
      {0, 0x3B, 0, 0x3B00},
      {0, 0x86, 0, 0x8600},
      {0, 0x3B, kModLeftCtrl, 0x5E00},
      {0, 0x44, kModRightCtrl, 0x6700},
      {0, 0x86, kModShift, 0x8800},
      {0, 0x3B, kModShift, 0x5400},
      {0, 0x44, kModLeftAlt, 0x7100},
      {0, 0x3B, kModRightAlt, 0x6800},
      {0, 0x85, kModShift, 0x8700},
      {0, 0x85, kModLeftCtrl, 0x8900},
      {0, 0x86, kModLeftCtrl, 0x8A00},
      {0, 0x85, kModRightAlt, 0x8B00},
      {0, 0x86, kModRightAlt, 0x8C00},
      {0, 0x47, kModLeftCtrl, 0x7700},
      {0, 0x4B, kModLeftCtrl, 0x7300},
      {0, 0x4D, kModRightCtrl, 0x7400},
      {0, 0x47, kModShift, 0x4700},                    // Shift leaves cursor keys alone
      {0, 0x3B, kModRightAlt | kModLeftCtrl, 0x6800},  // Alt wins over Ctrl
      {0, 0x12, kModLeftAlt, 213},                     // Alt+E: the euro sign
      {0, 0x12, kModRightAlt | kModLeftCtrl, 213},     // AltGr+E
      {0, 0x2D, kModLeftAlt, 0x2D00},                  // Alt+X without a calculator
      {3, 0x2E, kModLeftCtrl, 3},                      // Ctrl+C is a character
  };
  for (const Case& c : cases) {
    con_.PushChar(c.ch, c.modifiers, c.scan);
    EXPECT_EQ(Key(), static_cast<int16_t>(c.code))
        << std::hex << int{c.ch} << "/" << int{c.scan} << "/" << c.modifiers;
  }
}

TEST_F(KeysTest, ReleasesAndResizesAreSkipped) {
  con_.PushRelease(0x1E);
  con_.Resize(25, 80);
  con_.PushChar('b');
  EXPECT_EQ(Key(), 'b');
}

TEST_F(KeysTest, AltKeypadDigitsTypeACharacter) {
  struct Case {
    std::vector<uint8_t> keypad_scans;
    int16_t key;
  } cases[] = {
      {{0x4F, 0x4D, 0x4C}, 165},  // 1, 6, 5: Ñ
      {{0x50, 0x4D, 0x52}, 4},    // 2, 6, 0: 260 modulo 256
      {{0x47, 0x48, 0x49, 0x4B, 0x51}, static_cast<int16_t>(78943 % 256)},  // 7,8,9,4,3
  };
  for (const Case& c : cases) {
    for (uint8_t scan : c.keypad_scans) con_.PushScan(scan, kModLeftAlt);
    con_.PushRelease(0x38);  // Alt released
    con_.PushChar('z');
    EXPECT_EQ(Key(), c.key);
    EXPECT_EQ(Key(), 0);  // the z was replaced, not returned after it
  }
}

TEST_F(KeysTest, AltKeypadEntrySurvivesPolling) {
  // The caller polls while the digits are typed: each empty poll answers 0
  // and the entry goes on at the next call.
  con_.PushScan(0x4F, kModLeftAlt);
  EXPECT_EQ(Key(), 0);
  con_.PushScan(0x4D, kModLeftAlt);
  con_.PushNothing();
  EXPECT_EQ(Key(), 0);
  con_.PushScan(0x4C, kModLeftAlt);
  con_.PushRelease(0x38);
  EXPECT_EQ(Key(), 0);
  con_.PushScan(0x48);  // any key without Alt ends it
  EXPECT_EQ(Key(), 165);
  // Right Alt with keypad keys is not digit entry.
  con_.PushScan(0x48, kModRightAlt);
  EXPECT_EQ(Key(), 0x4800);
}

TEST_F(KeysTest, HotKeyResultFollowsAsTypedKeys) {
  int calls = 0;
  SetCalculatorHook([&calls] {
    ++calls;
    return std::string("12,50");
  });
  con_.PushScan(0x2D, kModLeftAlt);
  con_.PushChar('z');
  EXPECT_EQ(Key(), kKeyAltX);
  EXPECT_EQ(calls, 1);
  button_ = 7;
  for (char c : std::string("12,50")) {
    EXPECT_EQ(Key(), c);
    EXPECT_EQ(button_, 7);  // pending keys leave the other outputs alone
  }
  EXPECT_EQ(con_.pending_events(), 1u);  // the console was not read meanwhile
  EXPECT_EQ(Key(), 'z');
}

TEST_F(KeysTest, HotKeyInsideItsOwnToolIsAnOrdinaryKey) {
  int calendar_calls = 0;
  int16_t inner_key = 0;
  SetCalendarHook([&] {
    ++calendar_calls;
    con_.PushScan(0x2E, kModLeftAlt);  // Alt+C again, inside the calendar
    int16_t b = 0, r = 0, c = 0;
    GetKey(inner_key, b, r, c);
    return std::string("8");
  });
  con_.PushScan(0x2E, kModLeftAlt);
  EXPECT_EQ(Key(), kKeyAltC);
  EXPECT_EQ(calendar_calls, 1);
  EXPECT_EQ(inner_key, kKeyAltC);
  EXPECT_EQ(Key(), '8');
  // The guard is lifted once the tool has returned.
  con_.PushScan(0x2E, kModLeftAlt);
  EXPECT_EQ(Key(), kKeyAltC);
  EXPECT_EQ(calendar_calls, 2);
}

TEST_F(KeysTest, MouseStateMachine) {
  EXPECT_FALSE(con_.mouse_reporting());
  EXPECT_EQ(Key(), 0);  // first call: probed, reporting on
  EXPECT_TRUE(con_.mouse_reporting());
  con_.PushMouse(3, 7, 0);  // a movement: no key, no button, the position
  EXPECT_EQ(Key(), 0);
  EXPECT_EQ(button_, 0);
  EXPECT_EQ(row_, 3);
  EXPECT_EQ(col_, 7);
  EXPECT_TRUE(con_.mouse_reporting());
  con_.PushChar('k');
  EXPECT_EQ(Key(), 'k');
  EXPECT_EQ(row_, 3);                    // the last reported position
  EXPECT_FALSE(con_.mouse_reporting());  // off after a key
  con_.PushMouse(5, 10, 2);
  EXPECT_EQ(Key(), 0);
  EXPECT_EQ(button_, 2);
  EXPECT_EQ(row_, 5);
  EXPECT_EQ(col_, 10);
  EXPECT_FALSE(con_.mouse_reporting());  // off after a button
  EXPECT_EQ(Key(), 0);
  EXPECT_TRUE(con_.mouse_reporting());  // and on again at the next call
}

TEST_F(KeysTest, WithoutAMouseTheMouseOutputsStayZero) {
  con_.set_mouse_buttons(0);
  con_.PushMouse(5, 10, 1);
  con_.PushChar('q');
  EXPECT_EQ(Key(), 'q');  // the mouse event was discarded
  EXPECT_EQ(button_, 0);
  EXPECT_EQ(row_, 0);
  EXPECT_EQ(col_, 0);
  EXPECT_FALSE(con_.mouse_reporting());
}

TEST_F(KeysTest, WaitKeyPollsAndReturnsClicksAsMouseCodes) {
  int16_t key = 0;
  con_.PushNothing();
  con_.PushMouse(4, 4, 0);
  con_.PushMouse(5, 10, 2);
  WaitKey(key);
  EXPECT_EQ(key, 10 * 256 + 2 * 64 + 5);  // 2693
  con_.PushNothing();
  con_.PushNothing();
  con_.PushScan(0x50);
  WaitKey(key);
  EXPECT_EQ(key, kKeyDown);
  con_.PushMouse(1, 200, 1);  // taken as a signed 16-bit value
  WaitKey(key);
  EXPECT_EQ(key, static_cast<int16_t>(200 * 256 + 64 + 1));
  EXPECT_LT(key, 0);
}

TEST_F(KeysTest, KeyMapAddsSourcesWithTargets) {
  EXPECT_TRUE(ExitKeyMapEmpty());
  KeyMap("a", "1b=3e00,d");
  EXPECT_FALSE(ExitKeyMapEmpty());
  int16_t target = 0;
  ASSERT_TRUE(ExitKeyLookup(kKeyEsc, &target));
  EXPECT_EQ(target, kKeyF4);
  ASSERT_TRUE(ExitKeyLookup(kKeyEnter, &target));
  EXPECT_EQ(target, kKeyEnter);
  EXPECT_FALSE(ExitKeyLookup('x', &target));
  // Upper-case hex and high codes, read as signed 16-bit values.
  KeyMap("A", "8600=4F00");
  ASSERT_TRUE(ExitKeyLookup(kKeyF12, &target));
  EXPECT_EQ(target, kKeyEnd);
  // The first of two entries for a code wins; D removes only that one.
  KeyMap("a", "d=1b");
  ASSERT_TRUE(ExitKeyLookup(kKeyEnter, &target));
  EXPECT_EQ(target, kKeyEnter);
  KeyMap("d", "d");
  ASSERT_TRUE(ExitKeyLookup(kKeyEnter, &target));
  EXPECT_EQ(target, kKeyEsc);
  KeyMap("e", "");
  EXPECT_TRUE(ExitKeyMapEmpty());
}

TEST_F(KeysTest, KeyMapListItems) {
  // An empty list adds nothing; an empty item inside one reads as 0;
  // reading a code stops at its first character that is not hexadecimal.
  KeyMap("a", "");
  EXPECT_TRUE(ExitKeyMapEmpty());
  int16_t target = 7;
  KeyMap("a", "4800,,5000x9");
  EXPECT_TRUE(ExitKeyLookup(0, &target));
  EXPECT_EQ(target, 0);
  EXPECT_TRUE(ExitKeyLookup(kKeyDown, &target));
  EXPECT_TRUE(ExitKeyLookup(kKeyUp, &target));
}

TEST_F(KeysTest, KeyMapDeleteMatchesOnlyWholeEntries) {
  // Sources 3100 and 32: bytes 00 31 32 00, so the image of 3231 appears
  // across the two entries.
  KeyMap("a", "3100,32");
  KeyMap("d", "3231");
  int16_t target = 0;
  EXPECT_FALSE(ExitKeyLookup(0x3231, &target));
  EXPECT_TRUE(ExitKeyLookup(0x3100, &target));
  EXPECT_TRUE(ExitKeyLookup(0x32, &target));
  KeyMap("d", "3100");
  EXPECT_FALSE(ExitKeyLookup(0x3100, &target));
  ASSERT_TRUE(ExitKeyLookup(0x32, &target));
  EXPECT_EQ(target, 0x32);
}

TEST_F(KeysTest, KeyMapSavesOneLevel) {
  KeyMap("a", "d");
  KeyMap("+ea", "1b");  // save, empty, add
  int16_t target = 0;
  EXPECT_FALSE(ExitKeyLookup(kKeyEnter, &target));
  EXPECT_TRUE(ExitKeyLookup(kKeyEsc, &target));
  KeyMap("+e", "");  // a second save before a restore does nothing
  KeyMap("-", "");
  EXPECT_TRUE(ExitKeyLookup(kKeyEnter, &target));
  EXPECT_FALSE(ExitKeyLookup(kKeyEsc, &target));
  KeyMap("-", "");  // nothing saved: nothing happens
  EXPECT_TRUE(ExitKeyLookup(kKeyEnter, &target));
  // Operations on an empty map do nothing.
  KeyMap("ed", "d");
  EXPECT_TRUE(ExitKeyMapEmpty());
}

TEST_F(KeysTest, KeyMapSetsTheHiddenMask) {
  EXPECT_EQ(HiddenMask(), 0);
  KeyMap("h", "");
  EXPECT_EQ(HiddenMask(), 'X');
  KeyMap("V", "");
  EXPECT_EQ(HiddenMask(), 0);
  KeyMap("vH", "");
  EXPECT_EQ(HiddenMask(), 88);
}

}  // namespace
}  // namespace console
