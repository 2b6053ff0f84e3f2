#include "tools/zizavezu/print_program.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "config/settings.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"
#include "tools/zizavezu/tests/test_util.h"

namespace zizavezu {
namespace {

using testing_util::DataPath;
using testing_util::Split;
using testing_util::WithDevice;
using testsupport::ReadFile;
using testsupport::ScratchDir;
using testsupport::WriteFile;

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
      {"PDF:run.pdf", "run.pdf", Device::Kind::kPdf, "2 p\u00e0gines escrites a @run.pdf\n"},
      {"  TXT:run.txt  ", "run.txt", Device::Kind::kText, "2 p\u00e0gines escrites a @run.txt\n"},
      {"", "zizavezu.pdf", Device::Kind::kPdf,
       "no hi ha cap dispositiu de sortida configurat; 2 p\u00e0gines escrites a @zizavezu.pdf\n"},
      {"LPT1", "zizavezu.pdf", Device::Kind::kPdf,
       "el dispositiu de sortida \"LPT1\" \u00e9s desconegut; 2 p\u00e0gines escrites a "
       "@zizavezu.pdf\n"},
  };
  for (const Case& c : cases) {
    ScratchDir scratch("zizavezu");
    const std::string& dir = scratch.path();
    ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", TwoPages(c.device)));
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitOk) << c.device << run.err;
    EXPECT_EQ(run.result.pages, 2) << c.device;
    EXPECT_EQ(run.result.device.kind, c.kind) << c.device;
    std::string want = "ZIZAVEZU: " + std::string(c.message);
    want.replace(want.find('@'), 1, dir);
    EXPECT_EQ(run.out, want) << c.device;
    EXPECT_EQ(run.err, "") << c.device;
    std::string written = ReadFile(dir + c.file);
    EXPECT_EQ(static_cast<int64_t>(written.size()), run.result.bytes) << c.device;
    if (c.kind == Device::Kind::kText) {
      EXPECT_EQ(written, "first page\n\fsecond page\n");
    } else {
      EXPECT_EQ(written.rfind("%PDF-", 0), 0u) << c.device;
    }
  }
}

TEST(PrintProgramTest, SystemPathsWithBackslashesAreMapped) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  std::string system_dir = dir.substr(0, dir.size() - 1) + "\\";
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", TwoPages("TXT:" + system_dir + "abs.txt")));
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, system_dir);
  EXPECT_EQ(run.result.exit_code, kExitOk) << run.err;
  EXPECT_EQ(run.out, "ZIZAVEZU: 2 p\u00e0gines escrites a " + dir + "abs.txt\n");
  EXPECT_EQ(ReadFile(dir + "abs.txt"), "first page\n\fsecond page\n");
}

