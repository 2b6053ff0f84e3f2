#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "console/form_set.h"
#include "driver/form_file.h"
#include "driver/module_hooks.h"
#include "driver/module_state.h"
#include "driver/records.h"
#include "driver/report_files.h"
#include "format/dates.h"
#include "format/packed.h"
#include "platform/fake_env.h"

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
  void SetUp() override {
    char tmpl[] = "/tmp/telvoran-module-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    dir_ += "/";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Write(const std::string& text) {
    std::ofstream(dir_ + "Nuva.ini", std::ios::binary) << text;
    return dir_ + "Nuva.ini";
  }
  std::string dir_;
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
  FeeSettings none = ReadFeeSettings(dir_ + "missing.ini");
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
  EXPECT_EQ(AcceptParameterForm(1, 13), 0);
  EXPECT_EQ(runs, 1);
  const ReportParameters& p = Parameters();
  EXPECT_EQ(format::UnpackDigits(p.report_date), "20261208");
  EXPECT_EQ(format::UnpackDigits(p.range_from_key), "00010000");
  EXPECT_EQ(format::UnpackDigits(p.range_to_key), "09990999");
  EXPECT_EQ(p.copies_per_community, 1);

  answer = "N";  // anything else goes back to the form with the values kept
  EXPECT_EQ(AcceptParameterForm(1, 13), -1);
  answer = "s";
  EXPECT_EQ(AcceptParameterForm(1, 13), -1);
  EXPECT_EQ(console::Forms().Value(1, 4), "999");

  // Esc and other forms leave at once, without confirmation.
  runs = 0;
  EXPECT_EQ(AcceptParameterForm(1, kEscKey), 0);
  EXPECT_EQ(AcceptParameterForm(2, 13), 0);
  EXPECT_EQ(runs, 0);

  // A lower bound above the upper one keeps the user in the form.
  console::Forms().SetValue(1, 2, "5");
  console::Forms().SetValue(1, 4, "4");
  EXPECT_EQ(AcceptParameterForm(1, 13), -1);
  EXPECT_EQ(runs, 0);
}

TEST_F(HooksTest, BrowseHooksUseTheRecordBuffers) {
  ReportBuffers& b = Buffers();
  b.community.replace(0, 2, format::PackDigits("0123"));
  SetFieldText(b.community, 6, 30, "ROSES, 7*EDIFICI LES");
  b.owner.replace(0, 4, format::PackDigits("01230045"));
  SetFieldText(b.owner, 8, 30, "PUJOL*JOAN");
  SetFieldText(b.owner, 38, 10, "1r 1a");
  EXPECT_EQ(BrowseLine(1), "123  ROSES, 7*EDIFICI LES          ");
  EXPECT_EQ(BrowseLine(2), "045  PUJOL*JOAN" + std::string(20, ' ') + "  1r 1a     ");
  EXPECT_EQ(BrowseLine(3), BrowseLine(2));
  EXPECT_EQ(BrowseLine(4), "");

  EXPECT_EQ(TransferBrowseChoice(1, 1, 2), 0);
  EXPECT_EQ(console::Forms().Value(1, 2), "123");
  EXPECT_EQ(TransferBrowseChoice(3, 1, 5), 0);
  EXPECT_EQ(console::Forms().Value(1, 5), "045");
  EXPECT_EQ(TransferBrowseChoice(9, 1, 5), 0);
  EXPECT_EQ(console::Forms().Value(1, 5), "045");

  std::string k1, k2;
  console::Forms().SetValue(1, 2, "12");
  EXPECT_EQ(BrowseStartKey(2, &k1, &k2), 0);
  EXPECT_EQ(format::UnpackDigits(k1), "0012");
  EXPECT_EQ(k1, k2);
  EXPECT_EQ(BrowseStartKey(1, &k1, &k2), 0);
  EXPECT_EQ(k1, "");
}

}  // namespace
}  // namespace driver
