// The print runs of small hand-built portfolios, compared with golden print
// files, and the report's arithmetic. Each test builds a root with the demo
// installation's forms, locale and file definitions, writes its own data
// files, runs the same start-up and print run as the batch printer, and
// checks that the data files are byte for byte what they were.
//
// TELVORAN_UPDATE_GOLDEN=1 rewrites the golden files instead of comparing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "datafiles/record_file.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/program.h"
#include "driver/report.h"
#include "driver/report_context.h"
#include "driver/statement_layout.h"
#include "format/currency.h"
#include "format/masks.h"
#include "format/written_date.h"
#include "platform/fake_env.h"
#include "platform/statement_register.h"
#include "recmgr/record_manager.h"
#include "testsupport/record_manager_faults.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/test_server.h"
#include "testsupport/write_faults.h"
#include "tools/demodata/data_writer.h"

namespace driver {
namespace {

using demodata::Cp850;
using demodata::Date;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.path();
    std::filesystem::copy(TELVORAN_SAMPLE_DIR, root_, std::filesystem::copy_options::recursive);
    // With TELVORAN_REPORT_SERVER (a test server's connection string) the
    // data files live on that server, in a schema of each test's own, named
    // in the root Nuva.ini as an installation would: the same print files
    // must come out.
    if (const std::string on = testsupport::TestServer("TELVORAN_REPORT_SERVER"); !on.empty()) {
      const std::string server = testsupport::FreshServerSchema(on);
      ASSERT_FALSE(server.empty()) << "no schema on the test server";
      std::ofstream(root_ + "Nuva.ini", std::ios::binary | std::ios::app)
          << "\r\n[Dades]\r\nServidor=" << server << "\r\n";
      recmgr::UseServer(server, root_);
      // With TELVORAN_REPORT_STANDBY too, the print runs read from that
      // standby of the server (ServidorLectura) what the tests wrote on it.
      standby_ = testsupport::TestServer("TELVORAN_REPORT_STANDBY");
      if (!standby_.empty()) {
        primary_ = server;
        standby_ += server.substr(on.size());  // the same schema
        std::ofstream(root_ + "Nuva.ini", std::ios::binary | std::ios::app)
            << "ServidorLectura=" << standby_ << "\r\n";
      }
    }
    ::mkdir((root_ + "tmp").c_str(), 0777);
    ::mkdir((root_ + "bin").c_str(), 0777);
    std::ofstream(root_ + "bin/ZIZAVEZU");  // runs are faked; it must be there
    env_.SetVar("ZELROOT", root_);
    env_.SetVar("ZELTMP", root_ + "tmp/");
    env_.SetVar("ZELEXE", root_ + "bin/");
    env_.SetToday({2026, 12, 8});
    // The data files are named relative to the root, which start-up makes
    // the current directory; the engine resolves them on the host.
    char cwd[4096];
    cwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    EXPECT_EQ(::chdir(root_.c_str()), 0);
    Terminal("CAT", "TXT:out.txt");
    data_.expense_types = {
        demodata::ExpenseType("NE", "Neteja escala"), demodata::ExpenseType("AI", "Aigua"),
        demodata::ExpenseType("SE", "Asseguranca"), demodata::ExpenseType("RE", "Reparacions")};
    data_.receipt_types = {demodata::ReceiptType(1, 1), demodata::ReceiptType(2, 0)};
  }

  void TearDown() override {
    datafiles::Status st = 0;
    datafiles::RecordFilesReset(st);
    recmgr::UseServer("", "");
    format::SetCurrency("");
    EXPECT_EQ(::chdir(cwd_.c_str()), 0);
  }

  void Terminal(const std::string& language, const std::string& device) {
    WriteAll(root_ + "tmp/NuvaTerm.ini",
             "[Sistema]\r\nData=20261208\r\nSortida=" + device + "\r\nIdioma=" + language + "\r\n");
  }

  // Replaces key=value lines of the demo Nuva.ini (appends when missing).
  void Settings(const std::map<std::string, std::string>& changes) {
    std::string text = ReadAll(root_ + "Nuva.ini");
    for (const auto& [key, value] : changes) {
      size_t at = text.find("\r\n" + key + "=");
      if (at == std::string::npos) continue;
      size_t end = text.find("\r\n", at + 2);
      text.replace(at + 2, end - at - 2, key + "=" + value);
    }
    WriteAll(root_ + "Nuva.ini", text);
  }

  // Writes the test's data files (on the server when there is one: a print
  // run's start-up may have sent the engine to the standby) and, when the
  // runs read from a standby, waits until it has them.
  bool WriteData(std::string* error) {
    if (!primary_.empty()) recmgr::UseServer(primary_, root_);
    if (!demodata::WriteDataset(root_, root_ + "ddf/", data_, error)) return false;
    if (standby_.empty() || testsupport::WaitForStandby(primary_, standby_)) return true;
    *error = "the standby did not catch up";
    return false;
  }

  // Runs the print run for the typed form values and returns the print file.
  std::string Run(const std::string& date, const std::string& from_c, const std::string& from_f,
                  const std::string& to_c, const std::string& to_f, const std::string& copies) {
    std::string error;
    EXPECT_TRUE(WriteData(&error)) << error;
    std::map<std::string, std::string> before = DataFiles();
    platform::ScopedEnvOverride use(&env_);
    format::ResetFormatSettingsForTesting();
    format::ResetDateSettingsForTesting();
    ReportContext ctx;
    StartUp(ctx);
    ReportParameters p;
    EXPECT_TRUE(ConvertParameters(date, from_c, from_f, to_c, to_f, copies, &p));
    std::string message;
    EXPECT_EQ(RunPrintRun(ctx, p, false, nullptr, &message), PrintRunResult::kOk) << message;
    datafiles::Status st = 0;
    datafiles::RecordFilesReset(st);
    EXPECT_EQ(DataFiles(), before) << "the report wrote a data file";
    return ReadAll(root_ + "tmp/zizavezu.tmp");
  }

