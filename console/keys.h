// Key reading for the console kit: console input events become one 16-bit
// key code each (characters as their code page 850 code, other keys as scan
// code x 256, modifiers folded into the classic PC codes), Alt+keypad entry,
// the mouse state machine, the calculator and calendar hot keys feeding
// their result back as pending keys, and the exit-key map that decides which
// keys end a field edit.
//
// Process-wide state, single-threaded; empty or 0 at start.
#ifndef TELVORAN_CONSOLE_KEYS_H_
#define TELVORAN_CONSOLE_KEYS_H_

#include <cstdint>
#include <functional>
#include <string>

namespace console {

// Key codes. Must match the form file's key lists and the module's checks.
inline constexpr int16_t kKeyCtrlB = 2;
inline constexpr int16_t kKeyCtrlC = 3;
inline constexpr int16_t kKeyBackspace = 8;
inline constexpr int16_t kKeyTab = 9;
inline constexpr int16_t kKeyEnter = 13;
inline constexpr int16_t kKeyCtrlV = 22;
inline constexpr int16_t kKeyCtrlY = 25;
inline constexpr int16_t kKeyEsc = 27;
inline constexpr int16_t kKeyShiftTab = 0x0F00;
inline constexpr int16_t kKeyAltE = 0x1200;
inline constexpr int16_t kKeyAltX = 0x2D00;
inline constexpr int16_t kKeyAltC = 0x2E00;
inline constexpr int16_t kKeyF1 = 0x3B00;
inline constexpr int16_t kKeyF2 = 0x3C00;
inline constexpr int16_t kKeyF4 = 0x3E00;
inline constexpr int16_t kKeyF10 = 0x4400;
inline constexpr int16_t kKeyHome = 0x4700;
inline constexpr int16_t kKeyUp = 0x4800;
inline constexpr int16_t kKeyPgUp = 0x4900;
inline constexpr int16_t kKeyLeft = 0x4B00;
inline constexpr int16_t kKeyCentre = 0x4C00;
inline constexpr int16_t kKeyRight = 0x4D00;
inline constexpr int16_t kKeyEnd = 0x4F00;
inline constexpr int16_t kKeyDown = 0x5000;
inline constexpr int16_t kKeyPgDn = 0x5100;
inline constexpr int16_t kKeyInsert = 0x5200;
inline constexpr int16_t kKeyDelete = 0x5300;
inline constexpr int16_t kKeyCtrlF4 = 0x6100;
inline constexpr int16_t kKeyAltF4 = 0x6B00;
inline constexpr int16_t kKeyCtrlLeft = 0x7300;
inline constexpr int16_t kKeyCtrlRight = 0x7400;
inline constexpr int16_t kKeyCtrlHome = 0x7700;
inline constexpr int16_t kKeyF11 = static_cast<int16_t>(0x8500);
inline constexpr int16_t kKeyF12 = static_cast<int16_t>(0x8600);
inline constexpr int16_t kEuroSign = 213;

// The field editor reports a click as -(column * 100 + row), both at most
// 99 (the console never reports more), so its codes lie in -9999..-1. F11,
// F12 and their modified forms (0x8500..0x8C00) are negative as 16-bit
// values too, but below that range: they are keys, not clicks.
inline constexpr int16_t kLowestClickCode = -(99 * 100 + 99);
inline constexpr bool IsClickCode(int16_t key) {
  return key < 0 && key >= kLowestClickCode;
}

// Takes the next input event without waiting. key 0 when nothing (or only a
// mouse movement) was waiting; button 1/2 for a mouse release; row and col
// the mouse position (absolute, 1-based) when mouse reporting is on.
void GetKey(int16_t& key, int16_t& button, int16_t& row, int16_t& col);
// Polls GetKey until a key or a click; a click is col*256 + button*64 + row.
void WaitKey(int16_t& key);

// The characters returned as keys before any real input.
std::string& PendingKeys();

// The two hot-key tools, installed by whoever supplies them (the calculator
// for Alt+X, the calendar for Alt+C); each returns the text to type. Not
// installed: the hot key is an ordinary key.
void SetCalculatorHook(std::function<std::string()> hook);
void SetCalendarHook(std::function<std::string()> hook);

// Edits the exit-key map and the hidden-input mask; operations letters
// A (add), D (delete), E (empty), + (save), - (restore), H (hide), V (show).
void KeyMap(const std::string& operations, const std::string& list);
// Looks a code up in the exit-key map: true with *target set when found.
bool ExitKeyLookup(int16_t code, int16_t* target);
bool ExitKeyMapEmpty();
// 0 normally; else the character shown instead of the field's text.
int16_t HiddenMask();

// Back to the start state (map, save slot, mask, pending keys, mouse state,
// Alt digit buffer); for tests.
void ResetKeyState();

}  // namespace console

#endif  // TELVORAN_CONSOLE_KEYS_H_
