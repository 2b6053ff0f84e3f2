#include "console/screen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "config/locale.h"
#include "config/settings.h"
#include "format/codes.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/env.h"
#include "platform/little_endian.h"

// Division map: kit state; colours; cursor and sizes; the window stack file
// (record encoding, validation, push, pop); frames and scrolling; the text
// stack; the message window.

namespace console {

namespace {

// --- Kit state -----------------------------------------------------------

struct ScreenState {
  int16_t current_colour = 0;
  std::string colour_stack;  // one byte per saved index
  int16_t window_depth = 0;
  WindowRect window;
  std::string text_stack;  // text + 2-byte little-endian length, per entry
  bool stack_file_failed = false;
};

StackFileFailureHandler& FailureHandler() {
  static StackFileFailureHandler* handler = new StackFileFailureHandler();
  return *handler;
}

ScreenState& State() {
  static ScreenState* state = new ScreenState();
  return *state;
}

platform::Console& Con() {
  return platform::CurrentConsole();
}

// --- Window stack file layout ---------------------------------------------

constexpr char kStackFileName[] = "WinPush.tmp";
constexpr int kEndPointerBytes = 4;
// 1-based position of the first record, and the end pointer of an empty
// stack.
constexpr int64_t kFirstRecordPosition = 5;
constexpr int kFieldDigits = 2;
constexpr int kRecordFields = 10;
constexpr int kHeaderBytes = kFieldDigits * kRecordFields;  // 20
constexpr int kLengthDigits = 5;
constexpr int kRecordOverhead = kHeaderBytes + kLengthDigits;  // 25

// The number as zero-padded decimal of width digits, keeping the last ones.
std::string Digits(int value, int width) {
  int modulus = 1;
  for (int i = 0; i < width; ++i) modulus *= 10;
  value %= modulus;
  if (value < 0) value += modulus;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

// Reads a field of decimal digits; false when any byte is not a digit.
bool ParseDigits(const std::string& bytes, size_t at, int width, int* value) {
  if (at + static_cast<size_t>(width) > bytes.size()) return false;
  int v = 0;
  for (int i = 0; i < width; ++i) {
    const char c = bytes[at + static_cast<size_t>(i)];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

std::string Int32Le(int64_t value) {
  std::string out;
  platform::AppendLe32(&out, static_cast<uint32_t>(value));
  return out;
}

// REQUIRES: bytes holds 4 bytes at least.
int64_t ReadInt32Le(const std::string& bytes) {
  return static_cast<int32_t>(platform::LoadLe32(bytes, 0));
}

// Cells of a saved rectangle; an inverted rectangle saves none.
int64_t CellCount(int top, int left, int bottom, int right) {
  const int rows = bottom - top + 1;
  const int cols = right - left + 1;
  if (rows <= 0 || cols <= 0) return 0;
  return static_cast<int64_t>(rows) * cols;
}

// A stack file that cannot be used is the program's to handle (see
// SetStackFileFailureHandler); the operation that met it is left undone.
// catalan is the locale file's key, "@1" standing for the file's path.
void StackFileFailure(const char* catalan) {
  State().stack_file_failed = true;
  const std::string message = config::TranslateWith(catalan, {WindowStackPath()});
  if (FailureHandler()) {
    FailureHandler()(message);
  } else {
    std::fprintf(stderr, "%s\n", platform::Cp850ToUtf8(message).c_str());
  }
}

// Null after a failure, reported.
std::unique_ptr<platform::RandomAccessFile> OpenStackFile() {
  std::unique_ptr<platform::RandomAccessFile> file =
      platform::CurrentEnv().OpenRandomAccess(WindowStackPath(), /*create=*/true);
  if (file == nullptr) StackFileFailure("@1: no es pot obrir");
  return file;
}

// False after a failure, reported.
bool WriteStack(platform::RandomAccessFile* file, int64_t position, const std::string& bytes) {
  if (file->Write(static_cast<uint64_t>(position - 1), bytes)) return true;
  StackFileFailure("@1: no es pot escriure");
  return false;
}

// False after a failure, reported.
bool ReadStack(platform::RandomAccessFile* file, int64_t position, size_t n, std::string* out) {
  if (file->Read(static_cast<uint64_t>(position - 1), n, out)) return true;
  StackFileFailure("@1: no es pot llegir");
  return false;
}

// The end pointer the file holds; false after a read failure (reported),
// or when the file is too short to hold one.
bool ReadEndPointer(platform::RandomAccessFile* file, int64_t* end) {
  std::string bytes;
  if (!ReadStack(file, 1, kEndPointerBytes, &bytes)) return false;
  if (bytes.size() < kEndPointerBytes) {
    *end = 0;
    return true;
  }
  *end = ReadInt32Le(bytes);
  return true;
}

// The end pointer of the file, or the empty stack's when the file holds
// none or a value that does not point into it. Another program of the suite
// sharing the temporary folder may have left a damaged file behind; a bad
// pointer must not make a push write far beyond the file's end. False after
// a read failure (reported).
bool EndPointer(platform::RandomAccessFile* file, int64_t size, int64_t* end) {
  *end = kFirstRecordPosition;
  if (size <= 3) return true;
  int64_t read = 0;
  if (!ReadEndPointer(file, &read)) return false;
  if (read >= kFirstRecordPosition && read <= size + 1) *end = read;
  return true;
}

// One record as read back from the file.
struct StackRecord {
  int64_t first_position = 0;
  int cursor_row = 0, cursor_col = 0;
  WindowRect previous;
  int top = 0, left = 0, bottom = 0, right = 0;
  std::string cells;  // char + attribute per cell
};

enum class StackRead { kRead, kDamaged, kFailed };

// Reads the record that ends just before end. kDamaged when the bytes there
// are not a well-formed record (length, digits, cell count all must agree
// and lie inside the file); kFailed after a read failure (reported).
StackRead ReadLastRecord(platform::RandomAccessFile* file, int64_t end, StackRecord* record) {
  if (end - kFirstRecordPosition < kRecordOverhead) return StackRead::kDamaged;
  int length = 0;
  std::string length_field;
  if (!ReadStack(file, end - kLengthDigits, kLengthDigits, &length_field)) {
    return StackRead::kFailed;
  }
  if (!ParseDigits(length_field, 0, kLengthDigits, &length)) return StackRead::kDamaged;
  if (length < kRecordOverhead || end - length < kFirstRecordPosition) {
    return StackRead::kDamaged;
  }
  const int64_t first = end - length;
  std::string bytes;
  if (!ReadStack(file, first, static_cast<size_t>(length), &bytes)) return StackRead::kFailed;
  if (bytes.size() != static_cast<size_t>(length)) return StackRead::kDamaged;
  int f[kRecordFields];
  for (int i = 0; i < kRecordFields; ++i) {
    if (!ParseDigits(bytes, static_cast<size_t>(i * kFieldDigits), kFieldDigits, &f[i]))
      return StackRead::kDamaged;
  }
  const int64_t cells = CellCount(f[6], f[7], f[8], f[9]);
  if (length != kRecordOverhead + 2 * cells) return StackRead::kDamaged;
  record->first_position = first;
  record->cursor_row = f[0];
  record->cursor_col = f[1];
  record->previous = WindowRect{static_cast<int16_t>(f[2]), static_cast<int16_t>(f[3]),
                                static_cast<int16_t>(f[4]), static_cast<int16_t>(f[5])};
  record->top = f[6];
  record->left = f[7];
  record->bottom = f[8];
  record->right = f[9];
  record->cells = bytes.substr(kHeaderBytes, static_cast<size_t>(2 * cells));
  return StackRead::kRead;
}

void DeleteStackFile() {
  platform::CurrentEnv().DeleteFile(WindowStackPath());
}

// --- The stack after a signal ----------------------------------------------
//
// A module ended by a signal must not leave its windows in the stack file:
// the next program would find them there for ever. From this process's
// first push until it pops back to where it began, the handler knows the
// file's host path and the end pointer the file had before (the windows of
// whoever started this program stay). Plain data: a signal handler reads it.

char g_signal_stack_path[1024];
volatile sig_atomic_t g_signal_stack_armed = 0;
volatile sig_atomic_t g_signal_stack_base = 0;

void RestoreStackFromSignal() {
  if (!g_signal_stack_armed) return;
  g_signal_stack_armed = 0;
  const int32_t base = g_signal_stack_base;
  if (base <= kFirstRecordPosition) {
    ::unlink(g_signal_stack_path);
    return;
  }
  // Never through a link planted at the stack file since it was opened.
  const int fd = ::open(g_signal_stack_path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(fd);
    return;
  }
  unsigned char end[kEndPointerBytes];
  platform::StoreLe32(end, static_cast<uint32_t>(base));
  if (::pwrite(fd, end, sizeof end, 0) == static_cast<ssize_t>(sizeof end)) {
    (void)::ftruncate(fd, base - 1);
  }
  ::close(fd);
}

// Called with the end pointer a push starts from.
void ArmStackRestore(int64_t end) {
  if (g_signal_stack_armed) return;
  if (!platform::PrepareSignalPath(WindowStackPath(), g_signal_stack_path,
                                   sizeof g_signal_stack_path)) {
    return;
  }
  g_signal_stack_base = static_cast<sig_atomic_t>(end);
  platform::AddSignalCleanup(&RestoreStackFromSignal);
  g_signal_stack_armed = 1;
}

// Called with the end pointer a pop leaves (kFirstRecordPosition when the
// stack is gone).
void DisarmStackRestoreAt(int64_t end) {
  if (end <= g_signal_stack_base) g_signal_stack_armed = 0;
}

// --- Frames ----------------------------------------------------------------

struct FrameChars {
  char top_left, top_right, bottom_left, bottom_right, horizontal, vertical;
};

// Code page 850 box-drawing characters.
constexpr FrameChars kFrames[] = {
    {' ', ' ', ' ', ' ', ' ', ' '},
    {'\xDA', '\xBF', '\xC0', '\xD9', '\xC4', '\xB3'},
    {'\xC9', '\xBB', '\xC8', '\xBC', '\xCD', '\xBA'},
};

// Applies a colour table entry to the console; a foreground or background
// outside 0..15 keeps the console's current one.
void ApplyColourEntry(int index) {
  const config::ColourEntry& entry = config::ModuleSettings().colours[static_cast<size_t>(index)];
  uint8_t attr = Con().Attribute();
  if (entry.foreground >= 0 && entry.foreground < 16) {
    attr = static_cast<uint8_t>((attr & 0xF0) | entry.foreground);
  }
  if (entry.background >= 0 && entry.background < 16) {
    attr = static_cast<uint8_t>((attr & 0x0F) | (entry.background << 4));
  }
  Con().SetAttribute(attr);
}

}  // namespace

// --- Colours ---------------------------------------------------------------

void SetColour(const std::string& code) {
  ScreenState& s = State();
  std::string upper = code;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper.find_first_not_of(' ') == std::string::npos) return;
  if (upper.find('+') != std::string::npos) {
    s.colour_stack.push_back(static_cast<char>(s.current_colour));
  }
  int index = 0;
  if (upper.find('-') != std::string::npos) {
    if (!s.colour_stack.empty()) {
      index = static_cast<uint8_t>(s.colour_stack.back());
      s.colour_stack.pop_back();
    }
  } else if (upper.find('U') != std::string::npos) {
    index = 4;
  } else {
    if (upper.find('R') != std::string::npos) index = 2;
    if (upper.find('N') != std::string::npos) index += 1;
  }
  if (index < 0 || index >= config::kColourEntries) index = 0;
  ApplyColourEntry(index);
  s.current_colour = static_cast<int16_t>(index);
}

int16_t CurrentColour() {
  return State().current_colour;
}

// --- Cursor and sizes --------------------------------------------------------

void Locate(int row, int col) {
  const ScreenState& s = State();
  if (s.window_depth > 0) {
    row += s.window.top;
    col += s.window.left;
  }
  // The console ignores a coordinate outside it, keeping the current one.
  Con().SetCursor(row, col);
}

void Print(const std::string& text) {
  Con().Write(text);
}

void Beep() {
  Con().Beep();
}

int16_t ScreenRows() {
  return static_cast<int16_t>(Con().Rows());
}
int16_t ScreenCols() {
  return static_cast<int16_t>(Con().Cols());
}

int16_t WindowFirstRow() {
  const ScreenState& s = State();
  return s.window_depth > 0 ? static_cast<int16_t>(s.window.top + 1) : int16_t{1};
}

int16_t WindowFirstCol() {
  const ScreenState& s = State();
  return s.window_depth > 0 ? static_cast<int16_t>(s.window.left + 1) : int16_t{1};
}

int16_t WindowLastCol() {
  const ScreenState& s = State();
  return s.window_depth > 0 ? static_cast<int16_t>(s.window.right - 1) : ScreenCols();
}

int16_t WindowDepth() {
  return State().window_depth;
}

WindowRect CurrentWindow() {
  return State().window;
}

// --- Window stack ------------------------------------------------------------

std::string WindowStackPath() {
  return config::ModuleSettings().temp_dir + kStackFileName;
}

void WinPush(int top, int left, int bottom, int right) {
  const int rows = ScreenRows();
  const int cols = ScreenCols();
  if (top < 1 || top > rows || left < 1 || left > cols || bottom < 1 || bottom > rows ||
      right < 1 || right > cols) {
    return;
  }
  ScreenState& s = State();
  platform::Console& con = Con();

  std::string record;
  record.reserve(static_cast<size_t>(kRecordOverhead + 2 * CellCount(top, left, bottom, right)));
  for (int value : {con.CursorRow(), con.CursorCol(), static_cast<int>(s.window.top),
                    static_cast<int>(s.window.left), static_cast<int>(s.window.bottom),
                    static_cast<int>(s.window.right), top, left, bottom, right}) {
    record += Digits(value, kFieldDigits);
  }
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      const platform::ConsoleCell cell = con.ReadCell(r, c);
      record.push_back(static_cast<char>(cell.ch));
      record.push_back(static_cast<char>(cell.attr));
    }
  }
  record += Digits(static_cast<int>(record.size()) + kLengthDigits, kLengthDigits);