  std::map<std::string, std::string> DataFiles() {
    std::map<std::string, std::string> files;
    for (const char* n :
         {"TDespesa", "THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"}) {
      files[n] = ReadAll(root_ + "DADES/" + n + ".dat");
    }
    return files;
  }

  void ExpectGolden(const std::string& name, const std::string& got) {
    const std::string path = std::string(TELVORAN_GOLDEN_DIR "/") + name;
    if (std::getenv("TELVORAN_UPDATE_GOLDEN") != nullptr) {
      WriteAll(path, got);
      return;
    }
    EXPECT_EQ(got, ReadAll(path)) << "golden file " << name;
    ExpectRegisterOf(got);
  }

  // The run's register: read, and tied to the print file it came with.
  platform::StatementRegister Register(const std::string& print) {
    platform::StatementRegister reg;
    std::string why;
    EXPECT_TRUE(platform::ParseRegister(ReadAll(root_ + "tmp/zizavezu.reg"), &reg, &why)) << why;
    EXPECT_EQ(reg.print_file_bytes, static_cast<int64_t>(print.size()));
    return reg;
  }

  // The pages of a print file, each from its PAGE directive on.
  static std::vector<std::string> Pages(const std::string& print) {
    std::vector<std::string> pages;
    for (size_t at = print.find("\r\nPAGE "); at != std::string::npos;) {
      const size_t next = print.find("\r\nPAGE ", at + 2);
      pages.push_back(print.substr(at + 2, next == std::string::npos ? next : next - at));
      at = next;
    }
    return pages;
  }

  // The amount of the text item after the label in text, in cents; -1 when
  // the label is not there.
  static int64_t AmountAfter(const std::string& text, const std::string& label,
                             const std::string& column) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return -1;
    const size_t item = text.find("\r\n" + column + " ,", at);
    if (item == std::string::npos) return -2;
    const size_t from = item + column.size() + 4;
    const std::string value = text.substr(from, text.rfind(',', text.find("\r\n", from)) - from);
    std::string digits;
    for (char c : value) {
      if ((c >= '0' && c <= '9') || c == '-') digits += c;
    }
    return std::stoll(digits);
  }

  // Every entry's figures are those its own pages print, and the entries
  // take the print file's pages one after the other.
  void ExpectRegisterOf(const std::string& print) {
    const platform::StatementRegister reg = Register(print);
    const std::vector<std::string> pages = Pages(print);
    ASSERT_EQ(reg.pages, static_cast<int64_t>(pages.size()));
    for (const platform::StatementEntry& e : reg.entries) {
      std::string text;
      for (int64_t p = e.first_page; p < e.first_page + e.pages; ++p) {
        text += pages[static_cast<size_t>(p - 1)];
      }
      SCOPED_TRACE("community " + e.community_code + " flat " + e.flat_code);
      EXPECT_EQ(AmountAfter(text, "R\xe3SSEC LIQUIDACI\xe0 ANTERIOR", " 85"), e.carried_balance);
      EXPECT_EQ(AmountAfter(text, "TOTAL DESPESES", " 85"), e.total_expenses);
      EXPECT_EQ(AmountAfter(text, "TOTAL COBRAMENTS", " 85"), e.total_collections);
      EXPECT_EQ(AmountAfter(text, "R\xe3SSEC ACTUAL A FAVOR ", " 85"), e.balance);
      EXPECT_EQ(AmountAfter(text, "HONORARIS ADMINISTRACI\xe0", " 73"), e.fee == 0 ? -1 : e.fee);
      EXPECT_NE(text.find(e.favours_community ? "A FAVOR DE LA COMUNITAT"
                                              : "A FAVOR DE L'ADMINISTRADOR"),
                std::string::npos);
      EXPECT_EQ(text.find("RESUM DE DESPESES", text.find("RESUM DE DESPESES") + 1),
                std::string::npos) << "the pages of one entry hold one statement";
    }
  }

  demodata::CommunitySpec Community(int code, const std::string& name) {
    demodata::CommunitySpec c;
    c.code = code;
    c.name = name;
    c.monthly_fee = 0;
    c.previous_settlement = Date(2026, 10, 31);
    c.groups[2] = "ESCALA A";
    c.tax_id = "ESH08000001";
    return c;
  }

  void AddOwner(int c, int f, const std::string& name, const std::string& flat) {
    demodata::OwnerSpec o;
    o.community = c;
    o.flat = f;
    o.name = name;
    o.flat_designation = flat;
    data_.owners.push_back(demodata::Owner(o));
  }

  void Pay(int c, const std::string& date, const std::string& type, const std::string& text,
           int32_t amount, char section, int group_or_flat) {
    data_.payments.push_back(
        demodata::Payment(c, date, type, text, amount, section, group_or_flat));
  }

  testsupport::ScratchDir scratch_{"telvoran-report"};
  std::string root_;
  std::string primary_, standby_;  // the server and its standby, when reading from one
  std::string cwd_;
  platform::FakeEnv env_;
  demodata::Dataset data_;
};

