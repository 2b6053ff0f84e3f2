#include "config/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"

namespace config {
namespace {

struct IniCase {
  const char* name;
  std::string text;
  std::string section;
  std::string key;
  std::string want;
};

TEST(IniLookupTest, Table) {
  const std::vector<IniCase> cases = {
      {"plain", "[Menu]\r\nTitol=Gestio\r\n", "Menu", "Titol", "Gestio"},
      {"header with blanks", "[ menu ]\nTitol=X\n", "Menu", "Titol", "X"},
      {"header without bracket", "[Menu\nTitol=X\n", "Menu", "Titol", "X"},
      {"requested names trimmed", "[Menu]\nTitol=X\n", "  Menu ", " titol ", "X"},
      {"value keeps leading blank", "[Menu]\nTitol = Gestio\n", "Menu", "Titol", " Gestio"},
      {"comment keeps blanks before it", "[Sistema]\nIdioma = CAT ; comment\n", "Sistema", "Idioma",
       " CAT "},
      {"comment inside quotes", "[S]\nK=\"a;b\"\n", "S", "K", "\"a"},
      {"quotes removed", "[S]\nK=\"a b\"\n", "S", "K", "a b"},
      {"single quote kept", "[S]\nK=\"\n", "S", "K", "\""},
      {"two quotes give empty", "[S]\nK=\"\"\n", "S", "K", ""},
      {"blank before quote keeps both", "[S]\nK= \"x\"\n", "S", "K", " \"x\""},
      {"key in another section", "[A]\nK=1\n[B]\nJ=2\n", "B", "K", ""},
      {"key after next header", "[A]\nJ=1\n[B]\nK=2\n", "A", "K", ""},
      {"first section only", "[A]\nJ=1\n[A]\nK=2\n", "A", "K", ""},
      {"first key wins", "[A]\nK=1\nK=2\n", "A", "K", "1"},
      {"keys before any header", "K=0\n[A]\nJ=1\n", "A", "K", ""},
      {"tab before key not trimmed", "[A]\n\tK=1\n", "A", "K", ""},
      {"blanks before key trimmed", "[A]\n   K  =1\n", "A", "K", "1"},
      {"value after first equals", "[A]\nK=a=b\n", "A", "K", "a=b"},
      {"case-insensitive latin1", "[\xe7\xe0]\nCL\xc9=v\n", "\xc7\xc0", "cl\xe9", "v"},
      {"commented header ignored", ";[A]\n[B]\nK=1\n", "A", "K", ""},
      {"lf only and no final newline", "[A]\nK=end", "A", "K", "end"},
      {"cr only is one line", "[A]\rK=1\r", "A", "K", ""},
      {"empty value", "[A]\nK=\n", "A", "K", ""},
      {"nul bytes in value", std::string("[A]\nK=a\0b\n", 10), "A", "K", std::string("a\0b", 3)},
      {"line without equals skipped", "[A]\njunk\nK=1\n", "A", "K", "1"},
      // The file's encoding: UTF-8 values come back as code page 850.
      {"utf-8 value", "[A]\nK=PUIGDOM\xc3\x88NECH\n", "A", "K", "PUIGDOM\xd4NECH"},
      {"utf-8 elsewhere in the file", "[A]\nK=Pla\n[B]\nJ=\xc3\xa8\n", "A", "K", "Pla"},
      {"utf-8 character the code page lacks", "[A]\nK=a\xe2\x82\xac" "b\xe2\x80\x9c\n", "A", "K",
       "a\xd5" "b?"},
      {"byte order mark before the header", "\xef\xbb\xbf[A]\r\nK=1\r\n", "A", "K", "1"},
      {"cp850 accents kept", "[A]\nK=PUIGDOM\xd4NECH \x82s\n", "A", "K", "PUIGDOM\xd4NECH \x82s"},
      {"cp850 pair that looks like utf-8, another line not", "[A]\nK=\xc3\xa8\nJ=\x82\n", "A", "K",
       "\xc3\xa8"},
      {"overlong sequence is not utf-8", "[A]\nK=\xc0\xafx\n", "A", "K", "\xc0\xafx"},
      {"surrogate is not utf-8", "[A]\nK=\xed\xa0\x80\n", "A", "K", "\xed\xa0\x80"},
      {"cut sequence is not utf-8", "[A]\nK=x\xc3\n", "A", "K", "x\xc3"},
  };
  for (const IniCase& c : cases) {
    EXPECT_EQ(IniLookup(c.text, c.section, c.key), c.want) << c.name;
  }
  // Paths and connection strings go to the host as their bytes stand.
  EXPECT_EQ(IniLookup("[A]\nK=/srv/t\xc3\xa8rm/\n", "A", "K", false), "/srv/t\xc3\xa8rm/");
}

class IniReadTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir_ + name, bytes);
    return dir_ + name;
  }
  testsupport::ScratchDir scratch_{"telvoran-ini"};
  const std::string dir_ = scratch_.path();
};