TEST(PrintProgramTest, PrinterGetsThePdfThroughLp) {
  struct Case {
    const char* device;
    int lp_result;
    std::vector<std::string> args;  // "@" stands for the PDF's path
    int exit_code;
    const char* text;  // expected in out (exit 0) or err
  };
  // Before lp starts, on out whatever lp does: the job may reach the printer.
  const std::string to_queue = "ZIZAVEZU: [lp] s'envia @ a la impressora oficina\n";
  const std::string to_default = "ZIZAVEZU: [lp] s'envia @ a la impressora predeterminada\n";
  const Case cases[] = {
      {"LP:oficina",
       0,
       {"-d", "oficina", "--", "@"},
       kExitOk,
       "ZIZAVEZU: 2 p\u00e0gines enviades a la impressora oficina (el PDF \u00e9s @)\n"},
      {"LP:",
       0,
       {"--", "@"},
       kExitOk,
       "ZIZAVEZU: 2 p\u00e0gines enviades a la impressora predeterminada (el PDF \u00e9s @)\n"},
      {"LP:oficina",
       1,
       {"-d", "oficina", "--", "@"},
       kExitPrinterFailed,
       "ZIZAVEZU: lp ha acabat amb el codi 1; 2 p\u00e0gines no enviades a la impressora oficina "
       "(el PDF \u00e9s @)\n"},
      {"LP:oficina",
       -1,
       {"-d", "oficina", "--", "@"},
       kExitPrinterFailed,
       "ZIZAVEZU: lp no s'ha pogut engegar; 2 p\u00e0gines no enviades a la impressora oficina "
       "(el PDF \u00e9s @)\n"},
      {"LP:oficina",
       platform::Env::kEndedBySignal,
       {"-d", "oficina", "--", "@"},
       kExitPrinterFailed,
       "ZIZAVEZU: lp ha estat aturat per un senyal; 2 p\u00e0gines no enviades a la impressora "
       "oficina (el PDF \u00e9s @)\n"},
  };
  for (const Case& c : cases) {
    ScratchDir scratch("zizavezu");
    const std::string& dir = scratch.path();
    const std::string pdf = dir + "zizavezu.pdf";
    ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", TwoPages(c.device)));
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
    std::string handed = c.args.size() == 2 ? to_default : to_queue;
    handed.replace(handed.find('@'), 1, pdf);
    if (c.exit_code == kExitOk) {
      EXPECT_EQ(run.out, handed + want);
    } else {
      EXPECT_EQ(run.out, handed);
      EXPECT_EQ(run.err, want);
    }
    EXPECT_EQ(ReadFile(pdf).rfind("%PDF-", 0), 0u);
  }
}

// Every file of an installation (root, temporary and terminal folders) as
// path -> content, a link as "-> target".
std::map<std::string, std::string> Snapshot(const std::string& base) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(base)) {
    const std::string path = e.path().string().substr(base.size());
    if (e.is_symlink()) {
      files[path] = "-> " + std::filesystem::read_symlink(e.path()).string();
    } else if (e.is_regular_file()) {
      files[path] = ReadFile(e.path().string());
    }
  }
  return files;
}

