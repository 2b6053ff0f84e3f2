#include "console/calculator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "console/keys.h"
#include "console/screen.h"
#include "format/masks.h"
#include "platform/console.h"
#include "platform/env.h"

// Division of this file:
//   state file     ParseCalculatorState, SerializeCalculatorState
//   numbers        RoundToCents, CalculatorNumberText, CalculatorAmountText
//   key step       PressCalculatorKey and its operator step
//   window         drawing and the Calculator loop

namespace console {

namespace {

constexpr int kStateLines = 10 + 4 * kTapeLines;
constexpr size_t kMaxStateFileBytes = 1 << 16;
constexpr int16_t kKeyAltF = 0x2100;
constexpr char kOperatorChars[] = "+-*/%R= ";

// 10^n for n = 0..15, all exact doubles.
double Pow10(int n) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  return kPowers[std::clamp(n, 0, 15)];
}

// --- State file -------------------------------------------------------------

std::string ShortestText(double v) {
  char buffer[64];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

std::string FlagText(bool flag) {
  return flag ? "-1" : "0";
}

bool ParseInteger(std::string_view text, long long low, long long high, long long* out) {
  long long v = 0;
  std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || v < low || v > high) {
    return false;
  }
  *out = v;
  return true;
}

bool ParseDouble(std::string_view text, double* out) {
  double v = 0;
  std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool ParseFlag(std::string_view text, bool* out) {
  long long v = 0;
  if (!ParseInteger(text, -1, 1, &v)) return false;
  *out = v != 0;
  return true;
}

bool ParseDecimals(std::string_view text, int16_t* out) {
  long long v = 0;
  if (!ParseInteger(text, 0, kMaxEntryDigits, &v)) return false;
  *out = static_cast<int16_t>(v);
  return true;
}

bool IsOperatorText(std::string_view text, bool clear_allowed) {
  if (text.empty()) return true;
  if (text.size() != 1) return false;
  if (clear_allowed && text[0] == 'C') return true;
  return text[0] != ' ' && std::string_view(kOperatorChars).find(text[0]) != std::string_view::npos;
}

// --- Key step ---------------------------------------------------------------

// Appends a line to the tape: the oldest drops off when all 22 are used.
void AddTapeLine(CalculatorState& s, double value, bool point, int16_t decimals, char op) {
  std::rotate(s.tape.begin(), s.tape.begin() + 1, s.tape.end());
  s.tape[kTapeLines - 1] = TapeEntry{value, point, decimals, op};
  if (s.tape_start > 1) --s.tape_start;
}

// Decimals (0..2) the value needs once rounded to cents.
int16_t CentDecimals(double value) {
  const std::string text = ShortestText(RoundToCents(value));
  const size_t point = text.find('.');
  if (point == std::string::npos || text.find('e') != std::string::npos) return 0;
  return static_cast<int16_t>(std::min<size_t>(2, text.size() - point - 1));
}

// The entry line shows a computed value. At least its cents are shown, so
// the line never hides part of the amount that F would hand back.
void ShowComputed(CalculatorState& s, double value) {
  s.entry = value;
  const int16_t needed = CentDecimals(value);
  if (needed > s.decimals || (needed > 0 && !s.point)) {
    s.point = true;
    s.decimals = std::max(s.decimals, needed);
  }
}

// The value cut (toward zero) to the given number of decimals, judged on
// its shortest decimal text: a typed entry loses exactly its last typed
// digit, a computed one the digits beyond (0.0996 cut to 1 gives 0.0).
double TruncateDecimals(double value, int decimals) {
  char buffer[400];
  std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return value;
  std::string text(buffer, r.ptr);
  const size_t point = text.find('.');
  if (point == std::string::npos) return value;
  text.resize(std::min(text.size(), point + 1 + static_cast<size_t>(std::max(0, decimals))));
  return std::copysign(std::strtod(text.c_str(), nullptr), value);
}

CalculatorOutcome TypeDigit(CalculatorState& s, int digit) {
  if (!s.typing) {
    s.entry = 0;
    s.point = false;
    s.decimals = 0;
  }
  const double magnitude = std::fabs(s.entry) * Pow10(s.decimals);
  // Beyond the digits a double holds exactly the digit is ignored.
  if (!(magnitude * 10 + digit < Pow10(kMaxEntryDigits))) return CalculatorOutcome::kNone;
  if (s.point && s.decimals >= kMaxEntryDigits) return CalculatorOutcome::kNone;
  // The digits typed so far, as the whole number they make, and the new one
  // after them; the entry's sign stays (typing after T extends the number).
  const double digits = std::nearbyint(magnitude) * 10 + digit;
  if (s.point) ++s.decimals;
  const double value = digits / Pow10(s.point ? s.decimals : 0);
  s.entry = std::signbit(s.entry) ? -value : value;
  s.typing = true;
  return CalculatorOutcome::kUpdate;
}

CalculatorOutcome TypePoint(CalculatorState& s) {
  if (!s.typing) {
    s.entry = 0;
    s.point = false;
    s.decimals = 0;
  }
  if (!s.point) {
    s.point = true;
    s.decimals = 0;
  }
  s.typing = true;
  return CalculatorOutcome::kUpdate;
}

CalculatorOutcome Backspace(CalculatorState& s) {
  if (!s.point) {
    s.entry = std::trunc(s.entry / 10);
  } else if (s.decimals == 0) {
    s.point = false;
  } else {
    --s.decimals;
    s.entry = TruncateDecimals(s.entry, s.decimals);
  }
  s.typing = s.entry != 0;
  return CalculatorOutcome::kUpdate;
}

CalculatorOutcome OperatorStep(CalculatorState& s, char k) {
  const std::string key(1, k);
  if (k == 'C') {
    s.last_key = key;
    if (s.typing) {
      s.entry = s.total;
      s.point = false;
      s.decimals = 0;
      s.typing = false;
      ShowComputed(s, s.total);
      return CalculatorOutcome::kUpdate;
    }
    if (!s.cleared) {
      s.entry = 0;
      s.total = 0;
      s.point = false;
      s.decimals = 0;
      s.cleared = true;
      return CalculatorOutcome::kUpdate;
    }
    s.tape = {};
    s.tape_start = kTapeEmpty;
    return CalculatorOutcome::kRedraw;
  }
  if (k == 'R') {
    s.entry = RoundToCents(s.entry);
    s.total = s.entry;
    s.point = true;
    s.decimals = 2;
    AddTapeLine(s, s.entry, s.point, s.decimals, 'R');
  } else if (k == '%') {
    const double share =
        s.pending == "+" || s.pending == "-" ? s.total / 100 * s.entry : s.entry / 100;
    if (!std::isfinite(share)) return CalculatorOutcome::kBeep;
    AddTapeLine(s, s.entry, s.point, s.decimals, '%');
    ShowComputed(s, share);
  } else {
    double total = s.entry;
    if (s.pending == "+") total = s.total + s.entry;
    if (s.pending == "-") total = s.total - s.entry;
    if (s.pending == "*") total = s.total * s.entry;
    if (s.pending == "/") {
      // A division by zero is refused: nothing changes, the user hears it.
      if (s.entry == 0) return CalculatorOutcome::kBeep;
      total = s.total / s.entry;
    }
    if (!std::isfinite(total)) return CalculatorOutcome::kBeep;
    AddTapeLine(s, s.entry, s.point, s.decimals, k);
    s.total = total;
    ShowComputed(s, s.total);
    if (k == '=') AddTapeLine(s, s.total, s.point, s.decimals, ' ');
    s.typing = false;
    s.cleared = false;
  }
  s.last_key = key;
  s.pending = k == '=' ? "" : key;
  return CalculatorOutcome::kUpdate;
}

// --- Window -----------------------------------------------------------------

const std::string kLine(kCalculatorWidth - 2, '\xC4');  // ─

// Places the cursor on the window's first column of the absolute row (the
// window's top is row 1, so window-relative rows are one less).
void AtRow(int row) {
  Locate(row - 1, 0);
}

void DrawCalculator(const CalculatorState& s) {
  SetColour("n");
  if (s.tape_start >= kTapeEmpty) {
    AtRow(kTapeLines + 1);
    Print("\xDA" + kLine + "\xBF");  // ┌─┐
  } else {
    if (s.tape_start > 1) {
      AtRow(s.tape_start - 1);
      Print("\xDA" + kLine + "\xBF");
    }
    for (int slot = s.tape_start; slot <= kTapeLines; ++slot) {
      const TapeEntry& e = s.tape[slot - 1];
      AtRow(slot);
      Print("\xB3" + CalculatorNumberText(e.value, e.point, e.decimals) + " " +
            std::string(1, e.op) + "\xB3");  // │ ... │
    }
    AtRow(kTapeLines + 1);
    Print("\xC3" + kLine + "\xB4");  // ├─┤
  }
  AtRow(kTapeLines + 2);
  Print("\xB3" + CalculatorNumberText(s.entry, s.point, s.decimals) + "  \xB3");
  AtRow(kTapeLines + 3);
  Print("\xC0" + kLine + "\xD9");  // └─┘
}

void OpenWindow(const CalculatorState& s) {
  WinPush(1, s.column, kTapeLines + 3, s.column + kCalculatorWidth - 1);
  DrawCalculator(s);
}

CalculatorState LoadCalculatorState() {
  std::unique_ptr<platform::RandomAccessFile> file =
      platform::CurrentEnv().OpenForReading(CalculatorStatePath());
  if (file == nullptr) return CalculatorState{};
  const int64_t size = file->Size();
  std::string bytes;
  if (size < 0 || static_cast<uint64_t>(size) > kMaxStateFileBytes ||
      !file->Read(0, static_cast<size_t>(size), &bytes)) {
    return CalculatorState{};
  }
  return ParseCalculatorState(bytes).value_or(CalculatorState{});
}

// The state file only spares the user retyping: when it cannot be written
// the next opening starts afresh, the program goes on.
void SaveCalculatorState(const CalculatorState& s) {
  std::unique_ptr<platform::WritableFile> file =
      platform::CurrentEnv().OpenWritable(CalculatorStatePath());
  if (file == nullptr) return;
  file->Append(SerializeCalculatorState(s));
  file->Close();
}

}  // namespace

std::optional<CalculatorState> ParseCalculatorState(std::string_view bytes) {
  if (bytes.empty()) return CalculatorState{};
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  if (static_cast<int>(lines.size()) < kStateLines) return std::nullopt;
  for (size_t i = kStateLines; i < lines.size(); ++i) {
    if (!lines[i].empty()) return std::nullopt;
  }
  CalculatorState s;
  long long column = 0;
  long long tape_start = 0;
  if (!ParseInteger(lines[0], 1, kCalculatorLastColumn, &column) ||
      !ParseInteger(lines[1], 1, kTapeEmpty, &tape_start) || !ParseDouble(lines[2], &s.entry) ||
      !ParseDouble(lines[3], &s.total) || !ParseFlag(lines[4], &s.cleared) ||
      !ParseFlag(lines[5], &s.typing) || !ParseFlag(lines[6], &s.point) ||
      !ParseDecimals(lines[7], &s.decimals) || !IsOperatorText(lines[8], true) ||
      !IsOperatorText(lines[9], false)) {
    return std::nullopt;
  }
  s.column = static_cast<int16_t>(column);
  s.tape_start = static_cast<int32_t>(tape_start);
  s.last_key = std::string(lines[8]);
  s.pending = std::string(lines[9]);
  for (int i = 0; i < kTapeLines; ++i) {
    TapeEntry& e = s.tape[i];
    const std::string_view op = lines[10 + 4 * i + 3];
    if (!ParseDouble(lines[10 + 4 * i], &e.value) || !ParseFlag(lines[10 + 4 * i + 1], &e.point) ||
        !ParseDecimals(lines[10 + 4 * i + 2], &e.decimals) || op.size() > 1 ||
        (op.size() == 1 &&
         std::string_view(kOperatorChars).find(op[0]) == std::string_view::npos)) {
      return std::nullopt;
    }
    e.op = op.empty() ? ' ' : op[0];
  }
  return s;
}

std::string SerializeCalculatorState(const CalculatorState& s) {
  std::vector<std::string> lines = {std::to_string(s.column),
                                    std::to_string(s.tape_start),
                                    ShortestText(s.entry),
                                    ShortestText(s.total),
                                    FlagText(s.cleared),
                                    FlagText(s.typing),
                                    FlagText(s.point),
                                    std::to_string(s.decimals),
                                    s.last_key,
                                    s.pending};
  for (const TapeEntry& e : s.tape) {
    lines.push_back(ShortestText(e.value));
    lines.push_back(FlagText(e.point));
    lines.push_back(std::to_string(e.decimals));
    lines.push_back(std::string(1, e.op));
  }
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

std::string CalculatorStatePath() {
  return config::ModuleSettings().terminal_dir + kCalculatorStateFile;
}

double RoundToCents(double value) {
  if (!std::isfinite(value)) return value;
  char buffer[400];
  std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return value;
  std::string text(buffer, r.ptr);
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t point = text.find('.');
  if (point == std::string::npos || text.size() - point - 1 <= 2) return value;
  // kept: the digits up to the second decimal; dropped: the rest.
  std::string kept = text.substr(0, point) + text.substr(point + 1, 2);
  const std::string dropped = text.substr(point + 3);
  const bool above_half =
      dropped[0] > '5' ||
      (dropped[0] == '5' && dropped.find_first_not_of('0', 1) != std::string::npos);
  const bool half = dropped[0] == '5' && !above_half;
  if (above_half || (half && (kept.back() - '0') % 2 == 1)) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[i] == '9') kept[i--] = '0';
    if (i < 0) {
      kept.insert(kept.begin(), '1');
    } else {
      ++kept[i];
    }
  }
  kept.insert(kept.size() - 2, ".");
  const double rounded = std::strtod(kept.c_str(), nullptr);
  return negative ? -rounded : rounded;
}