// Community 1: pending lines that sum to zero, the report-date boundary, a
// flat range that limits only the particulars, a fee over all owners with
// VAT and withholding rounded half to even, names with "*" and a comma.
TEST_F(ReportTest, BasicStatement) {
  demodata::CommunitySpec c = Community(1, "ROSES, 7*EDIFICI LES");
  c.monthly_fee = 50;  // 3 owners x 50 x 1 month = 150: VAT 31.5 -> 32, withholding 22.5 -> 22
  c.previous_settlement = Date(2026, 10, 31);
  data_.communities.push_back(demodata::Community(c));
  data_.assignments.push_back(demodata::GroupAssignment(1, "NEBAIASEAHOA"));
  AddOwner(1, 1, "PUJOL GARCIA*JOAN", "1r 1a");
  AddOwner(1, 2, "SOLER, PINTURES SL", "1r 2a");
  AddOwner(1, 3, "ASSOCIACIO VEINAL*L'", "BAIXOS");
  // Group A: AI sums to 0 and is followed by SE (printed with 0); SE at the
  // end of the section sums to 0 (not printed); an ungrouped entry.
  Pay(1, Date(2026, 11, 2), "AI", "Aigua nov", 10000, 'N', 1);
  Pay(1, Date(2026, 11, 3), "AI", "Abonament aigua", -10000, 'N', 1);
  Pay(1, Date(2026, 11, 4), "  ", "Pintura, vestibul", 25000, 'N', 1);
  Pay(1, Date(2026, 11, 5), "RE", "Reparacio", 1234, 'N', 1);
  Pay(1, Date(2026, 11, 6), "SE", "Asseguranca", 5000, 'N', 1);
  Pay(1, Date(2026, 11, 7), "SE", "Extorn", -5000, 'N', 1);
  // Group B: one on the report date (in), one the day after (out).
  Pay(1, Date(2026, 11, 30), "NE", "Neteja", 30000, 'N', 2);
  Pay(1, Date(2026, 12, 1), "NE", "Neteja desembre", 99999, 'N', 2);
  // Particulars: flats 1 (out of range), 2 and 3, and a flat with no owner.
  Pay(1, Date(2026, 11, 8), "RE", "Persiana", 7000, 'S', 1);
  Pay(1, Date(2026, 11, 9), "RE", "Pany", 4500, 'S', 2);
  Pay(1, Date(2026, 11, 10), "AI", "Comptador", 1500, 'S', 2);
  Pay(1, Date(2026, 11, 11), "RE", "Vidre", 3300, 'S', 3);
  data_.collections = {demodata::Collection(1, 1, Date(2026, 1, 5), 20000, 0, 'C'),
                       demodata::Collection(1, 2, Date(2026, 11, 30), 15000, 500, 'I'),
                       demodata::Collection(1, 2, Date(2026, 12, 1), 88888, 0, 'C'),
                       demodata::Collection(1, 3, Date(2026, 11, 5), 77777, 0, 'R'),
                       demodata::Collection(1, 3, Date(2026, 11, 6), 1000, 0, ' ')};
  demodata::OwnerSpec debtor;
  ExpectGolden("basic.tmp", Run("30/11/2026", "1", "2", "1", "4", "1"));
}

// Pre-printed paper, no previous settlement and a balance of exactly zero.
TEST_F(ReportTest, NoLetterheadEmptyPreviousDateZeroBalance) {
  Settings({{"Membret", "N"}});
  demodata::CommunitySpec c = Community(2, "PL. DE LA VILA, 3");
  c.previous_settlement.clear();
  c.monthly_fee = 5000;  // no months elapsed: no fee
  data_.communities.push_back(demodata::Community(c));
  AddOwner(2, 1, "VIDAL SOLER*JORDI", "1r");
  Pay(2, Date(2026, 11, 2), "NE", "Neteja", 12345, 'N', 1);
  data_.collections = {demodata::Collection(2, 1, Date(2026, 11, 5), 12345, 0, 'C')};
  std::string out = Run("8/12/26", "1", "0", "999", "999", "1");
  ExpectGolden("no_letterhead.tmp", out);
  EXPECT_NE(out.find("RESUM DE DESPESES FINS AL 8 DE DESEMBRE DEL 2026"), std::string::npos);
  EXPECT_NE(out.find("DE L'ADMINISTRADOR"), std::string::npos);
  EXPECT_EQ(out.find("N.I.F."), std::string::npos);
  EXPECT_EQ(out.find("HONORARIS"), std::string::npos);
}

