#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "config/locale.h"
#include "config/settings.h"
#include "console/form_engine.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "datafiles/record_file.h"
#include "driver/form_file.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/print_channel.h"
#include "driver/program.h"
#include "driver/records.h"
#include "driver/report_context.h"
#include "driver/report_files.h"
#include "format/currency.h"
#include "format/dates.h"
#include "format/packed.h"
#include "platform/console.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "testsupport/scratch_dir.h"

namespace driver {
namespace {

TEST(NumericValueTest, Table) {
  struct {
    const char* text;
    double value;
  } cases[] = {{"21", 21},   {" 21 ", 21}, {"21.5", 21.5}, {"-3", -3},   {"1 2", 12},
               {"", 0},      {"abc", 0},   {"7x", 7},      {"2E2", 200}, {"1e999", 0},
               {"+.5", 0.5}, {"21,5", 21}, {"--1", 0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(NumericValue(c.text), c.value) << c.text;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    testsupport::WriteFile(dir_.File("Nuva.ini"), text);
    return dir_.File("Nuva.ini");
  }
  testsupport::ScratchDir dir_{"telvoran-module"};
};

TEST_F(SettingsFileTest, FeeSettingsWithDefaults) {
  FeeSettings f =
      ReadFeeSettings(Write("[Rebut]\nMembret=N\n[Iva0]\nHonoraris=21\n"
                            "[Ret1]\nHonoraris= 7.5\n"));
  EXPECT_EQ(f.letterhead_switch, "N");
  EXPECT_FLOAT_EQ(f.vat[0], 21);
  EXPECT_FLOAT_EQ(f.vat[1], 0);  // missing key: no VAT
  EXPECT_FLOAT_EQ(f.withholding[0], 0);
  EXPECT_FLOAT_EQ(f.withholding[1], 7.5);
  FeeSettings none = ReadFeeSettings(dir_.File("missing.ini"));
  EXPECT_EQ(none.letterhead_switch, "");
  EXPECT_FLOAT_EQ(none.vat[0], 0);
}

TEST_F(SettingsFileTest, AdministratorIdentityAndByTypeSwitch) {
  std::string path =
      Write("[Administrador]\nNom=MARTA\nAdreca1=" + std::string(40, 'x') +
            "\nNIF=ES40871234K\nPoblacio=Sabadell\nNifParticularsPerTipus=ES40871234K\n");
  AdministratorIdentity id = ReadAdministratorIdentity(path);
  EXPECT_EQ(id.item[1], "MARTA" + std::string(30, ' '));
  EXPECT_EQ(id.item[2], std::string(35, 'x'));
  EXPECT_EQ(id.item[6], std::string(35, ' '));
  EXPECT_EQ(id.item[8].substr(0, 8), "Sabadell");
  EXPECT_TRUE(id.particulars_by_type);
  Write("[Administrador]\nNIF=ES40871234K\nNifParticularsPerTipus=ES40871234X\n");
  EXPECT_FALSE(ReadAdministratorIdentity(path).particulars_by_type);
  Write("[Administrador]\nNIF=\nNifParticularsPerTipus=\n");
  EXPECT_FALSE(ReadAdministratorIdentity(path).particulars_by_type);  // blank never matches
}

// A form set with the six parameter fields and the confirmation field.
class HooksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ParseFormFile(
        "2,6\r\n\"d,1b\",6,0,1,1,10,70\r\n"
        "1,1,D,10,0,0,0,1,0,\r\n2,1,C,3,0,0,0,2,1,\r\n2,9,F,3,0,0,0,2,2,\r\n"
        "3,1,C,3,0,0,0,2,1,\r\n3,9,F,3,0,0,0,2,3,\r\n4,1,N,3,0,0,0,2,0,\r\n"
        "\"d,1b\",1,0,12,1,14,40\r\n1,1,S,1,0,0,0,0,0,\r\n0\r\n",
        nullptr, &console::Forms());
    env_.SetToday({2026, 12, 8});
    use_ = std::make_unique<platform::ScopedEnvOverride>(&env_);
    PresetParameterForm(format::PackDigits("20261208"));
  }
  void TearDown() override {
    SetFormEngine({});
    use_.reset();
  }
  platform::FakeEnv env_;
  std::unique_ptr<platform::ScopedEnvOverride> use_;
};

TEST_F(HooksTest, PresetValuesAreFixedWidth) {
  const console::FormSet& f = console::Forms();
  EXPECT_EQ(f.Value(1, 1), "081226    ");
  EXPECT_EQ(f.Value(1, 2), "1  ");
  EXPECT_EQ(f.Value(1, 3), "0  ");
  EXPECT_EQ(f.Value(1, 4), "999");
  EXPECT_EQ(f.Value(1, 6), "1  ");
}

TEST_F(HooksTest, AcceptanceConvertsAndAsksForConfirmation) {
  std::string answer = "S";
  int runs = 0;
  SetFormEngine({[&](int16_t form) {
                   ++runs;
                   EXPECT_EQ(form, kConfirmForm);
                   EXPECT_EQ(console::Forms().Value(2, 1), " ");  // cleared first
                   console::Forms().SetValue(2, 1, answer);
                   return int16_t{13};
                 },
                 nullptr});
  ReportParameters p;
  EXPECT_EQ(AcceptParameterForm(1, 13, &p), 0);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(format::UnpackDigits(p.report_date), "20261208");
  EXPECT_EQ(format::UnpackDigits(p.range_from_key), "00010000");
  EXPECT_EQ(format::UnpackDigits(p.range_to_key), "09990999");
  EXPECT_EQ(p.copies_per_community, 1);

  answer = "N";  // anything else goes back to the form with the values kept
  EXPECT_EQ(AcceptParameterForm(1, 13, &p), -1);
  answer = "s";
  EXPECT_EQ(AcceptParameterForm(1, 13, &p), -1);
  EXPECT_EQ(console::Forms().Value(1, 4), "999");

  // Esc and other forms leave at once, without confirmation.
  runs = 0;
  EXPECT_EQ(AcceptParameterForm(1, console::kKeyEsc, &p), 0);
  EXPECT_EQ(AcceptParameterForm(2, 13, &p), 0);
  EXPECT_EQ(runs, 0);

  // A lower bound above the upper one keeps the user in the form, with the
  // beep of a refused value (the confirmations above never beep).
  platform::MemoryConsole console;
  platform::ScopedConsoleOverride use_console(&console);
  answer = "S";
  EXPECT_EQ(AcceptParameterForm(1, 13, &p), 0);
  EXPECT_EQ(console.beeps(), 0);
  runs = 0;
  console::Forms().SetValue(1, 2, "5");
  console::Forms().SetValue(1, 4, "4");
  EXPECT_EQ(AcceptParameterForm(1, 13, &p), -1);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(console.beeps(), 1);
}

TEST_F(HooksTest, BrowseHooksUseTheRecordBuffers) {
  ReportBuffers b;
  b.community.replace(0, 2, format::PackDigits("0123"));
  SetFieldText(b.community, 6, 30, "ROSES, 7*EDIFICI LES");
  b.owner.replace(0, 4, format::PackDigits("01230045"));
  SetFieldText(b.owner, 8, 30, "PUJOL*JOAN");
  SetFieldText(b.owner, 38, 10, "1r 1a");
  EXPECT_EQ(BrowseLine(1, b), "123  ROSES, 7*EDIFICI LES          ");
  EXPECT_EQ(BrowseLine(2, b), "045  PUJOL*JOAN" + std::string(20, ' ') + "  1r 1a     ");
  EXPECT_EQ(BrowseLine(3, b), BrowseLine(2, b));
  EXPECT_EQ(BrowseLine(4, b), "");

  EXPECT_EQ(TransferBrowseChoice(1, 1, 2, b), 0);
  EXPECT_EQ(console::Forms().Value(1, 2), "123");
  EXPECT_EQ(TransferBrowseChoice(3, 1, 5, b), 0);
  EXPECT_EQ(console::Forms().Value(1, 5), "045");
  EXPECT_EQ(TransferBrowseChoice(9, 1, 5, b), 0);
  EXPECT_EQ(console::Forms().Value(1, 5), "045");

  std::string k1, k2;
  console::Forms().SetValue(1, 2, "12");
  EXPECT_EQ(BrowseStartKey(2, &k1, &k2), 0);
  EXPECT_EQ(format::UnpackDigits(k1), "0012");
  EXPECT_EQ(k1, k2);
  EXPECT_EQ(BrowseStartKey(1, &k1, &k2), 0);
  EXPECT_EQ(k1, "");
}

// The report loop on a memory console, with the demo installation's forms
// and file definitions and a form engine that stands in for the user: the
// data files are created empty at start-up and one community is added.
class ReportLoopTest : public ::testing::Test {
 protected:
  // The print program's start, with the console's last row at that moment.
  class PrintProgramEnv : public platform::FakeEnv {
   public:
    using platform::FakeEnv::FakeEnv;
    int RunProgramCaptured(const std::string& program, const std::vector<std::string>& args,
                           std::string* output, const StopCheck& stop) override {
      last_row_at_run.push_back(console->RowText(console->Rows()));
      return platform::FakeEnv::RunProgramCaptured(program, args, output, stop);
    }
    platform::MemoryConsole* console = nullptr;
    std::vector<std::string> last_row_at_run;
  };