// An output device never writes over a data, definition, settings or work
// file, nor into a folder or a device; a link at the destination is
// replaced, never followed. Each case runs on a fresh installation, once
// with absolute folders and once with folders relative to the current
// directory.
TEST(PrintProgramTest, DestinationsThatAreRefusedAndAccepted) {
  const char* kProtected = "\u00e9s un fitxer de dades, de definicions, de configuraci\u00f3";
  const char* kNotRegular = "no \u00e9s un fitxer normal";
  const char* kInstallation = "\u00e9s un fitxer de la instal\u00b7laci\u00f3";
  struct Case {
    const char* device;
    int exit_code;
    const char* message;  // a part of err (refused) or the file written, under tmp/ (accepted)
    const char* shown;    // refused: the path the message names, under the installation
  };
  const Case cases[] = {
      {"PDF:../root/DADES/PropietH.dat", kExitRefusedDevice, kProtected, "root/DADES/PropietH.dat"},
      {"TXT:..\\root\\DADES\\TDespesa.dat", kExitRefusedDevice, kProtected,
       "root/DADES/TDespesa.dat"},
      {"TXT:../root/DADES/new.txt", kExitRefusedDevice, kProtected, "root/DADES/new.txt"},
      {"PDF:./../root/./ddf/../DADES/PagamH.dat", kExitRefusedDevice, kProtected,
       "root/DADES/PagamH.dat"},
      {"PDF:datalink/PropietH.dat", kExitRefusedDevice, kProtected, "root/DADES/PropietH.dat"},
      {"PDF:../root/ddf/PropietH.xdf", kExitRefusedDevice, kProtected, "root/ddf/PropietH.xdf"},
      {"TXT:../root/FORMS/TELVORAN.ZPN", kExitRefusedDevice, kProtected, "root/FORMS/TELVORAN.ZPN"},
      {"PDF:../root/Nuva.ini", kExitRefusedDevice, kProtected, "root/Nuva.ini"},
      {"TXT:zizavezu.tmp", kExitRefusedDevice, kProtected, "tmp/zizavezu.tmp"},
      {"PDF:zizavezu.lck", kExitRefusedDevice, kProtected, "tmp/zizavezu.lck"},
      {"PDF:NuvaTerm.ini", kExitRefusedDevice, kProtected, "tmp/NuvaTerm.ini"},
      {"PDF:Sessio.ini", kExitRefusedDevice, kProtected, "tmp/Sessio.ini"},
      {"TXT:WinPush.tmp", kExitRefusedDevice, kProtected, "tmp/WinPush.tmp"},
      {"TXT:Browse.tmp", kExitRefusedDevice, kProtected, "tmp/Browse.tmp"},
      {"PDF:../term/NuvaTerm.ini", kExitRefusedDevice, kProtected, "term/NuvaTerm.ini"},
      {"PDF:../term/Sessio.ini", kExitRefusedDevice, kProtected, "term/Sessio.ini"},
      {"TXT:../term/ZELCALC.TMP", kExitRefusedDevice, kProtected, "term/ZELCALC.TMP"},
      {"PDF:second.pdf", kExitRefusedDevice, kProtected, "tmp/second.pdf"},  // hard link, data
      {"TXT:second.txt", kExitRefusedDevice, kProtected, "tmp/second.txt"},  // hard link, settings
      {"PDF:folder", kExitRefusedDevice, kNotRegular, "tmp/folder"},
      {"TXT:/dev/null", kExitRefusedDevice, kNotRegular, nullptr},
      {"LP:-oficina", kExitRefusedDevice, "la cua d'impressi\u00f3 -oficina", nullptr},
      {"PDF:run.pdf", kExitOk, "run.pdf", nullptr},
      {"PDF:link.pdf", kExitOk, "link.pdf", nullptr},  // a link to a data file
      {"TXT:../root/DADES.txt", kExitRefusedDevice, kInstallation, "root/DADES.txt"},
      {"TXT:../root/Nuva.ini.txt", kExitRefusedDevice, kInstallation, "root/Nuva.ini.txt"},
      {"TXT:../root/AJUDA/TELVORAN.HLP", kExitRefusedDevice, kInstallation,
       "root/AJUDA/TELVORAN.HLP"},
      {"PDF:../root/new.pdf", kExitRefusedDevice, kInstallation, "root/new.pdf"},
      {"TXT:../env", kExitRefusedDevice, kInstallation, "env"},  // not there yet
      {"PDF:envcopy", kExitRefusedDevice, kInstallation, "tmp/envcopy"},  // hard link
      {"PDF:../bin/ZIZAVEZU", kExitRefusedDevice, kInstallation, "bin/ZIZAVEZU"},
      {"PDF:../bin/new.pdf", kExitRefusedDevice, kInstallation, "bin/new.pdf"},
      {"TXT:tool", kExitRefusedDevice, kInstallation, "tmp/tool"},  // executable
      {"TXT:../root.txt", kExitOk, "../root.txt", nullptr},
      {"TXT:../env.txt", kExitOk, "../env.txt", nullptr},
      {"TXT:../binary.txt", kExitOk, "../binary.txt", nullptr},
  };
  std::string& language = config::ModuleSettings().language;
  const std::string saved_language = language;
  language = "CAT";
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  for (bool relative : {false, true}) {
    for (const Case& c : cases) {
      ScratchDir scratch("zizavezu");
      const std::string base = std::filesystem::canonical(scratch.path()).string() + "/";
      for (const char* d :
           {"root/DADES", "root/ddf", "root/FORMS", "root/AJUDA", "tmp/folder", "term", "bin"}) {
        std::filesystem::create_directories(base + d);
      }
      for (const char* f :
           {"root/DADES/PropietH.dat", "root/DADES/TDespesa.dat", "root/DADES/PagamH.dat",
            "root/ddf/PropietH.xdf", "root/FORMS/TELVORAN.ZPN", "root/Nuva.ini", "tmp/NuvaTerm.ini",
            "tmp/Sessio.ini", "tmp/WinPush.tmp", "tmp/Browse.tmp", "term/NuvaTerm.ini",
            "term/Sessio.ini", "term/ZELCALC.TMP", "root/AJUDA/TELVORAN.HLP", "env",
            "bin/ZIZAVEZU", "tmp/tool"}) {
        EXPECT_TRUE(WriteFile(base + f, std::string("original ") + f));
      }
      std::filesystem::permissions(base + "tmp/tool", std::filesystem::perms::owner_exec,
                                   std::filesystem::perm_options::add);
      std::filesystem::create_hard_link(base + "env", base + "tmp/envcopy");
      if (std::string(c.device) == "TXT:../env") std::filesystem::remove(base + "env");
      std::filesystem::create_directory_symlink("../root/DADES", base + "tmp/datalink");
      std::filesystem::create_hard_link(base + "root/DADES/PropietH.dat", base + "tmp/second.pdf");
      std::filesystem::create_hard_link(base + "tmp/NuvaTerm.ini", base + "tmp/second.txt");
      std::filesystem::create_symlink(base + "root/DADES/PropietH.dat", base + "tmp/link.pdf");
      EXPECT_TRUE(WriteFile(base + "tmp/zizavezu.tmp", TwoPages(c.device)));
      const std::map<std::string, std::string> before = Snapshot(base);

      InstallationDirs dirs{base + "root/", base + "tmp/", base + "term/", base + "bin/"};
      if (relative) {
        ASSERT_EQ(::chdir(base.c_str()), 0);
        dirs = {"root/", "tmp/", "term/", "bin/"};
      }
      platform::FakeEnv env;
      std::ostringstream out, err;
      const PrintRunResult result = RenderPrintRun(env, dirs, out, err);
      ASSERT_EQ(::chdir(cwd), 0);
      const std::string label = std::string(c.device) + (relative ? " (relative)" : "");
      EXPECT_EQ(result.exit_code, c.exit_code) << label << ": " << err.str();
      std::map<std::string, std::string> after = Snapshot(base);
      if (c.exit_code == kExitOk) {
        const std::string written = "tmp/" + std::string(c.message);
        const std::string key = std::filesystem::path(written).lexically_normal().string();
        EXPECT_FALSE(std::filesystem::is_symlink(base + key)) << label;
        EXPECT_EQ(after[key].rfind(c.device[0] == 'P' ? "%PDF-" : "first page", 0), 0u) << label;
        after[key] = before.count(key) ? before.at(key) : "";
        if (!before.count(key)) after.erase(key);
        EXPECT_EQ(ReadFile(base + "root/DADES/PropietH.dat"), "original root/DADES/PropietH.dat");
      } else {
        EXPECT_NE(err.str().find(c.message), std::string::npos) << label << ": " << err.str();
        if (c.shown != nullptr) {
          EXPECT_NE(err.str().find(base + c.shown), std::string::npos)
              << label << ": " << err.str();
        }
        EXPECT_EQ(out.str(), "") << label;
        EXPECT_TRUE(env.runs().empty()) << label;
      }
      EXPECT_EQ(after, before) << label;
    }
  }
  language = saved_language;
}

