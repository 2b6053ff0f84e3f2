// Record locks held by another process, met through the record file layer,
// and read snapshots held against another handle's writes. The lock holder is
// the data tool, so the locks cross a real process boundary; the pauses of
// the lock wait are fake and release the holder at a chosen attempt.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "datafiles/file_messages.h"
#include "datafiles/record_file.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"
#include "testsupport/scratch_dir.h"

extern char** environ;

namespace {

using recmgr::testing::Definition;
using recmgr::testing::EngineFile;
using testsupport::ScratchDir;

// The data tool holding a lock until Release (or its own time runs out).
class Holder {
 public:
  explicit Holder(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> all = {RECMGR_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, RECMGR_TOOL_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = ::fdopen(fds[0], "r");
  }
  ~Holder() {
    Release();
    if (out_ != nullptr) std::fclose(out_);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  // True once the tool says it holds the lock.
  bool Locked() {
    char line[64] = {};
    return out_ != nullptr && std::fgets(line, sizeof(line), out_) != nullptr &&
           std::string(line) == "locked\n";
  }
  // Ends the holder; its locks go with it.
  void Release() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

std::string Rec(int i) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%06d%04dabcdef", i, i % 7);
  return std::string(buf, 16);
}

// Pauses of the lock wait that release the holder at the given pause.
struct ReleasingSleeps : platform::FakeEnv {
  Holder* holder = nullptr;
  int release_at = 1;
  int pauses = 0;
  void SleepMs(int ms) override {
    platform::FakeEnv::SleepMs(ms);
    if (++pauses == release_at && holder != nullptr) holder->Release();
  }
};

class LockThroughLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.File("Pagam.dat");
    ASSERT_EQ(EngineFile::Create(file_, Definition(16, {{{1, 6}}})), 0);
    {
      EngineFile f;
      ASSERT_EQ(f.Open(file_, datafiles::RecordFileOwnerName()), 0);
      for (int i = 1; i <= 3; ++i) ASSERT_EQ(f.Insert(Rec(i)), 0);
      ASSERT_EQ(f.Get(recmgr::kOpGetFirst, 0), 0);
      first_ = f.Position();
    }
    config::ModuleSettings().root_dir = dir_.path();
    datafiles::DataFileUi ui;
    ui.show_message = [this](int row, const std::string& t) { shown_.push_back({row, t}); };
    ui.remove_message = [this] { ++removed_; };
    datafiles::SetDataFileUi(ui);
    Reopen();
  }
  // A fresh opening: no lock of an earlier read, no message seen.
  void Reopen() {
    platform::Status st = 0;
    datafiles::RecordFilesReset(st);
    datafiles::RecordFileOpen(515, dir_.File("Pagam"), buffer_, st);
    ASSERT_EQ(st, 0);
    shown_.clear();
    removed_ = 0;
  }
  void TearDown() override {
    platform::Status st = 0;
    datafiles::RecordFilesReset(st);
    datafiles::SetDataFileUi(datafiles::DataFileUi{});
  }

