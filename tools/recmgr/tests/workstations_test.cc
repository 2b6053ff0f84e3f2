// Several workstations on one PostgreSQL server, each a process of its own:
// this test process through the engine, the others the data tool run with
// --server. Locks, snapshots and unique keys are checked across the process
// boundary, where they come from the server and not from anything shared in
// memory. Every child runs under a deadline and is killed past it, so a lock
// that is never let go fails the test instead of hanging it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/test_server.h"

extern char** environ;

namespace {

using recmgr::Status;
using recmgr::testing::Definition;
using recmgr::testing::EngineFile;
using testsupport::ScratchDir;

// How long any child may take, and how long a freed lock may take to show.
constexpr int kChildDeadlineMs = 20000;
constexpr int kFreedDeadlineMs = 5000;

int64_t NowMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// True once done() is, asking every 20 ms until deadline_ms have passed.
bool Eventually(const std::function<bool()>& done, int deadline_ms) {
  const int64_t end = NowMs() + deadline_ms;
  for (;;) {
    if (done()) return true;
    if (NowMs() >= end) return false;
    ::usleep(20000);
  }
}

// The data tool as another workstation: its standard input, output and
// error are pipes of this process. The destructor kills it if still running.
class Tool {
 public:
  Tool(const std::string& conninfo, const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> all = {RECMGR_TOOL_PATH, "--server", conninfo};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, RECMGR_TOOL_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~Tool() {
    Kill();
    for (int fd : {in_, out_, err_})
      if (fd >= 0) ::close(fd);
  }
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  bool started() const { return pid_ > 0; }

  // Writes bytes to the tool's standard input and closes it.
  bool Feed(const std::string& bytes) {
    const bool ok =
        in_ >= 0 && ::write(in_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(in_);
    in_ = -1;
    return ok;
  }

  // The first line of its output (without the newline), waiting at most
  // the child deadline; empty when none came.
  std::string FirstLine() {
    const int64_t end = NowMs() + kChildDeadlineMs;
    while (out_text_.find('\n') == std::string::npos && NowMs() < end) {
      if (!Drain(out_, &out_text_, static_cast<int>(end - NowMs()))) break;
    }
    const size_t nl = out_text_.find('\n');
    return nl == std::string::npos ? std::string() : out_text_.substr(0, nl);
  }

  // Waits for its end within the child deadline (killing it past it) and
  // returns the exit code; -1 when it did not end by itself.
  int Finish() {
    if (pid_ <= 0) return -1;
    if (in_ >= 0) Feed("");
    const int64_t end = NowMs() + kChildDeadlineMs;
    bool out_open = true, err_open = true;
    while ((out_open || err_open) && NowMs() < end) {
      struct pollfd p[2] = {{out_open ? out_ : -1, POLLIN, 0}, {err_open ? err_ : -1, POLLIN, 0}};
      if (::poll(p, 2, static_cast<int>(end - NowMs())) <= 0) break;
      if (out_open && p[0].revents != 0) out_open = Drain(out_, &out_text_, 0);
      if (err_open && p[1].revents != 0) err_open = Drain(err_, &err_text_, 0);
    }
    if (out_open || err_open) {
      Kill();
      return -1;
    }
    int status = 0;
    if (!Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                    static_cast<int>(std::max<int64_t>(end - NowMs(), 100)))) {
      Kill();
      return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Ends it at once with SIGKILL, as a workstation switched off.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  // Appends what fd has within timeout_ms; false at its end (or an error).
  static bool Drain(int fd, std::string* to, int timeout_ms) {
    struct pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return true;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n > 0) to->append(buf, static_cast<size_t>(n));
    return n > 0;
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string out_text_, err_text_;
};

// A 16-byte record whose unique key is the number's 6 digits; tag fills the
// rest, so that records of the same key can be told apart.
std::string Rec(int key, int tag = 0) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%06d%010d", key, tag);
  return std::string(buf, 16);
}
std::string Key(int key) {
  return Rec(key).substr(0, 6);
}

// The sequential load format of the records.
std::string Sequential(const std::vector<std::string>& records) {
  std::string out;
  for (const std::string& r : records) out += std::to_string(r.size()) + "," + r + "\r\n";
  return out + "\x1A";
}

// The record count of a Stat buffer (4 bytes at offset 6).
uint32_t StatRecords(EngineFile& f) {
  std::string stat;
  if (f.Stat(&stat) != recmgr::kOk || stat.size() < 10) return UINT32_MAX;
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i)
    n |= static_cast<uint32_t>(static_cast<uint8_t>(stat[6 + i])) << (8 * i);
  return n;
}

// Records stepped from the first one on key 0.
int CountFromFirst(EngineFile& f) {
  int n = 0;
  for (Status s = f.Get(recmgr::kOpGetFirst, 0); s == recmgr::kOk;
       s = f.Get(recmgr::kOpGetNext, 0)) {
    ++n;
  }
  return n;
}

class WorkstationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::TestServer().empty()) GTEST_SKIP() << "no test server (TELVORAN_TEST_PG)";
    // A child that ends early must fail its check, not end this process
    // when its standard input is written.
    ::signal(SIGPIPE, SIG_IGN);
    conninfo_ = testsupport::FreshServerSchema(testsupport::TestServer());
    ASSERT_FALSE(conninfo_.empty());
    recmgr::UseServer(conninfo_, dir_.path());
    path_ = dir_.File(kName);
    ASSERT_EQ(EngineFile::Create(path_, Definition(16, {{{1, 6}}})), recmgr::kOk);
    ASSERT_EQ(file_.Open(path_), recmgr::kOk);
    for (int k = 10; k <= 50; k += 10) ASSERT_EQ(file_.Insert(Rec(k)), recmgr::kOk);
  }
  void TearDown() override {
    recmgr::ReleaseReadSnapshots();
    file_.Close();
    recmgr::UseServer("", "");
  }

  // The tool on this test's schema; names are the file's name there.
  std::unique_ptr<Tool> Start(const std::vector<std::string>& args) {
    auto t = std::make_unique<Tool>(conninfo_, args);
    EXPECT_TRUE(t->started());
    return t;
  }
  // Runs the tool to its end: its exit code, its output in *out.
  int Run(const std::vector<std::string>& args, std::string* out = nullptr,
          const std::string& input = "") {
    auto t = Start(args);
    if (!input.empty()) t->Feed(input);
    const int code = t->Finish();
    if (out != nullptr) *out = t->out() + t->err();
    return code;
  }
  // Position -> record of every line of the tool's dump.
  std::map<uint32_t, std::string> Dump() {
    std::string out;
    EXPECT_EQ(Run({"dump", kName}, &out), 0) << out;
    std::map<uint32_t, std::string> records;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      uint32_t position = 0;
      std::string hex;
      fields >> position >> hex;
      std::string bytes;
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      EXPECT_TRUE(records.emplace(position, bytes).second) << "position twice: " << line;
    }
    return records;
  }

  static constexpr char kName[] = "W.dat";
  ScratchDir dir_{"telvoran-ws"};
  std::string conninfo_;
  std::string path_;
  EngineFile file_;
};

