#include "platform/terminal_console.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/cp850.h"

// Last, for the key codes only; no curses macros.
#define NCURSES_NOMACROS 1
#include <ncursesw/curses.h>

namespace platform::terminal {
namespace {

// --- Glyphs ---------------------------------------------------------------

TEST(TerminalGlyphTest, ControlBytesShowTheClassicGlyphs) {
  const struct {
    uint8_t byte;
    char32_t glyph;
  } cases[] = {
      {0x00, U' '}, {0x01, U'☺'}, {0x02, U'☻'}, {0x03, U'♥'}, {0x04, U'♦'}, {0x05, U'♣'},
      {0x06, U'♠'}, {0x07, U'•'}, {0x08, U'◘'}, {0x09, U'○'}, {0x0A, U'◙'}, {0x0B, U'♂'},
      {0x0C, U'♀'}, {0x0D, U'♪'}, {0x0E, U'♫'}, {0x0F, U'☼'}, {0x10, U'►'}, {0x11, U'◄'},
      {0x12, U'↕'}, {0x13, U'‼'}, {0x14, U'¶'}, {0x15, U'§'}, {0x16, U'▬'}, {0x17, U'↨'},
      {0x18, U'↑'}, {0x19, U'↓'}, {0x1A, U'→'}, {0x1B, U'←'}, {0x1C, U'∟'}, {0x1D, U'↔'},
      {0x1E, U'▲'}, {0x1F, U'▼'}, {0x7F, U'⌂'}, {0xFF, U' '},
  };
  for (const auto& c : cases) EXPECT_EQ(Glyph(c.byte), c.glyph) << std::hex << int{c.byte};
}

TEST(TerminalGlyphTest, PrintableBytesShowTheirCodePageCharacter) {
  EXPECT_EQ(Glyph('A'), U'A');
  EXPECT_EQ(Glyph(0xD5), U'€');
  EXPECT_EQ(Glyph(0x82), U'é');
  EXPECT_EQ(Glyph(0xA5), U'Ñ');
  EXPECT_EQ(Glyph(0xC9), U'╔');
  EXPECT_EQ(Glyph(0xCD), U'═');
  EXPECT_EQ(Glyph(0xB3), U'│');
  for (int b = 0x20; b <= 0xFE; ++b) {
    if (b == 0x7F) continue;
    EXPECT_EQ(Glyph(static_cast<uint8_t>(b)), Cp850CodePoint(static_cast<uint8_t>(b))) << b;
  }
}

// The classic glyphs of 0x14 and 0x15 are the code page's own 0xF4 and 0xF5
// (pilcrow and section sign); apart from those only blanks repeat.
TEST(TerminalGlyphTest, EveryGlyphIsVisibleAndOnlyBlanksAndSignsRepeat) {
  std::map<char32_t, int> uses;
  for (int b = 0; b < 256; ++b) {
    const char32_t g = Glyph(static_cast<uint8_t>(b));
    EXPECT_TRUE(g >= 0x20 && g != 0x7F && !(g >= 0x80 && g < 0xA0)) << b;
    ++uses[g];
  }
  for (const auto& [glyph, count] : uses) {
    const int expected = glyph == U' ' ? 3 : glyph == U'¶' || glyph == U'§' ? 2 : 1;
    EXPECT_EQ(count, expected) << "glyph U+" << std::hex << static_cast<uint32_t>(glyph);
  }
}

TEST(TerminalGlyphTest, TypedCharactersMapBackToTheCodePage) {
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == 0x7F) continue;
    EXPECT_EQ(Cp850FromCodePoint(Cp850CodePoint(static_cast<uint8_t>(b))), b) << b;
  }
  EXPECT_EQ(Cp850FromCodePoint(U'€'), 0xD5);
  EXPECT_EQ(Cp850FromCodePoint(U'ı'), -1);  // the plain code page's 0xD5
  EXPECT_EQ(Cp850FromCodePoint(U'中'), -1);
  EXPECT_EQ(Cp850FromCodePoint(0x1B), -1);
  EXPECT_EQ(Cp850FromCodePoint(0x85), -1);
}

// --- Colours --------------------------------------------------------------