  ScratchDir dir_;
  std::string file_;
  uint32_t first_ = 0;
  char buffer_[16] = {};
  std::vector<std::pair<int, std::string>> shown_;
  int removed_ = 0;
};

TEST_F(LockThroughLayerTest, ModeBGivesRecordLockedAtOnce) {
  Holder holder({"lock", file_, "--record", std::to_string(first_), "--seconds", "30"});
  ASSERT_TRUE(holder.Locked());
  ReleasingSleeps env;
  platform::ScopedEnvOverride scoped(&env);
  platform::Status st = 0;
  datafiles::RecordFileSetLockMode(515, "B", st);
  datafiles::RecordFileSeek(515, 0, "", 1, st);
  EXPECT_EQ(st, datafiles::kStatusRecordLocked);
  EXPECT_EQ(env.sleep_calls(), 0);
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(removed_, 0);
  // Another record of the file is not locked.
  datafiles::RecordFileSeek(515, 0, Rec(2).substr(0, 6), 0, st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(std::string(buffer_, 16), Rec(2));
}

// Mode A waits until the holder lets go; the message comes only when the
// first pause did not get the read through, once, and goes at the end.
TEST_F(LockThroughLayerTest, ModeAWaitsAndShowsTheMessageFromTheSecondAttempt) {
  const struct {
    int release_at;
    size_t messages;
  } cases[] = {{1, 0}, {2, 1}, {4, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.release_at);
    Reopen();
    std::memset(buffer_, 0, sizeof(buffer_));
    Holder holder({"lock", file_, "--record", std::to_string(first_), "--seconds", "30"});
    ASSERT_TRUE(holder.Locked());
    ReleasingSleeps env;
    env.holder = &holder;
    env.release_at = c.release_at;
    platform::ScopedEnvOverride scoped(&env);
    platform::Status st = 0;
    datafiles::RecordFileSetLockMode(515, "A", st);
    datafiles::RecordFileSeek(515, 0, "", 1, st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(std::string(buffer_, 16), Rec(1));
    EXPECT_EQ(env.sleep_calls(), c.release_at);
    ASSERT_EQ(shown_.size(), c.messages);
    if (c.messages != 0) {
      EXPECT_EQ(shown_[0].first, datafiles::kLockWaitRow);
      EXPECT_EQ(shown_[0].second, "FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    }
    EXPECT_EQ(removed_, static_cast<int>(c.messages));
  }
}

// A reader that holds its snapshots sees a file as it was, however another
// handle writes meanwhile, in the middle of a scan and across scans; once
// released it sees the writes. Without the hold a scan goes on in the newest
// data, which is what let one report see half of another program's work.
TEST(ReadSnapshotTest, HeldSnapshotIgnoresOtherWritersUntilReleased) {
  ScratchDir dir;
  const std::string path = dir.File("Pagam.dat");
  ASSERT_EQ(EngineFile::Create(path, Definition(16, {{{1, 6}}})), 0);
  EngineFile writer, reader;
  ASSERT_EQ(writer.Open(path), 0);
  ASSERT_EQ(reader.Open(path), 0);
  for (int i = 10; i <= 50; i += 10) ASSERT_EQ(writer.Insert(Rec(i)), 0);
  auto count_from_first = [&reader] {
    int n = 0;
    for (recmgr::Status s = reader.Get(recmgr::kOpGetFirst, 0); s == 0;
         s = reader.Get(recmgr::kOpGetNext, 0)) {
      ++n;
    }
    return n;
  };
  // The record count of the Stat buffer (4 bytes at offset 6).
  auto stat_records = [&reader] {
    std::string stat;
    EXPECT_EQ(reader.Stat(&stat), 0);
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
      n |= static_cast<uint32_t>(static_cast<uint8_t>(stat[6 + i])) << (8 * i);
    return n;
  };

  // Not held: a scan standing on 20 sees a record inserted ahead of it.
  ASSERT_EQ(reader.Get(recmgr::kOpGetEqual, 0, Rec(20).substr(0, 6)), 0);
  ASSERT_EQ(writer.Insert(Rec(25)), 0);
  std::string record;
  ASSERT_EQ(reader.Get(recmgr::kOpGetNext, 0, "", &record), 0);
  EXPECT_EQ(record, Rec(25));

  recmgr::HoldReadSnapshots();
  ASSERT_EQ(reader.Get(recmgr::kOpGetEqual, 0, Rec(20).substr(0, 6)), 0);
  ASSERT_EQ(writer.Insert(Rec(21)), 0);
  ASSERT_EQ(writer.Insert(Rec(60)), 0);
  ASSERT_EQ(reader.Get(recmgr::kOpGetNext, 0, "", &record), 0);
  EXPECT_EQ(record, Rec(25));
  EXPECT_EQ(count_from_first(), 6);
  EXPECT_EQ(stat_records(), 6u);
  recmgr::ReleaseReadSnapshots();

  EXPECT_EQ(count_from_first(), 8);
  EXPECT_EQ(stat_records(), 8u);
}

// Another handle's file lock refuses reads with 85, except the plain reads of
// a reader holding its snapshots; a locking read is refused even then.
TEST(ReadSnapshotTest, HeldSnapshotReadsThroughAFileLock) {
  ScratchDir dir;
  const std::string path = dir.File("Pagam.dat");
  ASSERT_EQ(EngineFile::Create(path, Definition(16, {{{1, 6}}})), 0);
  EngineFile reader;
  ASSERT_EQ(reader.Open(path), 0);
  {
    EngineFile writer;
    ASSERT_EQ(writer.Open(path), 0);
    for (int i = 1; i <= 3; ++i) ASSERT_EQ(writer.Insert(Rec(i)), 0);
  }
  EngineFile exclusive;
  ASSERT_EQ(exclusive.Open(path, "", recmgr::kOpenExclusive), 0);
  EXPECT_EQ(reader.Get(recmgr::kOpGetFirst, 0), recmgr::kFileLocked);

  recmgr::HoldReadSnapshots();
  std::string record;
  EXPECT_EQ(reader.Get(recmgr::kOpGetFirst, 0, "", &record), 0);
  EXPECT_EQ(record, Rec(1));
  EXPECT_EQ(reader.Get(recmgr::kOpGetNext, 0, "", &record), 0);
  EXPECT_EQ(record, Rec(2));
  EXPECT_EQ(reader.Get(recmgr::kOpGetNext + recmgr::kLockNoWaitBias, 0), recmgr::kFileLocked);
  recmgr::ReleaseReadSnapshots();

  EXPECT_EQ(reader.Get(recmgr::kOpGetFirst, 0), recmgr::kFileLocked);
  ASSERT_EQ(exclusive.Close(), 0);
  EXPECT_EQ(reader.Get(recmgr::kOpGetFirst, 0), 0);
}

}  // namespace
