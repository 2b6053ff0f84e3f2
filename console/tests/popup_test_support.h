// Shared set-up of the pop-up tests (calendar, calculator, help): a 25 x 80
// memory console and a fake Env over a fresh temporary folder with TMP\ and
// TERM\ in it, the module-wide settings pointed there (and put back after),
// the kit's state reset before and after each test, and helpers that read a
// screen rectangle.
#ifndef TELVORAN_CONSOLE_TESTS_POPUP_TEST_SUPPORT_H_
#define TELVORAN_CONSOLE_TESTS_POPUP_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/tests/kit_test_support.h"
#include "format/packed.h"
#include "platform/console.h"
#include "platform/cp850.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace console {

class PopupTest : public ::testing::Test {
 protected:
  PopupTest() : env_(root_), use_env_(&env_), use_console_(&con_) {}

  void SetUp() override {
    std::filesystem::create_directories(root_ + "TMP");
    std::filesystem::create_directories(root_ + "TERM");
    config::Settings& s = config::ModuleSettings();
    s.root_dir = "";
    s.temp_dir = "TMP\\";
    s.terminal_dir = "TERM\\";
    s.language = "CAT";
    s.environment_kind = "DOS";
    s.working_date = format::PackDigits("20240131");
    s.colours = config::ParseColourTable(config::kDefaultColours);
    WriteFile("Nuva.ini",
              "[Usuari]\r\nDatCaracter=/\r\nDatOrdre=DMA\r\nDecCaracter=.\r\nMilCaracter=,\r\n");
  }

  void WriteFile(const std::string& relative, const std::string& bytes) const {
    testsupport::WriteFile(root_ + relative, bytes);
  }
  std::string ReadFile(const std::string& relative) const {
    return testsupport::ReadFile(root_ + relative);
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(root_ + relative);
  }

  // The rectangle's characters as UTF-8, one line per row, trailing blanks
  // kept.
  std::string Region(int top, int left, int bottom, int right) {
    std::string out;
    for (int r = top; r <= bottom; ++r) {
      for (int c = left; c <= right; ++c) {
        out += platform::Cp850ByteToUtf8(con_.ReadCell(r, c).ch);
      }
      out += "\n";
    }
    return out;
  }
  uint8_t AttrAt(int row, int col) { return con_.ReadCell(row, col).attr; }

  // Each time the scripted keys run out the next step is run (a step looks
  // at the screen and pushes the next keys); after the last step the
  // console throws ScriptExhausted.
  void Steps(std::vector<std::function<void()>> steps) {
    con_.set_idle_limit(1);
    con_.set_idle_hook([this, steps = std::move(steps), next = size_t{0}]() mutable {
      if (next >= steps.size()) throw platform::ScriptExhausted();
      steps[next++]();
    });
  }
  // Calls snapshot when the scripted keys have run out, then presses the
  // character that closes the pop-up.
  void SnapshotThenClose(std::function<void()> snapshot, uint8_t close_char = 27) {
    Steps({[this, snapshot, close_char] {
      snapshot();
      con_.PushChar(close_char);
    }});
  }

  testsupport::ScratchDir dir_{"telvoran-popup"};
  const std::string root_ = dir_.path();
  platform::FakeEnv env_;
  platform::ScopedEnvOverride use_env_;
  platform::MemoryConsole con_;
  platform::ScopedConsoleOverride use_console_;
  KitState kit_;
};

}  // namespace console

#endif  // TELVORAN_CONSOLE_TESTS_POPUP_TEST_SUPPORT_H_
