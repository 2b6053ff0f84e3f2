// The bottom layer of the console kit: the colour table and its named codes,
// the cursor relative to the innermost window, the window stack (a rectangle
// saved to "WinPush.tmp" in the temporary folder before a pop-up covers it,
// painted back when it closes), frames, scrolling, the text stack and the
// framed message window. Everything above draws through these operations on
// platform::CurrentConsole(). The colours come from
// config::ModuleSettings().colours, the temporary folder from its temp_dir.
//
// Process-wide state, single-threaded; all zero or empty at start.
//
// Window stack file "WinPush.tmp" (1-based byte positions):
//   1        4 bytes  end pointer, int32 little-endian (5 when empty)
//   5..      records, oldest first:
//     cursor row, cursor column                      2 digits each
//     previous WinTop, WinLeft, WinBottom, WinRight  2 digits each
//     saved top, left, bottom, right                 2 digits each
//     cells: per row, per column, char byte + attribute byte
//     record length (20 + cells + 5)                 5 digits
// Numbers are zero-padded decimal keeping the last digits. The file is never
// shortened; it is deleted when the stack becomes empty.
#ifndef TELVORAN_CONSOLE_SCREEN_H_
#define TELVORAN_CONSOLE_SCREEN_H_

#include <cstdint>
#include <functional>
#include <string>

namespace console {

// Applies a colour code ("h", "u", "+n", "+u", "+d", "-", "+rh", ...):
// "+" saves the current index, "-" restores the last saved one (0 when none
// is saved), otherwise U -> 4, R -> 2, N -> +1. Blank codes do nothing.
void SetColour(const std::string& code);
// The colour table index last applied.
int16_t CurrentColour();

// Places the cursor, relative to the innermost window's frame when a window
// is open. A coordinate outside the console keeps the current one.
void Locate(int row, int col);
// Writes the text at the cursor in the current colour (code page 850).
void Print(const std::string& text);
// One beep on the console.
void Beep();

int16_t ScreenRows();
int16_t ScreenCols();
int16_t WindowFirstRow();
int16_t WindowFirstCol();
int16_t WindowLastCol();
int16_t WindowDepth();
// The innermost window's rectangle (all 0 when none is open).
struct WindowRect {
  int16_t top = 0, left = 0, bottom = 0, right = 0;
};
WindowRect CurrentWindow();

// The window stack file's path (temporary folder + "WinPush.tmp").
std::string WindowStackPath();
// Saves the rectangle (absolute, frame included) and makes it the innermost
// window; a corner outside the console does nothing.
void WinPush(int top, int left, int bottom, int right);
// Restores the last saved rectangle, the cursor and the previous window.
void WinPop();

// A window stack file that cannot be opened, read or written (a link or a
// directory planted at its name, a full disk) leaves the push or pop that
// met it undone: the window is not opened, or not painted back. The kit
// never ends the program over it; it calls the handler the program
// installed with the message (the file's path, ": " and what failed), and
// the program decides (the module restores the terminal, shows it and ends).
// Without a handler the message goes to stderr and the program goes on.
// StackFileFailed() is true from the first failure until ResetScreenState.
using StackFileFailureHandler = std::function<void(const std::string& message)>;
void SetStackFileFailureHandler(StackFileFailureHandler handler);
bool StackFileFailed();
// Draws the innermost window's frame (0 blank, 1 single, 2 double) and
// clears its inside; nothing when no window is open.
void DrawFrame(int style);
// Scrolls the rectangle (0-based coordinates) up by count rows (down when
// negative), filling with blanks in the current attribute.
void ScrollArea(int top, int left, int bottom, int right, int count);

void PushText(const std::string& text);
std::string PopText();
std::string TextFromBuffer(const void* buffer, int count);

// Shows a framed box (style 1, colour index 2) around row with the text
// wrapped at 76 columns, centred on column 41, and returns at once; the
// caller removes it with WinPop. Returns false when it did not fit (nothing
// pushed then).
bool ShowMessageWindow(int row, const std::string& text);

// Back to the start state (colours, stacks, window depth); for tests and the
// program's end. Does not touch the console or the stack file.
void ResetScreenState();

// What the terminal's signal handlers run (registered by the first push):
// the window stack file goes back to how this process found it, or goes
// when it had none. Async-signal-safe; does nothing once the process has
// popped back to where it began. Callable directly in tests.
void UndoWindowPushesAfterSignal();

}  // namespace console

#endif  // TELVORAN_CONSOLE_SCREEN_H_
