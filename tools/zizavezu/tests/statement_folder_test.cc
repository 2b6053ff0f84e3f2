// DIR:, CORREU: and the one-PDF run's bookmarks, end to end through
// RenderPrintRun over a print file and its statement register made here:
// every case on a fresh installation (root, temporary and terminal folders).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "config/settings.h"
#include "platform/fake_env.h"
#include "platform/statement_register.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"
#include "tools/zizavezu/pdf_split.h"
#include "tools/zizavezu/print_program.h"
#include "tools/zizavezu/statement_folder.h"
#include "tools/zizavezu/tests/test_util.h"

namespace zizavezu {
namespace {

namespace fs = std::filesystem;
using platform::StatementEntry;
using testing_util::RunCapture;
using testing_util::Split;
using testsupport::ReadFile;
using testsupport::ScratchDir;
using testsupport::WriteFile;

// Four copies over seven pages: a community's two copies, an owner's copy,
// another community of three pages.
std::vector<StatementEntry> Entries() {
  std::vector<StatementEntry> e(4);
  e[0].community_code = "3";
  e[0].community_name = "PLA\x80" "A MAJOR";  // "Ç" in CP850
  e[0].pages = 2;
  e[0].balance = -123456;
  e[0].fee = 5;
  e[1] = e[0];
  e[1].copy = 2;
  e[1].pages = 1;
  e[2] = e[0];
  e[2].flat_code = "12";
  e[2].owner_name = "PUIG; \"JOAN\"";
  e[2].flat = "1r 2a";
  e[2].pages = 1;
  e[3].community_code = "12";
  e[3].community_name = "SOL";
  e[3].pages = 3;
  e[3].balance = 99;
  e[3].favours_community = true;
  int64_t page = 1;
  for (StatementEntry& x : e) {
    x.first_page = page;
    page += x.pages;
    x.period_from = x.community_code == "3" ? "20260101" : "";
    x.period_to = "20261208";
  }
  return e;
}

std::string PrintFile(const std::string& device, const std::vector<StatementEntry>& entries) {
  std::string text = "DEVICE" + device + "\r\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    for (int64_t p = 1; p <= entries[i].pages; ++p) {
      text += "PAGE 66 \r\n 1 ,statement " + std::to_string(i) + " page " + std::to_string(p) +
              ", 1 \r\n";
    }
  }
  return text;
}

std::string Register(const std::vector<StatementEntry>& entries, int64_t bytes) {
  std::string text = platform::RegisterHeader() + "\r\n";
  int64_t pages = 0;
  for (const StatementEntry& e : entries) {
    text += platform::RegisterLine(e) + "\r\n";
    pages += e.pages;
  }
  return text + platform::RegisterTrailer(bytes, pages, entries.size()) + "\r\n";
}

// Pages of a PDF, each page's text (pdftotext ends each page with a form feed).
std::vector<std::string> PageTexts(const std::string& pdf) {
  std::string text;
  EXPECT_EQ(RunCapture("pdftotext", {pdf, "-"}, &text), 0) << pdf;
  std::vector<std::string> pages = Split(text, '\f');
  return pages;
}

int CountPageObjects(const std::string& bytes) {
  static const std::regex page(R"(/Type\s*/Page[^s])");
  return static_cast<int>(
      std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), page), std::sregex_iterator()));
}

