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

// Opens the terminal on stdin/stdout. nullptr (with *error set when error is
// not null) when they are not a terminal, the terminal type is unknown to
// ncurses, or a terminal console is already open.
std::unique_ptr<Console> OpenTerminalConsole(std::string* error);

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

// Standard base64 (with padding).
std::string Base64(std::string_view bytes);
// The OSC 52 sequence that puts a code page 850 text on the terminal's
// clipboard (as UTF-8).
std::string ClipboardSequence(const std::string& cp850);

}  // namespace terminal

}  // namespace platform

#endif  // TELVORAN_PLATFORM_TERMINAL_CONSOLE_H_
