#include "tools/zizavezu/print_program.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

#include "platform/fake_env.h"
#include "tools/zizavezu/tests/test_util.h"

namespace zizavezu {
namespace {

using testing_util::DataPath;
using testing_util::MakeTempDir;
using testing_util::ReadBytes;
using testing_util::Split;
using testing_util::WithDevice;
using testing_util::WriteBytes;

const char kTwoPages[] =
    "DEVICE%s\r\nPAGE 66 \r\n*@e\r\n 1 ,first page, 1 \r\nPAGE 66 \r\n*@e\r\n"
    " 1 ,second page, 1 \r\n";

std::string TwoPages(const std::string& device) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, kTwoPages, device.c_str());
  return buffer;
}

// Writes made through it fail once a byte budget is spent.
class FailingWritesEnv : public platform::EnvWrapper {
 public:
  FailingWritesEnv(platform::Env* target, int64_t budget) : EnvWrapper(target), budget_(budget) {}
  std::unique_ptr<platform::WritableFile> OpenWritable(const std::string& path) override {
    auto file = target()->OpenWritable(path);
    if (file == nullptr) return nullptr;
    return std::make_unique<File>(std::move(file), &budget_);
  }

 private:
  class File : public platform::WritableFile {
   public:
    File(std::unique_ptr<platform::WritableFile> f, int64_t* budget)
        : f_(std::move(f)), budget_(budget) {}
    bool Append(const std::string& bytes) override {
      *budget_ -= static_cast<int64_t>(bytes.size());
      return *budget_ >= 0 && f_->Append(bytes);
    }
    bool Close() override { return f_->Close(); }

   private:
    std::unique_ptr<platform::WritableFile> f_;
    int64_t* budget_;
  };
  int64_t budget_;
};

struct RunOutcome {
  PrintRunResult result;
  std::string out;
  std::string err;
};

RunOutcome RenderIn(platform::Env& env, const std::string& dir) {
  std::ostringstream out, err;
  RunOutcome run;
  run.result = RenderPrintRun(env, dir, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

TEST(PrintProgramTest, DevicesAndTheirMessages) {
  struct Case {
    const char* device;
    const char* file;
    Device::Kind kind;
    const char* message;
  };
  const Case cases[] = {
      {"PDF:run.pdf", "run.pdf", Device::Kind::kPdf, "2 pages written to @run.pdf\n"},
      {"  TXT:run.txt  ", "run.txt", Device::Kind::kText, "2 pages written to @run.txt\n"},
      {"", "zizavezu.pdf", Device::Kind::kPdf,
       "no output device is configured; 2 pages written to @zizavezu.pdf\n"},
      {"LPT1", "zizavezu.pdf", Device::Kind::kPdf,
       "the output device \"LPT1\" is unknown; 2 pages written to @zizavezu.pdf\n"},
  };
  for (const Case& c : cases) {
    std::string dir = MakeTempDir();
    WriteBytes(dir + "zizavezu.tmp", TwoPages(c.device));
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitOk) << c.device << run.err;
    EXPECT_EQ(run.result.pages, 2) << c.device;
    EXPECT_EQ(run.result.device.kind, c.kind) << c.device;
    std::string want = "ZIZAVEZU: " + std::string(c.message);
    want.replace(want.find('@'), 1, dir);
    EXPECT_EQ(run.out, want) << c.device;
    EXPECT_EQ(run.err, "") << c.device;
    std::string written = ReadBytes(dir + c.file);
    EXPECT_EQ(static_cast<int64_t>(written.size()), run.result.bytes) << c.device;
    if (c.kind == Device::Kind::kText) {
      EXPECT_EQ(written, "first page\n\fsecond page\n");
    } else {
      EXPECT_EQ(written.rfind("%PDF-", 0), 0u) << c.device;
    }
  }
}

TEST(PrintProgramTest, SystemPathsWithBackslashesAreMapped) {
  std::string dir = MakeTempDir();
  std::string system_dir = dir.substr(0, dir.size() - 1) + "\\";
  WriteBytes(dir + "zizavezu.tmp", TwoPages("TXT:" + system_dir + "abs.txt"));
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, system_dir);
  EXPECT_EQ(run.result.exit_code, kExitOk) << run.err;
  EXPECT_EQ(run.out, "ZIZAVEZU: 2 pages written to " + dir + "abs.txt\n");
  EXPECT_EQ(ReadBytes(dir + "abs.txt"), "first page\n\fsecond page\n");
}

