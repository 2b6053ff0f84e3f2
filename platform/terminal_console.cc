#include "platform/terminal_console.h"

// Division map:
//   1. Glyphs and the reverse code page lookup
//   2. Colours
//   3. Key decoding (key table, CSI/SS3 sequences, Esc as Alt)
//   4. The too-small request's text; the clipboard sequence
//   5. Terminal restore on exit and on signals
//   6. TerminalConsole: the cell model mirrored into ncurses
//   7. OpenTerminalConsole
//   8. The terminal description's check (term.h, last)

#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <string_view>

#include "platform/cp850.h"
#include "platform/env.h"

// Last: curses defines many short names. NCURSES_NOMACROS keeps it to
// functions, so member names such as clear() and erase() stay usable.
#define NCURSES_NOMACROS 1
#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>

namespace platform {
namespace terminal {

// ---- 1. Glyphs ---------------------------------------------------------

namespace {

// The classic console glyphs of the control bytes 0x00-0x1F.
constexpr std::array<char16_t, 32> kControlGlyphs = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  //
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  //
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  //
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  //
};

}  // namespace

char32_t Glyph(uint8_t byte) {
  if (byte < 0x20) return kControlGlyphs[byte];
  if (byte == 0x7F) return 0x2302;  // house
  if (byte == 0xFF) return U' ';    // no-break space: a blank on screen
  return Cp850CodePoint(byte);
}

int Cp850FromCodePoint(char32_t cp) {
  if (cp >= 0x20 && cp < 0x7F) return static_cast<int>(cp);
  if (cp < 0xA0) return -1;
  static const std::unordered_map<char32_t, uint8_t>* const reverse = [] {
    auto* map = new std::unordered_map<char32_t, uint8_t>;
    for (int b = 0x80; b <= 0xFF; ++b) {
      (*map)[Cp850CodePoint(static_cast<uint8_t>(b))] = static_cast<uint8_t>(b);
    }
    return map;
  }();
  auto it = reverse->find(cp);
  return it == reverse->end() ? -1 : it->second;
}

// ---- 2. Colours --------------------------------------------------------

int CursesColour(int console_colour) {
  // Console order: black blue green cyan red magenta brown grey.
  static constexpr int kDark[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                   COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};
  return kDark[console_colour & 7] + (console_colour & 8);
}

TerminalColours MapAttribute(uint8_t attr, int colours) {
  const int fg = attr & 0x0F;
  const int bg = attr >> 4;
  TerminalColours out;
  if (colours >= 16) {
    out.fg = CursesColour(fg);
    out.bg = CursesColour(bg);
  } else if (colours >= 8) {
    out.fg = CursesColour(fg & 7);
    out.bg = CursesColour(bg & 7);
    out.bold = (fg & 8) != 0;
  } else {
    out.fg = COLOR_WHITE;
    out.bg = COLOR_BLACK;
    out.bold = (fg & 8) != 0;
    out.reverse = bg != 0;
  }
  return out;
}

int ColourPairs::PairFor(int fg, int bg, bool* is_new) {
  assert(fg >= 0 && fg < 16 && bg >= 0 && bg < 16);
  *is_new = false;
  int& pair = pairs_[fg + 16 * bg];
  if (pair == 0 && next_ < max_pairs_) {
    pair = next_++;
    *is_new = true;
  }
  return pair;
}

// ---- 3. Key decoding ---------------------------------------------------

namespace {

constexpr uint16_t kAlt = kModLeftAlt;
constexpr uint16_t kCtrl = kModLeftCtrl;
constexpr uint16_t kShift = kModShift;

// PC scan codes.
constexpr uint8_t kScanEsc = 0x01;
constexpr uint8_t kScanBackspace = 0x0E;
constexpr uint8_t kScanTab = 0x0F;
constexpr uint8_t kScanEnter = 0x1C;
constexpr uint8_t kScanSpace = 0x39;
constexpr uint8_t kScanHome = 0x47;
constexpr uint8_t kScanUp = 0x48;
constexpr uint8_t kScanPgUp = 0x49;
constexpr uint8_t kScanLeft = 0x4B;
constexpr uint8_t kScanCentre = 0x4C;
constexpr uint8_t kScanRight = 0x4D;
constexpr uint8_t kScanEnd = 0x4F;
constexpr uint8_t kScanDown = 0x50;
constexpr uint8_t kScanPgDn = 0x51;
constexpr uint8_t kScanInsert = 0x52;
constexpr uint8_t kScanDelete = 0x53;

// Scan codes of the letter keys A..Z.
constexpr uint8_t kLetterScan[26] = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,
};
// Scan codes of the keypad keys that stand for the digits 0..9 in Alt+keypad
// entry (a terminal has no keypad scan codes, so Alt+digit gives these).
constexpr uint8_t kKeypadDigitScan[10] = {
    kScanInsert, kScanEnd,   kScanDown, kScanPgDn, kScanLeft,
    kScanCentre, kScanRight, kScanHome, kScanUp,   kScanPgUp,
};
// Scan codes of the digit row 1..9, 0.
constexpr uint8_t kDigitRowScan[10] = {0x0B, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};

uint8_t FunctionKeyScan(int n) {  // n = 1..12
  return n <= 10 ? static_cast<uint8_t>(0x3B + n - 1) : static_cast<uint8_t>(0x85 + n - 11);
}

ConsoleEvent KeyPress(uint8_t ch, uint8_t scan, uint16_t modifiers) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kKeyPress;
  e.ch = ch;
  e.scan = scan;
  e.modifiers = modifiers;
  return e;
}

