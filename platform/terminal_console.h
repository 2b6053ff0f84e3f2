// The console device on a real terminal, through ncursesw: the cell model of
// platform::Console shown with Unicode glyphs for the code page 850 bytes,
// the 16 console colours, cursor shapes, keys and mouse releases decoded into
// console events, resizes, the bell, the terminal's clipboard (OSC 52), and
// handing the terminal to another program and back.
//
// One terminal console at a time (ncurses keeps process-wide state); the
// caller owns it. While it is open the terminal is in raw mode, so Ctrl+B,
// Ctrl+C, Ctrl+V, Ctrl+Y (and Ctrl+S, Ctrl+Q, Ctrl+Z) reach the program as
// keys. The terminal is restored when the console is destroyed, at exit(),
// and from the handlers of the fatal and termination signals (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGHUP, SIGINT, SIGQUIT), which
// then pass the signal on to the handler that was there before (the default
// action normally), so the process still dies of it.
//
// Output: cells are written into ncurses' screen and shown when the console
// polls for input or is flushed; ncurses sends only the cells that differ
// from what the terminal shows. Input: PollEvent waits at most 10 ms when
// nothing is waiting (an escape sequence still arriving may add up to 25 ms
// per byte).
//
// Size: the console is always 25 rows x 80 columns, whatever the terminal's
// size: the screens, forms, help texts and window stack of the programs are
// laid out for it. It is shown at the top left of the terminal (so mouse
// positions map one to one) with the rest of a larger terminal blank. Every
// cell is kept in memory, so a resize repaints the whole screen from the
// cells, and so does Ctrl+L (taken by the console, never passed on as a
// key). A terminal smaller than 80 x 25 shows a request to enlarge it
// instead of the screen; meanwhile the program goes on writing into the
// cells, key presses and mouse events are dropped, and the screen comes
// back whole once the terminal is large enough. A resize of the terminal is
// reported as a kResize event (Rows() and Cols() stay 25 and 80).
//
// The pure parts (glyphs, colours, key decoding, the clipboard sequence) are
// in namespace terminal below, so they are tested without a terminal.
#ifndef TELVORAN_PLATFORM_TERMINAL_CONSOLE_H_
#define TELVORAN_PLATFORM_TERMINAL_CONSOLE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace platform {

// The console's fixed size on a terminal.
inline constexpr int kTerminalConsoleRows = 25;
inline constexpr int kTerminalConsoleCols = 80;

// Why OpenTerminalConsole gave no console; the caller words the message.
enum class TerminalOpenFailure : uint8_t {
  kNone,
  kAlreadyOpen,         // a terminal console is open already
  kNotATerminal,        // standard input or output is no terminal
  kModesUnreadable,     // the terminal's modes cannot be read
  kUnknownType,         // TERM names no terminal description ncurses has
  kNoCursorAddressing,  // the description cannot place the cursor ("cup")
};

// Opens the terminal on stdin/stdout. nullptr (with *failure set when
// failure is not null) when it cannot be used; nothing has been written to
// the terminal then.
std::unique_ptr<Console> OpenTerminalConsole(TerminalOpenFailure* failure);

// The request shown on a terminal smaller than the console, in code page
// 850, with "@1" for the terminal's columns and "@2" for its rows (the first
// of each is replaced). Until it is set, an English text.
void SetTerminalTooSmallText(std::string cp850_template);