// Enough lines for page breaks: the dashes of a section total stay on the
// old page when the break falls before the total; a section carried over to
// a new page prints its heading again.
TEST_F(ReportTest, PageBreaks) {
  data_.communities.push_back(demodata::Community(Community(3, "C. MAJOR, 24")));
  data_.communities.push_back(demodata::Community(Community(4, "AV. DEL PARC, 112")));
  AddOwner(3, 1, "A*B", "1r");
  AddOwner(4, 1, "C*D", "1r");
  for (int i = 1; i <= 43; ++i)
    Pay(3, Date(2026, 11, 1), "  ", "Linia " + std::to_string(i), 100 * i, 'N', 1);
  for (int i = 1; i <= 50; ++i)
    Pay(4, Date(2026, 11, 1), "  ", "Linia " + std::to_string(i), 100 * i, 'N', 1);
  std::string out = Run("30/11/2026", "3", "0", "4", "999", "1");
  ExpectGolden("page_breaks.tmp", out);
  // Community 3: the rule is the last line of page 1, the total opens page 2.
  size_t rule = out.find(
      " 73 ,-----------, 1 \r\nPAGE 66 \r\n*@e\r\n 1 ,C. MAJOR, 24, 0 \r\nJUSD\r\n"
      " 85 ,P\xb7GINA    2, 2 \r\nJUSN 72 \\.\\\r\n 20 ,TOTAL SEGONS");
  EXPECT_NE(rule, std::string::npos);
  // Community 4: page 2 repeats the heading before line 46.
  size_t page2 = out.find("AV. DEL PARC, 112, 0 \r\nJUSD\r\n 85 ,P\xb7GINA    2");
  ASSERT_NE(page2, std::string::npos);
  EXPECT_LT(out.find("DESPESES < A > SEGONS COEFICIENT GENERAL :", page2),
            out.find("Linia 46", page2));
}

// Particulars by expense type, in the order the types first appear.
TEST_F(ReportTest, ParticularsByExpenseType) {
  Settings({{"NifParticularsPerTipus", "ES40871234K"}});
  data_.communities.push_back(demodata::Community(Community(5, "RBLA. CATALUNYA, 45")));
  AddOwner(5, 1, "A*B", "1r");
  AddOwner(5, 2, "C*D", "2n");
  Pay(5, Date(2026, 11, 2), "RE", "x", 1000, 'S', 1);
  Pay(5, Date(2026, 11, 2), "AI", "x", 200, 'S', 1);
  Pay(5, Date(2026, 11, 2), "RE", "x", 30, 'S', 2);
  Pay(5, Date(2026, 11, 2), "ZZ", "x", 4, 'S', 2);
  std::string out = Run("30/11/2026", "1", "0", "999", "999", "1");
  size_t re = out.find(" 20 ,Reparacions              , 0 \r\nJUSD\r\n 73 ,      10,30, 1 ");
  size_t ai = out.find(" 20 ,Aigua                    , 0 \r\nJUSD\r\n 73 ,       2,00, 1 ");
  size_t zz = out.find(" 20 ,*** despesa no defin. ***, 0 \r\nJUSD\r\n 73 ,       0,04, 1 ");
  ASSERT_NE(re, std::string::npos);
  ASSERT_NE(ai, std::string::npos);
  ASSERT_NE(zz, std::string::npos);
  // Key order reads flat 1 (AI before RE) before flat 2 (RE, then ZZ).
  EXPECT_LT(ai, re);
  EXPECT_LT(re, zz);
  EXPECT_EQ(out.find("1r        "), std::string::npos);  // no flat lines
}

// The first five communities settled after the report date, by code and
// short name, then how many more.
TEST(ReportDateWarningTest, NamesFiveThenCounts) {
  ReportContext ctx;
  for (const char* code : {"20", "21", "22", "23", "24", "25"}) {
    ctx.settled_after_report_date.push_back({code, code[1] == '1' ? std::string(25, 'L') : "N"});
  }
  EXPECT_EQ(ReportDateWarning(ctx),
            "Av\xa1s: la data de l'informe no \x82s posterior a la liquidaci\xa2 anterior de les "
            "comunitats 20 (N), 21, 22 (N), 23 (N), 24 (N) i 1 m\x82s; el per\xa1ode i els "
            "honoraris dels seus fulls no s\xa2n v\x85lids (comproveu l'any).");
}

// Only the chosen flats' particular expenses, both bounds included.
TEST_F(ReportTest, FlatRangeBoundsChooseTheParticulars) {
  data_.communities.push_back(demodata::Community(Community(1, "PARTICULARS")));
  for (int f = 1; f <= 4; ++f) {
    AddOwner(1, f, "A*F" + std::to_string(f), std::to_string(f));
    Pay(1, Date(2026, 11, 2), "RE", "x", 100 * f, 'S', f);
  }
  for (const std::string c : {"2 3 23", "3 3 3", "0 2 12"}) {  // from, to, flats printed
    const std::string out = Run("30/11/2026", "1", c.substr(0, 1), "1", c.substr(2, 1), "1");
    for (char f = '1'; f <= '4'; ++f) {
      EXPECT_EQ(out.find(std::string(" 20 ,F") + f + " A, 0 ") != std::string::npos,
                c.find(f, 4) != std::string::npos)
          << c << ": flat " << f;
    }
  }
}

TEST_F(ReportTest, RangeWithoutCommunityGivesOnlyTheDeviceLine) {
  data_.communities.push_back(demodata::Community(Community(7, "X")));
  EXPECT_EQ(Run("30/11/2026", "8", "0", "999", "999", "1"), "DEVICETXT:out.txt\r\n");
}

