#include "console/file_messages_ui.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/tests/kit_test_support.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "platform/console.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"
#include "testsupport/scratch_dir.h"

namespace console {
namespace {

using datafiles::Status;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

class FileMessagesUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ + "TMP");
    std::filesystem::create_directories(root_ + "DADES");
    config::ModuleSettings().root_dir = root_;
    config::ModuleSettings().temp_dir = "TMP\\";
    config::ModuleSettings().language = "CAT";
    config::ModuleSettings().colours = config::ParseColourTable(config::kDefaultColours);
    datafiles::DataFileUi ui = ConsoleDataFileUi();
    ui.end_program = [] {};  // the open then returns its status
    datafiles::SetDataFileUi(ui);
  }
  void TearDown() override {
    datafiles::SetRecordManager(nullptr);
    Status st = 0;
    datafiles::RecordFilesReset(st);
    datafiles::SetDataFileUi(datafiles::DataFileUi{});
  }
  bool StackFileExists() const { return std::filesystem::exists(root_ + "TMP/WinPush.tmp"); }

  testsupport::ScratchDir dir_{"telvoran-fileui"};
  const std::string root_ = dir_.path();
  KitState kit_;
  platform::MemoryConsole con_{25, 80};
  platform::ScopedConsoleOverride console_override_{&con_};
  platform::FakeEnv env_{root_};
  platform::ScopedEnvOverride env_override_{&env_};
};

TEST_F(FileMessagesUiTest, OpenFailureShowsTheMessageUntilAKey) {
  datafiles::SetRecordManager([](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k,
                                 uint8_t kl, int8_t kn) -> Status {
    if (op == recmgr::kOpOpen) return 20;
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  con_.PushChar('y');  // typed before the message: discarded
  PendingKeys() = "zz";
  std::string shown;
  int beeps = -1;
  con_.set_idle_limit(2);
  con_.set_idle_hook([&] {
    shown = con_.Dump(8, 12);
    beeps = con_.beeps();
    con_.PushChar(' ');
  });

  char buffer[16];
  Status st = 0;
  datafiles::RecordFileOpen(501, "DADES\\TDespesa", buffer, st);
  EXPECT_EQ(st, 20);
  // 47 characters: columns 17..63 in a box from 15 to 65, rows 9 to 11.
  const std::string pad(14, ' ');
  EXPECT_EQ(shown, "\n" + pad + "┌" + Repeat("─", 49) + "┐\n" + pad +
                       "│ NO ES POT ACCEDIR AL FITXER DADES\\TDespesa (20) │\n" + pad + "└" +
                       Repeat("─", 49) + "┘\n\n");
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(con_.beeps(), 1);
  EXPECT_EQ(con_.Dump(9, 11), "\n\n\n");
  EXPECT_TRUE(PendingKeys().empty());
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
}

class LockWaitTest : public FileMessagesUiTest {
 protected:
  void SetUp() override {
    FileMessagesUiTest::SetUp();
    std::filesystem::create_directories(root_ + "ddf");
    const std::string def = recmgr::testing::Definition(8, {{{1, 2, recmgr::kSegBinary}}});
    std::ofstream out(root_ + "ddf/Pagam.xdf", std::ios::binary);
    out.put(static_cast<char>(def.size() & 0xFF)).put(static_cast<char>(def.size() >> 8)) << def;
    out.close();
    Status st = -1;
    datafiles::RecordFileOpen(501, root_ + "DADES\\Pagam", buffer_, st);
    ASSERT_EQ(st, 0);
    recmgr::testing::EngineFile w;
    ASSERT_EQ(w.Open(root_ + "DADES/Pagam.dat", datafiles::RecordFileOwnerName()), 0);
    ASSERT_EQ(w.Insert(std::string("\x01\x00RECORD", 8)), 0);
    datafiles::RecordFileSetLockMode(501, "A", st);
    // Something on the screen for the box to cover.
    con_.SetCursor(22, 1);
    con_.Write(std::string(80, '#'));
  }
  // Reads the record while the engine answers "locked" the first `locked`
  // times; returns what row 22 showed at each read (the key's Stat, asked
  // first, is passed through).
  std::vector<std::string> ReadLocked(int locked, Status* status) {
    std::vector<std::string> screens;
    datafiles::SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k,
                                    uint8_t kl, int8_t kn) -> Status {
      if (op == recmgr::kOpStat) return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
      screens.push_back(con_.Dump(22, 22));
      if (locked-- > 0) return datafiles::kStatusRecordLocked;
      return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
    });
    datafiles::RecordFileSeek(501, 0, std::string("\x01\x00", 2), 0, *status);
    datafiles::SetRecordManager(nullptr);
    return screens;
  }

  char buffer_[8] = {};
};

TEST_F(LockWaitTest, MessageFromTheSecondRefusalUntilTheReadGetsThrough) {
  const std::string plain = Repeat("#", 80) + "\n";
  // "FITXER BLOQUEJAT. ESPEREU UN MOMENT.": box 21..60, text row 22.
  const std::string boxed =
      Repeat("#", 20) + "│ FITXER BLOQUEJAT. ESPEREU UN MOMENT. │" + Repeat("#", 20) + "\n";
  Status st = -1;
  const std::vector<std::string> screens = ReadLocked(3, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(screens, (std::vector<std::string>{plain, plain, boxed, boxed}));
  EXPECT_EQ(env_.sleep_calls(), 3);
  EXPECT_EQ(con_.Dump(22, 22), plain);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackFileExists());
  EXPECT_EQ(std::string(buffer_, 8), std::string("\x01\x00RECORD", 8));
}

TEST_F(LockWaitTest, LockGoneAfterTheFirstPauseShowsNothing) {
  Status st = -1;
  const std::vector<std::string> screens = ReadLocked(1, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[1], Repeat("#", 80) + "\n");
  EXPECT_EQ(env_.sleep_calls(), 1);
  EXPECT_FALSE(StackFileExists());
}

TEST_F(LockWaitTest, MessageThatDoesNotFitPopsNothingOfTheCaller) {
  // A console too small for the box: the caller's own window must survive
  // the removal of a message that was never shown.
  platform::MemoryConsole tiny(2, 80);
  platform::ScopedConsoleOverride use(&tiny);
  WinPush(1, 1, 2, 80);
  Status st = -1;
  datafiles::SetRecordManager([locked = 3](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k,
                                           uint8_t kl, int8_t kn) mutable -> Status {
    if (op != recmgr::kOpStat && locked-- > 0) return datafiles::kStatusRecordLocked;
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  datafiles::RecordFileSeek(501, 0, std::string("\x01\x00", 2), 0, st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(WindowDepth(), 1);
  EXPECT_TRUE(StackFileExists());
  WinPop();
  EXPECT_FALSE(StackFileExists());
}

}  // namespace
}  // namespace console
