#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/configuration.h"
#include "config/settings.h"
#include "format/currency.h"
#include "format/packed.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace config {
namespace {

// Each test gets a scratch root on the host; the system's "\" paths are
// mapped below it by the FakeEnv.
class SettingsTest : public ::testing::Test {
 protected:
  // Writes a file at a path relative to the root, creating its folders.
  void Write(const std::string& rel, const std::string& text) {
    testsupport::WriteFile(root_ + platform::HostPath(rel), text);
  }

  Settings Read() { return ReadConfiguration(*env_); }

  testsupport::ScratchDir scratch_{"telvoran-settings"};
  const std::string root_ = scratch_.path();
  std::unique_ptr<platform::FakeEnv> env_ = std::make_unique<platform::FakeEnv>(root_);
};

TEST(CompleteDirectoryTest, Table) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"C:\\TMP", "C:\\TMP\\"},
               {"C:", "C:"},
               {"C:\\TMP\\", "C:\\TMP\\"},
               {"", ""},
               {"tmp/", "tmp/"}};
  for (const auto& c : cases) EXPECT_EQ(CompleteDirectory(c.in), c.out) << c.in;
}

TEST(ParseColourTableTest, DefaultShortAndJunk) {
  auto d = ParseColourTable(kDefaultColours);
  const int want[5][2] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(d[i].foreground, want[i][0]);
    EXPECT_EQ(d[i].background, want[i][1]);
  }
  auto s = ParseColourTable("1501");
  EXPECT_EQ(s[0].foreground, 15);
  EXPECT_EQ(s[0].background, 1);
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(s[i].foreground, 0);
    EXPECT_EQ(s[i].background, 0);
  }
  auto j = ParseColourTable("1x");
  EXPECT_EQ(j[0].foreground, 10);
}

TEST_F(SettingsTest, NothingConfiguredGivesDefaults) {
  Settings s = Read();
  EXPECT_EQ(s.root_dir, "");
  EXPECT_EQ(s.temp_dir, "");
  EXPECT_EQ(s.screen_title, "  ");
  EXPECT_EQ(s.menu_name, "");
  EXPECT_EQ(s.working_date, "");
  EXPECT_EQ(s.output_device, "");
  EXPECT_EQ(s.language, "   ");
  EXPECT_EQ(s.environment_kind, "DOS");
  EXPECT_EQ(s.colours[0].foreground, 15);
  EXPECT_EQ(s.colours[2].background, 7);
}

TEST_F(SettingsTest, FullConfiguration) {
  env_->SetVar("ZELROOT", "ROOT\\");
  env_->SetVar("ZELEXE", "EXE\\");
  env_->SetVar("ZELTMP", "TMP");
  Write("TMP\\Sessio.ini", "[Menu]\r\nTitol=Gestio\r\nNomMenu=GESTIO\r\n[Terminal]\r\nDir=T1\r\n");
  Write("TMP\\NuvaTerm.ini",
        "[Pantalla]\r\nSeleccio=2\r\nCol2=1501\r\n[Sistema]\r\nData=20261208\r\n"
        "Sortida=PDF:out.pdf\r\nIdioma=SPA\r\n");
  Write("ROOT\\Nuva.ini", "[Usuari]\r\nIdioma=CAT\r\n");
  Settings s = Read();
  EXPECT_EQ(s.root_dir, "ROOT\\");
  EXPECT_EQ(s.program_dir, "EXE\\");
  EXPECT_EQ(s.temp_dir, "TMP\\");
  EXPECT_EQ(s.screen_title, " Gestio ");
  EXPECT_EQ(s.menu_name, "GESTIO");
  EXPECT_EQ(s.terminal_dir, "T1\\");
  EXPECT_EQ(s.colours[0].foreground, 15);
  EXPECT_EQ(s.colours[0].background, 1);
  EXPECT_EQ(s.colours[1].foreground, 0);
  EXPECT_EQ(s.working_date, format::PackDigits("20261208"));
  EXPECT_EQ(s.output_device, "PDF:out.pdf");
  EXPECT_EQ(s.language, "SPA");  // the terminal wins over the user file
}

