// Tests of the data tool, run as a separate process; the lock tests hold
// their locks in it, so they cross a real process boundary.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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

struct Result {
  int code;
  std::string out;
};

// Runs the tool through the shell (args may redirect its output) and
// returns its exit code and stdout.
Result ToolRaw(const std::string& args) {
  const std::string cmd = std::string(RECMGR_TOOL_PATH) + " " + args;
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}
// The same with stderr dropped.
Result Tool(const std::string& args) {
  return ToolRaw(args + " 2>/dev/null");
}

// The same with stderr (kept in err_file) appended to stdout.
Result ToolAll(const std::string& args, const std::string& err_file) {
  Result r = ToolRaw(args + " 2>" + err_file);
  r.out += testsupport::ReadFile(err_file);
  return r;
}

// A tool started in the background, with its stdout readable.
struct Background {
  FILE* pipe = nullptr;
  explicit Background(const std::string& args) {
    pipe = ::popen((std::string(RECMGR_TOOL_PATH) + " " + args).c_str(), "r");
  }
  std::string Line() {
    char buf[256] = {};
    return std::fgets(buf, sizeof(buf), pipe) ? std::string(buf) : std::string();
  }
  ~Background() { ::pclose(pipe); }
};

std::string Rec(int i) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%06d%04dabcdef", i % 1000000, i % 7);
  return std::string(buf, 16);
}

std::string Seq(const std::vector<std::string>& records) {
  std::string s;
  for (const std::string& r : records) s += std::to_string(r.size()) + "," + r + "\r\n";
  return s + "\x1A";
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.File("Pagam.dat");
    const std::string def = Definition(16, {{{1, 6}}, {{7, 4, recmgr::kSegDuplicates}}});
    std::ofstream x(dir_.File("Pagam.xdf"), std::ios::binary);
    x.put(static_cast<char>(def.size())).put(0) << def;
    x.close();
    ASSERT_EQ(Tool("create " + file_ + " " + dir_.File("Pagam.xdf")).code, 0);
  }
  void Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir_.File(name), bytes);
  }
  ScratchDir dir_;
  std::string file_;
};

TEST_F(ToolTest, HelpAndErrors) {
  EXPECT_EQ(Tool("--help").code, 0);
  EXPECT_NE(Tool("").code, 0);
  EXPECT_NE(Tool("frobnicate").code, 0);
  EXPECT_NE(Tool("create " + file_ + " " + dir_.File("Pagam.xdf")).code, 0);  // exists
  EXPECT_EQ(Tool("create " + file_ + " " + dir_.File("Pagam.xdf") + " --replace").code, 0);
  EXPECT_NE(Tool("stat " + dir_.File("none.dat")).code, 0);
}

TEST_F(ToolTest, LoadSaveRoundTripAndAllOrNothing) {
  std::vector<std::string> recs;
  for (int i = 50; i > 0; --i) recs.push_back(Rec(i));
  Write("in.seq", Seq(recs));
  ASSERT_EQ(Tool("load " + file_ + " " + dir_.File("in.seq")).code, 0);
  const Result saved = Tool("save " + file_ + " -");
  ASSERT_EQ(saved.code, 0);
  std::vector<std::string> sorted(recs.rbegin(), recs.rend());
  EXPECT_EQ(saved.out, Seq(sorted));
  EXPECT_NE(Tool("stat " + file_).out.find("records 50"), std::string::npos);
  EXPECT_NE(Tool("dump " + file_ + " --key 1 --limit 2").out.find("0000490000abcdef"),
            std::string::npos);

  const std::vector<std::string> bad_inputs = {
      Seq({Rec(100), Rec(101), Rec(3)}),                   // duplicate on the unique key
      Seq({Rec(100), "short"}),                            // wrong length
      "16," + Rec(100) + "\r\nxx," + Rec(1) + "\r\n\x1A",  // bad length field
      "16," + Rec(100) + "\n\x1A",                         // bad ending
  };
  for (const std::string& in : bad_inputs) {
    Write("bad.seq", in);
    EXPECT_NE(Tool("load " + file_ + " " + dir_.File("bad.seq")).code, 0);
    EXPECT_EQ(Tool("save " + file_ + " -").out, Seq(sorted));
  }
}