TEST_F(ReportTest, CopiesZeroPrintsOncePerOwnerAndLanguageTranslates) {
  Terminal("SPA", "PDF:x.pdf");
  data_.communities.push_back(demodata::Community(Community(6, "C. NOU, 1")));
  AddOwner(6, 1, "A*B", "1r");
  AddOwner(6, 2, "C*D", "2n");
  AddOwner(6, 3, "E*F", "3r");
  Pay(6, Date(2026, 11, 2), "NE", "x", 1000, 'N', 1);
  std::string out = Run("30/11/2026", "1", "0", "999", "999", "0");
  size_t n = 0;
  for (size_t at = out.find("RESUMEN DE GASTOS"); at != std::string::npos;
       at = out.find("RESUMEN DE GASTOS", at + 1)) {
    ++n;
  }
  EXPECT_EQ(n, 3u);
  EXPECT_NE(out.find("SEG\xe9N COEFICIENTE GENERAL"), std::string::npos);
  EXPECT_NE(out.find("DESDE EL 1 DE NOVIEMBRE DE 2026"), std::string::npos);
  // A run reads each text's translation once; an edited locale file counts
  // from the next run.
  const std::string lng = root_ + "LOCALE/TELVORAN.LNG";
  std::string text = ReadAll(lng);
  const size_t at = text.find("RESUMEN DE GASTOS");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 7, "SUMARIO");
  WriteAll(lng, text);
  out = Run("30/11/2026", "1", "0", "999", "999", "0");
  EXPECT_EQ(out.find("RESUMEN DE GASTOS"), std::string::npos);
  EXPECT_NE(out.find("SUMARIO DE GASTOS"), std::string::npos);
}

// Copies printed once per owner: one register entry each, naming the owner;
// named copies put the owner, flat and community on lines the first page
// has anyway, so every page and entry stays where it was.
TEST_F(ReportTest, RegisterAndNamedCopiesOncePerOwner) {
  demodata::CommunitySpec c = Community(7, "PG. DEL MAR, 9");
  c.monthly_fee = 2000;
  data_.communities.push_back(demodata::Community(c));
  demodata::OwnerSpec debtor;  // a carried balance: type 1 settles
  debtor.community = 7;
  debtor.name = "PUJOL*ANNA";
  debtor.flat_designation = "1r 1a";
  debtor.fixed_amounts[1] = 2500;
  data_.owners.push_back(demodata::Owner(debtor));
  AddOwner(7, 12, "FERRER ROCA*PERE", "2n 2a");
  Pay(7, Date(2026, 11, 2), "NE", "Neteja", 1000, 'N', 1);
  Pay(7, Date(2026, 11, 3), "RE", "Persiana", 700, 'S', 12);
  data_.collections = {demodata::Collection(7, 1, Date(2026, 11, 5), 5000, 0, 'C')};
  for (const std::string letterhead : {"S", "N"}) {
    Settings({{"Membret", letterhead}, {"Destinatari", "N"}});
    const std::string plain = Run("30/11/2026", "7", "0", "7", "999", "0");
    ExpectRegisterOf(plain);
    const std::vector<platform::StatementEntry> entries = Register(plain).entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].flat_code, "12");
    EXPECT_EQ(entries[1].owner_name, "PERE FERRER ROCA");
    EXPECT_EQ(entries[1].flat, "2n 2a");
    EXPECT_EQ(entries[1].period_from, "20261101");
    EXPECT_EQ(entries[1].period_to, "20261130");
    Settings({{"Destinatari", "S"}});
    const std::string named = Run("30/11/2026", "7", "0", "7", "999", "0");
    ExpectRegisterOf(named);
    const std::vector<std::string> plain_pages = Pages(plain), named_pages = Pages(named);
    ASSERT_EQ(named_pages.size(), plain_pages.size());
    for (const platform::StatementEntry& e : Register(named).entries) {
      const std::string& first = named_pages[static_cast<size_t>(e.first_page - 1)];
      EXPECT_NE(first.find(" 50 ," + e.owner_name + ", 1 "), std::string::npos) << first;
      EXPECT_NE(first.find(" 50 ," + e.flat + ", 1 "), std::string::npos);
      EXPECT_NE(first.find(" 50 ,PG. DEL MAR, 9, " + std::string(letterhead == "N" ? "4" : "1")),
                std::string::npos);
    }
    // The same line feeds on every page: no line was added.
    auto line_feeds = [](const std::string& page) {
      long n = 0;
      for (size_t at = page.find(", "); at != std::string::npos; at = page.find(", ", at + 1)) {
        const size_t end = page.find("\r\n", at);
        if (page.find(',', at + 1) > end) n += std::atol(page.c_str() + at + 2);
      }
      return n;
    };
    for (size_t p = 0; p < plain_pages.size(); ++p) {
      EXPECT_EQ(line_feeds(named_pages[p]), line_feeds(plain_pages[p])) << "page " << p + 1;
    }
  }
}

TEST_F(ReportTest, SumsBeyondThirtyTwoBitsAreNotWrapped) {
  data_.communities.push_back(demodata::Community(Community(8, "GRAN")));
  AddOwner(8, 1, "A*B", "1r");
  Pay(8, Date(2026, 11, 2), "NE", "x", 2000000000, 'N', 1);
  Pay(8, Date(2026, 11, 3), "AI", "x", 2000000000, 'N', 1);
  std::string out = Run("30/11/2026", "1", "0", "999", "999", "1");
  // 40,000,000.00 euros does not fit the six integer positions: plain form.
  EXPECT_NE(out.find(" 73 ,40000000,00, 2 "), std::string::npos) << out;
  // The balance's plain form is one character too long: it is cut at the
  // mask's width, as the edit masks do with every overflowing number.
  EXPECT_NE(out.find(" 85 ,-40000000,0, 1 "), std::string::npos);
}