TEST(PrintProgramTest, UnreadablePrintFileFails) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, dir);
  EXPECT_EQ(run.result.exit_code, kExitNoPrintFile);
  EXPECT_EQ(run.err,
            "ZIZAVEZU: no es pot llegir el fitxer d'impressi\u00f3 " + dir + "zizavezu.tmp\n");
  EXPECT_EQ(run.out, "");
}

// A print file that is no regular file is refused at once (a FIFO would
// wait for a writer, /dev/zero's one line never ends); a line longer than
// any directive is passed over with a warning, one that just fits is read.
TEST(PrintProgramTest, PrintFilesThatAreNoRegularFileAndOverlongLines) {
  const std::string kTooLong = "l\u00ednia 3: fa m\u00e9s de 65536 bytes";
  const struct {
    const char* kind;
    size_t line;  // the third line's length, its CR LF not counted
    int exit_code;
    bool warned;  // kTooLong in err
    int64_t pages;
  } cases[] = {
      {"fifo", 0, kExitNoPrintFile, false, 0},   {"zero", 0, kExitNoPrintFile, false, 0},
      {"folder", 0, kExitNoPrintFile, false, 0}, {"file", 65536, kExitOk, false, 1},
      {"file", 65537, kExitOk, true, 1},         {"file", 3000000, kExitOk, true, 1},
  };
  for (const auto& c : cases) {
    ScratchDir scratch("zizavezu");
    const std::string& dir = scratch.path();
    const std::string print_file = dir + "zizavezu.tmp";
    const std::string kind = c.kind;
    if (kind == "fifo") {
      ASSERT_EQ(::mkfifo(print_file.c_str(), 0600), 0);
    }
    if (kind == "zero") std::filesystem::create_symlink("/dev/zero", print_file);
    if (kind == "folder") std::filesystem::create_directory(print_file);
    if (kind == "file") {
      // A text item of exactly c.line bytes, then one more line.
      const std::string head = " 1 ,", tail = ", 1 ";
      ASSERT_TRUE(WriteFile(print_file, "DEVICETXT:long.txt\r\nPAGE 66 \r\n" + head +
                                            std::string(c.line - head.size() - tail.size(), 'a') +
                                            tail + "\r\n 1 ,after, 1 \r\n"));
    }
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    const std::string label = kind + " " + std::to_string(c.line);
    EXPECT_EQ(run.result.exit_code, c.exit_code) << label << ": " << run.err;
    EXPECT_EQ(run.result.pages, c.pages) << label;
    EXPECT_EQ(run.err.find(kTooLong) != std::string::npos, c.warned) << label << ": " << run.err;
    if (c.exit_code == kExitNoPrintFile) {
      EXPECT_NE(run.err.find("no \u00e9s un fitxer normal"), std::string::npos) << label;
    } else {
      EXPECT_NE(ReadFile(dir + "long.txt").find("after"), std::string::npos) << label;
    }
  }
}

