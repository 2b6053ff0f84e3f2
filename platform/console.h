// The console device: the screen as a grid of cells (a code page 850 byte and
// an attribute each), the cursor, the current attribute, input events, the
// beep, and the process-wide stand-ins for the keyboard's Insert toggle and
// the clipboard. The console kit draws and reads only through a Console.
//
// Two back ends: MemoryConsole (below), for tests, with scripted input and a
// text dump of the screen; and the terminal (platform/terminal_console.h, on
// ncursesw). The program is single-threaded; the process-wide console
// returned by CurrentConsole() is owned by whoever installed it (the default
// is a 25 x 80 memory console that lives for the whole process).
//
// Coordinates are 1-based: row 1 is the top line, column 1 the leftmost.
#ifndef TELVORAN_PLATFORM_CONSOLE_H_
#define TELVORAN_PLATFORM_CONSOLE_H_

#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// The window stack file holds two-digit coordinates, so no console reports
// more than this many rows or columns.
inline constexpr int kMaxConsoleRows = 99;
inline constexpr int kMaxConsoleCols = 99;

// Attribute: foreground + 16 x background, each a console colour 0..15
// (0 black, 1 blue, 2 green, 3 cyan, 4 red, 5 magenta, 6 brown, 7 light grey,
// 8 dark grey, 9..15 the bright forms of 1..7, 15 white).
struct ConsoleCell {
  uint8_t ch = ' ';
  uint8_t attr = 0x07;
  bool operator==(const ConsoleCell&) const = default;
};

// Modifier keys held during a key press. Must match the kit's folding of
// modifiers into key codes.
enum ConsoleModifier : uint16_t {
  kModLeftAlt = 0x01,
  kModRightAlt = 0x02,
  kModLeftCtrl = 0x04,
  kModRightCtrl = 0x08,
  kModShift = 0x10,
};

struct ConsoleEvent {
  enum class Kind : uint8_t {
    kNone,        // nothing waiting
    kKeyPress,    // ch and/or scan, with modifiers
    kKeyRelease,  // discarded by the kit
    kMouse,       // a movement or a button release at (row, col)
    kResize,      // the console, or the terminal showing it, changed size;
                  // Rows()/Cols() tell the console's
  };
  Kind kind = Kind::kNone;
  // Key press: the character in code page 850 (0 for a key without one:
  // cursor and function keys, Alt+letters) and the PC keyboard scan code of
  // the key itself, unmodified (0x3B for F1 whatever modifier is held, 0x12
  // for E). The kit folds the modifiers into its key codes.
  uint8_t ch = 0;
  uint8_t scan = 0;
  uint16_t modifiers = 0;
  // Mouse: the cell under the pointer and the button released (0 for a mere
  // movement, 1 left, 2 right).
  int row = 0;
  int col = 0;
  int released_button = 0;
};

// Thrown by a MemoryConsole whose script has run out while the code under
// test keeps polling (so a test that forgot its last key fails instead of
// hanging).
class ScriptExhausted : public std::runtime_error {
 public:
  ScriptExhausted() : std::runtime_error("console input script exhausted") {}
};

class Console {
 public:
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  virtual ~Console() = default;

  // Visible size, at most kMaxConsoleRows x kMaxConsoleCols.
  virtual int Rows() = 0;
  virtual int Cols() = 0;

  // The attribute the next writes use.
  virtual void SetAttribute(uint8_t attr) = 0;
  virtual uint8_t Attribute() = 0;

  // Cursor position; positions outside the console are ignored.
  virtual void SetCursor(int row, int col) = 0;
  virtual int CursorRow() = 0;
  virtual int CursorCol() = 0;
  // Cursor shape: 0 hidden, otherwise the height in percent of the cell
  // (the kit uses 50 and 100). Back ends without shapes show a visible
  // cursor for any height.
  virtual void SetCursorShape(int percent) = 0;
  virtual int CursorShape() = 0;