TEST(TerminalColourTest, ConsoleOrderBecomesCursesOrder) {
  const int expected[16] = {COLOR_BLACK,     COLOR_BLUE,        COLOR_GREEN,      COLOR_CYAN,
                            COLOR_RED,       COLOR_MAGENTA,     COLOR_YELLOW,     COLOR_WHITE,
                            8 + COLOR_BLACK, 8 + COLOR_BLUE,    8 + COLOR_GREEN,  8 + COLOR_CYAN,
                            8 + COLOR_RED,   8 + COLOR_MAGENTA, 8 + COLOR_YELLOW, 8 + COLOR_WHITE};
  for (int c = 0; c < 16; ++c) EXPECT_EQ(CursesColour(c), expected[c]) << c;
}

TEST(TerminalColourTest, AttributesByColourCount) {
  struct Case {
    uint8_t attr;
    int colours;
    TerminalColours want;
  };
  const Case cases[] = {
      // 256 (and 16) colours: both colours directly, bright ones included.
      {0x07, 256, {COLOR_WHITE, COLOR_BLACK, false, false}},
      {0x1F, 256, {8 + COLOR_WHITE, COLOR_BLUE, false, false}},
      {0x4E, 256, {8 + COLOR_YELLOW, COLOR_RED, false, false}},
      {0x70, 256, {COLOR_BLACK, COLOR_WHITE, false, false}},
      {0xCF, 16, {8 + COLOR_WHITE, 8 + COLOR_RED, false, false}},
      {0x36, 16, {COLOR_YELLOW, COLOR_CYAN, false, false}},
      // 8 colours: a bright foreground is bold, a bright background dark.
      {0x1F, 8, {COLOR_WHITE, COLOR_BLUE, true, false}},
      {0x17, 8, {COLOR_WHITE, COLOR_BLUE, false, false}},
      {0xCF, 8, {COLOR_WHITE, COLOR_RED, true, false}},
      {0x8A, 8, {COLOR_GREEN, COLOR_BLACK, true, false}},
      // No colour: bold and reverse video.
      {0x07, 0, {COLOR_WHITE, COLOR_BLACK, false, false}},
      {0x70, 0, {COLOR_WHITE, COLOR_BLACK, false, true}},
      {0x0F, 0, {COLOR_WHITE, COLOR_BLACK, true, false}},
      {0x1F, 0, {COLOR_WHITE, COLOR_BLACK, true, true}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapAttribute(c.attr, c.colours), c.want)
        << std::hex << int{c.attr} << " with " << std::dec << c.colours << " colours";
  }
}

TEST(TerminalColourTest, PairsAreHandedOutOnFirstUseUntilTheyRunOut) {
  ColourPairs pairs(4);  // pairs 1..3 available
  bool is_new = false;
  EXPECT_EQ(pairs.PairFor(7, 0, &is_new), 1);
  EXPECT_TRUE(is_new);
  EXPECT_EQ(pairs.PairFor(15, 1, &is_new), 2);
  EXPECT_TRUE(is_new);
  EXPECT_EQ(pairs.PairFor(7, 0, &is_new), 1);
  EXPECT_FALSE(is_new);
  EXPECT_EQ(pairs.PairFor(0, 7, &is_new), 3);
  EXPECT_EQ(pairs.PairFor(1, 2, &is_new), 0);  // used up: default colours
  EXPECT_FALSE(is_new);
  EXPECT_EQ(pairs.PairFor(15, 1, &is_new), 2);
}

// --- Key decoding -----------------------------------------------------------

class ScriptedInput : public InputSource {
 public:
  explicit ScriptedInput(std::vector<InputToken> tokens) : tokens_(tokens.begin(), tokens.end()) {}
  bool Next(int /*wait_ms*/, InputToken* token) override {
    if (tokens_.empty()) return false;
    *token = tokens_.front();
    tokens_.pop_front();
    return true;
  }
  void Unget(const InputToken& token) override { tokens_.push_front(token); }
  size_t left() const { return tokens_.size(); }

 private:
  std::deque<InputToken> tokens_;
};