TEST(PrintProgramTest, DeviceThatCannotBeCreatedFails) {
  for (const char* device : {"PDF:no/such/folder/x.pdf", "TXT:no/such/folder/x.txt"}) {
    ScratchDir scratch("zizavezu");
    const std::string& dir = scratch.path();
    ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", TwoPages(device)));
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitCannotWrite) << device;
    EXPECT_NE(run.err.find("ZIZAVEZU: no es pot crear " + dir + "no/such/folder/x."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// A full disk at any point of the output: the run reports it and fails.
TEST(PrintProgramTest, WriteFailureSweep) {
  for (const char* device : {"PDF:x.pdf", "TXT:x.txt"}) {
    const std::string print_file =
        WithDevice(ReadFile(DataPath("statement_letterhead.tmp")), device);
    ScratchDir scratch("zizavezu");
    const std::string& dir = scratch.path();
    ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", print_file));
    platform::FakeEnv fake;
    const int64_t full = RenderIn(fake, dir).result.bytes;
    ASSERT_GT(full, 1000) << device;
    for (int64_t budget : {int64_t{0}, int64_t{5}, int64_t{100}, full / 2, full - 1, full}) {
      ScratchDir attempt("zizavezu");
      const std::string& attempt_dir = attempt.path();
      ASSERT_TRUE(WriteFile(attempt_dir + "zizavezu.tmp", print_file));
      FailingWritesEnv env(&fake, budget);
      RunOutcome run = RenderIn(env, attempt_dir);
      if (budget >= full) {
        EXPECT_EQ(run.result.exit_code, kExitOk) << device << budget;
        continue;
      }
      EXPECT_EQ(run.result.exit_code, kExitCannotWrite) << device << " budget " << budget;
      EXPECT_NE(run.err.find("ZIZAVEZU: no es pot escriure " + attempt_dir + "x."),
                std::string::npos)
          << run.err;
      EXPECT_EQ(run.out, "");
    }
  }
}

// An output an earlier run left stays as it was, and is named.
TEST(PrintProgramTest, PrintFileWithoutPagesProducesNothing) {
  for (const char* earlier : {static_cast<const char*>(nullptr), "old"}) {
    ScratchDir scratch("zizavezu");
    const std::string& dir = scratch.path();
    ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", "DEVICEPDF:x.pdf\r\n"));
    if (earlier != nullptr) WriteFile(dir + "x.pdf", earlier);
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitOk);
    EXPECT_EQ(
        run.out,
        "ZIZAVEZU: el fitxer d'impressi\u00f3 " + dir +
            "zizavezu.tmp no t\u00e9 cap p\u00e0gina; no s'ha produ\u00eft res" +
            (earlier ? " i el fitxer anterior " + dir + "x.pdf s'ha deixat tal com era\n" : "\n"));
    EXPECT_EQ(ReadFile(dir + "x.pdf"), earlier ? earlier : "");
  }
}

TEST(PrintProgramTest, FirstLineThatIsNoDeviceIsStillPrinted) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", "PAGE 66 \r\n 1 ,x, 1 \r\n"));
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, dir);
  EXPECT_EQ(run.result.exit_code, kExitOk);
  EXPECT_EQ(run.result.pages, 1);
  EXPECT_TRUE(run.result.device.defaulted);
  EXPECT_EQ(run.err,
            "ZIZAVEZU: av\u00eds: l\u00ednia 1: la primera l\u00ednia no \u00e9s la l\u00ednia "
            "DEVICE; es fa "
            "servir el dispositiu predeterminat\n");
}