TEST(PrintProgramTest, PrinterGetsThePdfThroughLp) {
  struct Case {
    const char* device;
    int lp_result;
    std::vector<std::string> args;  // "@" stands for the PDF's path
    int exit_code;
    const char* text;  // expected in out (exit 0) or err
  };
  const Case cases[] = {
      {"LP:oficina",
       0,
       {"-d", "oficina", "@"},
       kExitOk,
       "ZIZAVEZU: 2 pages sent to printer oficina (the PDF is @)\n"},
      {"LP:", 0, {"@"}, kExitOk, "ZIZAVEZU: 2 pages sent to the default printer (the PDF is @)\n"},
      {"LP:oficina",
       1,
       {"-d", "oficina", "@"},
       kExitPrinterFailed,
       "ZIZAVEZU: lp ended with code 1; 2 pages not sent to printer oficina (the PDF is @)\n"},
      {"LP:oficina",
       -1,
       {"-d", "oficina", "@"},
       kExitPrinterFailed,
       "ZIZAVEZU: lp could not be started; 2 pages not sent to printer oficina (the PDF is @)\n"},
      {"LP:oficina",
       platform::Env::kEndedBySignal,
       {"-d", "oficina", "@"},
       kExitPrinterFailed,
       "ZIZAVEZU: lp was ended by a signal; 2 pages not sent to printer oficina (the PDF is @)\n"},
  };
  for (const Case& c : cases) {
    std::string dir = MakeTempDir();
    const std::string pdf = dir + "zizavezu.pdf";
    WriteBytes(dir + "zizavezu.tmp", TwoPages(c.device));
    platform::FakeEnv env;
    env.SetRunResult(c.lp_result);
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, c.exit_code) << c.device;
    ASSERT_EQ(env.runs().size(), 1u);
    EXPECT_EQ(env.runs()[0].program, "lp");
    std::vector<std::string> want_args = c.args;
    for (std::string& a : want_args) {
      if (a == "@") a = pdf;
    }
    EXPECT_EQ(env.runs()[0].args, want_args);
    std::string want = c.text;
    want.replace(want.find('@'), 1, pdf);
    EXPECT_EQ(c.exit_code == kExitOk ? run.out : run.err, want);
    EXPECT_EQ(ReadBytes(pdf).rfind("%PDF-", 0), 0u);
  }
}

TEST(PrintProgramTest, UnreadablePrintFileFails) {
  std::string dir = MakeTempDir();
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, dir);
  EXPECT_EQ(run.result.exit_code, kExitNoPrintFile);
  EXPECT_EQ(run.err, "ZIZAVEZU: cannot read the print file " + dir + "zizavezu.tmp\n");
  EXPECT_EQ(run.out, "");
}

