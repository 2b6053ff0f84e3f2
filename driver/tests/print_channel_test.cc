#include "driver/print_channel.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"

namespace driver {
namespace {

class PrintChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch_.path();
    env_ = std::make_unique<platform::FakeEnv>();
    use_ = std::make_unique<platform::ScopedEnvOverride>(env_.get());
    config::ModuleSettings().temp_dir = dir_;
  }
  void TearDown() override { use_.reset(); }
  // The print file of the module settings' temporary folder.
  std::string Path() { return PrintFilePath(config::ModuleSettings()); }
  std::string Contents() {
    std::ifstream in(dir_ + "zizavezu.tmp", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string dir_;
  std::unique_ptr<platform::FakeEnv> env_;
  std::unique_ptr<platform::ScopedEnvOverride> use_;
  testsupport::SettingsGuard settings_;
  testsupport::ScratchDir scratch_{"telvoran-print"};
  PrintChannel channel_;
};

TEST(FrameNumberTest, Table) {
  EXPECT_EQ(FrameNumber(66), " 66 ");
  EXPECT_EQ(FrameNumber(0), " 0 ");
  EXPECT_EQ(FrameNumber(-1), "-1 ");
  EXPECT_EQ(FrameNumber(32767), " 32767 ");
}

TEST(NormaliseJustificationTest, Table) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"C", "C"},
      {"d", "D"},
      {"r", "D"},
      {" R ", "D"},
      {"a", "A"},
      {"B", "A"},
      {"", "E"},
      {"x", "E"},
      {"   ", "E"},
      {"E", "E"},
      {"N 72 \\.\\", "N 72 \\.\\"},
      {"n83\\-\\", "N 83 \\-\\"},
      {" N -5.7 \\*\\ tail", "N 5 \\*\\"},
      {"N 72", "N 72 "},
      {"N 9 \\x", "N 9 \\x"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormaliseJustification(c.in), c.out) << c.in;
}

TEST_F(PrintChannelTest, WritesDirectivesWithPageAccounting) {
  ASSERT_TRUE(channel_.Open(Path(), "PDF:out.pdf"));
  channel_.Page(3);
  channel_.Raw("@e");
  std::string code = "r";
  channel_.NormaliseAndJustify(code);
  EXPECT_EQ(code, "D");
  channel_.Text(20, "TOTAL", 0);
  channel_.Text(1,
                "a,b\tc\nd\x7f"
                "e\xff",
                2);
  EXPECT_EQ(channel_.LineCounter(), 2);
  channel_.Text(1, "x", 1);  // brings the counter to the page length
  EXPECT_EQ(channel_.LineCounter(), 3);
  channel_.Text(5, "next page", 1);  // so this one starts a page of the same length
  EXPECT_EQ(channel_.LineCounter(), 1);
  ASSERT_TRUE(channel_.Close());
  EXPECT_EQ(Contents(),
            "DEVICEPDF:out.pdf\r\n"
            "PAGE 3 \r\n"
            "*@e\r\n"
            "JUSD\r\n"
            " 20 ,TOTAL, 0 \r\n"
            " 1 ,a,b c d e , 2 \r\n"
            " 1 ,x, 1 \r\n"
            "PAGE 3 \r\n"
            " 5 ,next page, 1 \r\n");
}

// A long run, far past what the channel holds back before writing, comes
// out whole and in order.
TEST_F(PrintChannelTest, LongRunsAreWrittenWholeAndInOrder) {
  ASSERT_TRUE(channel_.Open(Path(), "TXT:a"));
  std::string want = "DEVICETXT:a\r\n";
  channel_.Page(32767);
  want += "PAGE 32767 \r\n";
  for (int i = 0; i < 5000; ++i) {
    const std::string text =
        "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 90), '.');
    channel_.Justify(i % 2 ? "D" : "N 72 \\.\\");
    channel_.Text(static_cast<int16_t>(i % 96), text, static_cast<int16_t>(i % 3 == 0));
    want += i % 2 ? "JUSD\r\n" : "JUSN 72 \\.\\\r\n";
    want += FrameNumber(i % 96) + "," + text + "," + FrameNumber(i % 3 == 0) + "\r\n";
  }
  ASSERT_TRUE(channel_.Close());
  EXPECT_GT(want.size(), 200000u);
  EXPECT_EQ(Contents(), want);
}

TEST_F(PrintChannelTest, EmptyRunHoldsOnlyTheDeviceLineAndIsOverwritten) {
  ASSERT_TRUE(channel_.Open(Path(), "TXT:a"));
  channel_.Page(66);
  channel_.Text(1, "old", 1);
  ASSERT_TRUE(channel_.Close());
  ASSERT_TRUE(channel_.Open(Path(), ""));
  ASSERT_TRUE(channel_.Close());
  EXPECT_EQ(Contents(), "DEVICE\r\n");
  // The page accounting survives the run until the next page directive.
  EXPECT_EQ(channel_.PageLength(), 66);
}

TEST_F(PrintChannelTest, FailuresAreReportedAtClose) {
  config::ModuleSettings().temp_dir = dir_ + "missing/";
  EXPECT_FALSE(channel_.Open(Path(), "X"));
  channel_.Text(1, "x", 1);  // must not crash
  EXPECT_FALSE(channel_.Close());
  // A full disk, as a file-size limit: the write fails, the close says so
  // and no half print file is left under its name.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  config::ModuleSettings().temp_dir = dir_;
  ASSERT_TRUE(channel_.Open(Path(), "X"));
  for (int i = 0; i < 10000; ++i) channel_.Text(1, std::string(100, 'x'), 0);
  const bool closed = channel_.Close();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(closed);
  EXPECT_NE(::access((dir_ + "zizavezu.tmp").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace driver
