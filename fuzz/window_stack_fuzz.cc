// The window stack reader ("WinPush.tmp") over arbitrary bytes: with one
// window pushed, the file is replaced by the input (as another program of
// the suite sharing the temporary folder could leave it) and the window is
// popped; then a push and a pop run on what is left. A damaged stack must
// read as an empty one, never paint outside the console or read outside the
// file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "console/screen.h"
#include "fuzz/fuzz_support.h"
#include "platform/console.h"
#include "platform/env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static platform::MemoryConsole* screen = new platform::MemoryConsole(25, 80);
  platform::ScopedConsoleOverride use_console(screen);
  config::ModuleSettings().temp_dir = fuzz::ScratchDir();
  console::ResetScreenState();

  console::WinPush(5, 10, 12, 40);
  fuzz::WriteHostFile(platform::HostPath(console::WindowStackPath()), data, size);
  console::WinPop();
  console::WinPush(1, 1, 25, 80);
  console::WinPop();
  console::WinPop();
  platform::DefaultEnv()->DeleteFile(console::WindowStackPath());
  return 0;
}