// xterm modifier parameter (1 + bits: 1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
uint16_t XtermModifiers(int param) {
  if (param < 2) return 0;
  const int bits = param - 1;
  uint16_t m = 0;
  if (bits & 1) m |= kShift;
  if (bits & (2 | 8)) m |= kAlt;
  if (bits & 4) m |= kCtrl;
  return m;
}

// A character typed with nothing special held (Ctrl+letter arrives as its
// control code).
ConsoleEvent FromCharacter(int32_t cp) {
  switch (cp) {
    case 27:
      return KeyPress(27, kScanEsc, 0);
    case 9:
      return KeyPress(9, kScanTab, 0);
    case 13:
    case 10:  // Enter on a terminal translating CR to NL, and Ctrl+J
      return KeyPress(13, kScanEnter, 0);
    case 8:
    case 127:  // what most terminals send for Backspace
      return KeyPress(8, kScanBackspace, 0);
    case 0:  // Ctrl+Space: no key of the console's
      return ConsoleEvent{};
    case ' ':
      return KeyPress(' ', kScanSpace, 0);
    default:
      break;
  }
  if (cp >= 1 && cp <= 26) {
    return KeyPress(static_cast<uint8_t>(cp), kLetterScan[cp - 1], kCtrl);
  }
  if (cp >= 28 && cp <= 31) return KeyPress(static_cast<uint8_t>(cp), 0, kCtrl);
  if (cp >= 'a' && cp <= 'z') return KeyPress(static_cast<uint8_t>(cp), kLetterScan[cp - 'a'], 0);
  if (cp >= 'A' && cp <= 'Z') return KeyPress(static_cast<uint8_t>(cp), kLetterScan[cp - 'A'], 0);
  if (cp >= '0' && cp <= '9') return KeyPress(static_cast<uint8_t>(cp), kDigitRowScan[cp - '0'], 0);
  const int byte = Cp850FromCodePoint(static_cast<char32_t>(cp));
  if (byte < 0) return ConsoleEvent{};
  return KeyPress(static_cast<uint8_t>(byte), 0, 0);
}

// The same key with Alt held: letters and Ctrl+letters lose their character
// (as on a PC keyboard), digits become the keypad keys of Alt+keypad entry.
ConsoleEvent WithAlt(ConsoleEvent e) {
  if (e.kind != ConsoleEvent::Kind::kKeyPress) return e;
  const uint8_t ch = e.ch;
  if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
      (ch >= 1 && ch <= 26 && e.scan != 0 && (e.modifiers & kCtrl))) {
    e.ch = 0;
  } else if (ch >= '0' && ch <= '9') {
    e.ch = 0;
    e.scan = kKeypadDigitScan[ch - '0'];
  }
  e.modifiers |= kAlt;
  return e;
}

ConsoleEvent FromBinding(const KeyBinding& b, uint16_t extra_modifiers = 0) {
  return KeyPress(b.ch, b.scan, b.modifiers | extra_modifiers);
}

// The key a CSI/SS3 final byte names, for the sequences with the key in the
// final byte (cursor keys, Home, End, F1..F4).
bool FinalByteKey(int final_byte, uint8_t* scan) {
  switch (final_byte) {
    case 'A':
      *scan = kScanUp;
      return true;
    case 'B':
      *scan = kScanDown;
      return true;
    case 'C':
      *scan = kScanRight;
      return true;
    case 'D':
      *scan = kScanLeft;
      return true;
    case 'E':
      *scan = kScanCentre;
      return true;
    case 'H':
      *scan = kScanHome;
      return true;
    case 'F':
      *scan = kScanEnd;
      return true;
    case 'P':
      *scan = FunctionKeyScan(1);
      return true;
    case 'Q':
      *scan = FunctionKeyScan(2);
      return true;
    case 'R':
      *scan = FunctionKeyScan(3);
      return true;
    case 'S':
      *scan = FunctionKeyScan(4);
      return true;
    default:
      return false;
  }
}

// The key of a "CSI n ~" sequence.
bool TildeKey(int n, uint8_t* scan) {
  switch (n) {
    case 1:
    case 7:
      *scan = kScanHome;
      return true;
    case 2:
      *scan = kScanInsert;
      return true;
    case 3:
      *scan = kScanDelete;
      return true;
    case 4:
    case 8:
      *scan = kScanEnd;
      return true;
    case 5:
      *scan = kScanPgUp;
      return true;
    case 6:
      *scan = kScanPgDn;
      return true;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      *scan = FunctionKeyScan(n - 10);
      return true;
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      *scan = FunctionKeyScan(n - 11);
      return true;
    case 23:
    case 24:
      *scan = FunctionKeyScan(n - 12);
      return true;
    default:
      return false;
  }
}

// Bytes after an Esc inside a sequence may still be on their way.
constexpr int kSequenceWaitMs = 25;
constexpr size_t kMaxSequence = 32;