std::string CalculatorNumberText(double value, bool point, int decimals) {
  std::string picture = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  if (point) picture += ".";
  picture += std::string(std::max(0, decimals), '9');
  return format::FormatMask("-" + picture.substr(picture.size() - 21), value);
}

std::string CalculatorAmountText(const CalculatorState& s) {
  const double value = s.typing ? s.entry : s.total;
  const int d = std::max<int>(s.decimals, 2);
  std::string digits;
  if (!format::ScaledDigits(value, d, &digits)) digits.clear();
  // 0 is written "0"; below one hundredth the text starts at the point
  // (".1" for 0.001), zeros filling the places after it.
  const size_t least = static_cast<size_t>(std::max(1, d - 2));
  if (digits.size() < least) digits.insert(0, least - digits.size(), '0');
  if (d > 2) digits.insert(digits.size() - static_cast<size_t>(d - 2), ".");
  return digits;
}

CalculatorOutcome PressCalculatorKey(CalculatorState& s, int16_t key) {
  if (key >= 'a' && key <= 'z') key = static_cast<int16_t>(key - 'a' + 'A');
  if (key >= '0' && key <= '9') return TypeDigit(s, key - '0');
  switch (key) {
    case '.':
      return TypePoint(s);
    case kKeyBackspace:
      return Backspace(s);
    case '+':
    case '-':
    case '*':
    case '/':
    case '%':
    case 'R':
    case 'C':
      return OperatorStep(s, static_cast<char>(key));
    case '=':
    case kKeyEnter:
      return s.typing ? OperatorStep(s, '=') : CalculatorOutcome::kNone;
    case 'T':
      s.entry = -s.entry;
      return CalculatorOutcome::kUpdate;
    case kKeyLeft:
    case kKeyCtrlLeft:
      s.column = s.column <= 1 ? kCalculatorLastColumn : static_cast<int16_t>(s.column - 1);
      return CalculatorOutcome::kRedraw;
    case kKeyRight:
    case kKeyCtrlRight:
      s.column = s.column >= kCalculatorLastColumn ? 1 : static_cast<int16_t>(s.column + 1);
      return CalculatorOutcome::kRedraw;
    case 'F':
    case kKeyAltF:
      return CalculatorOutcome::kFinish;
    case kKeyEsc:
      return CalculatorOutcome::kCancel;
    default:
      return CalculatorOutcome::kNone;
  }
}

