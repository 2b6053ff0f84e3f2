#include "config/locale.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"

namespace config {
namespace {

class TranslateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ModuleSettings().root_dir = dir_;
    ModuleSettings().language = "SPA";
  }
  std::string FilePath() const { return dir_ + "LOCALE/TELVORAN.LNG"; }
  void WriteLocale(const std::string& bytes) { testsupport::WriteFile(FilePath(), bytes); }
  bool FileExists() const { return std::filesystem::exists(FilePath()); }
  std::string ReadBack() const { return testsupport::ReadFile(FilePath()); }
  std::string In(const char* language, const std::string& text) {
    ModuleSettings().language = language;
    return Translate(text);
  }

  testsupport::SettingsGuard settings_;
  testsupport::ScratchDir scratch_{"telvoran-locale"};
  const std::string dir_ = scratch_.path();
  platform::FakeEnv env_;
  platform::ScopedEnvOverride use_{&env_};
};

const char kTwoGroups[] =
    "DATA\r\nDATA GLG\r\nDATA OCI\r\nFECHA\r\n"
    "TOTAL DESPESES\r\nTOTAL GASTOS G\r\nTOTAL DESPESES O\r\nTOTAL GASTOS\r\n";

TEST_F(TranslateTest, PicksTheLineOfTheLanguage) {
  WriteLocale(kTwoGroups);
  struct {
    const char* language;
    const char* text;
    const char* want;
  } cases[] = {
      {"SPA", "DATA", "FECHA"},
      {"GLG", "DATA", "DATA GLG"},
      {"OCI", "DATA", "DATA OCI"},
      {"SPA", "TOTAL DESPESES", "TOTAL GASTOS"},
      {"GLG", "TOTAL DESPESES", "TOTAL GASTOS G"},
      // Unknown codes read the file and keep the text.
      {"ENG", "DATA", "DATA"},
      {"", "DATA", "DATA"},
      {"spa", "DATA", "DATA"},
      {"SPA ", "DATA", "DATA"},
      // Keys compare byte for byte.
      {"SPA", "data", "data"},
      {"SPA", "DATA ", "DATA "},
      {"SPA", " DATA", " DATA"},
      // Translation lines are never keys: the file goes in steps of four.
      {"SPA", "FECHA", "FECHA"},
      {"SPA", "DATA GLG", "DATA GLG"},
      {"SPA", "TOTAL GASTOS", "TOTAL GASTOS"},
      {"SPA", "ABSENT", "ABSENT"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(In(c.language, c.text), c.want) << c.language << " " << c.text;
  }
}

TEST_F(TranslateTest, ForTheTerminalValuesGoInAfterTheConversion) {
  WriteLocale("@1 a @2\r\n@1 a @2\r\n@1 a @2\r\n@2 en \xa3s @1\r\n");
  ModuleSettings().language = "SPA";
  // The translation is converted (0xA3 is u acute), the values are not, and
  // a value holding a mark is not filled again.
  EXPECT_EQ(TranslateForTerminal("@1 a @2", {"carpeta/a\xc3\xb1o", "@1"}),
            "@1 en \xc3\xbas carpeta/a\xc3\xb1o");
  EXPECT_EQ(TranslateForTerminal("@1 a @2", {"x"}), "@2 en \xc3\xbas x");
}

TEST_F(TranslateTest, CatalanOpensNothing) {
  ModuleSettings().language = "CAT";
  EXPECT_EQ(Translate("DATA"), "DATA");
  ::mkdir((dir_ + "LOCALE").c_str(), 0777);
  EXPECT_EQ(Translate("DATA"), "DATA");
  EXPECT_FALSE(FileExists());
}

TEST_F(TranslateTest, EmptyTranslationLineComesBack) {
  WriteLocale("DATA\nDATA G\nDATA O\n\nNOM\n\n\nNOMBRE\n");
  EXPECT_EQ(In("SPA", "DATA"), "");
  EXPECT_EQ(In("GLG", "NOM"), "");
  EXPECT_EQ(In("SPA", "NOM"), "NOMBRE");
}

TEST_F(TranslateTest, FirstMatchingGroupWins) {
  WriteLocale("A\na\na\nFIRST\nA\na\na\nSECOND\n");
  EXPECT_EQ(In("SPA", "A"), "FIRST");
}

TEST_F(TranslateTest, EmptyKeyMatchesTheEmptyText) {
  WriteLocale("\nbuit\nbuit\nvacio\n");
  EXPECT_EQ(In("SPA", ""), "vacio");
}

TEST_F(TranslateTest, MissingFileIsCreatedEmpty) {
  ::mkdir((dir_ + "LOCALE").c_str(), 0777);
  EXPECT_EQ(In("SPA", "DATA"), "DATA");
  ASSERT_TRUE(FileExists());
  EXPECT_EQ(ReadBack(), "");
  EXPECT_EQ(In("ENG", "DATA"), "DATA");
}

TEST_F(TranslateTest, UnknownLanguageStillCreatesTheFile) {
  ::mkdir((dir_ + "LOCALE").c_str(), 0777);
  EXPECT_EQ(In("XYZ", "DATA"), "DATA");
  EXPECT_TRUE(FileExists());
}

TEST_F(TranslateTest, MissingFolderKeepsTheTextAndCreatesNothing) {
  EXPECT_EQ(In("SPA", "DATA"), "DATA");
  struct stat st;
  EXPECT_NE(::stat((dir_ + "LOCALE").c_str(), &st), 0);
}

TEST_F(TranslateTest, GroupCutShortIsNoMatch) {
  WriteLocale("DATA\r\nDATA G\r\nDATA O\r\n");
  EXPECT_EQ(In("GLG", "DATA"), "DATA");
  EXPECT_EQ(In("SPA", "DATA"), "DATA");
  WriteLocale("X\nx\nx\nequis\nDATA\nDATA G");
  EXPECT_EQ(In("GLG", "DATA"), "DATA");
  EXPECT_EQ(In("SPA", "X"), "equis");
}

TEST_F(TranslateTest, LastLineWithoutEndingCounts) {
  WriteLocale("DATA\r\nDATA G\r\nDATA O\r\nFECHA");
  EXPECT_EQ(In("SPA", "DATA"), "FECHA");
}

TEST_F(TranslateTest, EveryCallReadsTheFileAgain) {
  WriteLocale("DATA\nG\nO\nFECHA\n");
  EXPECT_EQ(In("SPA", "DATA"), "FECHA");
  WriteLocale("DATA\nG\nO\nDIA\n");
  EXPECT_EQ(In("SPA", "DATA"), "DIA");
}

TEST_F(TranslateTest, HugeLinesAndNoLineEnds) {
  const std::string big(1 << 20, 'x');
  WriteLocale(big + "\n" + big + "g\n" + big + "o\n" + big + "s\nDATA\nG\nO\nFECHA\n");
  EXPECT_EQ(In("SPA", big), big + "s");
  EXPECT_EQ(In("SPA", "DATA"), "FECHA");
  WriteLocale(big);  // one line, no ending: a short group
  EXPECT_EQ(In("SPA", big), big);
  EXPECT_EQ(In("SPA", "x"), "x");
  std::string bytes;
  for (int c = 1; c < 256; ++c) {
    if (c != '\n') bytes += static_cast<char>(c);
  }
  WriteLocale(bytes + "\n\n\n" + bytes);
  EXPECT_EQ(In("SPA", bytes), bytes);
}

TEST_F(TranslateTest, RootWithWindowsSeparators) {
  WriteLocale(kTwoGroups);
  ModuleSettings().root_dir = dir_.substr(0, dir_.size() - 1) + "\\";
  EXPECT_EQ(In("SPA", "DATA"), "FECHA");
}

TEST(LocaleFilePathTest, UnderTheRoot) {
  EXPECT_EQ(LocaleFilePath("C:\\ZEL\\"), "C:\\ZEL\\LOCALE\\TELVORAN.LNG");
  EXPECT_EQ(LocaleFilePath(""), "LOCALE\\TELVORAN.LNG");
}

}  // namespace
}  // namespace config