InputToken Key(int code) {
  return InputToken{true, code};
}
std::vector<InputToken> Chars(const std::u32string& text) {
  std::vector<InputToken> out;
  for (char32_t c : text) out.push_back(InputToken{false, static_cast<int32_t>(c)});
  return out;
}

constexpr uint16_t kAlt = kModLeftAlt;
constexpr uint16_t kCtrl = kModLeftCtrl;
constexpr uint16_t kShift = kModShift;

struct KeyCase {
  const char* name;
  std::vector<InputToken> tokens;
  uint8_t ch;
  uint8_t scan;
  uint16_t modifiers;
};

ConsoleEvent DecodeAll(const std::vector<InputToken>& tokens, const KeyTable& table, size_t* left) {
  ScriptedInput in(std::vector<InputToken>(tokens.begin() + 1, tokens.end()));
  ConsoleEvent e = DecodeInput(tokens.front(), in, table);
  *left = in.left();
  return e;
}

void ExpectKeys(const std::vector<KeyCase>& cases, const KeyTable& table) {
  for (const KeyCase& c : cases) {
    size_t left = 0;
    const ConsoleEvent e = DecodeAll(c.tokens, table, &left);
    EXPECT_EQ(e.kind, ConsoleEvent::Kind::kKeyPress) << c.name;
    EXPECT_EQ(e.ch, c.ch) << c.name;
    EXPECT_EQ(e.scan, c.scan) << c.name;
    EXPECT_EQ(e.modifiers, c.modifiers) << c.name;
    EXPECT_EQ(left, 0u) << c.name << ": tokens left over";
  }
}

TEST(TerminalKeyTest, CursesKeyCodes) {
  const std::vector<KeyCase> cases = {
      {"F1", {Key(KEY_F(1))}, 0, 0x3B, 0},
      {"F10", {Key(KEY_F(10))}, 0, 0x44, 0},
      {"F11", {Key(KEY_F(11))}, 0, 0x85, 0},
      {"F12", {Key(KEY_F(12))}, 0, 0x86, 0},
      {"Shift+F1", {Key(KEY_F(13))}, 0, 0x3B, kShift},
      {"Shift+F12", {Key(KEY_F(24))}, 0, 0x86, kShift},
      {"Ctrl+F1", {Key(KEY_F(25))}, 0, 0x3B, kCtrl},
      {"Ctrl+F11", {Key(KEY_F(35))}, 0, 0x85, kCtrl},
      {"Ctrl+Shift+F2", {Key(KEY_F(38))}, 0, 0x3C, kCtrl | kShift},
      {"Alt+F1", {Key(KEY_F(49))}, 0, 0x3B, kAlt},
      {"Alt+F10", {Key(KEY_F(58))}, 0, 0x44, kAlt},
      {"Alt+F12", {Key(KEY_F(60))}, 0, 0x86, kAlt},
      {"Up", {Key(KEY_UP)}, 0, 0x48, 0},
      {"Down", {Key(KEY_DOWN)}, 0, 0x50, 0},
      {"Left", {Key(KEY_LEFT)}, 0, 0x4B, 0},
      {"Right", {Key(KEY_RIGHT)}, 0, 0x4D, 0},
      {"Home", {Key(KEY_HOME)}, 0, 0x47, 0},
      {"End", {Key(KEY_END)}, 0, 0x4F, 0},
      {"PgUp", {Key(KEY_PPAGE)}, 0, 0x49, 0},
      {"PgDn", {Key(KEY_NPAGE)}, 0, 0x51, 0},
      {"Insert", {Key(KEY_IC)}, 0, 0x52, 0},
      {"Delete", {Key(KEY_DC)}, 0, 0x53, 0},
      {"keypad centre", {Key(KEY_B2)}, 0, 0x4C, 0},
      {"Shift+Tab", {Key(KEY_BTAB)}, 0, 0x0F, 0},
      {"Shift+Left", {Key(KEY_SLEFT)}, 0, 0x4B, kShift},
      {"Backspace key", {Key(KEY_BACKSPACE)}, 8, 0x0E, 0},
      {"keypad Enter", {Key(KEY_ENTER)}, 13, 0x1C, 0},
      {"Esc then F1 is Alt+F1", {InputToken{false, 27}, Key(KEY_F(1))}, 0, 0x3B, kAlt},
      {"Esc then Left is Alt+Left", {InputToken{false, 27}, Key(KEY_LEFT)}, 0, 0x4B, kAlt},
  };
  ExpectKeys(cases, KeyTable());
}