// Relative folders are taken from where the program starts, before the
// root becomes the current directory; each gets its final separator.
TEST_F(SettingsTest, FoldersAreMadeAbsoluteAndComplete) {
  env_->SetCurrentDirectory("/home/admin");
  env_->SetVar("ZELROOT", "root");
  env_->SetVar("ZELTMP", "/var/tmp/t");
  Settings s = Read();
  EXPECT_EQ(s.root_dir, "/home/admin\\root\\");
  EXPECT_EQ(s.temp_dir, "/var/tmp/t\\");
  EXPECT_EQ(s.program_dir, "/home/admin\\");  // never a search along PATH
  env_->SetVar("ZELEXE", "C:\\ZEL");
  EXPECT_EQ(Read().program_dir, "C:\\ZEL\\");
}

TEST_F(SettingsTest, WithoutTmpTheSessionIsReadHereAndTerminalBecomesTemp) {
  env_->SetVar("TERM", "TERMDIR");
  Write("Sessio.ini", "[Menu]\nNomMenu=M\n");
  Write("TERMDIR\\NuvaTerm.ini", "[Sistema]\nSortida=TXT:x\n");
  Settings s = Read();
  EXPECT_EQ(s.menu_name, "M");
  EXPECT_EQ(s.terminal_dir, "TERMDIR\\");
  EXPECT_EQ(s.temp_dir, "TERMDIR\\");
  EXPECT_EQ(s.output_device, "TXT:x");
}

TEST_F(SettingsTest, SessionDirWinsOverTerm) {
  env_->SetVar("ZELTMP", "C:");
  env_->SetVar("TERM", "xterm-256color");
  Write("C:Sessio.ini", "[Terminal]\nDir=D:\\T\\\n");
  Settings s = Read();
  EXPECT_EQ(s.temp_dir, "C:");
  EXPECT_EQ(s.terminal_dir, "D:\\T\\");
}

TEST_F(SettingsTest, LanguageFromUserFileCutAndPadded) {
  env_->SetVar("ZELROOT", "R\\");
  Write("R\\Nuva.ini", "[Usuari]\nIdioma=CATALA\n");
  EXPECT_EQ(Read().language, "CAT");
  Write("R\\Nuva.ini", "[Usuari]\nIdioma=ES\n");
  EXPECT_EQ(Read().language, "ES ");
  // A blank terminal value (only blanks) still defers to the user file.
  Write("NuvaTerm.ini", "[Sistema]\nIdioma=   \n");
  Write("R\\Nuva.ini", "[Usuari]\nIdioma=GLG\n");
  EXPECT_EQ(Read().language, "GLG");
}

TEST_F(SettingsTest, SelectionZeroAndMissingColourKeyUseDefaults) {
  Write("NuvaTerm.ini", "[Pantalla]\nCol0=0102030405060708091011\n");
  Settings s = Read();
  EXPECT_EQ(s.colours[0].foreground, 1);
  EXPECT_EQ(s.colours[0].background, 2);
  EXPECT_EQ(s.colours[4].foreground, 9);
  EXPECT_EQ(s.colours[4].background, 10);
  Write("NuvaTerm.ini", "[Pantalla]\nSeleccio=7\n");
  EXPECT_EQ(Read().colours[0].foreground, 15);
}

TEST_F(SettingsTest, EnvironmentKind) {
  struct {
    const char* var;
    const char* kind;
  } cases[] = {
      {"HTTP_USER_AGENT", "CGI"}, {"HTTP_ACCEPT", "CGI"}, {"WINDIR", "WIN"}, {"SYSTEMROOT", "WIN"}};
  for (const auto& c : cases) {
    platform::FakeEnv env(root_);
    env.SetVar(c.var, "x");
    EXPECT_EQ(ReadConfiguration(env).environment_kind, c.kind) << c.var;
  }
  platform::FakeEnv both(root_);
  both.SetVar("HTTP_ACCEPT", "x");
  both.SetVar("WINDIR", "x");
  EXPECT_EQ(ReadConfiguration(both).environment_kind, "CGI");
}

TEST_F(SettingsTest, LoadConfigurationFillsTheModuleSettingsAndSetsEuro) {
  env_->SetVar("ZELROOT", "R\\");
  platform::ScopedEnvOverride use(env_.get());
  format::Currency() = {};
  LoadConfiguration();
  EXPECT_EQ(ModuleSettings().root_dir, "R\\");
  EXPECT_EQ(format::Currency().main, "E");
  EXPECT_EQ(format::Currency().current, "E");
}

}  // namespace
}  // namespace config