  // Writes the bytes at the cursor in the current attribute, moving the
  // cursor one cell right per byte; at the end of a row the writing goes on
  // at the start of the next row; after the bottom-right cell the remaining
  // bytes are dropped and the cursor stays on that cell. Every byte is a
  // glyph (code page 850), control bytes included.
  virtual void Write(const std::string& cp850) = 0;
  // The cell at (row, col); a blank in attribute 7 outside the console.
  virtual ConsoleCell ReadCell(int row, int col) = 0;
  // Moves the content of the rectangle (inclusive, 1-based) up by count rows
  // (down for a negative count); the uncovered rows are filled with blanks
  // in fill_attr. The cursor does not move.
  virtual void Scroll(int top, int left, int bottom, int right, int count, uint8_t fill_attr) = 0;

  // Takes the next input event without waiting for one (Kind::kNone when
  // nothing is waiting). A terminal may block for a few milliseconds when
  // nothing is waiting, so callers that poll in a loop do not spin.
  virtual ConsoleEvent PollEvent() = 0;
  // Drops every input event waiting.
  virtual void DiscardInput() = 0;

  // Mouse reporting of movements and releases of buttons 1 and 2.
  virtual void SetMouseReporting(bool on) = 0;
  // Number of mouse buttons; 0 when there is no mouse.
  virtual int MouseButtons() = 0;

  // One beep.
  virtual void Beep() = 0;
  // Called after the process-wide clipboard was set, so a terminal can hand
  // the text on to the user's own clipboard. Default: nothing.
  virtual void ClipboardChanged(const std::string& /*cp850*/) {}

  // Hands the terminal to another program (Suspend) and takes it back,
  // redrawing the screen (Resume). Memory consoles do nothing.
  virtual void Suspend() {}
  virtual void Resume() {}
  // Makes what was written visible now (terminals also do it whenever they
  // poll for input).
  virtual void Flush() {}
};

// The process-wide console.
Console& CurrentConsole();

// Installs console as the process-wide one for the scope's lifetime.
class ScopedConsoleOverride {
 public:
  explicit ScopedConsoleOverride(Console* console);
  ScopedConsoleOverride(const ScopedConsoleOverride&) = delete;
  ScopedConsoleOverride& operator=(const ScopedConsoleOverride&) = delete;
  ~ScopedConsoleOverride();

 private:
  Console* previous_;
};

// The keyboard's Insert toggle, process-wide (false at start).
bool InsertToggle();
void SetInsertToggle(bool on);

// The clipboard's text (code page 850), process-wide. SetClipboardText also
// tells the current console (ClipboardChanged).
std::string ClipboardText();
void SetClipboardText(const std::string& cp850);

// Work the terminal back end's signal handlers do once the terminal is
// restored, before the signal takes its course: the kit undoes there what a
// module ended by a signal (its terminal closed, a kill) would leave in its
// work files. At most eight; adding the same function again adds nothing.
// REQUIRES: cleanup is async-signal-safe.
void AddSignalCleanup(void (*cleanup)());
// Runs them, newest first. Async-signal-safe.
void RunSignalCleanups();
// For a program without the terminal back end (which has handlers of its
// own): SIGTERM, SIGHUP, SIGINT and SIGQUIT pass themselves on to the
// program being run and wait for it (platform::EndRunningProgramFromSignal),
// run the cleanups and then take their course. A signal the process ignores
// stays ignored.
void InstallSignalCleanupHandlers();
// Sets *set to those four termination signals: a handler's mask, so that a
// second one does not end the process while the first is still waiting for
// the program it ends.
void AddTerminationSignals(sigset_t* set);
// The absolute host path of a system path, through the current Env, copied
// into out for use inside a signal handler. False (out empty) when it does
// not fit.
bool PrepareSignalPath(const std::string& path, char* out, size_t size);