TEST_F(ToolTest, SaveToAFileReplacesItOnlyWhenTheSaveSucceeds) {
  Write("in.seq", Seq({Rec(3), Rec(1), Rec(2)}));
  ASSERT_EQ(Tool("load " + file_ + " " + dir_.File("in.seq")).code, 0);
  Write("out.seq", "old contents");
  ASSERT_EQ(Tool("save " + file_ + " " + dir_.File("out.seq") + " --key 1").code, 0);
  // Along key 1 (i % 7), whatever the load order.
  EXPECT_EQ(testsupport::ReadFile(dir_.File("out.seq")), Seq({Rec(1), Rec(2), Rec(3)}));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.seq.part")));

  Write("out.seq", "old contents");
  EXPECT_NE(Tool("save " + dir_.File("none.dat") + " " + dir_.File("out.seq")).code, 0);
  EXPECT_NE(Tool("save " + file_ + " " + dir_.File("no/such/dir/out.seq")).code, 0);
  EXPECT_EQ(testsupport::ReadFile(dir_.File("out.seq")), "old contents");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.seq.part")));
}

TEST_F(ToolTest, KillDuringLoadLeavesOldContents) {
  Write("small.seq", Seq({Rec(1), Rec(2)}));
  ASSERT_EQ(Tool("load " + file_ + " " + dir_.File("small.seq")).code, 0);
  std::vector<std::string> recs;
  for (int i = 10; i < 300000; ++i) recs.push_back(Rec(i));
  Write("big.seq", Seq(recs));
  for (int delay_ms : {50, 250}) {
    pid_t pid = 0;
    std::string tool = RECMGR_TOOL_PATH, big = dir_.File("big.seq");
    std::vector<char*> argv = {tool.data(), const_cast<char*>("load"), file_.data(), big.data(),
                               nullptr};
    ASSERT_EQ(::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    ::usleep(static_cast<useconds_t>(delay_ms * 1000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const Result saved = Tool("save " + file_ + " -");
    ASSERT_EQ(saved.code, 0);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(saved.out, Seq({Rec(1), Rec(2)})) << delay_ms;
    }
  }
}

TEST_F(ToolTest, RecordLockHeldByAnotherProcess) {
  Write("in.seq", Seq({Rec(1), Rec(2)}));
  ASSERT_EQ(Tool("load " + file_ + " " + dir_.File("in.seq")).code, 0);
  EngineFile f;
  ASSERT_EQ(f.Open(file_, datafiles::RecordFileOwnerName()), 0);
  ASSERT_EQ(f.Get(recmgr::kOpGetFirst, 0), 0);
  const uint32_t p1 = f.Position();
  {
    Background lock("lock " + file_ + " --record " + std::to_string(p1) + " --seconds 1");
    ASSERT_EQ(lock.Line(), "locked\n");
    EXPECT_EQ(f.Get(recmgr::kOpGetFirst + recmgr::kLockNoWaitBias, 0), recmgr::kRecordLocked);
    EXPECT_EQ(f.Get(recmgr::kOpGetFirst, 0), 0);
    EXPECT_EQ(f.Get(recmgr::kOpGetLast + recmgr::kLockNoWaitBias, 0), 0);
  }
  // The holder has ended: its lock went with it.
  EXPECT_EQ(f.Get(recmgr::kOpGetFirst + recmgr::kLockNoWaitBias, 0), 0);
}

TEST_F(ToolTest, FileLockAndLockWaitThroughTheLayer) {
  Write("in.seq", Seq({Rec(1)}));
  ASSERT_EQ(Tool("load " + file_ + " " + dir_.File("in.seq")).code, 0);
  config::ModuleSettings().root_dir = dir_.path();
  // Sleeps of the lock wait are real but short, so the read gets through
  // once the holder ends.
  struct ShortSleeps : platform::FakeEnv {
    void SleepMs(int) override { ::usleep(20000); }
  } env;
  platform::ScopedEnvOverride scoped(&env);
  std::vector<std::string> shown;
  datafiles::DataFileUi ui;
  ui.show_message = [&shown](int, const std::string& t) { shown.push_back(t); };
  datafiles::SetDataFileUi(ui);
  char buf[16];
  platform::Status st = 0;
  datafiles::RecordFileOpen(515, dir_.File("Pagam"), buf, st);
  ASSERT_EQ(st, 0);
  {
    Background lock("lock " + file_ + " --file --seconds 1");
    ASSERT_EQ(lock.Line(), "locked\n");
    EngineFile late;
    EXPECT_EQ(late.Open(file_, datafiles::RecordFileOwnerName()), recmgr::kFileLocked);
    datafiles::RecordFileSeek(515, 0, "", 1, st);
    EXPECT_EQ(st, recmgr::kFileLocked);
    datafiles::RecordFileSetLockMode(515, "A", st);
    datafiles::RecordFileSeek(515, 0, "", 1, st);  // waits until the holder ends
    EXPECT_EQ(st, 0);
    EXPECT_EQ(std::string(buf, 16), Rec(1));
    EXPECT_EQ(shown.size(), 1u);
  }
  datafiles::RecordFilesReset(st);
  datafiles::SetDataFileUi(datafiles::DataFileUi{});
}

TEST_F(ToolTest, OwnerName) {
  ASSERT_EQ(Tool("owner " + file_ + " 7777").code, 0);
  EngineFile f;
  EXPECT_EQ(f.Open(file_, datafiles::RecordFileOwnerName()), recmgr::kInvalidOwner);
  EXPECT_EQ(f.Open(file_, "7777"), 0);
  EXPECT_EQ(Tool("--owner 7777 stat " + file_).code, 0);
  EXPECT_NE(Tool("stat " + file_).code, 0);
}

TEST_F(ToolTest, RefusalsLeaveTheDataFileAsItWas) {
  Write("in.seq", Seq({Rec(1), Rec(2)}));
  ASSERT_EQ(Tool("load " + file_ + " " + dir_.File("in.seq")).code, 0);
  std::string cut = Seq({Rec(3)});
  cut.pop_back();  // cut after a whole record: no Ctrl-Z
  Write("cut.seq", cut);
  const std::string d = dir_.path().substr(0, dir_.path().size() - 1);
  const std::string f = file_, xdf = dir_.File("Pagam.xdf");
  auto checksum = [this] { return std::hash<std::string>()(testsupport::ReadFile(file_)); };
  struct Case {
    std::string args;
    int code;
    std::string says;
    bool hold_file_lock = false;
  };
  const std::vector<Case> cases = {
      {"save " + f + " " + f, 1, "és el fitxer de dades"},
      {"save " + f + " " + d + "/./Pagam.dat-lck", 1, "és el fitxer de dades"},
      {"save " + f + " - >>" + f, 1, "és el fitxer de dades"},
      {"load " + f + " " + d, 1, "és una carpeta"},
      {"create " + d + "/New.dat " + d, 1, "és una carpeta"},
      {"stat " + d, 1, "és una carpeta"},
      {"load " + f + " " + dir_.File("cut.seq"), 1, "Ctrl-Z"},
      {"create " + f + " " + xdf + " --replace", 1, "estat 85 (fitxer bloquejat", true},
      {"dump " + f + " >/dev/full", 1, "no es pot escriure"},
      {"save " + f + " - >/dev/full", 1, "no es pot escriure"},
      {"dump " + f + " --key x", 2, "ús: recmgr"},
      {"dump " + f + " --limit -1", 2, "ús: recmgr"},
      {"lock " + f + " --file --seconds abc", 2, "ús: recmgr"},
      {"stat " + f + " extra", 2, "ús: recmgr"},
      {"save " + f + " - --frob", 2, "save: opció desconeguda --frob"},
      {"--help", 0, "ús: recmgr"},
      {"--version", 0, std::string("recmgr ") + TELVORAN_VERSION + "\n"},
  };
  for (const Case& c : cases) {
    const size_t before = checksum();
    EngineFile holder;
    if (c.hold_file_lock) {
      ASSERT_EQ(holder.Open(f, datafiles::RecordFileOwnerName(), recmgr::kOpenExclusive), 0);
    }
    const Result r = ToolAll(c.args, dir_.File("err"));
    EXPECT_EQ(r.code, c.code) << c.args << ": " << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    EXPECT_EQ(checksum(), before) << c.args;
  }
  EXPECT_EQ(Tool("save " + f + " -").out, Seq({Rec(1), Rec(2)}));
}

}  // namespace