// A lock held by another process refuses this one; killed with SIGKILL, the
// holder's connection goes and its lock with it. The record lock refuses
// the locking read, update and delete of that record only (a plain read of
// it goes through); the file lock of an exclusive open refuses any open.
TEST_F(WorkstationsTest, LocksOfAnotherProcessRefuseAndGoWithIt) {
  ASSERT_EQ(file_.Get(recmgr::kOpGetEqual, 0, Key(20)), recmgr::kOk);
  const std::string position = std::to_string(file_.Position());
  const struct {
    const char* what;
    std::vector<std::string> lock;
  } cases[] = {
      {"record", {"--record", position}},
      {"file", {"--file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool record = c.lock[0] == "--record";
    std::vector<std::string> args = {"lock", kName, "--seconds", "30"};
    args.insert(args.end(), c.lock.begin(), c.lock.end());
    auto holder = Start(args);
    ASSERT_EQ(holder->FirstLine(), "locked") << holder->err();

    EngineFile other;
    // What taking the lock the holder has gives this process.
    auto take = [&] {
      if (!record) {
        other.Close();
        return other.Open(path_, "", recmgr::kOpenExclusive);
      }
      return file_.Get(recmgr::kOpGetEqual + recmgr::kLockNoWaitBias, 0, Key(20));
    };
    if (record) {
      EXPECT_EQ(take(), recmgr::kRecordLocked);
      std::string got;
      ASSERT_EQ(file_.Get(recmgr::kOpGetEqual, 0, Key(20), &got), recmgr::kOk);
      EXPECT_EQ(got, Rec(20));
      EXPECT_EQ(file_.Update(Rec(20, 7)), recmgr::kRecordLocked);
      EXPECT_EQ(file_.Delete(), recmgr::kRecordLocked);
      // Nothing was written, and the next record is free.
      ASSERT_EQ(file_.Get(recmgr::kOpGetEqual, 0, Key(20), &got), recmgr::kOk);
      EXPECT_EQ(got, Rec(20));
      EXPECT_EQ(file_.Get(recmgr::kOpGetNext + recmgr::kLockNoWaitBias, 0), recmgr::kOk);
    } else {
      EXPECT_EQ(other.Open(path_), recmgr::kFileLocked);
      EXPECT_EQ(take(), recmgr::kFileLocked);
    }

    holder->Kill();
    EXPECT_TRUE(Eventually([&] { return take() == recmgr::kOk; }, kFreedDeadlineMs));
    if (record) {
      // Now this process holds it, and the tool is the one refused.
      std::string out;
      EXPECT_EQ(Run({"lock", kName, "--record", position, "--seconds", "0"}, &out), 1);
      EXPECT_NE(out.find("estat 84 ("), std::string::npos) << out;
      EXPECT_EQ(file_.Update(Rec(20, 7)), recmgr::kOk);
    } else {
      std::string out;
      EXPECT_EQ(Run({"stat", kName}, &out), 1);
      EXPECT_NE(out.find("estat 85 ("), std::string::npos) << out;
      ASSERT_EQ(other.Close(), recmgr::kOk);
    }
  }
}

// Another process's insert: a step outside a held snapshot sees it at once;
// inside one, the writer is not held up, yet the reader's steps and Stat
// stay at the moment of its first read until the snapshots are released.
TEST_F(WorkstationsTest, ReaderSnapshotsAgainstAnotherProcessWriting) {
  ASSERT_EQ(file_.Get(recmgr::kOpGetEqual, 0, Key(20)), recmgr::kOk);
  ASSERT_EQ(Run({"load", kName, "-"}, nullptr, Sequential({Rec(25)})), 0);
  std::string got;
  ASSERT_EQ(file_.Get(recmgr::kOpGetNext, 0, "", &got), recmgr::kOk);
  EXPECT_EQ(got, Rec(25));
  EXPECT_EQ(StatRecords(file_), 6u);

  recmgr::HoldReadSnapshots();
  ASSERT_EQ(file_.Get(recmgr::kOpGetEqual, 0, Key(20)), recmgr::kOk);
  std::string out;
  ASSERT_EQ(Run({"load", kName, "-"}, &out, Sequential({Rec(21), Rec(60)})), 0) << out;
  ASSERT_EQ(file_.Get(recmgr::kOpGetNext, 0, "", &got), recmgr::kOk);
  EXPECT_EQ(got, Rec(25));
  EXPECT_EQ(CountFromFirst(file_), 6);
  EXPECT_EQ(StatRecords(file_), 6u);
  recmgr::ReleaseReadSnapshots();

  EXPECT_EQ(CountFromFirst(file_), 8);
  EXPECT_EQ(StatRecords(file_), 8u);
}

// Processes inserting at the same moment: with one unique key between them
// exactly one gets it and every other is refused with 5; with a key each
// every one gets its own at a position of its own. All of them are started
// before any is given its record (on its standard input), so that their
// loads overlap.
TEST_F(WorkstationsTest, ConcurrentInsertsOfUniqueKeys) {
  constexpr int kProcesses = 4;
  const struct {
    const char* what;
    bool same_key;
  } cases[] = {{"same key", true}, {"a key each", false}};
  int next_key = 100;
  size_t records = 5;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::unique_ptr<Tool>> tools;
    std::vector<std::string> loaded;
    for (int i = 0; i < kProcesses; ++i) {
      loaded.push_back(Rec(c.same_key ? next_key : next_key + i, i + 1));
      tools.push_back(Start({"load", kName, "-"}));
    }
    for (int i = 0; i < kProcesses; ++i) tools[i]->Feed(Sequential({loaded[i]}));
    std::vector<int> winners;
    for (int i = 0; i < kProcesses; ++i) {
      const int code = tools[i]->Finish();
      if (code == 0) {
        winners.push_back(i);
      } else {
        EXPECT_EQ(code, 1) << tools[i]->err();
        EXPECT_NE(tools[i]->err().find("estat 5 ("), std::string::npos) << tools[i]->err();
      }
    }
    const std::map<uint32_t, std::string> dump = Dump();
    std::set<std::string> stored;
    for (const auto& [position, r] : dump) stored.insert(r);
    if (c.same_key) {
      ASSERT_EQ(winners.size(), 1u);
      records += 1;
      EXPECT_EQ(stored.count(loaded[winners[0]]), 1u);
    } else {
      EXPECT_EQ(winners.size(), static_cast<size_t>(kProcesses));
      records += kProcesses;
      for (const std::string& r : loaded) EXPECT_EQ(stored.count(r), 1u) << r;
    }
    // Dump() fails the test on a position given twice.
    EXPECT_EQ(dump.size(), records);
    EXPECT_EQ(StatRecords(file_), records);
    next_key += kProcesses;
  }
}

// After migrate the server's next position follows the highest the file
// ever gave, deleted or not: a position is never given twice.
TEST_F(WorkstationsTest, NextPositionAfterMigrateFollowsTheHighestEverGiven) {
  ScratchDir local("telvoran-migrate");
  const std::vector<std::set<int>> deleted = {{}, {3}, {1, 2, 3}};  // of keys 1..3 at 1..3
  for (size_t n = 0; n < deleted.size(); ++n) {
    const std::string name = "M" + std::to_string(n) + ".dat", path = local.File(name);
    ASSERT_EQ(EngineFile::Create(path, Definition(16, {{{1, 6}}})), recmgr::kOk);
    EngineFile f, on_server;
    ASSERT_EQ(f.Open(path), recmgr::kOk);
    for (int k = 1; k <= 3; ++k) ASSERT_EQ(f.Insert(Rec(k)), recmgr::kOk);
    for (int k : deleted[n]) {
      ASSERT_EQ(f.Get(recmgr::kOpGetEqual, 0, Key(k)), recmgr::kOk);
      ASSERT_EQ(f.Delete(), recmgr::kOk);
    }
    int64_t records = 0;
    ASSERT_EQ(recmgr::CopyFileToServer(path, conninfo_, name, false, &records), recmgr::kOk);
    ASSERT_EQ(on_server.Open(dir_.File(name)), recmgr::kOk);
    ASSERT_EQ(on_server.Insert(Rec(9)), recmgr::kOk);
    EXPECT_EQ(on_server.Position(), 4u) << n;
  }
}

}  // namespace