// A console in memory: a cell grid, scripted input, a text dump. A fresh one
// is blank (blanks in attribute 7), cursor at (1, 1), shape 0, attribute 7,
// with a two-button mouse.
class MemoryConsole : public Console {
 public:
  MemoryConsole(int rows = 25, int cols = 80);

  int Rows() override { return rows_; }
  int Cols() override { return cols_; }
  void SetAttribute(uint8_t attr) override { attr_ = attr; }
  uint8_t Attribute() override { return attr_; }
  void SetCursor(int row, int col) override;
  int CursorRow() override { return cursor_row_; }
  int CursorCol() override { return cursor_col_; }
  void SetCursorShape(int percent) override { shape_ = percent; }
  int CursorShape() override { return shape_; }
  void Write(const std::string& cp850) override;
  ConsoleCell ReadCell(int row, int col) override;
  void Scroll(int top, int left, int bottom, int right, int count, uint8_t fill_attr) override;
  ConsoleEvent PollEvent() override;
  void DiscardInput() override { script_.clear(); }
  void SetMouseReporting(bool on) override { mouse_reporting_ = on; }
  int MouseButtons() override { return mouse_buttons_; }
  void Beep() override { ++beeps_; }

  // --- Script -------------------------------------------------------------
  // Events are taken in order; a kNone event in the script is returned as
  // "nothing waiting" once. When the script is empty, PollEvent returns kNone
  // up to idle_limit times in a row, then calls the idle hook when there is
  // one (which may add events) or throws ScriptExhausted.
  void Push(const ConsoleEvent& event) { script_.push_back(event); }
  // A key with a character (and its scan code when it matters).
  void PushChar(uint8_t ch, uint16_t modifiers = 0, uint8_t scan = 0);
  // Each byte of the text as a key press.
  void PushText(const std::string& cp850);
  // A key without a character, by scan code (0x3B F1, 0x48 Up, ...).
  void PushScan(uint8_t scan, uint16_t modifiers = 0);
  void PushRelease(uint8_t scan = 0);
  // A mouse event at (row, col); button 0 = movement.
  void PushMouse(int row, int col, int released_button);
  void PushNothing() { Push(ConsoleEvent{}); }
  size_t pending_events() const { return script_.size(); }
  void set_idle_limit(int limit) { idle_limit_ = limit; }
  void set_idle_hook(std::function<void()> hook) { idle_hook_ = std::move(hook); }
  void set_mouse_buttons(int n) { mouse_buttons_ = n; }
  bool mouse_reporting() const { return mouse_reporting_; }
  int beeps() const { return beeps_; }
  // Changes the size (cells kept where they still fit) and queues a kResize
  // event.
  void Resize(int rows, int cols);

  // --- Dumps --------------------------------------------------------------
  // One row's text as UTF-8, trailing blanks kept.
  std::string RowText(int row);
  // The rows first..last (inclusive; 0 = last row) as UTF-8 lines, each with
  // its trailing blanks removed and ending in "\n".
  std::string Dump(int first = 1, int last = 0);
  // The attributes of the same rows, two hex digits per cell (background
  // then foreground, as "70" for black on light grey), one line per row.
  std::string DumpAttributes(int first = 1, int last = 0);

 private:
  ConsoleCell& At(int row, int col) { return cells_[(row - 1) * cols_ + (col - 1)]; }

  int rows_;
  int cols_;
  std::vector<ConsoleCell> cells_;
  uint8_t attr_ = 0x07;
  int cursor_row_ = 1;
  int cursor_col_ = 1;
  int shape_ = 0;
  std::deque<ConsoleEvent> script_;
  int idle_limit_ = 10000;
  int idle_polls_ = 0;
  std::function<void()> idle_hook_;
  int mouse_buttons_ = 2;
  bool mouse_reporting_ = false;
  int beeps_ = 0;
};

}  // namespace platform

#endif  // TELVORAN_PLATFORM_CONSOLE_H_
