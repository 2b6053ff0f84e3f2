#include "console/keys.h"

#include <cassert>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "platform/little_endian.h"

// Division map: key state; turning one console event into a key code
// (modifier folding, Alt+keypad digits); GetKey with the mouse state machine
// and the hot keys; WaitKey; the exit-key map.

namespace console {

namespace {

using platform::ConsoleEvent;

// --- Key state -----------------------------------------------------------

enum MouseState : int16_t {
  kMouseNotProbed = 0,
  kMouseReporting = 1,
  kMousePresent = 2,  // reporting off between calls
  kMouseNone = 3,
};

struct KeyState {
  std::string pending;
  int16_t mouse_state = kMouseNotProbed;
  int16_t mouse_row = 0;  // the mouse's last reported position
  int16_t mouse_col = 0;
  bool calculator_open = false;
  bool calendar_open = false;
  // Modifiers of the last key press read; key releases leave them alone.
  uint16_t last_modifiers = 0;
  // Alt+keypad digits typed so far. Kept between calls, so a caller polling
  // while the user types them is never held inside GetKey.
  std::string alt_digits;
  std::string exit_sources;  // 2-byte little-endian codes, insertion order
  std::string exit_targets;  // the target of each source, same offset
  bool saved_in_use = false;
  std::string saved_sources;
  std::string saved_targets;
  int16_t hidden_mask = 0;
};

KeyState& State() {
  static KeyState* state = new KeyState();
  return *state;
}

struct Hooks {
  std::function<std::string()> calculator;
  std::function<std::string()> calendar;
};

Hooks& InstalledHooks() {
  static Hooks* hooks = new Hooks();
  return *hooks;
}

// --- One event to one key code ---------------------------------------------

int16_t FromBits(unsigned bits) {
  return static_cast<int16_t>(static_cast<uint16_t>(bits));
}
unsigned Bits(int16_t code) {
  return static_cast<uint16_t>(code);
}

// The unmodified code of a key press: its character, else scan code x 256.
int16_t RawCode(const ConsoleEvent& e) {
  if (e.ch != 0) return e.ch;
  return FromBits(static_cast<unsigned>(e.scan) << 8);
}

// The digit of a numeric keypad key (NumLock off codes), or 0.
char KeypadDigit(int16_t code) {
  switch (code) {
    case kKeyInsert:
      return '0';
    case kKeyEnd:
      return '1';
    case kKeyDown:
      return '2';
    case kKeyPgDn:
      return '3';
    case kKeyLeft:
      return '4';
    case kKeyCentre:
      return '5';
    case kKeyRight:
      return '6';
    case kKeyHome:
      return '7';
    case kKeyUp:
      return '8';
    case kKeyPgUp:
      return '9';
    default:
      return 0;
  }
}

bool IsF1ToF10(unsigned code) {
  return code >= Bits(kKeyF1) && code <= Bits(kKeyF10);
}
bool IsF11OrF12(unsigned code) {
  return code == Bits(kKeyF11) || code == Bits(kKeyF12);
}

// Folds Alt, Ctrl and Shift into the classic PC codes of the function and
// cursor keys; Alt+E (and AltGr+E) becomes the euro sign.
int16_t FoldModifiers(int16_t raw, uint16_t modifiers) {
  if (raw == kKeyAltE) return kEuroSign;
  unsigned code = Bits(raw);
  if (modifiers & (platform::kModLeftAlt | platform::kModRightAlt)) {
    if (IsF1ToF10(code))
      code += 0x2D00;
    else if (IsF11OrF12(code))
      code += 0x0600;
  } else if (modifiers & (platform::kModLeftCtrl | platform::kModRightCtrl)) {
    if (IsF1ToF10(code))
      code += 0x2300;
    else if (IsF11OrF12(code))
      code += 0x0400;
    else if (raw == kKeyHome)
      code = Bits(kKeyCtrlHome);
    else if (raw == kKeyRight)
      code = Bits(kKeyCtrlRight);
    else if (raw == kKeyLeft)
      code = Bits(kKeyCtrlLeft);
  } else if (modifiers & platform::kModShift) {
    if (IsF1ToF10(code))
      code += 0x1900;
    else if (IsF11OrF12(code))
      code += 0x0200;
  }
  return FromBits(code);
}

// Takes waiting events until one yields a key or a mouse report. Key
// releases, resizes and keypad digits typed with the left Alt key held are
// consumed on the way; key 0 with button 0 when nothing is left.
void ReadEvent(KeyState& s, int16_t& key, int16_t& button) {
  platform::Console& con = platform::CurrentConsole();
  for (;;) {
    const ConsoleEvent e = con.PollEvent();
    switch (e.kind) {
      case ConsoleEvent::Kind::kNone:
        return;
      case ConsoleEvent::Kind::kKeyRelease:
      case ConsoleEvent::Kind::kResize:
        continue;
      case ConsoleEvent::Kind::kMouse:
        if (s.mouse_state != kMouseReporting) continue;
        s.mouse_row = static_cast<int16_t>(e.row);
        s.mouse_col = static_cast<int16_t>(e.col);
        button = static_cast<int16_t>(e.released_button);
        return;
      case ConsoleEvent::Kind::kKeyPress:
        break;
    }
    s.last_modifiers = e.modifiers;
    const int16_t raw = RawCode(e);
    if (s.last_modifiers & platform::kModLeftAlt) {
      if (const char digit = KeypadDigit(raw); digit != 0) {
        s.alt_digits.push_back(digit);
        continue;
      }
    }
    if (raw == 0) continue;  // a key press the console could not name
    if (!s.alt_digits.empty()) {
      // The typed number replaces the first key after the digits.
      int value = 0;
      for (char d : s.alt_digits) value = (value * 10 + (d - '0')) % 256;
      s.alt_digits.clear();
      key = static_cast<int16_t>(value);
      return;
    }
    key = FoldModifiers(raw, e.modifiers);
    return;
  }
}

// Runs a hot key's tool once and queues its result as typed keys.
void RunHotKey(bool& open, const std::function<std::string()>& tool) {
  if (open || !tool) return;
  open = true;
  std::string result = tool();
  open = false;
  State().pending += result;
}

// --- Exit-key map ----------------------------------------------------------

std::string Image(int16_t code) {
  std::string image;
  platform::AppendLe16(&image, static_cast<uint16_t>(Bits(code)));
  return image;
}

int16_t FromImage(const std::string& bytes, size_t at) {
  return FromBits(platform::LoadLe16(bytes, at));
}

// Hexadecimal digits up to the first other character, as a signed 16-bit
// code (the low 16 bits of a longer number). Leading blanks are skipped.
int16_t ParseHexCode(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  unsigned value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      break;
    value = ((value << 4) | digit) & 0xFFFF;
  }
  return FromBits(value);
}

struct MapItem {
  int16_t source;
  int16_t target;
};

// The items of a key list. A wholly empty list has none (otherwise adding it
// would put code 0 in the map, which stops every key from leaving a field);
// an empty item inside a list reads as 0.
std::vector<MapItem> ParseKeyList(const std::string& list) {
  std::vector<MapItem> items;
  if (list.empty()) return items;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string item =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
      const int16_t code = ParseHexCode(item);
      items.push_back({code, code});
    } else {
      items.push_back({ParseHexCode(item.substr(0, eq)), ParseHexCode(item.substr(eq + 1))});
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

// Byte offset of the first entry whose source is code, or npos. Only entry
// boundaries count: a match straddling two entries is not one.
size_t FindSource(const std::string& sources, int16_t code) {
  const std::string image = Image(code);
  for (size_t at = 0; at + 1 < sources.size(); at += 2) {
    if (sources.compare(at, 2, image) == 0) return at;
  }
  return std::string::npos;
}

}  // namespace

// --- Key reading -------------------------------------------------------------

void GetKey(int16_t& key, int16_t& button, int16_t& row, int16_t& col) {
  KeyState& s = State();
  if (!s.pending.empty()) {
    key = static_cast<uint8_t>(s.pending.front());
    s.pending.erase(0, 1);
    return;
  }

  platform::Console& con = platform::CurrentConsole();
  if (s.mouse_state == kMouseNotProbed) {
    s.mouse_state = con.MouseButtons() == 0 ? kMouseNone : kMousePresent;
  }
  if (s.mouse_state == kMousePresent) {
    con.SetMouseReporting(true);
    s.mouse_state = kMouseReporting;
  }

  key = button = row = col = 0;
  ReadEvent(s, key, button);

  if (s.mouse_state == kMouseReporting) {
    row = s.mouse_row;
    col = s.mouse_col;
  }

  Hooks& hooks = InstalledHooks();
  if (key == kKeyAltX) RunHotKey(s.calculator_open, hooks.calculator);
  if (key == kKeyAltC) RunHotKey(s.calendar_open, hooks.calendar);

  if (s.mouse_state == kMouseReporting && (key != 0 || button != 0)) {
    con.SetMouseReporting(false);
    s.mouse_state = kMousePresent;
  }
}

void WaitKey(int16_t& key) {
  int16_t button = 0, row = 0, col = 0;
  do {
    GetKey(key, button, row, col);
  } while (key == 0 && button == 0);
  if (button != 0) key = FromBits(Bits(col) * 256 + Bits(button) * 64 + Bits(row));
}

std::string& PendingKeys() {
  return State().pending;
}

void SetCalculatorHook(std::function<std::string()> hook) {
  InstalledHooks().calculator = std::move(hook);
}

void SetCalendarHook(std::function<std::string()> hook) {
  InstalledHooks().calendar = std::move(hook);
}

// --- Exit-key map ------------------------------------------------------------

void KeyMap(const std::string& operations, const std::string& list) {
  KeyState& s = State();
  for (char op : operations) {
    switch (op) {
      case 'A':
      case 'a':
        for (const MapItem& item : ParseKeyList(list)) {
          s.exit_sources += Image(item.source);
          s.exit_targets += Image(item.target);
        }
        break;
      case 'D':
      case 'd':
        for (const MapItem& item : ParseKeyList(list)) {
          const size_t at = FindSource(s.exit_sources, item.source);
          if (at == std::string::npos) continue;
          s.exit_sources.erase(at, 2);
          s.exit_targets.erase(at, 2);
        }
        break;
      case 'E':
      case 'e':
        s.exit_sources.clear();
        s.exit_targets.clear();
        break;
      case '+':
        if (!s.saved_in_use) {
          s.saved_sources = s.exit_sources;
          s.saved_targets = s.exit_targets;
          s.saved_in_use = true;
        }
        break;
      case '-':
        if (s.saved_in_use) {
          s.exit_sources = std::move(s.saved_sources);
          s.exit_targets = std::move(s.saved_targets);
          s.saved_sources.clear();
          s.saved_targets.clear();
          s.saved_in_use = false;
        }
        break;
      case 'H':
      case 'h':
        s.hidden_mask = 'X';
        break;
      case 'V':
      case 'v':
        s.hidden_mask = 0;
        break;
      default:
        break;
    }
  }
}

bool ExitKeyLookup(int16_t code, int16_t* target) {
  // REQUIRES: target != nullptr.
  assert(target != nullptr);
  const KeyState& s = State();
  const size_t at = FindSource(s.exit_sources, code);
  if (at == std::string::npos || at + 1 >= s.exit_targets.size()) return false;
  if (target != nullptr) *target = FromImage(s.exit_targets, at);
  return true;
}

bool ExitKeyMapEmpty() {
  return State().exit_sources.empty();
}

int16_t HiddenMask() {
  return State().hidden_mask;
}

void ResetKeyState() {
  State() = KeyState();
}

}  // namespace console
