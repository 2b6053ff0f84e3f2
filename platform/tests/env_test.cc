#include "platform/env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace platform {
namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;
using testsupport::ScratchDir;

TEST(HostPathTest, MapsBackslashesAndKeepsCase) {
  EXPECT_EQ(HostPath("DADES\\PagamH"), "DADES/PagamH");
  EXPECT_EQ(HostPath("FORMS\\TELVORAN.ZPN"), "FORMS/TELVORAN.ZPN");
  EXPECT_EQ(HostPath("C:\\TMP\\"), "C:/TMP/");
  EXPECT_EQ(HostPath("a/b"), "a/b");
}

TEST(UpperAnsiTest, AsciiAndLatin1LowerCaseLetters) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::string up = UpperAnsiCopy(all);
  for (int c = 0; c < 256; ++c) {
    bool lower = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
    int want = lower ? c - 0x20 : c;
    EXPECT_EQ(static_cast<unsigned char>(up[static_cast<size_t>(c)]), want) << c;
  }
}

struct LinesCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(SequentialFileTest, LineEndings) {
  const std::vector<LinesCase> cases = {
      {"crlf", "a\r\nb\r\n", {"a", "b"}},
      {"lf", "a\nb\n", {"a", "b"}},
      {"no final ending", "a\r\nb", {"a", "b"}},
      {"empty lines kept", "\r\n\r\nx", {"", "", "x"}},
      {"lone cr stays in the line", "a\rb\n", {"a\rb"}},
      {"nul bytes", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"empty file", "", {}},
  };
  ScratchDir dir;
  for (const LinesCase& c : cases) {
    std::string path = dir.path() + "f.txt";
    WriteFile(path, c.bytes);
    std::vector<std::string> lines;
    ASSERT_TRUE(DefaultEnv()->ReadLines(path, &lines)) << c.name;
    EXPECT_EQ(lines, c.lines) << c.name;
  }
}

TEST(SequentialFileTest, MissingFileAndDirectoryDoNotOpen) {
  ScratchDir dir;
  EXPECT_EQ(DefaultEnv()->OpenSequential(dir.path() + "missing"), nullptr);
  EXPECT_EQ(DefaultEnv()->OpenSequential(dir.path()), nullptr);
  EXPECT_EQ(DefaultEnv()->OpenSequential(""), nullptr);
}

TEST(WritableFileTest, WritesCrLfLinesAndReportsFailure) {
  ScratchDir dir;
  std::string path = dir.path() + "out.txt";
  ASSERT_TRUE(DefaultEnv()->WriteLines(path, {"PAGE 66 ", "x"}));
  EXPECT_EQ(ReadFile(path), "PAGE 66 \r\nx\r\n");
  EXPECT_FALSE(DefaultEnv()->WriteLines(dir.path() + "no/such/dir/out.txt", {"x"}));
  // /dev/full accepts the open and fails the flush: the close reports it.
  if (access("/dev/full", W_OK) == 0) {
    auto f = DefaultEnv()->OpenWritable("/dev/full");
    ASSERT_NE(f, nullptr);
    f->Append(std::string(1 << 16, 'x'));
    EXPECT_FALSE(f->Close());
  }
}

// A planted link at a written file is replaced or refused, never written
// through; a file dropped before its close leaves the old one.
TEST(WritableFileTest, NeverWritesThroughALinkNorLeavesHalfAFile) {
  ScratchDir dir;
  const std::string target = dir.path() + "data.dat";
  const std::string out = dir.path() + "out";
  WriteFile(target, "precious");
  ASSERT_EQ(::symlink(target.c_str(), out.c_str()), 0);
  ASSERT_TRUE(DefaultEnv()->WriteLines(out, {"new"}));
  EXPECT_EQ(ReadFile(target), "precious");
  EXPECT_EQ(ReadFile(out), "new\r\n");
  ::unlink(out.c_str());
  ASSERT_EQ(::link(target.c_str(), out.c_str()), 0);
  ASSERT_TRUE(DefaultEnv()->WriteLines(out, {"new"}));
  EXPECT_EQ(ReadFile(target), "precious");
  {
    auto f = DefaultEnv()->OpenWritable(out);
    ASSERT_NE(f, nullptr);
    f->Append("half");
  }
  EXPECT_EQ(ReadFile(out), "new\r\n");
  // Nothing left beside the two names, hidden files included.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"data.dat", "out"}));

  // Random access: a link or a second name is opened for reading only.
  for (bool hard : {false, true}) {
    const std::string work = dir.path() + (hard ? "hard.tmp" : "soft.tmp");
    ASSERT_EQ(hard ? ::link(target.c_str(), work.c_str()) : ::symlink(target.c_str(), work.c_str()),
              0);
    auto f = DefaultEnv()->OpenRandomAccess(work, true);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(f->Write(0, "XX"));
    EXPECT_FALSE(f->Truncate(0));
    EXPECT_EQ(ReadFile(target), "precious");
  }
  ASSERT_EQ(::symlink((dir.path() + "missing").c_str(), (dir.path() + "dangling").c_str()), 0);
  EXPECT_EQ(DefaultEnv()->OpenRandomAccess(dir.path() + "dangling", true), nullptr);
  EXPECT_FALSE(DefaultEnv()->FileExists(dir.path() + "missing"));
}