std::string Calculator() {
  // Keys come from WaitKey and no field is edited, so the exit-key map is
  // left alone (its single saved copy belongs to the form under the
  // calculator; saving and restoring it here would lose the form's keys).
  SetColour("+n");
  platform::Console& screen = platform::CurrentConsole();
  const int cursor_shape = screen.CursorShape();
  screen.SetCursorShape(0);
  CalculatorState state = LoadCalculatorState();
  OpenWindow(state);

  std::string result;
  for (bool open = true; open;) {
    int16_t key = 0;
    WaitKey(key);
    switch (PressCalculatorKey(state, key)) {
      case CalculatorOutcome::kNone:
        break;
      case CalculatorOutcome::kUpdate:
        DrawCalculator(state);
        break;
      case CalculatorOutcome::kRedraw:
        // Paint back what lay under the window, then open it afresh.
        WinPop();
        OpenWindow(state);
        break;
      case CalculatorOutcome::kBeep:
        Beep();
        break;
      case CalculatorOutcome::kFinish:
        result = CalculatorAmountText(state);
        open = false;
        break;
      case CalculatorOutcome::kCancel:
        open = false;
        break;
    }
  }

  WinPop();
  SaveCalculatorState(state);
  screen.SetCursorShape(cursor_shape);
  SetColour("-");
  return result;
}

}  // namespace console