// The malformed sample: every fault once, in the order of the file, and a
// rendering of what could be rendered.
TEST(PrintProgramTest, MalformedPrintFileRendersWithOneWarningPerFault) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", ReadFile(DataPath("malformed.tmp"))));
  platform::FakeEnv env;
  RunOutcome run = RenderIn(env, dir);
  EXPECT_EQ(run.result.exit_code, kExitOk) << run.err;
  EXPECT_EQ(run.result.pages, 4);
  std::vector<std::string> warnings = Split(run.err, '\n');
  const std::vector<std::string> want = {
      "ZIZAVEZU: av\u00eds: l\u00ednia 2: no \u00e9s una directiva (no t\u00e9 paraula clau ni "
      "columna i coma); no es t\u00e9 en compte",
      "ZIZAVEZU: av\u00eds: l\u00ednia 3: PAGE 0 no \u00e9s una llargada de p\u00e0gina (d'1 a "
      "132); "
      "es fa servir una p\u00e0gina de 66 l\u00ednies (2 vegades m\u00e9s)",
      "ZIZAVEZU: av\u00eds: l\u00ednia 6: la columna -5 \u00e9s abans de la columna 1; es fa "
      "servir "
      "la columna 1",
      "ZIZAVEZU: av\u00eds: l\u00ednia 7: la columna 5000 passa de l'\u00faltima columna, la 96; "
      "el "
      "text no s'imprimeix (4 vegades m\u00e9s)",
      "ZIZAVEZU: av\u00eds: l\u00ednia 9: els bytes de control d'un text s'imprimeixen com a "
      "espais",
      "ZIZAVEZU: av\u00eds: l\u00ednia 10: element de text sense nombre de salts de l\u00ednia "
      "despr\u00e9s de l'\u00faltima coma; es fa servir 0",
      "ZIZAVEZU: av\u00eds: l\u00ednia 12: 100000 salts de l\u00ednia passen de la p\u00e0gina de "
      "66 "
      "l\u00ednies; el que segueix comen\u00e7a una p\u00e0gina nova",
      "ZIZAVEZU: av\u00eds: l\u00ednia 14: nombre de salts de l\u00ednia negatiu -3; es fa servir "
      "0",
      "ZIZAVEZU: av\u00eds: l\u00ednia 15: JUS N sense farciment entre dues \"\\\"; es fan servir "
      "espais",
      "ZIZAVEZU: av\u00eds: l\u00ednia 19: DEVICE despr\u00e9s de la primera l\u00ednia no es "
      "t\u00e9 "
      "en compte",
  };
  EXPECT_EQ(warnings, want);
  std::vector<std::string> pages = Split(ReadFile(dir + "malformed.txt"), '\f');
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