TEST(TerminalKeyTest, CharactersAndControlKeys) {
  const std::vector<KeyCase> cases = {
      {"a", Chars(U"a"), 'a', 0x1E, 0},
      {"Z", Chars(U"Z"), 'Z', 0x2C, 0},
      {"7", Chars(U"7"), '7', 0x08, 0},
      {"blank", Chars(U" "), ' ', 0x39, 0},
      {"comma", Chars(U","), ',', 0, 0},
      {"euro", Chars(U"€"), 0xD5, 0, 0},
      {"e acute", Chars(U"é"), 0x82, 0, 0},
      {"N tilde", Chars(U"Ñ"), 0xA5, 0, 0},
      {"Tab", Chars(U"\t"), 9, 0x0F, 0},
      {"Enter", Chars(U"\r"), 13, 0x1C, 0},
      {"Enter as NL", Chars(U"\n"), 13, 0x1C, 0},
      {"Backspace DEL", Chars(U"\x7f"), 8, 0x0E, 0},
      {"Backspace BS", Chars(U"\b"), 8, 0x0E, 0},
      {"Ctrl+B", Chars(U"\x02"), 2, 0x30, kCtrl},
      {"Ctrl+C", Chars(U"\x03"), 3, 0x2E, kCtrl},
      {"Ctrl+V", Chars(U"\x16"), 22, 0x2F, kCtrl},
      {"Ctrl+Y", Chars(U"\x19"), 25, 0x15, kCtrl},
      {"Ctrl+Z", Chars(U"\x1a"), 26, 0x2C, kCtrl},
      {"Esc alone", Chars(U"\x1b"), 27, 0x01, 0},
  };
  ExpectKeys(cases, KeyTable());
}

TEST(TerminalKeyTest, AltLettersAndAltDigitsAsTheKeypad) {
  const std::vector<KeyCase> cases = {
      {"Alt+X", Chars(U"\x1bx"), 0, 0x2D, kAlt},
      {"Alt+C",
       Chars(U"\x1b"
             U"c"),
       0, 0x2E, kAlt},
      {"Alt+E",
       Chars(U"\x1b"
             U"e"),
       0, 0x12, kAlt},
      {"Alt+Shift+Q", Chars(U"\x1bQ"), 0, 0x10, kAlt},
      {"Alt+M", Chars(U"\x1bm"), 0, 0x32, kAlt},
      {"Alt+0",
       Chars(U"\x1b"
             U"0"),
       0, 0x52, kAlt},
      {"Alt+1",
       Chars(U"\x1b"
             U"1"),
       0, 0x4F, kAlt},
      {"Alt+2",
       Chars(U"\x1b"
             U"2"),
       0, 0x50, kAlt},
      {"Alt+3",
       Chars(U"\x1b"
             U"3"),
       0, 0x51, kAlt},
      {"Alt+4",
       Chars(U"\x1b"
             U"4"),
       0, 0x4B, kAlt},
      {"Alt+5",
       Chars(U"\x1b"
             U"5"),
       0, 0x4C, kAlt},
      {"Alt+6",
       Chars(U"\x1b"
             U"6"),
       0, 0x4D, kAlt},
      {"Alt+7",
       Chars(U"\x1b"
             U"7"),
       0, 0x47, kAlt},
      {"Alt+8",
       Chars(U"\x1b"
             U"8"),
       0, 0x48, kAlt},
      {"Alt+9",
       Chars(U"\x1b"
             U"9"),
       0, 0x49, kAlt},
      {"Alt+Ctrl+C", Chars(U"\x1b\x03"), 0, 0x2E, kAlt | kCtrl},
      {"Alt+comma", Chars(U"\x1b,"), ',', 0, kAlt},
      {"Alt+Esc", Chars(U"\x1b\x1b"), 27, 0x01, kAlt},
      {"Alt+[ alone", Chars(U"\x1b["), '[', 0, kAlt},
      {"Alt+Shift+O alone", Chars(U"\x1bO"), 0, 0x18, kAlt},
  };
  ExpectKeys(cases, KeyTable());
}