// After "Esc [": parameters, intermediates, and the final byte.
ConsoleEvent ParseCsi(InputSource& in) {
  InputToken t;
  if (!in.Next(0, &t)) return WithAlt(FromCharacter('['));
  std::string body;
  size_t length = 0;
  for (;;) {
    if (t.is_key || t.value < 0x20 || t.value > 0x7E) {
      in.Unget(t);  // not part of a sequence: the sequence is cut short
      return ConsoleEvent{};
    }
    if (t.value >= 0x40) break;  // final byte
    // An overlong sequence is read to its end and dropped.
    if (++length > kMaxSequence * 16) return ConsoleEvent{};
    if (body.size() <= kMaxSequence) body.push_back(static_cast<char>(t.value));
    if (!in.Next(kSequenceWaitMs, &t)) return ConsoleEvent{};
  }
  if (body.size() > kMaxSequence) return ConsoleEvent{};
  const int final_byte = t.value;
  char prefix = 0;
  if (!body.empty() && std::strchr("<=>?", body[0]) != nullptr) {
    prefix = body[0];
    body.erase(0, 1);
  }
  std::vector<int> params;
  {
    int value = 0;
    bool any = false;
    bool sub = false;  // ":" sub-parameters are skipped
    for (char c : body) {
      if (c >= '0' && c <= '9') {
        if (!sub) value = std::min(value * 10 + (c - '0'), 100000);
        any = true;
      } else if (c == ';') {
        params.push_back(any ? value : 0);
        value = 0;
        any = false;
        sub = false;
      } else if (c == ':') {
        sub = true;
      } else {
        return ConsoleEvent{};  // intermediate bytes: no key of ours
      }
    }
    params.push_back(any ? value : 0);
  }
  auto param = [&](size_t i, int fallback) {
    return i < params.size() && params[i] != 0 ? params[i] : fallback;
  };

  if (prefix == '<') {  // SGR mouse report: button;column;row, M press / m release
    if ((final_byte != 'M' && final_byte != 'm') || params.size() < 3) return ConsoleEvent{};
    const int b = params[0];
    ConsoleEvent e;
    e.kind = ConsoleEvent::Kind::kMouse;
    e.col = params[1];
    e.row = params[2];
    if (b & 32) {  // movement
      e.released_button = 0;
    } else if (final_byte == 'm' && (b & 3) == 0) {
      e.released_button = 1;
    } else if (final_byte == 'm' && (b & 3) == 2) {
      e.released_button = 2;
    } else {
      return ConsoleEvent{};  // presses, the middle button, the wheel
    }
    return e;
  }
  if (prefix != 0) return ConsoleEvent{};

  uint8_t scan = 0;
  if (final_byte == '~') {
    if (!TildeKey(param(0, 0), &scan)) return ConsoleEvent{};
    return KeyPress(0, scan, XtermModifiers(param(1, 1)));
  }
  if (final_byte == 'Z') return KeyPress(0, kScanTab, 0);  // Shift+Tab
  if (final_byte == 'u') {  // "CSI code ; modifiers u": a character with modifiers
    const uint16_t mods = XtermModifiers(param(1, 1));
    int32_t cp = param(0, 0);
    if ((mods & kCtrl) && ((cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z'))) {
      cp &= 0x1F;
    }
    ConsoleEvent e = FromCharacter(cp);
    if (e.kind == ConsoleEvent::Kind::kNone) return e;
    if (mods & kAlt) e = WithAlt(e);
    e.modifiers |= mods & (kShift | kCtrl);
    return e;
  }
  if (FinalByteKey(final_byte, &scan)) return KeyPress(0, scan, XtermModifiers(param(1, 1)));
  return ConsoleEvent{};
}

// After "Esc O": an optional modifier digit and the key.
ConsoleEvent ParseSs3(InputSource& in) {
  InputToken t;
  if (!in.Next(0, &t)) return WithAlt(FromCharacter('O'));
  int modifier = 1;
  while (!t.is_key && t.value >= '0' && t.value <= '9') {
    modifier = t.value - '0';
    if (!in.Next(kSequenceWaitMs, &t)) return ConsoleEvent{};
  }
  if (t.is_key) {
    in.Unget(t);
    return ConsoleEvent{};
  }
  uint8_t scan = 0;
  if (FinalByteKey(t.value, &scan)) return KeyPress(0, scan, XtermModifiers(modifier));
  if (t.value == 'M') return KeyPress(13, kScanEnter, 0);  // keypad Enter
  // Keypad in application mode: p..y are 0..9, then * + , - . /
  if (t.value >= 'p' && t.value <= 'y') return FromCharacter('0' + (t.value - 'p'));
  static constexpr char kKeypadSigns[] = "*+,-./";  // j k l m n o
  if (t.value >= 'j' && t.value <= 'o') return FromCharacter(kKeypadSigns[t.value - 'j']);
  return ConsoleEvent{};
}

ConsoleEvent FromKeyCode(int code, const KeyTable& table) {
  const KeyBinding* b = table.Find(code);
  return b == nullptr ? ConsoleEvent{} : FromBinding(*b);
}

// After an Esc. nested: this Esc itself followed an Esc.
ConsoleEvent DecodeEscape(InputSource& in, const KeyTable& table, bool nested) {
  const ConsoleEvent esc = FromCharacter(27);
  InputToken t;
  if (!in.Next(0, &t)) return esc;
  if (t.is_key) {
    ConsoleEvent e = FromKeyCode(t.value, table);
    if (e.kind == ConsoleEvent::Kind::kNone) {
      in.Unget(t);  // a mouse event or a resize: not ours to swallow
      return esc;
    }
    return WithAlt(e);
  }
  switch (t.value) {
    case '[':
      return ParseCsi(in);
    case 'O':
      return ParseSs3(in);
    case 27: {
      if (nested) {
        in.Unget(t);
        return esc;
      }
      // Esc Esc [ A: terminals that send Alt as an Esc before a sequence.
      ConsoleEvent e = DecodeEscape(in, table, true);
      if (e.kind != ConsoleEvent::Kind::kKeyPress) return e;
      if (e.ch == 27 && e.modifiers == 0) return KeyPress(27, kScanEsc, kAlt);
      return WithAlt(e);
    }
    default:
      return WithAlt(FromCharacter(t.value));
  }
}

}  // namespace

KeyTable::KeyTable() {
  struct Entry {
    int code;
    uint8_t scan;
    uint16_t modifiers;
    uint8_t ch;
  };
  const Entry entries[] = {
      {KEY_UP, kScanUp, 0, 0},
      {KEY_DOWN, kScanDown, 0, 0},
      {KEY_LEFT, kScanLeft, 0, 0},
      {KEY_RIGHT, kScanRight, 0, 0},
      {KEY_HOME, kScanHome, 0, 0},
      {KEY_END, kScanEnd, 0, 0},
      {KEY_FIND, kScanHome, 0, 0},  // the Find/Select pair where Home/End should be
      {KEY_SELECT, kScanEnd, 0, 0},
      {KEY_PPAGE, kScanPgUp, 0, 0},
      {KEY_NPAGE, kScanPgDn, 0, 0},
      {KEY_IC, kScanInsert, 0, 0},
      {KEY_DC, kScanDelete, 0, 0},
      {KEY_A1, kScanHome, 0, 0},
      {KEY_A3, kScanPgUp, 0, 0},
      {KEY_B2, kScanCentre, 0, 0},
      {KEY_C1, kScanEnd, 0, 0},
      {KEY_C3, kScanPgDn, 0, 0},
      {KEY_BTAB, kScanTab, 0, 0},
      {KEY_BACKSPACE, kScanBackspace, 0, 8},
      {KEY_ENTER, kScanEnter, 0, 13},
      {KEY_SR, kScanUp, kShift, 0},
      {KEY_SF, kScanDown, kShift, 0},
      {KEY_SLEFT, kScanLeft, kShift, 0},
      {KEY_SRIGHT, kScanRight, kShift, 0},
      {KEY_SHOME, kScanHome, kShift, 0},
      {KEY_SEND, kScanEnd, kShift, 0},
      {KEY_SPREVIOUS, kScanPgUp, kShift, 0},
      {KEY_SNEXT, kScanPgDn, kShift, 0},
      {KEY_SIC, kScanInsert, kShift, 0},
      {KEY_SDC, kScanDelete, kShift, 0},
  };
  for (const Entry& e : entries) Bind(e.code, KeyBinding{e.scan, e.modifiers, e.ch});
  // F1..F63: the terminal descriptions number the modified function keys on.
  static constexpr uint16_t kFunctionGroups[] = {0,    kShift,       kCtrl, kCtrl | kShift,
                                                 kAlt, kAlt | kShift};
  for (int n = 1; n <= 63; ++n) {
    const int group = (n - 1) / 12;
    Bind(KEY_F(n), KeyBinding{FunctionKeyScan((n - 1) % 12 + 1), kFunctionGroups[group], 0});
  }
}

const KeyBinding* KeyTable::Find(int code) const {
  auto it = bindings_.find(code);
  return it == bindings_.end() ? nullptr : &it->second;
}

std::vector<std::pair<std::string, KeyBinding>> ExtendedKeyNames() {
  struct Base {
    const char* name;
    uint8_t scan;
  };
  static constexpr Base kBases[] = {
      {"kUP", kScanUp},     {"kDN", kScanDown},   {"kLFT", kScanLeft}, {"kRIT", kScanRight},
      {"kHOM", kScanHome},  {"kEND", kScanEnd},   {"kPRV", kScanPgUp}, {"kNXT", kScanPgDn},
      {"kIC", kScanInsert}, {"kDC", kScanDelete},
  };
  // Suffix n is the xterm modifier parameter n; no suffix is Shift.
  std::vector<std::pair<std::string, KeyBinding>> out;
  for (const Base& b : kBases) {
    out.push_back({b.name, KeyBinding{b.scan, kShift, 0}});
    for (int n = 3; n <= 8; ++n) {
      out.push_back({std::string(b.name) + static_cast<char>('0' + n),
                     KeyBinding{b.scan, XtermModifiers(n), 0}});
    }
  }
  return out;
}

ConsoleEvent DecodeInput(const InputToken& first, InputSource& more, const KeyTable& table) {
  if (first.is_key) return FromKeyCode(first.value, table);
  if (first.value == 27) return DecodeEscape(more, table, false);
  return FromCharacter(first.value);
}

// ---- 4. Too-small request and clipboard -------------------------------

std::string TooSmallMessage(const std::string& cp850_template, int cols, int rows) {
  // Both marks are looked for in the template itself, so the number put in
  // for one mark is never taken for the other.
  const size_t at1 = cp850_template.find("@1");
  const size_t at2 = cp850_template.find("@2");
  std::string out;
  for (size_t pos = 0; pos < cp850_template.size();) {
    if (pos == at1 || pos == at2) {
      out += std::to_string(pos == at1 ? cols : rows);
      pos += 2;
    } else {
      out.push_back(cp850_template[pos++]);
    }
  }
  return out;
}

std::vector<std::string> WrapText(const std::string& text, int width) {
  std::vector<std::string> lines;
  if (width <= 0) return lines;
  const size_t w = static_cast<size_t>(width);
  size_t pos = 0;
  for (;;) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos >= text.size()) break;
    if (text.size() - pos <= w) {
      lines.push_back(text.substr(pos));
      break;
    }
    // The last blank that leaves at most width bytes on the line.
    size_t cut = text.rfind(' ', pos + w);
    if (cut == std::string::npos || cut <= pos) {
      cut = pos + w;  // one word longer than the line
      lines.push_back(text.substr(pos, w));
    } else {
      size_t end = cut;
      while (end > pos && text[end - 1] == ' ') --end;
      lines.push_back(text.substr(pos, end - pos));
    }
    pos = cut;
  }
  return lines;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                       static_cast<uint8_t>(bytes[i + 1]) << 8 | static_cast<uint8_t>(bytes[i + 2]);
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string ClipboardSequence(const std::string& cp850) {
  return "\x1b]52;c;" + Base64(Cp850ToUtf8(cp850)) + "\x07";
}

}  // namespace terminal

