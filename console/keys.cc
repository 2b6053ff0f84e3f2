#include "console/keys.h"

// Placeholder bodies until key reading lands.
namespace console {
void GetKey(int16_t& key, int16_t& button, int16_t& row, int16_t& col) { key = button = row = col = 0; }
void WaitKey(int16_t& key) { key = 0; }
std::string& PendingKeys() { static std::string s; return s; }
void SetCalculatorHook(std::function<std::string()>) {}
void SetCalendarHook(std::function<std::string()>) {}
void KeyMap(const std::string&, const std::string&) {}
bool ExitKeyLookup(int16_t, int16_t*) { return false; }
bool ExitKeyMapEmpty() { return true; }
int16_t HiddenMask() { return 0; }
void ResetKeyState() {}
}  // namespace console