TEST(RandomAccessFileTest, PositionedReadsAndWrites) {
  ScratchDir dir;
  std::string path = dir.path() + "bin";
  EXPECT_EQ(DefaultEnv()->OpenRandomAccess(path, false), nullptr);
  auto f = DefaultEnv()->OpenRandomAccess(path, true);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Size(), 0);
  ASSERT_TRUE(f->Write(4, "abcd"));
  EXPECT_EQ(f->Size(), 8);
  std::string out;
  ASSERT_TRUE(f->Read(2, 4, &out));
  EXPECT_EQ(out, std::string("\0\0ab", 4));
  ASSERT_TRUE(f->Read(6, 100, &out));
  EXPECT_EQ(out, "cd");
  ASSERT_TRUE(f->Truncate(2));
  EXPECT_EQ(f->Size(), 2);
}

TEST(FileOpsTest, DeleteExistsAndDirectories) {
  ScratchDir dir;
  Env* env = DefaultEnv();
  std::string sub = dir.path() + "DADES";
  EXPECT_TRUE(env->CreateDirectory(sub));
  EXPECT_TRUE(env->CreateDirectory(sub + "\\"));  // already there
  EXPECT_TRUE(env->IsDirectory(sub));
  std::string file = sub + "\\PagamH.dat";
  WriteFile(HostPath(file), "x");
  EXPECT_TRUE(env->FileExists(file));
  EXPECT_FALSE(env->IsDirectory(file));
  EXPECT_TRUE(env->DeleteFile(file));
  EXPECT_FALSE(env->FileExists(file));
  EXPECT_FALSE(env->DeleteFile(file));
}

TEST(RunProgramTest, ArgumentsReachTheProgramUnchangedWithoutAShell) {
  ScratchDir dir;
  std::string out = dir.path() + "args";
  // A shell would expand $HOME and split on the blank; the program sees both
  // arguments exactly as given.
  int code = DefaultEnv()->RunProgram(
      "/bin/sh", {"-c", "printf '%s|' \"$@\" > '" + out + "'", "sh", "$HOME a", ";rm"});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(out), "$HOME a|;rm|");
  EXPECT_EQ(DefaultEnv()->RunProgram("/bin/sh", {"-c", "exit 3"}), 3);
  EXPECT_EQ(DefaultEnv()->RunProgram(dir.path() + "no-such-program", {}), -1);
}

// A captured run: both output streams in order, no terminal input, the exit
// code; a stop ends the program and what it started, and a program that
// cannot start is reported as such.
TEST(RunProgramTest, CapturedRunTakesBothStreamsAndCanBeStopped) {
  Env* env = DefaultEnv();
  std::string output;
  EXPECT_EQ(env->RunProgramCaptured(
                "/bin/sh", {"-c", "echo one; echo two >&2; cat; echo three; exit 4"}, &output, {}),
            4);
  EXPECT_EQ(output, "one\ntwo\nthree\n");  // cat read /dev/null: nothing, at once

  ScratchDir dir;
  const std::string marker = dir.path() + "survived";
  int asked = 0;
  // The grandchild would write the marker a second later unless stopped.
  EXPECT_EQ(env->RunProgramCaptured(
                "/bin/sh", {"-c", "echo started; (sleep 1; touch '" + marker + "') & sleep 30"},
                &output, [&](const Env::HoldProgram&) { return ++asked == 3; }),
            Env::kStopped);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(output, "started\n");
  ::sleep(2);
  EXPECT_FALSE(env->FileExists(marker));

  EXPECT_EQ(env->RunProgramCaptured(dir.path() + "no-such-program", {}, &output, {}),
            Env::kNotStarted);
}

TEST(PosixEnvTest, UnsetVariableReadsEmptyAndTodayIsPlausible) {
  EXPECT_EQ(DefaultEnv()->GetVar("TELVORAN_SURELY_UNSET_VARIABLE"), "");
  CivilDate d = DefaultEnv()->Today();
  EXPECT_GE(d.year, 2000);
  EXPECT_GE(d.month, 1);
  EXPECT_LE(d.month, 12);
  for (int i = 0; i < 1000; ++i) {
    double r = DefaultEnv()->RandomFraction();
    EXPECT_GE(r, 0.0);
    EXPECT_LT(r, 1.0);
  }
}

TEST(FakeEnvTest, ScriptedVariablesRootAndOverride) {
  ScratchDir dir;
  FakeEnv fake(dir.path());
  fake.SetVar("ZELROOT", "C:\\ZEL\\");
  EXPECT_EQ(fake.GetVar("ZELROOT"), "C:\\ZEL\\");
  EXPECT_EQ(fake.GetVar("PATH"), "");  // the host's variables are not seen
  fake.SetToday({2026, 1, 2});
  ASSERT_TRUE(fake.WriteLines("x.ini", {"a"}));
  EXPECT_TRUE(DefaultEnv()->FileExists(dir.path() + "x.ini"));
  {
    ScopedEnvOverride use(&fake);
    EXPECT_EQ(&CurrentEnv(), &fake);
    EXPECT_EQ(CurrentEnv().Today().year, 2026);
  }
  EXPECT_EQ(&CurrentEnv(), DefaultEnv());
  fake.SleepMs(3000);
  fake.SleepMs(3000);
  EXPECT_EQ(fake.slept_ms(), 6000);
  EXPECT_EQ(fake.RunProgram("ZIZAVEZU", {}), 0);
  ASSERT_EQ(fake.runs().size(), 1u);
  FakeEnv again(dir.path());
  EXPECT_EQ(fake.RandomFraction() == again.RandomFraction(), true);
}

}  // namespace
}  // namespace platform