  void SetUp() override {
    std::string source = __FILE__;
    source.resize(source.rfind("/driver/"));
    root_ = scratch_.path();
    std::filesystem::copy(source + "/sample", root_, std::filesystem::copy_options::recursive);
    for (const char* d : {"tmp", "DADES", "bin"}) ::mkdir((root_ + d).c_str(), 0777);
    std::ofstream(root_ + "bin/ZIZAVEZU");  // runs are faked; it must be there
    std::ofstream(root_ + "tmp/NuvaTerm.ini", std::ios::binary)
        << "[Sistema]\r\nData=20261208\r\nSortida=TXT:out.txt\r\nIdioma=CAT\r\n";
    env_.SetVar("ZELROOT", root_);
    env_.SetVar("ZELTMP", root_ + "tmp/");
    env_.SetVar("ZELEXE", root_ + "bin/");
    env_.console = &console_;
    // The data files are named relative to the root, which start-up makes
    // the current directory; the engine resolves them on the host.
    char cwd[4096];
    cwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    EXPECT_EQ(::chdir(root_.c_str()), 0);
    use_env_ = std::make_unique<platform::ScopedEnvOverride>(&env_);
    use_console_ = std::make_unique<platform::ScopedConsoleOverride>(&console_);
    console::ResetScreenState();
  }