std::string Info(const std::string& pdf) {
  std::string info;
  EXPECT_EQ(RunCapture("pdfinfo", {pdf}, &info), 0) << pdf;
  return info;
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A PDF text string as cairo writes one that is not ASCII.
std::string Utf16Hex(std::u16string_view text) {
  std::string hex = "<FEFF";
  for (char16_t c : text) {
    char unit[5];
    std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
    hex += unit;
  }
  return hex + ">";
}

enum class Reg { kGood, kNone, kOtherPrintFile, kFewerPages, kBroken };

TEST(StatementFolderTest, DevicesRegistersAndRefusals) {
  const struct Case {
    const char* device;
    Reg reg;
    int exit_code;
    const char* folder;  // under tmp/, written (exit 0) or left as it was
    const char* message;  // a part of out (exit 0) or of err
    const char* language = "CAT";
  } cases[] = {
      {"DIR:resum", Reg::kGood, kExitOk, "resum/", "4 PDF amb 7 p\u00e0gines en total"},
      {"DIR:resum", Reg::kGood, kExitOk, "resum/", "4 PDF con 7 p\u00e1ginas en total", "SPA"},
      {"correu:", Reg::kGood, kExitOk, "resum/", "4 PDF amb 7 p\u00e0gines en total"},
      {" Dir:new/deep ", Reg::kGood, kExitOk, "new/deep/", "a la carpeta "},
      {"DIR:resum", Reg::kNone, kExitNoRegister, "resum/", "no hi ha el registre de fulls"},
      {"DIR:resum", Reg::kOtherPrintFile, kExitNoRegister, "resum/",
       "el registre \u00e9s d'un altre fitxer d'impressi\u00f3"},
      {"DIR:resum", Reg::kFewerPages, kExitNoRegister, "resum/",
       "les p\u00e0gines del registre no s\u00f3n les del fitxer"},
      {"DIR:resum", Reg::kBroken, kExitNoRegister, "resum/", "el registre s'acaba abans del final"},
      {"DIR:../root/DADES", Reg::kGood, kExitRefusedDevice, nullptr, "fitxer de dades"},
      {"DIR:../root/DADES/sub", Reg::kGood, kExitRefusedDevice, nullptr, "fitxer de dades"},
      {"DIR:../root/resum", Reg::kGood, kExitRefusedDevice, nullptr, "de la instal\u00b7laci\u00f3"},
      {"DIR:afile", Reg::kGood, kExitRefusedDevice, nullptr, "no \u00e9s una carpeta"},
      {"DIR:blocked", Reg::kGood, kExitRefusedDevice, nullptr, "no \u00e9s un fitxer normal"},
  };
  testsupport::SettingsGuard settings;
  const std::vector<StatementEntry> entries = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.device) + " register " + std::to_string(static_cast<int>(c.reg)));
    ScratchDir scratch("zizavezu");
    const std::string base = fs::canonical(scratch.path()).string() + "/";
    for (const char* d : {"root/DADES", "tmp/resum", "tmp/blocked/0012.pdf", "term"}) {
      fs::create_directories(base + d);
    }
    const std::string tmp = base + "tmp/";
    ASSERT_TRUE(WriteFile(base + "root/Nuva.ini", "[Administrador]\r\nNom=MARTA ADMIN  \r\n"));
    fs::create_directories(base + "root/LOCALE");
    ASSERT_TRUE(WriteFile(base + "root/LOCALE/TELVORAN.LNG", ReadFile(ZIZAVEZU_LOCALE_FILE)));
    config::ModuleSettings().root_dir = base + "root/";
    config::ModuleSettings().language = c.language;
    const bool spanish = std::string(c.language) == "SPA";
    ASSERT_TRUE(WriteFile(base + "root/DADES/PropietH.dat", "data"));
    ASSERT_TRUE(WriteFile(tmp + "afile", "a file"));
    // An earlier run's files, and others that are not a run's.
    const std::vector<std::string> stale = {"0099.pdf", "0099-0001_03.pdf", "resum.csv",
                                            "resum.reg", "0098.pdf"};
    const std::vector<std::string> kept = {"enviaments.txt", "0099.PDF", "a0001.pdf", "12.pdf.txt"};
    for (const std::string& n : stale) {
      if (n != "0098.pdf") {
        ASSERT_TRUE(WriteFile(tmp + "resum/" + n, "old " + n));
      }
    }
    fs::create_symlink(base + "root/DADES/PropietH.dat", tmp + "resum/0098.pdf");
    for (const std::string& n : kept) ASSERT_TRUE(WriteFile(tmp + "resum/" + n, "keep " + n));
    fs::create_directory(tmp + "resum/0097.pdf");  // a folder, never removed

    const std::string print = PrintFile(c.device, entries);
    ASSERT_TRUE(WriteFile(tmp + "zizavezu.tmp", print));
    std::vector<StatementEntry> reg_entries = entries;
    int64_t bytes = static_cast<int64_t>(print.size());
    if (c.reg == Reg::kOtherPrintFile) ++bytes;
    if (c.reg == Reg::kFewerPages) reg_entries.back().pages = 2;
    std::string reg = Register(reg_entries, bytes);
    if (c.reg == Reg::kBroken) reg.resize(reg.rfind("FI\t"));
    if (c.reg != Reg::kNone) {
      ASSERT_TRUE(WriteFile(tmp + platform::kRegisterFileName, reg));
    }
    const std::vector<std::string> before = Listing(tmp + "resum");

    platform::FakeEnv env;
    std::ostringstream out, err;
    const PrintRunResult result = RenderPrintRun(
        env, InstallationDirs{base + "root/", tmp, base + "term/", ""}, out, err);
    EXPECT_EQ(result.exit_code, c.exit_code) << err.str();
    const std::string& said = c.exit_code == kExitOk ? out.str() : err.str();
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    EXPECT_EQ(ReadFile(base + "root/DADES/PropietH.dat"), "data");
    if (c.exit_code != kExitOk) {
      EXPECT_EQ(out.str(), "");
      EXPECT_EQ(Listing(tmp + "resum"), before);
      EXPECT_FALSE(fs::exists(tmp + "new"));
      continue;
    }
    EXPECT_EQ(result.device.mail, c.device[0] == 'c');
    EXPECT_EQ(result.files, 4);
    EXPECT_EQ(result.pages, 7);
    const std::string folder = tmp + c.folder;
    EXPECT_NE(out.str().find(folder), std::string::npos) << out.str();
    std::vector<std::string> want = {"0003-0012.pdf", "0003.pdf", "0003_02.pdf", "0012.pdf",
                                     "resum.csv", "resum.reg"};
    if (std::string(c.folder) == "resum/") {
      want.insert(want.end(), kept.begin(), kept.end());
      want.push_back("0097.pdf");
      std::sort(want.begin(), want.end());
      for (const std::string& n : kept) EXPECT_EQ(ReadFile(folder + n), "keep " + n);
    }
    EXPECT_EQ(Listing(folder), want);

    // Each copy's pages, in order, are the print file's.
    const std::vector<std::string> names = {"0003.pdf", "0003_02.pdf", "0003-0012.pdf",
                                            "0012.pdf"};
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string pdf = folder + names[i];
      EXPECT_EQ(CountPageObjects(ReadFile(pdf)), entries[i].pages) << names[i];
      const std::vector<std::string> pages = PageTexts(pdf);
      ASSERT_EQ(static_cast<int64_t>(pages.size()), entries[i].pages) << names[i];
      for (size_t p = 0; p < pages.size(); ++p) {
        EXPECT_EQ(pages[p], "statement " + std::to_string(i) + " page " + std::to_string(p + 1) +
                                "\n\n")
            << names[i];
      }
      const std::string info = Info(pdf);
      EXPECT_NE(info.find("Author:          MARTA ADMIN\n"), std::string::npos) << info;
      EXPECT_NE(info.find(std::string("Title:           ") +
                          (spanish ? "RESUMEN DE GASTOS" : "RESUM DE DESPESES") + " 08/12/2026 - "),
                std::string::npos)
          << info;
    }
    EXPECT_NE(Info(folder + "0003-0012.pdf")
                  .find(" 08/12/2026 - 3 PLA\u00c7A MAJOR - PUIG; \"JOAN\"\n"),
              std::string::npos);

    const std::vector<std::string> rows = Split(ReadFile(folder + "resum.csv"), '\n');
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].rfind(spanish ? "\xef\xbb\xbf" "fichero;c\u00f3digo de la comunidad;"
                                    : "\xef\xbb\xbf" "fitxer;codi de la comunitat;",
                            0),
              0u)
        << rows[0];
    EXPECT_EQ(rows[1],
              "0003.pdf;3;PLA\u00c7A MAJOR;;;;1;2;01/01/2026;08/12/2026;0,00;0,00;0,05;0,00;"
              "-1234,56;administrador\r");
    if (spanish) {
      EXPECT_EQ(rows[4], "0012.pdf;12;SOL;;;;1;3;;08/12/2026;0,00;0,00;0,00;0,00;0,99;comunidad\r");
      continue;
    }
    EXPECT_EQ(rows[3],
              "0003-0012.pdf;3;PLA\u00c7A MAJOR;12;\"PUIG; \"\"JOAN\"\"\";1r 2a;1;1;01/01/2026;"
              "08/12/2026;0,00;0,00;0,05;0,00;-1234,56;administrador\r");
    EXPECT_EQ(rows[4], "0012.pdf;12;SOL;;;;1;3;;08/12/2026;0,00;0,00;0,00;0,00;0,99;comunitat\r");

    platform::StatementRegister back;
    std::string why;
    ASSERT_TRUE(platform::ParseRegister(ReadFile(folder + "resum.reg"), &back, &why)) << why;
    ASSERT_EQ(back.entries.size(), 4u);
    EXPECT_EQ(back.print_file_bytes, static_cast<int64_t>(print.size()));
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(back.entries[i].file, names[i]);
    EXPECT_TRUE(fs::exists(base + "root/DADES/PropietH.dat"));  // the link went, not its target
  }
}