namespace terminal {

// The Unicode glyph shown for a code page 850 byte. The control bytes show
// the classic console glyphs (0x01 a smiling face ... 0x1F a down triangle,
// 0x7F a house); 0x00 and the no-break space 0xFF show as a blank.
char32_t Glyph(uint8_t byte);

// The code page 850 byte of a typed Unicode character, or -1 when the code
// page has none. Control characters are not mapped (they are keys).
int Cp850FromCodePoint(char32_t code_point);

// The curses colour number of a console colour 0..15 (the two orders differ:
// console 1 is blue, curses 1 is red). Bright colours are 8 + the dark one.
int CursesColour(int console_colour);

// How an attribute is shown on a terminal with `colours` colours (COLORS;
// 0 for a terminal without colour). 16 or more: foreground and background
// directly as curses colours 0..15. 8: dark colours only, a bright foreground
// shown bold, a bright background as its dark form. None: bold for a bright
// foreground and reverse video for any background but black.
struct TerminalColours {
  int fg = 7;
  int bg = 0;
  bool bold = false;
  bool reverse = false;
  bool operator==(const TerminalColours&) const = default;
};
TerminalColours MapAttribute(uint8_t attr, int colours);

// Colour pairs handed out on first use: pair 1 for the first foreground and
// background met, and so on; 0 (the terminal's default colours) once the
// terminal's pairs are used up.
class ColourPairs {
 public:
  // max_pairs: COLOR_PAIRS (pair 0 is the terminal's and never handed out).
  explicit ColourPairs(int max_pairs) : max_pairs_(max_pairs) {}
  // The pair for the curses colours fg, bg (0..15); *is_new set when the
  // pair was just allocated and must be initialised.
  int PairFor(int fg, int bg, bool* is_new);

 private:
  int max_pairs_;
  int next_ = 1;
  int pairs_[256] = {};
};

// One unit of terminal input as ncurses delivers it: a key code (KEY_F(1),
// KEY_LEFT, a code ncurses gave an extended key...) or a character.
struct InputToken {
  bool is_key = false;
  int32_t value = 0;
};

// Where the decoder takes the rest of a key press from (the bytes after an
// Esc). Next waits at most wait_ms for a token; Unget gives one back.
class InputSource {
 public:
  virtual ~InputSource() = default;
  virtual bool Next(int wait_ms, InputToken* token) = 0;
  virtual void Unget(const InputToken& token) = 0;
};

// What a key code stands for: the key's scan code with the modifiers held,
// and the character it types (Backspace, keypad Enter).
struct KeyBinding {
  uint8_t scan = 0;
  uint16_t modifiers = 0;
  uint8_t ch = 0;
};

// ncurses key codes and what they stand for. A fresh table holds the
// standard codes: cursor and editing keys, their shifted forms, the keypad,
// Shift+Tab, Backspace, keypad Enter, F1..F12 and F13..F63 read as the
// modified F1..F12 (13..24 Shift, 25..36 Ctrl, 37..48 Ctrl+Shift, 49..60
// Alt, 61..63 Alt+Shift). The terminal back end adds the codes ncurses gave
// to the terminal's extended keys (Ctrl+Left and the like).
class KeyTable {
 public:
  KeyTable();
  void Bind(int code, KeyBinding binding) { bindings_[code] = binding; }
  const KeyBinding* Find(int code) const;

 private:
  std::unordered_map<int, KeyBinding> bindings_;
};

// The terminal description names of the extended keys (kLFT5 is Ctrl+Left,
// kUP3 Alt+Up, ...) with what they stand for.
std::vector<std::pair<std::string, KeyBinding>> ExtendedKeyNames();

// Decodes one key press (or an SGR mouse report that ncurses left alone)
// whose first token has been read; takes the rest from `more`. Esc followed
// by a key is that key with Alt; Esc alone is Esc. Sequences ncurses does not
// know (CSI and SS3, with xterm modifier parameters) are decoded here; an
// unknown one is swallowed whole. Returns Kind::kNone for input that is no
// key (an unknown sequence, a character outside code page 850, a mouse
// press).
ConsoleEvent DecodeInput(const InputToken& first, InputSource& more, const KeyTable& table);

// The too-small request for a terminal of cols x rows: the template with
// "@1" and "@2" replaced.
std::string TooSmallMessage(const std::string& cp850_template, int cols, int rows);

// The text cut into lines of at most width bytes, at blanks where it can
// (the blanks where a line breaks are dropped), inside a word that is
// longer than a line.
std::vector<std::string> WrapText(const std::string& text, int width);

// Standard base64 (with padding).
std::string Base64(std::string_view bytes);
// The OSC 52 sequence that puts a code page 850 text on the terminal's
// clipboard (as UTF-8).
std::string ClipboardSequence(const std::string& cp850);

}  // namespace terminal

}  // namespace platform

#endif  // TELVORAN_PLATFORM_TERMINAL_CONSOLE_H_