  void Start() {
    StartUp(ctx_);
    AddCommunity(1, "PL. DE LA VILA, 3");
  }

  void TearDown() override {
    SetFormEngine({});
    datafiles::SetRecordManager(nullptr);
    datafiles::Status st = 0;
    datafiles::RecordFilesReset(st);
    format::SetCurrency("");
    console::ResetScreenState();
    use_console_.reset();
    use_env_.reset();
    EXPECT_EQ(::chdir(cwd_.c_str()), 0);
  }

  void AddCommunity(int code, const std::string& name) {
    std::string record(kCommunitySize, ' ');
    record.replace(
        0, 2, format::PackDigits(std::string(code < 10 ? "000" : "00") + std::to_string(code)));
    record.replace(160, 4, format::PackDigits("20260630"));
    SetFieldText(record, 6, 30, name);
    uint8_t block[recmgr::kPositionBlockSize] = {};
    std::string path = root_ + "DADES/FinquesH.dat";
    std::string owner(5, '\0');
    uint32_t length = 5;
    ASSERT_EQ(recmgr::RecordManagerCall(recmgr::kOpOpen, block, owner.data(), &length, path.data(),
                                        static_cast<uint8_t>(path.size()), 0),
              0);
    int64_t failed = -1;
    EXPECT_EQ(recmgr::InsertAll(block, std::vector<std::string>{record}, &failed), 0);
    uint32_t zero = 0;
    recmgr::RecordManagerCall(recmgr::kOpClose, block, nullptr, &zero, nullptr, 0, 0);
  }

  // Stands in for the form engine: form 1 ends with each of keys in turn,
  // going through the acceptance check as the engine does; form 2 is
  // answered "S". before_form runs each time form 1 is shown.
  void UseForms(std::vector<int16_t> keys, std::function<void(int)> before_form) {
    SetFormEngine({[this, keys, before_form](int16_t form) -> int16_t {
                     if (form == kConfirmForm) {
                       console::Forms().SetValue(kConfirmForm, 1, "S");
                       return 13;
                     }
                     const int shown = forms_shown_++;
                     before_form(shown);
                     int16_t key = keys.at(static_cast<size_t>(shown));
                     EXPECT_EQ(AcceptParameterForm(form, key), 0);
                     return key;
                   },
                   nullptr});
  }