TEST(PrintProgramTest, DeviceThatCannotBeCreatedFails) {
  for (const char* device : {"PDF:no/such/folder/x.pdf", "TXT:no/such/folder/x.txt"}) {
    std::string dir = MakeTempDir();
    WriteBytes(dir + "zizavezu.tmp", TwoPages(device));
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitCannotWrite) << device;
    EXPECT_NE(run.err.find("ZIZAVEZU: cannot create " + dir + "no/such/folder/x."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// A full disk at any point of the output: the run reports it and fails.
TEST(PrintProgramTest, WriteFailureSweep) {
  for (const char* device : {"PDF:x.pdf", "TXT:x.txt"}) {
    const std::string print_file =
        WithDevice(ReadBytes(DataPath("statement_letterhead.tmp")), device);
    std::string dir = MakeTempDir();
    WriteBytes(dir + "zizavezu.tmp", print_file);
    platform::FakeEnv fake;
    const int64_t full = RenderIn(fake, dir).result.bytes;
    ASSERT_GT(full, 1000) << device;
    for (int64_t budget : {int64_t{0}, int64_t{5}, int64_t{100}, full / 2, full - 1, full}) {
      dir = MakeTempDir();
      WriteBytes(dir + "zizavezu.tmp", print_file);
      FailingWritesEnv env(&fake, budget);
      RunOutcome run = RenderIn(env, dir);
      if (budget >= full) {
        EXPECT_EQ(run.result.exit_code, kExitOk) << device << budget;
        continue;
      }
      EXPECT_EQ(run.result.exit_code, kExitCannotWrite) << device << " budget " << budget;
      EXPECT_NE(run.err.find("ZIZAVEZU: cannot write " + dir + "x."), std::string::npos) << run.err;
      EXPECT_EQ(run.out, "");
    }
  }
}

TEST(PrintProgramTest, PrintFileWithoutPagesProducesNothing) {
  for (const std::string& content : {std::string(""), std::string("DEVICEPDF:x.pdf\r\n")}) {
    std::string dir = MakeTempDir();
    WriteBytes(dir + "zizavezu.tmp", content);
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitOk);
    EXPECT_EQ(run.out, "ZIZAVEZU: the print file " + dir +
                           "zizavezu.tmp holds no pages; nothing was produced\n");
    EXPECT_EQ(ReadBytes(dir + "x.pdf"), "");
  }
}

TEST(PrintProgramTest, FirstLineThatIsNoDeviceIsStillPrinted) {
  std::string dir = MakeTempDir();
  WriteBytes(dir + "zizavezu.tmp", "PAGE 66 \r\n 1 ,x, 1 \r\n");
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, dir);
  EXPECT_EQ(run.result.exit_code, kExitOk);
  EXPECT_EQ(run.result.pages, 1);
  EXPECT_TRUE(run.result.device.defaulted);
  EXPECT_EQ(run.err,
            "ZIZAVEZU: warning: line 1: the first line is not the DEVICE line; the default "
            "device is used\n");
}

// The malformed sample: every fault once, in the order of the file, and a
// rendering of what could be rendered.
TEST(PrintProgramTest, MalformedPrintFileRendersWithOneWarningPerFault) {
  std::string dir = MakeTempDir();
  WriteBytes(dir + "zizavezu.tmp", ReadBytes(DataPath("malformed.tmp")));
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, dir);
  EXPECT_EQ(run.result.exit_code, kExitOk) << run.err;
  EXPECT_EQ(run.result.pages, 4);
  std::vector<std::string> warnings = Split(run.err, '\n');
  const std::vector<std::string> want = {
      "ZIZAVEZU: warning: line 2: not a directive (no keyword, no column and comma); ignored",
      "ZIZAVEZU: warning: line 3: PAGE 0 is no page length (1 to 132); a page of 66 lines is "
      "used (2 more like it)",
      "ZIZAVEZU: warning: line 6: column -5 is before column 1; column 1 used",
      "ZIZAVEZU: warning: line 7: column 5000 is past the last column 96; the text is not "
      "printed (4 more like it)",
      "ZIZAVEZU: warning: line 9: control bytes in a text are printed as blanks",
      "ZIZAVEZU: warning: line 10: text item without a line-feed count after its last comma; 0 "
      "used",
      "ZIZAVEZU: warning: line 12: 100000 line feeds exceed the page of 66 lines; what follows "
      "starts a new page",
      "ZIZAVEZU: warning: line 14: negative line-feed count -3; 0 used",
      "ZIZAVEZU: warning: line 15: JUS N without a fill between two \"\\\"; blanks are used",
      "ZIZAVEZU: warning: line 19: DEVICE after the first line is ignored",
  };
  EXPECT_EQ(warnings, want);
  std::vector<std::string> pages = Split(ReadBytes(dir + "malformed.txt"), '\f');
  ASSERT_EQ(pages.size(), 4u);
  std::vector<std::string> first = Split(pages[0], '\n');
  ASSERT_GE(first.size(), 7u);
  EXPECT_EQ(first[0], "first line");
  EXPECT_EQ(first[1], "negative column");
  EXPECT_EQ(first[3], std::string(89, ' ') + "runs pa");
  EXPECT_EQ(first[4], "NUL  and TAB  and DEL");
  EXPECT_EQ(Split(pages[1], '\n')[0], "after the huge feed");
  EXPECT_EQ(pages[2], "") << "PAGE without a number still starts a page";
  EXPECT_EQ(Split(pages[3], '\n')[0], std::string(80, 'x')) << "no \"@e\" on that page";
}

// The real program, started as the module starts it: no arguments, the
// settings from the environment.
TEST(PrintProgramBinaryTest, RunsFromTheTemporaryFolder) {
  std::string dir = MakeTempDir();
  WriteBytes(dir + "zizavezu.tmp",
             WithDevice(ReadBytes(DataPath("statement_plain_paper.tmp")), "TXT:binary.txt"));
  const char* old = std::getenv("ZELTMP");
  std::string saved = old ? old : "";
  ::setenv("ZELTMP", dir.substr(0, dir.size() - 1).c_str(), 1);
  std::string out;
  int code = testing_util::RunCapture(ZIZAVEZU_BINARY, {}, &out);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "ZIZAVEZU: 2 pages written to " + dir + "binary.txt\n");
  EXPECT_EQ(Split(ReadBytes(dir + "binary.txt"), '\f').size(), 2u);

  ::setenv("ZELTMP", (dir + "missing").c_str(), 1);
  EXPECT_EQ(testing_util::RunCapture(ZIZAVEZU_BINARY, {}, &out), kExitNoPrintFile);
  if (old) {
    ::setenv("ZELTMP", saved.c_str(), 1);
  } else {
    ::unsetenv("ZELTMP");
  }
}

}  // namespace
}  // namespace zizavezu