// The one-PDF run: a register that is this print file's bookmarks each
// copy and gives the document its title, author and date; the pages are
// those the folder run splits. Without one, or with another print file's,
// the PDF is what it always was.
TEST(StatementFolderTest, OnePdfRunBookmarksEachStatement) {
  testsupport::SettingsGuard settings;
  config::ModuleSettings().language = "CAT";
  const std::vector<StatementEntry> entries = Entries();
  ScratchDir scratch("zizavezu");
  const std::string tmp = scratch.path();
  ASSERT_TRUE(WriteFile(tmp + "Nuva.ini", "[Administrador]\r\nNom=MARTA ADMIN\r\n"));
  const InstallationDirs dirs{tmp + "root/", tmp, tmp + "term/", ""};
  fs::create_directories(tmp + "root");
  ASSERT_TRUE(WriteFile(tmp + "root/Nuva.ini", "[Administrador]\r\nNom=MARTA ADMIN\r\n"));
  const std::string print = PrintFile("PDF:one.pdf", entries);
  ASSERT_TRUE(WriteFile(tmp + "zizavezu.tmp", print));
  platform::FakeEnv env;
  auto run = [&](std::string* err_text) {
    std::ostringstream out, err;
    const PrintRunResult result = RenderPrintRun(env, dirs, out, err);
    EXPECT_EQ(result.exit_code, kExitOk) << err.str();
    *err_text = err.str();
    return ReadFile(tmp + "one.pdf");
  };
  std::string err;
  const std::string plain = run(&err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(plain.find("/Outlines"), std::string::npos);
  EXPECT_EQ(plain.find("/Author"), std::string::npos);

  ASSERT_TRUE(WriteFile(tmp + "zizavezu.reg", Register(entries, static_cast<int64_t>(print.size()) + 1)));
  EXPECT_EQ(run(&err), plain);
  EXPECT_NE(err.find("av\u00eds: el registre de fulls " + tmp + "zizavezu.reg no correspon"),
            std::string::npos)
      << err;

  ASSERT_TRUE(WriteFile(tmp + "zizavezu.reg", Register(entries, static_cast<int64_t>(print.size()))));
  const std::string marked = run(&err);
  EXPECT_EQ(err, "");
  EXPECT_NE(marked.find("/Outlines"), std::string::npos);
  for (const std::string& title : {std::string("(12 SOL)"), Utf16Hex(u"3 PLA\u00c7A MAJOR"),
                                   Utf16Hex(u"3 PLA\u00c7A MAJOR - PUIG; \"JOAN\"")}) {
    EXPECT_NE(marked.find(title), std::string::npos) << title;
  }
  const std::string info = Info(tmp + "one.pdf");
  EXPECT_NE(info.find("Author:          MARTA ADMIN\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Title:           RESUM DE DESPESES 08/12/2026\n"), std::string::npos) << info;
  EXPECT_NE(info.find("CreationDate:"), std::string::npos) << info;
  EXPECT_EQ(CountPageObjects(marked), 7);

  // The folder run's pages, joined, are this run's.
  std::vector<std::string> joined;
  ASSERT_TRUE(WriteFile(tmp + "zizavezu.tmp", PrintFile("DIR:", entries)));
  ASSERT_EQ(PrintFile("DIR:", entries).size(), PrintFile("PDF:one.pdf", entries).size() - 7);
  ASSERT_TRUE(WriteFile(tmp + "zizavezu.reg",
                        Register(entries, static_cast<int64_t>(print.size()) - 7)));
  run(&err);
  for (const char* name : {"0003.pdf", "0003_02.pdf", "0003-0012.pdf", "0012.pdf"}) {
    for (const std::string& page : PageTexts(tmp + "resum/" + name)) joined.push_back(page);
  }
  EXPECT_EQ(joined, PageTexts(tmp + "one.pdf"));
}

// What the folder run falls back on when a document does not split (another
// cairo's layout): each statement drawn on its own surface; a page count
// that is not the register's is an error either way.
TEST(StatementFolderTest, DrawingEachStatementAndWhatDoesNotSplit) {
  std::vector<StatementEntry> entries = Entries();
  entries.resize(2);
  entries[0].file = "a.pdf";
  entries[1].file = "b.pdf";
  for (int pages : {3, 4, 2}) {
    SCOPED_TRACE(pages);
    ScratchDir scratch("zizavezu");
    platform::FakeEnv env;
    Diagnostics diagnostics;
    StatementFolderSink sink(&env, scratch.path(), &entries, &diagnostics, nullptr);
    PageComposer composer(&sink, &diagnostics);
    for (int p = 0; p < pages; ++p) {
      composer.Feed(ParseDirective("PAGE 66 "), 1);
      composer.Feed(ParseDirective(" 1 ,page " + std::to_string(p) + ", 1 "), 2);
    }
    const bool finished = composer.Finish();
    const bool closed = sink.Close();
    EXPECT_EQ(finished && closed, pages == 3) << sink.error();
    EXPECT_EQ(CountPageObjects(ReadFile(scratch.path() + "a.pdf")), pages >= 2 ? 2 : 0);
    EXPECT_EQ(sink.files_written(), pages >= 3 ? 2 : 1);
    if (pages >= 3) {
      EXPECT_EQ(PageTexts(scratch.path() + "b.pdf"), std::vector<std::string>{"page 2\n\n"});
    }
  }

  PdfSplitter splitter;
  EXPECT_FALSE(splitter.Load("not a PDF"));
  std::string pdf = PrintFile("", Entries());  // any bytes with "startxref" cut off
  EXPECT_FALSE(splitter.Load(pdf + "startxref\n12\n%%EOF\n"));
  EXPECT_EQ(PdfTextString("A (b) \\"), "(A \\(b\\) \\\\)");
  EXPECT_EQ(PdfTextString("\u00c7a\U0001F600"), "<FEFF00C70061D83DDE00>");
}

}  // namespace
}  // namespace zizavezu
