// The text help viewer over an arbitrary help file: the first byte gives
// how many keys to press (at most 15), the next bytes pick them (scrolling
// keys, F1 for the nested general help, Esc), and the rest is the help file
// "AJUDA\FUZZ.HLP". Whatever the file holds (any length, switch bytes
// anywhere, a size that is not a whole number of lines), the viewer must
// stay inside the file and the console and leave no window behind.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "config/settings.h"
#include "console/help_view.h"
#include "console/keys.h"
#include "console/screen.h"
#include "fuzz/fuzz_support.h"
#include "platform/console.h"
#include "platform/fake_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    const std::string& dir = fuzz::ScratchDir();
    std::filesystem::create_directories(dir + "AJUDA");
    config::Settings& s = config::ModuleSettings();
    s.root_dir = "";
    s.temp_dir = "";
    s.environment_kind = "DOS";
    s.colours = config::ParseColourTable(config::kDefaultColours);
    return true;
  }();
  (void)ready;
  static const uint8_t kScans[] = {0x48, 0x50, 0x49, 0x51, 0x47, 0x4F, 0x3B, 0x4B, 0x4D};

  size_t keys = size > 0 ? data[0] % 16 : 0;
  size_t at = size > 0 ? 1 : 0;
  // Relative paths (the help file's) resolve inside the scratch folder.
  static platform::FakeEnv* env = new platform::FakeEnv(fuzz::ScratchDir());
  platform::ScopedEnvOverride use_env(env);
  platform::MemoryConsole screen(25, 80);
  platform::ScopedConsoleOverride use_console(&screen);
  console::ResetScreenState();
  console::ResetKeyState();
  for (; keys > 0 && at < size; --keys, ++at) {
    const uint8_t pick = data[at] % (sizeof kScans + 1);
    if (pick == sizeof kScans) {
      screen.PushChar(27);
    } else {
      screen.PushScan(kScans[pick]);
    }
  }
  // Enough Esc presses to leave every nested help the keys opened.
  for (int i = 0; i < 17; ++i) screen.PushChar(27);
  screen.set_idle_limit(0);
  fuzz::WriteHostFile(fuzz::ScratchDir() + "AJUDA/FUZZ.HLP", data + at, size - at);
  console::ShowHelp("FUZZ");
  FUZZ_CHECK(console::WindowDepth() == 0);
  return 0;
}