// The lines in each language of the locale file the suite ships, numbers
// and paths in their places; a single page and a fault seen twice take the
// keys for one.
TEST(PrintProgramTest, MessagesInEachLanguage) {
  const struct {
    const char* language;
    const char* warning;
    const char* outcome;  // then the folder and "lang.txt"
  } cases[] = {
      {"CAT",
       "ZIZAVEZU: av\u00eds: l\u00ednia 3: nombre de salts de l\u00ednia negatiu -3; es fa servir "
       "0 "
       "(1 vegada m\u00e9s)\n",
       "ZIZAVEZU: 1 p\u00e0gina escrita a "},
      {"GLG",
       "ZIZAVEZU: aviso: li\u00f1a 3: n\u00famero de saltos de li\u00f1a negativo -3; \u00fasase 0 "
       "(1 vez m\u00e1is)\n",
       "ZIZAVEZU: 1 p\u00e1xina escrita en "},
      {"OCI",
       "ZIZAVEZU: av\u00eds: linha 3: nombre de sauts de linha negatiu -3; s'emplega 0 "
       "(1 c\u00f2p m\u00e8s)\n",
       "ZIZAVEZU: 1 pagina escrita en "},
      {"SPA",
       "ZIZAVEZU: aviso: l\u00ednea 3: n\u00famero de saltos de l\u00ednea negativo -3; se usa 0 "
       "(1 vez m\u00e1s)\n",
       "ZIZAVEZU: 1 p\u00e1gina escrita en "},
  };
  testsupport::SettingsGuard settings;
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  std::filesystem::create_directory(dir + "LOCALE");
  ASSERT_TRUE(WriteFile(dir + "LOCALE/TELVORAN.LNG", ReadFile(ZIZAVEZU_LOCALE_FILE)));
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp",
                        "DEVICETXT:lang.txt\r\nPAGE 66 \r\n 1 ,a, -3 \r\n 1 ,b, -4 \r\n"));
  config::ModuleSettings().root_dir = dir;
  for (const auto& c : cases) {
    config::ModuleSettings().language = c.language;
    platform::FakeEnv env;
    RunOutcome run = RenderIn(env, dir);
    EXPECT_EQ(run.result.exit_code, kExitOk) << c.language;
    EXPECT_EQ(run.err, c.warning) << c.language;
    EXPECT_EQ(run.out, c.outcome + dir + "lang.txt\n") << c.language;
  }
}

// The real program, started as the module starts it: no arguments, the
// settings from the environment.
TEST(PrintProgramBinaryTest, RunsFromTheTemporaryFolder) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(
      WriteFile(dir + "zizavezu.tmp",
                WithDevice(ReadFile(DataPath("statement_plain_paper.tmp")), "TXT:binary.txt")));
  const char* old = std::getenv("ZELTMP");
  std::string saved = old ? old : "";
  ::setenv("ZELTMP", dir.substr(0, dir.size() - 1).c_str(), 1);
  std::string out;
  int code = testing_util::RunCapture(ZIZAVEZU_BINARY, {}, &out);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "ZIZAVEZU: 2 p\u00e0gines escrites a " + dir + "binary.txt\n");
  EXPECT_EQ(Split(ReadFile(dir + "binary.txt"), '\f').size(), 2u);

  ::setenv("ZELTMP", (dir + "missing").c_str(), 1);
  EXPECT_EQ(testing_util::RunCapture(ZIZAVEZU_BINARY, {}, &out), kExitNoPrintFile);
  if (old) {
    ::setenv("ZELTMP", saved.c_str(), 1);
  } else {
    ::unsetenv("ZELTMP");
  }
}