// Every record manager call of a print run fails in turn (call 1, then 2,
// 3, ... until no call is left to fail), with an I/O error and with a lock:
// a run either prints exactly what a run without faults prints or reports
// the read failure with no print file left to hand on, never statements
// with records missing. The same for every write of the print file and its
// close. A lookup that finds no key is not a failure (missing expense types
// print their default text).
TEST_F(ReportTest, FaultSweepPrintsAllOrNothing) {
  data_.communities.push_back(demodata::Community(Community(8, "GRAN")));
  AddOwner(8, 1, "A*B", "1r");
  AddOwner(8, 2, "C*D", "2n");
  Pay(8, Date(2026, 11, 2), "NE", "x", 1000, 'N', 1);
  Pay(8, Date(2026, 11, 3), "XX", "no such type", 2000, 'N', 1);
  Pay(8, Date(2026, 11, 4), "AI", "x", 3000, 'N', 1);
  const std::string reference = Run("30/11/2026", "1", "0", "999", "999", "1");
  ASSERT_NE(reference.find("*** despesa no defin. ***"), std::string::npos);
  const std::string print_file = root_ + "tmp/zizavezu.tmp";

  // One print run under env; the result and the message.
  auto run = [&](platform::Env& env, const std::function<void()>& arm, std::string* message) {
    platform::ScopedEnvOverride use(&env);
    ReportContext ctx;
    EXPECT_TRUE(StartUp(ctx));
    ReportParameters p;
    EXPECT_TRUE(ConvertParameters("30/11/2026", "1", "0", "999", "999", "1", &p));
    arm();
    const PrintRunResult r = RunPrintRun(ctx, p, false, nullptr, message);
    datafiles::SetRecordManager(nullptr);
    datafiles::Status st = 0;
    datafiles::RecordFilesReset(st);
    return r;
  };

  for (platform::Status failure : {recmgr::kIoError, recmgr::kRecordLocked}) {
    int n = 1;
    for (;; ++n) {
      std::unique_ptr<testsupport::RecordManagerFaults> faults;
      std::string message;
      const PrintRunResult r = run(
          env_, [&] { faults = std::make_unique<testsupport::RecordManagerFaults>(n, failure); },
          &message);
      const bool fired = faults->fired();
      faults.reset();
      if (!fired) break;
      if (r == PrintRunResult::kOk) {
        EXPECT_EQ(ReadAll(print_file), reference) << "call " << n << " failed with " << failure;
        continue;
      }
      EXPECT_EQ(r, PrintRunResult::kDataReadFailed) << "call " << n;
      EXPECT_NE(message.find("No es pot llegir DADES\\"), std::string::npos) << message;
      EXPECT_NE(message.find("(estat " + std::to_string(failure) + ")"), std::string::npos)
          << message;
      EXPECT_FALSE(std::ifstream(print_file).good()) << "call " << n;
    }
    EXPECT_GT(n, 20) << "the sweep reached too few calls";
  }

  for (auto call : {testsupport::WriteFaultEnv::Call::kAppend,
                    testsupport::WriteFaultEnv::Call::kClose}) {
    testsupport::WriteFaultEnv env(&env_);
    env.set_path_filter("zizavezu.tmp");
    for (int n = 1;; ++n) {
      env.FailAt(call, n);
      std::string message;
      const PrintRunResult r = run(env, [] {}, &message);
      if (!env.fired()) {
        EXPECT_EQ(r, PrintRunResult::kOk) << message;
        EXPECT_EQ(ReadAll(print_file), reference);
        break;
      }
      EXPECT_EQ(r, PrintRunResult::kPrintFileFailed) << "write " << n;
      EXPECT_FALSE(std::ifstream(print_file).good()) << "write " << n;
    }
  }
}

// How the print program's end reads: one that failed, or was ended by a
// signal, leaves the user on the form to try again; what it said, when it
// was captured, is the message (its last line); a stop before it or while it
// runs hands nothing on and leaves no print file.
TEST_F(ReportTest, ThePrintProgramsEndDecidesTheResult) {
  data_.communities.push_back(demodata::Community(Community(8, "GRAN")));
  AddOwner(8, 1, "A*B", "1r");
  std::string error;
  ASSERT_TRUE(WriteData(&error)) << error;
  const std::string said = "ZIZAVEZU: warning\nZIZAVEZU: 1 p\xc3\xa0gina a /t/s.pdf\n\n";
  const struct {
    int code;
    bool capture;
    int stop_at;  // the call of stop_requested that says true; 0: none does
    PrintRunResult result;
    const char* text;  // in the message; captured, the whole message
    size_t runs;
    const char* output = nullptr;  // what the print program said, when not said
  } cases[] = {
      {0, false, 0, PrintRunResult::kOk, "", 1},
      {3, false, 0, PrintRunResult::kPrintProgramFailed, "ha acabat amb l'estat 3", 1},
      {platform::Env::kEndedBySignal, false, 0, PrintRunResult::kPrintProgramFailed,
       "s'ha aturat per un senyal", 1},
      {platform::Env::kNotStarted, false, 0, PrintRunResult::kPrintProgramMissing,
       "No es pot engegar el programa", 1},
      {0, true, 0, PrintRunResult::kOk, "ZIZAVEZU: 1 p\x85gina a /t/s.pdf", 1},
      {3, true, 0, PrintRunResult::kPrintProgramFailed, "ZIZAVEZU: 1 p\x85gina a /t/s.pdf", 1},
      {0, true, 1, PrintRunResult::kStopped, "", 0},  // before the first statement
      {0, true, 2, PrintRunResult::kStopped, "", 1},  // while the print program runs
      // after it handed the pages to lp: they may print all the same
      {0, true, 2, PrintRunResult::kStopped,
       "La impressi\xa2 s'ha aturat, per\xa2 el programa d'impressi\xa2 ja havia enviat les "
       "p\x85gines a la impressora: mireu-ne la cua",
       1, "ZIZAVEZU: [lp] s'envia /t/s.pdf a la impressora x\nrequest id is x-1\n"},
  };
  for (const auto& c : cases) {
    platform::FakeEnv env;
    env.SetToday({2026, 12, 8});
    env.SetVar("ZELROOT", root_);
    env.SetVar("ZELTMP", root_ + "tmp/");
    env.SetVar("ZELEXE", root_ + "bin/");
    platform::ScopedEnvOverride use(&env);
    ReportContext ctx;
    StartUp(ctx);
    env.SetRunResult(c.code);
    env.SetRunOutput(c.output != nullptr ? c.output : said);
    ctx.capture_print_program = c.capture;
    int calls = 0;
    if (c.stop_at > 0) {
      ctx.stop_requested = [&](const platform::Env::HoldProgram&) { return ++calls == c.stop_at; };
    }
    ReportParameters p;
    ASSERT_TRUE(ConvertParameters("30/11/2026", "1", "0", "999", "999", "1", &p));
    std::string message;
    EXPECT_EQ(RunPrintRun(ctx, p, true, nullptr, &message), c.result) << c.code;
    if (c.capture) {
      EXPECT_EQ(message, c.text);
    } else {
      EXPECT_NE(message.find(c.text), std::string::npos) << message;
    }
    EXPECT_EQ(env.runs().size(), c.runs) << c.code;
    // Only a successful run leaves a print file.
    EXPECT_EQ(env.FileExists(PrintFilePath(ctx.settings)), c.result == PrintRunResult::kOk);
    datafiles::Status st = 0;
    datafiles::RecordFilesReset(st);
  }
}