TEST_F(IniReadTest, ReadsFileWithWindowsPathSeparators) {
  Write("SUB/Nuva.ini", "[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_EQ(IniRead(dir_ + "SUB\\Nuva.ini", "usuari", "IDIOMA"), "SPA");
}

TEST_F(IniReadTest, MissingUnreadableAndDirectoryGiveEmpty) {
  EXPECT_EQ(IniRead(dir_ + "missing.ini", "A", "K"), "");
  EXPECT_EQ(IniRead(dir_, "A", "K"), "");
  EXPECT_EQ(IniRead("", "A", "K"), "");
  std::string p = Write("locked.ini", "[A]\nK=1\n");
  ::chmod(p.c_str(), 0);
  if (::access(p.c_str(), R_OK) != 0) {  // root can read it anyway
    EXPECT_EQ(IniRead(p, "A", "K"), "");
  }
}

TEST_F(IniReadTest, HugeLineAndNulBytesDoNotBreakTheScan) {
  std::string big = "[A]\n" + std::string(1 << 20, 'x') + "\nK=" + std::string(1 << 20, 'v') +
                    "\n" + std::string(1000, '\0') + "\nJ=2\n";
  std::string p = Write("big.ini", big);
  EXPECT_EQ(IniRead(p, "A", "K").size(), static_cast<size_t>(1 << 20));
  EXPECT_EQ(IniRead(p, "A", "J"), "2");
}

// Found by fuzz/ini_fuzz: a text cut after the CR of its last CR LF. The file
// reader keeps that CR as a byte of the line, and the in-memory scan splits
// lines the same way.
TEST_F(IniReadTest, FinalCrWithoutLineFeedReadsAsInMemory) {
  struct Case {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* want;  // from the file and from memory alike
  };
  const Case cases[] = {
      {"fuzz input: empty section and key", "\n[\n=5\r", "", "", "5\r"},
      {"cut after the last CR", "[A]\r\nK=5\r", "A", "K", "5\r"},
      {"a lone CR after the last CR LF", "[A]\r\nK=5\r\n\r", "A", "K", "5"},
      {"whole CR LF", "[A]\r\nK=5\r\n", "A", "K", "5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IniRead(Write("cut.ini", c.text), c.section, c.key), c.want);
    EXPECT_EQ(IniLookup(c.text, c.section, c.key), c.want);
  }
}

TEST_F(IniReadTest, ReadsThroughTheCurrentEnv) {
  platform::FakeEnv fake(dir_);
  Write("Sessio.ini", "[Menu]\nNomMenu=GESTIO\n");
  platform::ScopedEnvOverride use(&fake);
  EXPECT_EQ(IniRead("Sessio.ini", "Menu", "NomMenu"), "GESTIO");
}

}  // namespace
}  // namespace config