namespace {

using terminal::InputSource;
using terminal::InputToken;

// ---- 5. Terminal restore -----------------------------------------------
//
// The signal handlers cannot call into ncurses (the fault may be inside it),
// so they write a restore sequence prepared in advance and put back the
// terminal modes saved before ncurses started; both are async-signal-safe.

constexpr int kRestoreSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT,
                                   SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr int kMaxSignal = 65;

struct sigaction g_previous_actions[kMaxSignal];
bool g_handler_installed[kMaxSignal] = {};
struct termios g_saved_termios;
volatile sig_atomic_t g_terminal_active = 0;
char g_restore_sequence[512];
volatile sig_atomic_t g_restore_length = 0;

void RestoreTerminalFromSignal() {
  if (!g_terminal_active) return;
  g_terminal_active = 0;
  const char* p = g_restore_sequence;
  ssize_t left = g_restore_length;
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, p, static_cast<size_t>(left));
    if (n <= 0) break;
    p += n;
    left -= n;
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
}

void OnRestoreSignal(int sig, siginfo_t* info, void* /*context*/) {
  const int saved_errno = errno;
  RestoreTerminalFromSignal();
  EndRunningProgramFromSignal(sig);
  RunSignalCleanups();
  sigaction(sig, &g_previous_actions[sig], nullptr);
  g_handler_installed[sig] = false;
  const bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
  errno = saved_errno;
  // A real fault happens again when the handler returns, now reaching the
  // previous handler (or the default action) with its true address. A signal
  // that was sent is raised again; it is delivered once this handler ends.
  if (fault && info != nullptr && info->si_code > 0) return;
  raise(sig);
}