// The carried balance counts only the owner amounts of receipt types whose
// settlement flag is 1; a receipt type with no record never counts.
TEST_F(ReportTest, CarriedBalanceFromSettlingReceiptTypes) {
  data_.receipt_types.push_back(demodata::ReceiptType(
      static_cast<uint8_t>(demodata::Code(10, 2)[0]), 1));  // additional type 10 settles
  data_.communities.push_back(demodata::Community(Community(9, "SALDO")));
  for (int f = 1; f <= 3; ++f) {
    demodata::OwnerSpec o;
    o.community = 9;
    o.flat = f;
    o.name = "OWNER*" + std::to_string(f);
    o.fixed_amounts[1] = 1000 * f;  // type 1 settles: counts
    o.fixed_amounts[2] = 500;       // type 2 does not
    o.fixed_amounts[3] = 700;       // type 3 has no record
    o.extra_types[1] = 10;
    o.extra_amounts[1] = 20;  // counts
    o.extra_types[2] = 11;    // no record
    o.extra_amounts[2] = 9999;
    data_.owners.push_back(demodata::Owner(o));
  }
  Pay(9, Date(2026, 11, 2), "NE", "x", 100, 'N', 1);
  std::string out = Run("30/11/2026", "1", "0", "999", "999", "1");
  // -(1000 + 2000 + 3000) - 3 x 20 = -60,60
  EXPECT_NE(out.find("R\xe3SSEC LIQUIDACI\xe0 ANTERIOR , 0 \r\nJUSD\r\n 85 ,     -60,60, 2 "),
            std::string::npos);
  // Balance: -60,60 + 0 - 1,00
  EXPECT_NE(out.find(" 85 ,     -61,60, 1 "), std::string::npos);
}

// The last fixed receipt type, 8, counts when it settles, as the others do.
TEST_F(ReportTest, CarriedBalanceCountsTheLastFixedReceiptType) {
  data_.receipt_types.push_back(demodata::ReceiptType(8, 1));
  data_.communities.push_back(demodata::Community(Community(9, "SALDO")));
  demodata::OwnerSpec o;
  o.community = 9;
  o.flat = 1;
  o.name = "OWNER*1";
  o.fixed_amounts[7] = 300;   // type 7 has no record: does not count
  o.fixed_amounts[8] = 4200;  // type 8 settles: counts
  data_.owners.push_back(demodata::Owner(o));
  Pay(9, Date(2026, 11, 2), "NE", "x", 100, 'N', 1);
  std::string out = Run("30/11/2026", "1", "0", "999", "999", "1");
  EXPECT_NE(out.find("R\xe3SSEC LIQUIDACI\xe0 ANTERIOR , 0 \r\nJUSD\r\n 85 ,     -42,00, 2 "),
            std::string::npos);
  // Balance: -42,00 + 0 - 1,00
  EXPECT_NE(out.find(" 85 ,     -43,00, 1 "), std::string::npos);
}

