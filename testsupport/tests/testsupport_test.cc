#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "datafiles/record_file.h"
#include "format/currency.h"
#include "format/masks.h"
#include "platform/env.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "testsupport/record_manager_faults.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"
#include "testsupport/write_faults.h"

namespace testsupport {
namespace {

TEST(ScratchDirTest, FreshFolderRemovedWithItsFiles) {
  std::string path;
  {
    ScratchDir dir("telvoran-scratch");
    path = dir.path();
    EXPECT_EQ(path.back(), '/');
    EXPECT_NE(path.find("/telvoran-scratch-"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(path));
    EXPECT_EQ(dir.File("a.txt"), path + "a.txt");
    ASSERT_TRUE(WriteFile(dir.File("SUB/DEEP/a.txt"), std::string("x\0y\r\n", 5)));
    EXPECT_EQ(ReadFile(dir.File("SUB/DEEP/a.txt")), std::string("x\0y\r\n", 5));
    ASSERT_TRUE(WriteFile(dir.File("SUB/DEEP/a.txt"), "z"));  // replaced whole
    EXPECT_EQ(ReadFile(dir.File("SUB/DEEP/a.txt")), "z");
    EXPECT_EQ(ReadFile(dir.File("missing")), "");
    EXPECT_FALSE(WriteFile(dir.File("SUB/DEEP/a.txt/b"), "x"));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SettingsGuardTest, RestoresSettingsAndCurrency) {
  config::ModuleSettings().language = "SPA";
  format::SetCurrency("a,E");
  {
    SettingsGuard guard;
    config::ModuleSettings().language = "GLG";
    format::SetCurrency("a,P");
  }
  EXPECT_EQ(config::ModuleSettings().language, "SPA");
  EXPECT_EQ(format::Currency().current, "E");
}

TEST(SettingsGuardTest, NumberCharactersAreReadAgain) {
  ScratchDir dir;
  platform::FakeEnv env;
  env.SetVar("ZELROOT", dir.path());
  platform::ScopedEnvOverride use(&env);
  SettingsGuard guard;
  ASSERT_TRUE(WriteFile(dir.File("Nuva.ini"), "[Usuari]\r\nDecCaracter=,\r\n"));
  EXPECT_EQ(format::LoadedNumberChars().decimal, ',');
  ASSERT_TRUE(WriteFile(dir.File("Nuva.ini"), "[Usuari]\r\nDecCaracter=:\r\n"));
  EXPECT_EQ(format::LoadedNumberChars().decimal, ',');  // kept for the run
  { SettingsGuard inner; }
  EXPECT_EQ(format::LoadedNumberChars().decimal, ':');
}

struct WriteFaultCase {
  WriteFaultEnv::Call call;
  int n;
  bool fired;
  bool closed;  // Close's answer
  int appends;
};

// Three appends and a close on a file whose old contents are "old".
TEST(WriteFaultEnvTest, FailsTheNthCallAndLeavesTheOldFile) {
  using Call = WriteFaultEnv::Call;
  const WriteFaultCase cases[] = {
      {Call::kAppend, 0, false, true, 3}, {Call::kAppend, 1, true, false, 3},
      {Call::kAppend, 3, true, false, 3}, {Call::kAppend, 4, false, true, 3},
      {Call::kClose, 1, true, false, 3},  {Call::kClose, 2, false, true, 3},
  };
  ScratchDir dir;
  WriteFaultEnv env(platform::DefaultEnv());
  for (const WriteFaultCase& c : cases) {
    const std::string label = std::to_string(static_cast<int>(c.call)) + "/" + std::to_string(c.n);
    ASSERT_TRUE(WriteFile(dir.File("out"), "old"));
    env.FailAt(c.call, c.n);
    std::unique_ptr<platform::WritableFile> f = env.OpenWritable(dir.File("out"));
    ASSERT_NE(f, nullptr);
    bool appended = true;
    for (const char* piece : {"a", "b", "c"}) appended = f->Append(piece) && appended;
    EXPECT_EQ(appended, !(c.fired && c.call == Call::kAppend)) << label;
    EXPECT_EQ(f->Close(), c.closed) << label;
    EXPECT_EQ(f->Close(), c.closed) << label;  // the same answer again
    EXPECT_EQ(env.fired(), c.fired) << label;
    EXPECT_EQ(env.appends(), c.appends) << label;
    EXPECT_EQ(env.closes(), 1) << label;
    EXPECT_EQ(ReadFile(dir.File("out")), c.closed ? "abc" : "old") << label;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);  // no new file left beside it
}

TEST(WriteFaultEnvTest, FilterCountsOnlyTheNamedFile) {
  ScratchDir dir;
  WriteFaultEnv env(platform::DefaultEnv());
  env.set_path_filter("print.tmp");
  env.FailAt(WriteFaultEnv::Call::kAppend, 1);
  std::unique_ptr<platform::WritableFile> other = env.OpenWritable(dir.File("other"));
  EXPECT_TRUE(other->Append("x"));
  EXPECT_TRUE(other->Close());
  std::unique_ptr<platform::WritableFile> print = env.OpenWritable(dir.File("print.tmp"));
  EXPECT_FALSE(print->Append("x"));
  EXPECT_FALSE(print->Close());
  EXPECT_EQ(env.appends(), 1);
  EXPECT_EQ(env.closes(), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("print.tmp")));
}

TEST(RecordManagerFaultsTest, FailsTheNthCallAndRestoresTheEngine) {
  datafiles::Status st = 0;
  {
    RecordManagerFaults faults(2, recmgr::kRecordLocked);
    datafiles::RecordFilesReset(st);
    EXPECT_EQ(st, recmgr::kOk);
    EXPECT_FALSE(faults.fired());
    datafiles::RecordFilesReset(st);
    EXPECT_EQ(st, recmgr::kRecordLocked);
    datafiles::RecordFilesReset(st);
    EXPECT_EQ(st, recmgr::kOk);
    EXPECT_EQ(faults.calls(), 3);
    EXPECT_EQ(faults.failures(), 1);
  }
  {
    RecordManagerFaults faults(1, recmgr::kIoError);
    faults.set_persistent(true);
    for (int i = 0; i < 2; ++i) {
      datafiles::RecordFilesReset(st);
      EXPECT_EQ(st, recmgr::kIoError);
    }
    EXPECT_EQ(faults.failures(), 2);
  }
  {
    // Only the counted operations move the count.
    RecordManagerFaults faults(1, recmgr::kIoError,
                               [](uint16_t op) { return op % 100 == recmgr::kOpGetNext; });
    datafiles::RecordFilesReset(st);
    EXPECT_EQ(st, recmgr::kOk);
    EXPECT_EQ(faults.calls(), 0);
  }
  datafiles::RecordFilesReset(st);  // the engine again
  EXPECT_EQ(st, recmgr::kOk);
}

}  // namespace
}  // namespace testsupport