void InstallSignalHandlers() {
  for (int sig : kRestoreSignals) {
    struct sigaction previous;
    if (sigaction(sig, nullptr, &previous) != 0) continue;
    if (previous.sa_handler == SIG_IGN && !(previous.sa_flags & SA_SIGINFO)) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnRestoreSignal;
    action.sa_flags = SA_SIGINFO;
    AddTerminationSignals(&action.sa_mask);
    if (sigaction(sig, &action, &g_previous_actions[sig]) == 0) g_handler_installed[sig] = true;
  }
}

void RemoveSignalHandlers() {
  for (int sig : kRestoreSignals) {
    if (!g_handler_installed[sig]) continue;
    sigaction(sig, &g_previous_actions[sig], nullptr);
    g_handler_installed[sig] = false;
  }
}

// A string capability of the terminal, empty when it has none.
std::string Capability(const char* name) {
  const char* s = tigetstr(name);
  if (s == nullptr || s == reinterpret_cast<const char*>(-1)) return {};
  return s;
}

bool HasCapability(const char* name) {
  return !Capability(name).empty();
}

void WriteAll(const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

bool TermStartsWith(const char* prefix) {
  const char* term = std::getenv("TERM");
  return term != nullptr && std::string_view(term).starts_with(prefix);
}

bool InsideTmux() {
  const char* tmux = std::getenv("TMUX");
  return tmux != nullptr && *tmux != '\0';
}

// ---- 6. TerminalConsole --------------------------------------------------

// ncurses' get_wch as an InputSource, with tokens given back kept in front.
class CursesInput : public InputSource {
 public:
  bool Next(int wait_ms, InputToken* token) override {
    if (!pushed_back_.empty()) {
      *token = pushed_back_.front();
      pushed_back_.pop_front();
      return true;
    }
    wtimeout(stdscr, wait_ms);
    wint_t wch = 0;
    const int r = wget_wch(stdscr, &wch);
    if (r == ERR) return false;
    token->is_key = r == KEY_CODE_YES;
    token->value = static_cast<int32_t>(wch);
    return true;
  }
  void Unget(const InputToken& token) override { pushed_back_.push_front(token); }
  void Clear() { pushed_back_.clear(); }

 private:
  std::deque<InputToken> pushed_back_;
};

class TerminalConsole;
TerminalConsole* g_open_console = nullptr;

std::string& TooSmallTemplate() {
  static std::string* const text =
      new std::string("Enlarge the terminal to at least 80 x 25 (it is @1 x @2)");
  return *text;
}

constexpr int kPollWaitMs = 10;
// Ctrl+L: the terminal drawn again, as in most full-screen programs.
constexpr uint8_t kCtrlL = 12;
// OSC 52 texts beyond this are not handed to the terminal (terminals cap
// the sequence's length; a huge one would stall the screen).
constexpr size_t kMaxClipboardBytes = 65536;

class TerminalConsole : public Console {
 public:
  TerminalConsole(SCREEN* screen, int colours, int colour_pairs)
      : screen_(screen), colours_(colours), pairs_(colour_pairs) {
    BuildGlyphs();
    BindExtendedKeys();
    shadow_ = std::make_unique<MemoryConsole>(kTerminalConsoleRows, kTerminalConsoleCols);
    TakeTerminalSize();
    shapes_ =
        HasCapability("Ss") || TermStartsWith("xterm") || TermStartsWith("tmux") || InsideTmux();
    osc52_ =
        HasCapability("Ms") || TermStartsWith("xterm") || TermStartsWith("tmux") || InsideTmux();
    BuildRestoreSequence();
    g_terminal_active = 1;
    RedrawAll();
    Sync();
  }

  ~TerminalConsole() override {
    Shutdown();
    if (screen_ != nullptr) delscreen(screen_);
    RemoveSignalHandlers();
    g_open_console = nullptr;
  }

  // Puts the terminal back as it was (idempotent): cursor shape, ncurses'
  // own restore (modes, alternate screen, keypad, mouse).
  void Shutdown() {
    if (closed_) return;
    closed_ = true;
    if (!suspended_) LeaveScreen();
    g_terminal_active = 0;
  }

  int Rows() override { return kTerminalConsoleRows; }
  int Cols() override { return kTerminalConsoleCols; }
  void SetAttribute(uint8_t attr) override { shadow_->SetAttribute(attr); }
  uint8_t Attribute() override { return shadow_->Attribute(); }
  void SetCursor(int row, int col) override { shadow_->SetCursor(row, col); }
  int CursorRow() override { return shadow_->CursorRow(); }
  int CursorCol() override { return shadow_->CursorCol(); }
  void SetCursorShape(int percent) override { shadow_->SetCursorShape(percent); }
  int CursorShape() override { return shadow_->CursorShape(); }

  void Write(const std::string& cp850) override {
    if (cp850.empty()) return;
    const int cols = Cols();
    const int total = Rows() * cols;
    const int start = (CursorRow() - 1) * cols + (CursorCol() - 1);
    const int count = std::min(static_cast<int>(cp850.size()), total - start);
    shadow_->Write(cp850);
    // Mirror the cells written, one row's run at a time.
    for (int i = start; i < start + count;) {
      const int row = i / cols + 1;
      const int first = i % cols + 1;
      const int last = std::min(cols, first + (start + count - i) - 1);
      DrawRun(row, first, last);
      i += last - first + 1;
    }
  }

  ConsoleCell ReadCell(int row, int col) override { return shadow_->ReadCell(row, col); }

  void Scroll(int top, int left, int bottom, int right, int count, uint8_t fill_attr) override {
    shadow_->Scroll(top, left, bottom, right, count, fill_attr);
    top = std::max(top, 1);
    left = std::max(left, 1);
    bottom = std::min(bottom, Rows());
    right = std::min(right, Cols());
    if (top > bottom || left > right || count == 0) return;
    for (int r = top; r <= bottom; ++r) DrawRun(r, left, right);
  }

  ConsoleEvent PollEvent() override {
    if (!pending_.empty()) {
      ConsoleEvent e = pending_.front();
      pending_.pop_front();
      return e;
    }
    if (suspended_ || closed_) return ConsoleEvent{};
    Sync();
    InputToken token;
    if (!input_.Next(kPollWaitMs, &token)) return ConsoleEvent{};
    if (token.is_key && token.value == KEY_RESIZE) return OnResize();
    ConsoleEvent e;
    if (token.is_key && token.value == KEY_MOUSE) {
      e = OnCursesMouse();
    } else {
      e = terminal::DecodeInput(token, input_, keys_);
      if (e.kind == ConsoleEvent::Kind::kMouse) e = FilterMouse(e);
    }
    if (e.kind == ConsoleEvent::Kind::kKeyPress && e.ch == kCtrlL && e.modifiers == kModLeftCtrl) {
      Repaint();
      return ConsoleEvent{};
    }
    // What the user cannot see the effect of is not done.
    if (too_small_) return ConsoleEvent{};
    return e;
  }

  // The whole terminal drawn again from the cells (or the too-small
  // request), whatever it shows now.
  void Repaint() {
    if (suspended_ || closed_) return;
    clearok(curscr, TRUE);
    RedrawAll();
    Sync();
  }

  void DiscardInput() override {
    if (!suspended_ && !closed_) flushinp();
    input_.Clear();
    // Resizes are no input; they stay queued.
    std::erase_if(pending_,
                  [](const ConsoleEvent& e) { return e.kind != ConsoleEvent::Kind::kResize; });
  }

  // The terminal's mouse tracking is switched on at the first request and
  // then left on: the kit switches reporting on and off around every key
  // read, and doing that on the terminal would cost bytes per key and lose
  // clicks. Off only means the events are dropped.
  void SetMouseReporting(bool on) override {
    if (on) EnsureMouse();
    mouse_reporting_ = on;
  }

  int MouseButtons() override {
    EnsureMouse();
    return mouse_available_ ? 2 : 0;
  }

  void Beep() override {
    if (suspended_ || closed_) return;
    beep();
  }

  void ClipboardChanged(const std::string& cp850) override {
    if (!osc52_ || suspended_ || closed_) return;
    const std::string text = cp850.substr(0, kMaxClipboardBytes / 3);
    Sync();
    WriteAll(terminal::ClipboardSequence(text));
  }

  void Suspend() override {
    if (suspended_ || closed_) return;
    Sync();
    LeaveScreen();
    suspended_ = true;
    g_terminal_active = 0;
  }

  void Resume() override {
    if (!suspended_ || closed_) return;
    suspended_ = false;
    g_terminal_active = 1;
    // The terminal may have changed size while the other program had it.
    struct winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0 &&
        (ws.ws_row != LINES || ws.ws_col != COLS)) {
      resizeterm(ws.ws_row, ws.ws_col);
    }
    if (TakeTerminalSize()) pending_.push_back(ResizeEvent());
    applied_shape_ = -1;
    clearok(curscr, TRUE);
    RedrawAll();
    Sync();
  }

  void Flush() override { Sync(); }

  // A new too-small text shows at once if the request is on the screen.
  void TooSmallTextChanged() {
    if (too_small_) Repaint();
  }

 private:
  void BuildGlyphs() {
    for (int b = 0; b < 256; ++b) {
      wchar_t g = static_cast<wchar_t>(terminal::Glyph(static_cast<uint8_t>(b)));
      // A glyph the locale does not show in one cell would shift the row.
      if (wcwidth(g) != 1) g = L'?';
      glyphs_[b] = g;
    }
  }

  void BindExtendedKeys() {
    for (const auto& [name, binding] : terminal::ExtendedKeyNames()) {
      const std::string seq = Capability(name.c_str());
      if (seq.empty()) continue;
      const int code = key_defined(seq.c_str());
      if (code > 0) keys_.Bind(code, binding);
    }
  }

  void BuildRestoreSequence() {
    std::string seq = Capability("sgr0");
    if (mouse_enabled_) seq += "\x1b[?1000l\x1b[?1002l\x1b[?1003l\x1b[?1006l";
    if (shape_used_) seq += ShapeResetSequence();
    seq += Capability("cnorm");
    seq += Capability("rmkx");
    const std::string rmcup = Capability("rmcup");
    if (!rmcup.empty()) {
      seq += rmcup;
    } else {
      seq += "\r\n";
    }
    g_restore_length = 0;
    const size_t n = std::min(seq.size(), sizeof g_restore_sequence);
    std::memcpy(g_restore_sequence, seq.data(), n);
    g_restore_length = static_cast<sig_atomic_t>(n);
  }

  std::string ShapeResetSequence() {
    const std::string se = Capability("Se");
    return se.empty() ? "\x1b[0 q" : se;
  }

  void LeaveScreen() {
    if (shape_used_) WriteAll(ShapeResetSequence());
    endwin();
  }

  void EnsureMouse() {
    if (mouse_probed_ || suspended_ || closed_) return;
    mouse_probed_ = true;
    mouseinterval(0);  // releases as they come, no click synthesis
    const mmask_t wanted = BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON3_PRESSED | BUTTON3_RELEASED |
                           REPORT_MOUSE_POSITION;
    const mmask_t got = mousemask(wanted, nullptr);
    mouse_available_ = got != 0 && has_mouse();
    mouse_enabled_ = got != 0;
    BuildRestoreSequence();
  }

  ConsoleEvent OnCursesMouse() {
    MEVENT m;
    if (getmouse(&m) != OK) return ConsoleEvent{};
    ConsoleEvent e;
    e.kind = ConsoleEvent::Kind::kMouse;
    e.row = m.y + 1;
    e.col = m.x + 1;
    if (m.bstate & BUTTON1_RELEASED) {
      e.released_button = 1;
    } else if (m.bstate & BUTTON3_RELEASED) {
      e.released_button = 2;
    } else if (m.bstate & REPORT_MOUSE_POSITION) {
      e.released_button = 0;
    } else {
      return ConsoleEvent{};  // presses
    }
    return FilterMouse(e);
  }

  ConsoleEvent FilterMouse(const ConsoleEvent& e) {
    if (!mouse_reporting_) return ConsoleEvent{};
    if (e.row < 1 || e.row > Rows() || e.col < 1 || e.col > Cols()) return ConsoleEvent{};
    return e;
  }

  static ConsoleEvent ResizeEvent() {
    ConsoleEvent e;
    e.kind = ConsoleEvent::Kind::kResize;
    return e;
  }

  // The terminal's size as ncurses has it now; true when it changed. The
  // cells stay as they are: the console's size never follows the terminal.
  bool TakeTerminalSize() {
    const bool changed = LINES != terminal_rows_ || COLS != terminal_cols_;
    terminal_rows_ = LINES;
    terminal_cols_ = COLS;
    too_small_ = terminal_rows_ < kTerminalConsoleRows || terminal_cols_ < kTerminalConsoleCols;
    return changed;
  }

  ConsoleEvent OnResize() {
    // ncurses has resized its screens already; the terminal's content after
    // a resize is anyone's guess, so everything is drawn again.
    TakeTerminalSize();
    clearok(curscr, TRUE);
    RedrawAll();
    return ResizeEvent();
  }

  void RedrawAll() {
    werase(stdscr);
    if (too_small_) {
      DrawTooSmall();
      return;
    }
    for (int r = 1; r <= Rows(); ++r) DrawRun(r, 1, Cols());
  }

  // The request to enlarge the terminal, centred, in the terminal's default
  // colours.
  void DrawTooSmall() {
    const std::vector<std::string> lines = terminal::WrapText(
        terminal::TooSmallMessage(TooSmallTemplate(), terminal_cols_, terminal_rows_),
        terminal_cols_);
    const int count = std::min(static_cast<int>(lines.size()), terminal_rows_);
    const int top = std::max(0, (terminal_rows_ - count) / 2);
    for (int i = 0; i < count; ++i) {
      std::wstring text;
      for (char c : lines[i]) text.push_back(glyphs_[static_cast<uint8_t>(c)]);
      const int left = std::max(0, (terminal_cols_ - static_cast<int>(text.size())) / 2);
      mvwaddnwstr(stdscr, top + i, left, text.c_str(), static_cast<int>(text.size()));
    }
  }

  // Copies the cells row, first..last of the model into ncurses' screen
  // (kept in the model only while the terminal is too small to show them).
  void DrawRun(int row, int first, int last) {
    if (first > last || too_small_) return;
    cchar_t cells[kMaxConsoleCols];
    int n = 0;
    for (int c = first; c <= last; ++c) {
      const ConsoleCell cell = shadow_->ReadCell(row, c);
      const wchar_t text[2] = {glyphs_[cell.ch], L'\0'};
      attr_t attrs = A_NORMAL;
      short pair = 0;
      StyleFor(cell.attr, &attrs, &pair);
      setcchar(&cells[n++], text, attrs, pair, nullptr);
    }
    mvwadd_wchnstr(stdscr, row - 1, first - 1, cells, n);
  }

  void StyleFor(uint8_t attr, attr_t* attrs, short* pair) {
    const terminal::TerminalColours tc = terminal::MapAttribute(attr, colours_);
    *attrs = (tc.bold ? A_BOLD : A_NORMAL) | (tc.reverse ? A_REVERSE : A_NORMAL);
    *pair = 0;
    if (colours_ < 8) return;
    bool is_new = false;
    const int p = pairs_.PairFor(tc.fg, tc.bg, &is_new);
    if (is_new)
      init_pair(static_cast<short>(p), static_cast<short>(tc.fg), static_cast<short>(tc.bg));
    *pair = static_cast<short>(p);
  }

  // Shows what was written: cursor shape, cursor position, changed cells.
  void Sync() {
    if (suspended_ || closed_) return;
    if (too_small_) {
      // No cursor over the request; the shape is set again once the screen
      // is back.
      curs_set(0);
      applied_shape_ = -1;
      wrefresh(stdscr);
      return;
    }
    const int shape = CursorShape();
    const bool shape_changed = shape != applied_shape_;
    if (shape_changed) {
      if (shape <= 0) {
        curs_set(0);
      } else if (shapes_) {
        curs_set(1);
      } else {
        curs_set(shape >= 100 ? 2 : 1);
      }
    }
    wmove(stdscr, CursorRow() - 1, CursorCol() - 1);
    wrefresh(stdscr);
    if (shape_changed) {
      if (shape > 0 && shapes_) {
        // DECSCUSR: 5 blinking bar for the half-height (insert) cursor, 1
        // blinking block for the full one.
        const int style = shape >= 100 ? 1 : 5;
        const std::string ss = Capability("Ss");
        const char* seq = ss.empty() ? nullptr : tiparm(ss.c_str(), style);
        WriteAll(seq != nullptr ? std::string(seq) : "\x1b[" + std::to_string(style) + " q");
        if (!shape_used_) {
          shape_used_ = true;
          BuildRestoreSequence();
        }
      }
      applied_shape_ = shape;
    }
  }

  SCREEN* screen_;
  int colours_;
  terminal::ColourPairs pairs_;
  std::unique_ptr<MemoryConsole> shadow_;
  std::array<wchar_t, 256> glyphs_{};
  terminal::KeyTable keys_;
  CursesInput input_;
  std::deque<ConsoleEvent> pending_;
  bool shapes_ = false;
  bool shape_used_ = false;
  int applied_shape_ = -1;
  bool osc52_ = false;
  bool mouse_probed_ = false;
  bool mouse_available_ = false;
  bool mouse_enabled_ = false;
  bool mouse_reporting_ = false;
  bool suspended_ = false;
  bool closed_ = false;
  int terminal_rows_ = 0;
  int terminal_cols_ = 0;
  bool too_small_ = false;
};