TEST(TerminalKeyTest, SequencesTheTerminalDescriptionDoesNotKnow) {
  const std::vector<KeyCase> cases = {
      {"F1 SS3", Chars(U"\x1bOP"), 0, 0x3B, 0},
      {"F4 SS3", Chars(U"\x1bOS"), 0, 0x3E, 0},
      {"Ctrl+F1 SS3", Chars(U"\x1bO5P"), 0, 0x3B, kCtrl},
      {"Ctrl+F1", Chars(U"\x1b[1;5P"), 0, 0x3B, kCtrl},
      {"Shift+F3", Chars(U"\x1b[1;2R"), 0, 0x3D, kShift},
      {"F5", Chars(U"\x1b[15~"), 0, 0x3F, 0},
      {"F6", Chars(U"\x1b[17~"), 0, 0x40, 0},
      {"Alt+F10", Chars(U"\x1b[21;3~"), 0, 0x44, kAlt},
      {"F11", Chars(U"\x1b[23~"), 0, 0x85, 0},
      {"Shift+F12", Chars(U"\x1b[24;2~"), 0, 0x86, kShift},
      {"Ctrl+F12", Chars(U"\x1b[24;5~"), 0, 0x86, kCtrl},
      {"Up", Chars(U"\x1b[A"), 0, 0x48, 0},
      {"Up SS3", Chars(U"\x1bOA"), 0, 0x48, 0},
      {"Ctrl+Left", Chars(U"\x1b[1;5D"), 0, 0x4B, kCtrl},
      {"Ctrl+Right", Chars(U"\x1b[1;5C"), 0, 0x4D, kCtrl},
      {"Ctrl+Home", Chars(U"\x1b[1;5H"), 0, 0x47, kCtrl},
      {"Alt+Up", Chars(U"\x1b[1;3A"), 0, 0x48, kAlt},
      {"Meta+Down", Chars(U"\x1b[1;9B"), 0, 0x50, kAlt},
      {"Esc Esc [A is Alt+Up", Chars(U"\x1b\x1b[A"), 0, 0x48, kAlt},
      {"Home", Chars(U"\x1b[1~"), 0, 0x47, 0},
      {"Insert", Chars(U"\x1b[2~"), 0, 0x52, 0},
      {"Delete", Chars(U"\x1b[3~"), 0, 0x53, 0},
      {"Ctrl+Delete", Chars(U"\x1b[3;5~"), 0, 0x53, kCtrl},
      {"End", Chars(U"\x1b[4~"), 0, 0x4F, 0},
      {"PgUp", Chars(U"\x1b[5~"), 0, 0x49, 0},
      {"PgDn", Chars(U"\x1b[6~"), 0, 0x51, 0},
      {"Shift+Tab", Chars(U"\x1b[Z"), 0, 0x0F, 0},
      {"keypad Enter", Chars(U"\x1bOM"), 13, 0x1C, 0},
      {"keypad 5", Chars(U"\x1bOu"), '5', 0x06, 0},
      {"Ctrl+C as CSI u", Chars(U"\x1b[99;5u"), 3, 0x2E, kCtrl},
      {"Alt+x as CSI u", Chars(U"\x1b[120;3u"), 0, 0x2D, kAlt},
  };
  ExpectKeys(cases, KeyTable());
}