  std::unique_ptr<platform::RandomAccessFile> file = OpenStackFile();
  if (file == nullptr) return;
  int64_t end = 0;
  if (!EndPointer(file.get(), file->Size(), &end)) return;
  ArmStackRestore(end);
  if (!WriteStack(file.get(), end, record) ||
      !WriteStack(file.get(), 1, Int32Le(end + static_cast<int64_t>(record.size())))) {
    return;
  }

  s.window = WindowRect{static_cast<int16_t>(top), static_cast<int16_t>(left),
                        static_cast<int16_t>(bottom), static_cast<int16_t>(right)};
  ++s.window_depth;
}

void WinPop() {
  ScreenState& s = State();
  StackRecord record;
  {
    std::unique_ptr<platform::RandomAccessFile> file = OpenStackFile();
    if (file == nullptr) return;
    const int64_t size = file->Size();
    if (size < 0) {
      StackFileFailure("@1: no es pot llegir");
      return;
    }
    if (size <= 3) {
      file.reset();
      DeleteStackFile();
      DisarmStackRestoreAt(kFirstRecordPosition);
      return;
    }
    // A damaged stack (bad end pointer, length or digits) is treated as an
    // empty one: nothing is painted and the file goes.
    int64_t end = 0;
    if (!ReadEndPointer(file.get(), &end)) return;
    const StackRead read = end < kFirstRecordPosition || end > size + 1
                               ? StackRead::kDamaged
                               : ReadLastRecord(file.get(), end, &record);
    if (read == StackRead::kFailed) return;
    if (read == StackRead::kDamaged) {
      file.reset();
      DeleteStackFile();
      DisarmStackRestoreAt(kFirstRecordPosition);
      return;
    }
    if (!WriteStack(file.get(), 1, Int32Le(record.first_position))) return;
    DisarmStackRestoreAt(record.first_position);
  }

  if (s.window_depth > 0) --s.window_depth;
  s.window = record.previous;

  platform::Console& con = Con();
  const int rows = con.Rows();
  const int cols = con.Cols();
  size_t at = 0;
  for (int r = record.top; r <= record.bottom; ++r) {
    for (int c = record.left; c <= record.right; ++c) {
      const char ch = record.cells[at];
      const auto attr = static_cast<uint8_t>(record.cells[at + 1]);
      at += 2;
      // A console made smaller since the push keeps only what still fits.
      if (r < 1 || r > rows || c < 1 || c > cols) continue;
      con.SetAttribute(attr);
      con.SetCursor(r, c);
      con.Write(std::string(1, ch));
    }
  }
  con.SetCursor(record.cursor_row, record.cursor_col);
  if (record.first_position < 6) DeleteStackFile();
}

// --- Frames and scrolling ----------------------------------------------------

void DrawFrame(int style) {
  // REQUIRES: style is 0, 1 or 2.
  assert(style >= 0 && style <= 2);
  const ScreenState& s = State();
  if (s.window_depth == 0) return;
  if (style < 0 || style > 2) style = 0;
  const FrameChars& f = kFrames[style];
  const WindowRect& w = s.window;
  // Nothing of an inverted window was saved, so nothing may be drawn; a
  // one-column window gets its corners cut to that column.
  if (w.bottom < w.top || w.right < w.left) return;
  const auto width = static_cast<size_t>(w.right - w.left + 1);
  const size_t inner = width >= 2 ? width - 2 : 0;
  auto line = [width, inner](char first, char fill, char last) {
    std::string text = first + std::string(inner, fill) + last;
    text.resize(std::min(text.size(), width));
    return text;
  };
  platform::Console& con = Con();

  con.SetCursor(w.top, w.left);
  con.Write(line(f.top_left, f.horizontal, f.top_right));
  const std::string middle = line(f.vertical, ' ', f.vertical);
  for (int r = w.top + 1; r <= w.bottom - 1; ++r) {
    con.SetCursor(r, w.left);
    con.Write(middle);
  }
  con.SetCursor(w.bottom, w.left);
  con.Write(line(f.bottom_left, f.horizontal, f.bottom_right));
}

void ScrollArea(int top, int left, int bottom, int right, int count) {
  platform::Console& con = Con();
  con.Scroll(top + 1, left + 1, bottom + 1, right + 1, count, con.Attribute());
}

// --- Text stack --------------------------------------------------------------

void PushText(const std::string& text) {
  // REQUIRES: text.size() <= 0xFFFF (the length is stored in two bytes).
  assert(text.size() <= 0xFFFF);
  const size_t n = std::min<size_t>(text.size(), 0xFFFF);
  std::string& stack = State().text_stack;
  stack.append(text, 0, n);
  platform::AppendLe16(&stack, static_cast<uint16_t>(n));
}

std::string PopText() {
  std::string& stack = State().text_stack;
  if (stack.size() < 2) {
    stack.clear();
    return "";
  }
  const size_t n = platform::LoadLe16(stack, stack.size() - 2);
  const size_t body = stack.size() - 2;
  const size_t start = n <= body ? body - n : 0;
  std::string text = stack.substr(start, body - start);
  stack.resize(start);
  return text;
}

std::string TextFromBuffer(const void* buffer, int count) {
  // REQUIRES: buffer holds at least count bytes.
  if (buffer == nullptr || count <= 0) return "";
  return std::string(static_cast<const char*>(buffer), static_cast<size_t>(count));
}

// --- Message window ----------------------------------------------------------

bool ShowMessageWindow(int row, const std::string& text) {
  constexpr int kLineWidth = 76;
  constexpr int kCentreCol = 41;
  SetColour("+rh");

  std::string wrapped = text;
  format::WrapText(&wrapped, 0, kLineWidth, 'i');
  std::vector<std::string> lines;
  for (size_t at = 0; at < wrapped.size(); at += kLineWidth) {
    std::string line = wrapped.substr(at, kLineWidth);
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
  }
  const int n = static_cast<int>(lines.size());

  int top = std::max(row - (n + 1) / 2 - 2, 1);
  int bottom = top + n + 1;
  if (bottom > ScreenRows()) {
    bottom = ScreenRows();
    top = bottom - n - 1;
    if (top < 1) {
      SetColour("-");
      return false;
    }
  }
  int left = 0;
  int right = 0;
  for (const std::string& line : lines) {
    const int length = static_cast<int>(line.size());
    if (right - left < length + 4) {
      left = kCentreCol - (length + 1) / 2 - 2;
      right = kCentreCol + length / 2 + 1;
    }
  }

  // A box that does not fit the console pushes nothing; drawing it then
  // would paint over the caller's own window.
  const int16_t depth = WindowDepth();
  WinPush(top, left, bottom, right);
  if (WindowDepth() == depth) {
    SetColour("-");
    return false;
  }
  DrawFrame(1);
  for (int i = 0; i < n; ++i) {
    Locate(i + 1, 2);
    Print(lines[static_cast<size_t>(i)]);
  }
  SetColour("-");
  return true;
}

void SetStackFileFailureHandler(StackFileFailureHandler handler) {
  FailureHandler() = std::move(handler);
}

bool StackFileFailed() {
  return State().stack_file_failed;
}

void ResetScreenState() {
  State() = ScreenState();
  g_signal_stack_armed = 0;
}

void UndoWindowPushesAfterSignal() {
  RestoreStackFromSignal();
}

}  // namespace console