// Two copies of two communities whose owners share flat codes: each
// statement names its own community's owners, a flat without owner and an
// unknown expense type read as such on every copy, and the collections of
// each owner are its own whatever lies between owners in the collection file
// (later collections, collections of flats without owner, a run of them
// longer than a few, the end of the file).
TEST_F(ReportTest, LookupsAndCollectionsOverCopiesAndCommunities) {
  data_.communities.push_back(demodata::Community(Community(10, "DEU")));
  data_.communities.push_back(demodata::Community(Community(11, "ONZE")));
  AddOwner(10, 1, "PRIMER*DEU", "1r");
  AddOwner(10, 4, "QUART*DEU", "4t");
  AddOwner(11, 1, "PRIMER*ONZE", "1r");
  AddOwner(11, 2, "SEGON*ONZE", "2n");
  AddOwner(11, 3, "TERCER*ONZE", "3r");
  for (int c : {10, 11}) {
    Pay(c, Date(2026, 11, 2), "ZZ", "x", 100, 'N', 1);
    Pay(c, Date(2026, 11, 2), "RE", "x", 200, 'S', 1);
  }
  Pay(10, Date(2026, 11, 2), "RE", "x", 300, 'S', 3);  // no owner
  Pay(10, Date(2026, 11, 2), "RE", "x", 400, 'S', 4);
  data_.collections = {demodata::Collection(10, 1, Date(2026, 11, 1), 1000, 0, 'C'),
                       demodata::Collection(10, 1, Date(2026, 12, 2), 2000, 0, 'C'),
                       demodata::Collection(10, 2, Date(2026, 11, 1), 4000, 0, 'C'),
                       demodata::Collection(10, 4, Date(2026, 11, 1), 300, 50, 'I'),
                       demodata::Collection(11, 1, Date(2026, 11, 1), 700, 0, 'C'),
                       demodata::Collection(11, 1, Date(2026, 12, 5), 8000, 0, 'C'),
                       demodata::Collection(11, 2, Date(2026, 11, 3), 500, 0, 'C')};
  for (int d = 1; d <= 9; ++d) {
    data_.collections.push_back(demodata::Collection(10, 3, Date(2026, 11, d), 90000, 0, 'C'));
  }
  const std::string out = Run("30/11/2026", "1", "0", "999", "999", "2");
  auto count = [&out](const std::string& text) {
    size_t n = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("*** despesa no defin. ***"), 4u);
  EXPECT_EQ(count(" 6 ,          , 0 \r\n 20 ,*** pis inexistent ***, 0 "), 2u);
  EXPECT_EQ(count(" 6 ,4t        , 0 \r\n 20 ,DEU QUART, 0 "), 2u);
  EXPECT_EQ(count(" 6 ,1r        , 0 \r\n 20 ,DEU PRIMER, 0 "), 2u);
  EXPECT_EQ(count(" 6 ,1r        , 0 \r\n 20 ,ONZE PRIMER, 0 "), 2u);
  const std::string collected = " 20 ,TOTAL COBRAMENTS , 0 \r\nJUSD\r\n 85 ,";
  const size_t eleven = out.find("(11) ONZE");
  ASSERT_NE(eleven, std::string::npos);
  // 10,00 + 3,00 - 0,50 in community 10; 7,00 + 5,00 in community 11.
  EXPECT_EQ(count(collected + "      12,50, 1 "), 2u);
  EXPECT_EQ(count(collected + "      12,00, 1 "), 2u);
  EXPECT_LT(out.find(collected + "      12,50, 1 "), eleven);
  EXPECT_GT(out.find(collected + "      12,00, 1 "), eleven);
}

TEST(ReportArithmeticTest, RoundedPercentTiesToEven) {
  struct {
    float rate;
    int64_t base;
    int64_t want;
  } cases[] = {
      {21.0f, 50, 10},
      {21.0f, 150, 32},
      {15.0f, 150, 22},
      {12.5f, 100, 12},
      {13.5f, 100, 14},
      {21.0f, -150, -32},
      {0.0f, 1000, 0},
      {21.0f, 0, 0},
      {16.9f, 1000000, 169000},  // 16.9f is a little below 16.9: 168999.996... -> 169000
      {21.0f, 4000000000000LL, 840000000000LL},
      {7.0f, 1, 0},
      {50.0f, 1, 0},
      {150.0f, 1, 2},
      {50.0f, 3, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundedPercent(c.rate, c.base), c.want) << c.rate << " x " << c.base;
  }
  EXPECT_EQ(ComputeFee(150, 21.0f, 15.0f), 160);
  // Rates and bases past any amount a statement can show are held at the
  // limit instead of wrapping (and print in the overflow form).
  EXPECT_EQ(ComputeFee(162000, 1e30f, 0.0f), kFeeLimit);
  EXPECT_EQ(ComputeFee(162000, 0.0f, 1e30f), -kFeeLimit);
  EXPECT_EQ(ComputeFee(kFeeLimit, 21.0f, 15.0f), kFeeLimit);
  EXPECT_EQ(FeeBase(3, 54000, 10), 1620000);
  EXPECT_EQ(FeeBase(int64_t{1} << 32, INT32_MAX, 120000), kFeeLimit);
  EXPECT_EQ(FeeBase(int64_t{1} << 32, INT32_MIN, 120000), -kFeeLimit);
  EXPECT_EQ(StatementAmount(kFeeLimit), std::string(11, '!'));
}

TEST(ReportArithmeticTest, WithholdingOnlyBetweenAProfessionalAndAnEntity) {
  EXPECT_TRUE(WithholdingApplies("ES40871234K", "ESH08000001"));
  EXPECT_TRUE(WithholdingApplies("ESX1234567L", "ESA08000001"));
  EXPECT_FALSE(WithholdingApplies("ESB08000001", "ESH08000001"));  // a company administrator
  EXPECT_FALSE(WithholdingApplies("ES40871234K", "ES40000001A"));  // a person's community id
  EXPECT_FALSE(WithholdingApplies("FR40871234K", "ESH08000001"));
  EXPECT_FALSE(WithholdingApplies("ES40871234K", "ESZ08000001"));
  EXPECT_FALSE(WithholdingApplies("", ""));
}

}  // namespace
}  // namespace driver