TEST(TerminalKeyTest, ExtendedKeysBoundFromTheTerminalDescription) {
  KeyTable table;
  std::map<std::string, KeyBinding> names;
  for (const auto& [name, binding] : ExtendedKeyNames()) names[name] = binding;
  ASSERT_EQ(names.count("kLFT5"), 1u);
  ASSERT_EQ(names.count("kUP"), 1u);
  ASSERT_EQ(names.count("kHOM5"), 1u);
  ASSERT_EQ(names.count("kRIT3"), 1u);
  // ncurses numbers extended keys from beyond KEY_MAX.
  table.Bind(KEY_MAX + 1, names["kLFT5"]);
  table.Bind(KEY_MAX + 2, names["kUP"]);
  table.Bind(KEY_MAX + 3, names["kHOM5"]);
  table.Bind(KEY_MAX + 4, names["kRIT3"]);
  table.Bind(KEY_MAX + 5, names["kDC6"]);
  const std::vector<KeyCase> cases = {
      {"Ctrl+Left", {Key(KEY_MAX + 1)}, 0, 0x4B, kCtrl},
      {"Shift+Up", {Key(KEY_MAX + 2)}, 0, 0x48, kShift},
      {"Ctrl+Home", {Key(KEY_MAX + 3)}, 0, 0x47, kCtrl},
      {"Alt+Right", {Key(KEY_MAX + 4)}, 0, 0x4D, kAlt},
      {"Ctrl+Shift+Delete", {Key(KEY_MAX + 5)}, 0, 0x53, kCtrl | kShift},
  };
  ExpectKeys(cases, table);
}

TEST(TerminalKeyTest, WhatIsNoKeyIsSwallowed) {
  const KeyTable table;
  struct Case {
    const char* name;
    std::vector<InputToken> tokens;
    size_t left;  // tokens that belong to the next key press
  };
  const std::vector<Case> cases = {
      {"unknown CSI final", Chars(U"\x1b[99;5Xa"), 1},
      {"private CSI", Chars(U"\x1b[?1;2cb"), 1},
      {"overlong CSI", Chars(U"\x1b[" + std::u32string(40, U'1') + U"~"), 0},
      {"unknown tilde number", Chars(U"\x1b[99~"), 0},
      {"character outside the code page", Chars(U"中"), 0},
      {"C1 control", Chars(U"\x85"), 0},
      {"Ctrl+Space", Chars(std::u32string(1, U'\0')), 0},
      {"unknown key code", {Key(KEY_MAX + 50)}, 0},
      {"mouse press", Chars(U"\x1b[<0;10;5M"), 0},
      {"wheel", Chars(U"\x1b[<64;10;5M"), 0},
  };
  for (const Case& c : cases) {
    size_t left = 0;
    const ConsoleEvent e = DecodeAll(c.tokens, table, &left);
    EXPECT_EQ(e.kind, ConsoleEvent::Kind::kNone) << c.name;
    EXPECT_EQ(left, c.left) << c.name;
  }
}

TEST(TerminalKeyTest, EscBeforeAMouseEventStaysEsc) {
  ScriptedInput in({Key(KEY_MOUSE)});
  const ConsoleEvent e = DecodeInput(InputToken{false, 27}, in, KeyTable());
  EXPECT_EQ(e.kind, ConsoleEvent::Kind::kKeyPress);
  EXPECT_EQ(e.ch, 27);
  EXPECT_EQ(e.modifiers, 0);
  EXPECT_EQ(in.left(), 1u);  // the mouse event is read next
}

TEST(TerminalKeyTest, SgrMouseReleasesAndMovements) {
  const struct {
    std::u32string text;
    int row, col, button;
  } cases[] = {
      {U"\x1b[<0;10;5m", 5, 10, 1},
      {U"\x1b[<2;3;4m", 4, 3, 2},
      {U"\x1b[<35;80;25M", 25, 80, 0},
  };
  for (const auto& c : cases) {
    size_t left = 0;
    const ConsoleEvent e = DecodeAll(Chars(c.text), KeyTable(), &left);
    EXPECT_EQ(e.kind, ConsoleEvent::Kind::kMouse);
    EXPECT_EQ(e.row, c.row);
    EXPECT_EQ(e.col, c.col);
    EXPECT_EQ(e.released_button, c.button);
  }
}

// --- Clipboard --------------------------------------------------------------

TEST(TerminalClipboardTest, Base64KnownVectors) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64("\xff\xfe\x00"), "//4=");
  EXPECT_EQ(Base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(TerminalClipboardTest, Osc52CarriesTheTextAsUtf8) {
  // "café 5€" in code page 850.
  EXPECT_EQ(ClipboardSequence("caf\x82 5\xD5"), "\x1b]52;c;" + Base64("café 5€") + "\x07");
  EXPECT_EQ(ClipboardSequence(""), "\x1b]52;c;\x07");
}

}  // namespace
}  // namespace platform::terminal