  testsupport::ScratchDir scratch_{"telvoran-loop"};
  std::string root_;
  std::string cwd_;
  PrintProgramEnv env_;
  platform::MemoryConsole console_;
  ReportContext ctx_;
  std::unique_ptr<platform::ScopedEnvOverride> use_env_;
  std::unique_ptr<platform::ScopedConsoleOverride> use_console_;
  int forms_shown_ = 0;
};

TEST_F(ReportLoopTest, StartUpHidesTheCursorEntersTheRootAndOpensTheFilesInOrder) {
  std::vector<std::string> opened;
  datafiles::SetRecordManager([&](uint16_t op, uint8_t* block, void* data, uint32_t* length,
                                  void* key, uint8_t key_length, int8_t key_number) {
    if (op == recmgr::kOpOpen) {
      opened.emplace_back(static_cast<const char*>(key), key_length);
    }
    return recmgr::RecordManagerCall(op, block, data, length, key, key_length, key_number);
  });
  console_.SetCursorShape(50);
  StartUp(ctx_);
  EXPECT_EQ(console_.CursorShape(), 0);
  EXPECT_EQ(env_.current_directory(), root_);
  std::vector<std::string> in_order;
  for (const std::string& name : opened) {
    if (in_order.empty() || in_order.back() != name) in_order.push_back(name);
  }
  EXPECT_EQ(in_order, (std::vector<std::string>{"DADES\\TDespesa.dat", "DADES\\THRebut.dat",
                                                "DADES\\FinquesH.dat", "DADES\\FinDespH.dat",
                                                "DADES\\PropietH.dat", "DADES\\PagamH.dat",
                                                "DADES\\CobramH.dat"}));
  // The parameter form preset from the working date, the fee settings read.
  EXPECT_EQ(console::Forms().Value(kParameterForm, kFieldReportDate), "081226    ");
  EXPECT_EQ(console::Forms().Value(kParameterForm, kFieldToFlat), "999 ");
  EXPECT_EQ(ctx_.fees.letterhead_switch, "S");
  EXPECT_FLOAT_EQ(ctx_.fees.vat[1], 10);
  EXPECT_FLOAT_EQ(ctx_.fees.withholding[0], 15);
}

TEST_F(ReportLoopTest, ClearsOnceAndShowsTheFormAgainOnTheScreenItLeft) {
  Start();
  const std::string blank_row(80, ' ');
  console::Locate(3, 1);
  console::Print("BEFORE THE LOOP");
  UseForms({13, 13, console::kKeyEsc}, [&](int shown) {
    if (shown == 0) {
      // The screen is cleared before the form is first shown.
      EXPECT_EQ(console_.RowText(3), blank_row);
      console::Locate(1, 30);
      console::Print("MENU TITLE");  // what the form leaves behind it
      return;
    }
    // After each print run: nothing cleared, the progress row gone.
    EXPECT_NE(console_.RowText(1).find("MENU TITLE"), std::string::npos) << shown;
    EXPECT_EQ(console_.RowText(25), blank_row) << shown;
    EXPECT_EQ(console::WindowDepth(), 0);
  });
  EXPECT_EQ(RunSettlementReport(ctx_), 0);
  EXPECT_EQ(forms_shown_, 3);

  // One print program run per accepted form, the progress row showing
  // while it runs.
  ASSERT_EQ(env_.runs().size(), 2u);
  EXPECT_EQ(env_.runs()[0].program, config::ModuleSettings().program_dir + "ZIZAVEZU");
  EXPECT_TRUE(env_.runs()[0].args.empty());
  ASSERT_EQ(env_.last_row_at_run.size(), 2u);
  EXPECT_EQ(env_.last_row_at_run[1].substr(0, 22), "EL PROGRAMA D'IMPRESSI");
  EXPECT_TRUE(env_.last_row_at_run[1].ends_with(" ESC: ATURAR")) << env_.last_row_at_run[1];
  EXPECT_FALSE(platform::CurrentEnv().FileExists(console::WindowStackPath()));
}

// Esc during a print run asks whether to stop: the letter of "S" stops it
// (nothing handed on, no print file, the form back), any other key lets it
// go on; then what the print program said is shown until a key is pressed.
TEST_F(ReportLoopTest, EscAsksToStopTheRunAndTheOutcomeIsShown) {
  Start();
  env_.SetRunOutput("ZIZAVEZU: 1 p\xc3\xa0gina escrita a /tmp/s.pdf\n");
  const struct {
    uint8_t answer;
    size_t runs;
    bool outcome_shown;
  } cases[] = {{'s', 0, false}, {'N', 1, true}};
  for (const auto& c : cases) {
    forms_shown_ = 0;
    env_.ClearRuns();
    // What the screen shows each time the module waits for a key, and the
    // key then pressed.
    std::vector<std::pair<std::string, uint8_t>> waits = {
        {"Voleu aturar la impressi\xc3\xb3? (S/N)", c.answer}};
    if (c.outcome_shown) waits.push_back({"ZIZAVEZU: 1 p\xc3\xa0gina escrita a /tmp/s.pdf", 13});
    size_t waited = 0;
    console_.set_idle_limit(3);
    console_.set_idle_hook([&] {
      ASSERT_LT(waited, waits.size()) << "an unexpected wait for a key";
      EXPECT_NE(console_.Dump().find(waits[waited].first), std::string::npos) << console_.Dump();
      console_.PushChar(waits[waited++].second);
    });
    console_.PushChar(27);  // typed as the run starts
    UseForms({13, console::kKeyEsc}, [](int) {});
    EXPECT_EQ(RunSettlementReport(ctx_), 0);
    EXPECT_EQ(waited, waits.size());
    EXPECT_EQ(env_.runs().size(), c.runs) << c.answer;
    EXPECT_EQ(platform::CurrentEnv().FileExists(PrintFilePath(ctx_.settings)), c.runs == 1);
    EXPECT_EQ(forms_shown_, 2);
    EXPECT_EQ(console::WindowDepth(), 0);
    console_.set_idle_hook(nullptr);
  }
}

// In every language of the installation's locale, the letters the
// confirmation's prompt offers, "(S/N)" or its translation, pick the answers
// that print and that do not.
TEST_F(ReportLoopTest, ConfirmationPromptLettersPickTheirAnswers) {
  StartUp(ctx_);
  console::FormHooks hooks;
  hooks.completion = [](int16_t, int16_t) { return int16_t{0}; };
  console::SetFormHooks(hooks);
  for (const char* language : {"CAT", "GLG", "OCI", "SPA"}) {
    config::ModuleSettings().language = language;
    ASSERT_EQ(LoadModuleForms(
                  FormFilePath(config::ModuleSettings()),
                  [](const std::string& t) { return config::Translate(t); }, &console::Forms()),
              "");
    const std::string prompt = console::Forms().Field(kConfirmForm, 1).label;
    const size_t open = prompt.rfind('(');
    ASSERT_NE(open, std::string::npos) << language << ": " << prompt;
    ASSERT_EQ(prompt.substr(open + 2, 1), "/") << language << ": " << prompt;
    ASSERT_EQ(prompt.substr(open + 4, 1), ")") << language << ": " << prompt;
    for (const auto& [letter, answer] : {std::pair{prompt[open + 1], "S"}, {prompt[open + 3], "N"}}) {
      console::Forms().SetValue(kConfirmForm, 1, "");
      console_.PushChar(static_cast<uint8_t>(letter));
      console_.PushChar(13);
      int16_t form = kConfirmForm, up = 0, down = 0, key = 0;
      console::RunForm(form, up, down, key);
      EXPECT_EQ(console::Forms().Value(kConfirmForm, 1), answer)
          << language << ": " << letter << " in " << prompt;
    }
  }
  console::SetFormHooks({});
}

TEST_F(ReportLoopTest, EscOrAFormThatComesBackAtOnceEndsTheLoop) {
  Start();
  for (int16_t key : {console::kKeyEsc, int16_t{0}}) {
    forms_shown_ = 0;
    UseForms({key}, [](int) {});
    EXPECT_EQ(RunSettlementReport(ctx_), 0) << key;
    EXPECT_EQ(forms_shown_, 1) << key;
  }
  EXPECT_TRUE(env_.runs().empty());
}

}  // namespace
}  // namespace driver
