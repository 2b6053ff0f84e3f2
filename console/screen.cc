#include "console/screen.h"

// Placeholder bodies until the screen layer lands.
namespace console {
void SetColour(const std::string&) {}
int16_t CurrentColour() { return 0; }
void Locate(int, int) {}
void Print(const std::string&) {}
void Beep() {}
int16_t ScreenRows() { return 25; }
int16_t ScreenCols() { return 80; }
int16_t WindowFirstRow() { return 1; }
int16_t WindowFirstCol() { return 1; }
int16_t WindowLastCol() { return 80; }
int16_t WindowDepth() { return 0; }
WindowRect CurrentWindow() { return {}; }
std::string WindowStackPath() { return "WinPush.tmp"; }
void WinPush(int, int, int, int) {}
void WinPop() {}
void DrawFrame(int) {}
void ScrollArea(int, int, int, int, int) {}
void PushText(const std::string&) {}
std::string PopText() { return ""; }
std::string TextFromBuffer(const void*, int) { return ""; }
bool ShowMessageWindow(int, const std::string&) { return false; }
void ResetScreenState() {}
}  // namespace console