// The module reads standard output and standard error through one pipe:
// the warnings come first and the outcome is the last line.
TEST(PrintProgramBinaryTest, OutcomeIsTheLastLineOfBothStreams) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", TwoPages("TXT:merged.txt") + "no commas here\r\n"));
  ASSERT_TRUE(WriteFile(dir + "NuvaTerm.ini", "[Sistema]\r\nIdioma=CAT\r\n"));
  const char* old = std::getenv("ZELTMP");
  std::string saved = old ? old : "";
  const struct {
    std::string temp_dir;
    int exit_code;
    std::vector<std::string> lines;
  } cases[] = {
      {dir,
       kExitOk,
       {"ZIZAVEZU: av\u00eds: l\u00ednia 8: no \u00e9s una directiva (no t\u00e9 paraula clau ni "
        "columna i coma); no es t\u00e9 en compte",
        "ZIZAVEZU: 2 p\u00e0gines escrites a " + dir + "merged.txt"}},
      {dir + "missing/",
       kExitNoPrintFile,
       {"ZIZAVEZU: no es pot llegir el fitxer d'impressi\u00f3 " + dir + "missing/zizavezu.tmp"}},
  };
  for (const auto& c : cases) {
    ::setenv("ZELTMP", c.temp_dir.c_str(), 1);
    std::string both;
    EXPECT_EQ(testing_util::RunCapture(ZIZAVEZU_BINARY, {}, &both, /*with_stderr=*/true),
              c.exit_code);
    EXPECT_EQ(Split(both, '\n'), c.lines) << both;
  }
  if (old) {
    ::setenv("ZELTMP", saved.c_str(), 1);
  } else {
    ::unsetenv("ZELTMP");
  }
}

// Arguments: --help and --version answer and end; anything else is a usage
// error; none of them renders the print file.
TEST(PrintProgramBinaryTest, Arguments) {
  const struct {
    std::vector<std::string> args;
    int exit_code;
    const char* out;  // the start of standard output
  } cases[] = {
      {{"--help"}, kExitOk, "\u00fas: ZIZAVEZU [--help | --version]\n"},
      {{"--version"}, kExitOk, "ZIZAVEZU " TELVORAN_VERSION "\n"},
      {{"--verbose"}, kExitUsage, ""},
      {{"--help", "x"}, kExitUsage, ""},
      {{"zizavezu.tmp"}, kExitUsage, ""},
  };
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", TwoPages("TXT:args.txt")));
  ASSERT_TRUE(WriteFile(dir + "NuvaTerm.ini", "[Sistema]\r\nIdioma=CAT\r\n"));
  const char* old = std::getenv("ZELTMP");
  std::string saved = old ? old : "";
  ::setenv("ZELTMP", dir.c_str(), 1);
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(testing_util::RunCapture(ZIZAVEZU_BINARY, c.args, &out), c.exit_code) << c.args[0];
    EXPECT_EQ(out.rfind(c.out, 0), 0u) << c.args[0] << ": " << out;
    if (c.exit_code != kExitOk) {
      EXPECT_EQ(out, "") << c.args[0];
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "args.txt")) << c.args[0];
  }
  if (old) {
    ::setenv("ZELTMP", saved.c_str(), 1);
  } else {
    ::unsetenv("ZELTMP");
  }
}

}  // namespace
}  // namespace zizavezu