// Whether TERM names a description ncurses has, with cursor addressing
// (defined at the end of the file).
TerminalOpenFailure CheckDescription();

void ShutdownAtExit() {
  if (g_open_console != nullptr) g_open_console->Shutdown();
}

// ncursesw needs a UTF-8 character type; only LC_CTYPE is set, so number
// formatting elsewhere in the program keeps the "C" locale.
void UseUtf8CharacterType() {
  std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) return;
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "C.utf8");
}

}  // namespace

// ---- 7. OpenTerminalConsole ----------------------------------------------

std::unique_ptr<Console> OpenTerminalConsole(TerminalOpenFailure* failure) {
  auto fail = [&](TerminalOpenFailure why) -> std::unique_ptr<Console> {
    if (failure != nullptr) *failure = why;
    return nullptr;
  };
  if (failure != nullptr) *failure = TerminalOpenFailure::kNone;
  if (g_open_console != nullptr) return fail(TerminalOpenFailure::kAlreadyOpen);
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    return fail(TerminalOpenFailure::kNotATerminal);
  }
  if (tcgetattr(STDIN_FILENO, &g_saved_termios) != 0) {
    return fail(TerminalOpenFailure::kModesUnreadable);
  }
  // The description is looked at before newterm, which already writes to
  // the terminal (the alternate screen): a terminal that cannot place the
  // cursor would get garbage where the program's message should go.
  if (const TerminalOpenFailure unusable = CheckDescription();
      unusable != TerminalOpenFailure::kNone) {
    return fail(unusable);
  }
  UseUtf8CharacterType();
  // Installed first, so ncurses leaves SIGINT and SIGTERM to them.
  InstallSignalHandlers();
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) {
    RemoveSignalHandlers();
    return fail(TerminalOpenFailure::kUnknownType);
  }
  set_term(screen);
  raw();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, TRUE);
  meta(stdscr, TRUE);
  set_escdelay(25);
  leaveok(stdscr, FALSE);
  scrollok(stdscr, FALSE);
  idlok(stdscr, TRUE);
  typeahead(-1);
  int colours = 0;
  int colour_pairs = 0;
  if (has_colors() && start_color() == OK) {
    colours = COLORS;
    colour_pairs = std::min(COLOR_PAIRS, 32767);
  }
  static bool at_exit_registered = false;
  if (!at_exit_registered) {
    at_exit_registered = true;
    std::atexit(ShutdownAtExit);
  }
  auto console = std::make_unique<TerminalConsole>(screen, colours, colour_pairs);
  g_open_console = console.get();
  return console;
}

void SetTerminalTooSmallText(std::string cp850_template) {
  TooSmallTemplate() = std::move(cp850_template);
  if (g_open_console != nullptr) g_open_console->TooSmallTextChanged();
}

}  // namespace platform

// ---- 8. The terminal description's check ---------------------------------
//
// Last in the file: term.h defines a macro for every capability name
// (lines, columns, buttons, ...), which would rewrite ordinary names after
// it.
#include <ncursesw/term.h>

namespace platform {
namespace {

TerminalOpenFailure CheckDescription() {
  int status = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &status) != OK) return TerminalOpenFailure::kUnknownType;
  const bool addressable = HasCapability("cup");
  del_curterm(cur_term);
  return addressable ? TerminalOpenFailure::kNone : TerminalOpenFailure::kNoCursorAddressing;
}

}  // namespace
}  // namespace platform
