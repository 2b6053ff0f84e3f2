// Calculator: the pop-up adding machine of the console kit (the Alt+X hot
// key). A 26-column window over rows 1..25 shows a paper tape of up to 22
// lines, the entry line and its borders; the user types numbers and the
// operators + - * / % R (round to cents) C (clear) = T (change sign), moves
// the window with Left and Right, and leaves with F (the amount, typed into
// the field under the calculator) or Esc (nothing typed). The whole state is
// kept in "ZELCALC.TMP" in the terminal folder, so the calculator reopens as
// it was left. Single-threaded; exists only while open.
//
// State file: text, one value per line (CR LF), in this order:
//   column, tape start, entry, total, cleared flag, typing flag,
//   decimal flag, decimals, last key, pending operator,
//   then for each of the 22 tape entries (oldest slot first):
//   value, decimal flag, decimals, operator character.
// Integers in decimal, flags -1 (true) or 0, doubles in the shortest text
// that reads back to the same value.
#ifndef TELVORAN_CONSOLE_CALCULATOR_H_
#define TELVORAN_CONSOLE_CALCULATOR_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace console {

inline constexpr int kTapeLines = 22;
inline constexpr int16_t kCalculatorWidth = 26;
inline constexpr int16_t kCalculatorLastColumn = 55;  // right edge on column 80
// The tape start when the tape is empty.
inline constexpr int32_t kTapeEmpty = kTapeLines + 1;
// Digits of a typed number (integer and decimal digits together): more than
// a double holds exactly are ignored.
inline constexpr int kMaxEntryDigits = 15;
inline constexpr char kCalculatorStateFile[] = "ZELCALC.TMP";

struct TapeEntry {
  double value = 0;
  bool point = false;  // the value is shown with a decimal point
  int16_t decimals = 0;
  char op = ' ';  // "+", "-", "*", "/", "%", "R", "=" or blank
  bool operator==(const TapeEntry&) const = default;
};

struct CalculatorState {
  int16_t column = 1;  // left column of the window, 1..55
  // Slots tape_start..22 (1-based) are in use, the newest in slot 22.
  int32_t tape_start = kTapeEmpty;
  std::array<TapeEntry, kTapeLines> tape{};
  double entry = 0;      // the number typed or shown
  double total = 0;      // the running total
  bool cleared = false;  // right after a full clear
  bool typing = false;   // digits of a new entry are being typed
  bool point = false;    // "." was typed in the entry (or it shows decimals)
  int16_t decimals = 0;  // digits shown after the point
  std::string last_key;  // the operator key processed last
  std::string pending;   // the operator waiting for the next entry ("" none)
  bool operator==(const CalculatorState&) const = default;
};

// Reads the state file's bytes. Empty bytes give the start state; anything
// that is not a complete, well-formed state (missing or extra lines, a value
// that is not a number, not finite or out of range, an unknown operator)
// gives nothing.
std::optional<CalculatorState> ParseCalculatorState(std::string_view bytes);
// The state file's bytes for the state.
std::string SerializeCalculatorState(const CalculatorState& state);
// The state file: the terminal folder + "ZELCALC.TMP".
std::string CalculatorStatePath();

// What a key asks of the window.
enum class CalculatorOutcome {
  kNone,    // ignored
  kUpdate,  // draw the changed lines
  kRedraw,  // the tape was emptied or the window moved: repaint from scratch
  kBeep,    // refused (a division by zero or a result beyond the doubles)
  kFinish,  // F or Alt+F: return the amount
  kCancel,  // Esc: return nothing
};

// Applies one key (WaitKey codes; letters in either case) to the state.
// A refused key leaves the state unchanged.
CalculatorOutcome PressCalculatorKey(CalculatorState& state, int16_t key);

// The amount the calculator hands back: the entry while typing, else the
// total, in hundredths, digits only ("1250" for 12.5, "123.4" for 1.234,
// ".1" for 0.001).
std::string CalculatorAmountText(const CalculatorState& state);

// The value as the tape and the entry line show it: 22 characters.
std::string CalculatorNumberText(double value, bool point, int decimals);

// The value rounded to two decimals, halves to even, judged on its
// shortest decimal text (0.125 gives 0.12, 0.375 gives 0.38).
double RoundToCents(double value);

// Runs the calculator on the process-wide console: reads the state file,
// opens the window, takes keys until F, Alt+F or Esc, writes the state file
// and returns the amount text (empty after Esc). The caller's colour and
// cursor are restored on return; the exit-key map is not touched.
std::string Calculator();

}  // namespace console

#endif  // TELVORAN_CONSOLE_CALCULATOR_H_
