#include "format/written_date.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "format/dates.h"
#include "format/packed.h"
#include "platform/fake_env.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/settings_guard.h"

namespace format {
namespace {

const DateChars kDma{'/', "DMA"};

std::string D(const char* digits) {
  return PackDigits(digits);
}

struct DateCase {
  const char* digits;
  int16_t style;
  const char* parts;
  DateChars chars;
  const char* language;
  std::string want;
};

TEST(WrittenDateTest, WorkedExamples) {
  const std::vector<DateCase> cases = {
      {"20240405", -1, "dma", kDma, "CAT", "2024-04-05"},
      {"20240405", 0, "dma", kDma, "CAT", "5/4/2024  "},
      {"20240405", 1, "dma", kDma, "SPA", "5/abr/2024 "},
      {"20240605", 1, "dma", kDma, "OCI", "5/jun/2024 "},
      {"20240705", 1, "dma", kDma, "OCI", "5/jun/2024 "},
      {"20240405", 2, "dma", kDma, "CAT", "5 d'abril del 2024"},
      {"20240115", 2, "dma", kDma, "CAT", "15 de gener del 2024"},
      {"20240405", 2, "dma", kDma, "SPA", "5 de abril de 2024"},
      {"20240405", 2, "dma", kDma, "GLG", "5 de abril do 2024"},
      {"20240405", 2, "dma", kDma, "OCI", "5 d'abriu deth 2024"},
      {"20240215", 2, "dma", kDma, "OCI",
       "15 de hereu\x8a"
       "r deth 2024"},
      {"20240801", 2, "ma", kDma, "CAT", "agost del 2024"},
      {"20240115", 2, "dma", {'/', "AMD"}, "CAT", "2024 de gener del 15"},
      {"20240405", 0, "dma", {'-', "MDA"}, "CAT", "4-5-2024  "},
      {"00000000", 0, "dma", kDma, "CAT", "          "},
      {"00000000", 2, "dma", kDma, "CAT", ""},
      {"00000000", -1, "dma", kDma, "CAT", "0000-00-00"},
  };
  for (const DateCase& c : cases) {
    EXPECT_EQ(WrittenDate(D(c.digits), c.style, c.parts, c.chars, c.language), c.want)
        << c.digits << " style " << c.style << " " << c.parts << " " << c.language;
  }
}

TEST(WrittenDateTest, FurtherCases) {
  const std::vector<DateCase> cases = {
      // Elision only before a vowel, in the languages that elide.
      {"20241012", 2, "dma", kDma, "CAT", "12 d'octubre del 2024"},
      {"20241012", 2, "dma", kDma, "SPA", "12 de octubre de 2024"},
      {"20241012", 2, "dma", kDma, "OCI", "12 d'octobre deth 2024"},
      {"20240308", 2, "dma", kDma, "CAT", "8 de mar\x87 del 2024"},
      {"20240308", 2, "dma", kDma, "GLG", "8 de mar\x87o do 2024"},
      {"20240101", 2, "dma", kDma, "OCI",
       "1 de g\x8a"
       "r deth 2024"},
      {"20240920", 2, "dma", kDma, "SPA", "20 de septiembre de 2024"},
      // Three-letter months are the first three characters of the slot.
      {"20240920", 1, "dma", kDma, "SPA", "20/sep/2024"},
      {"20240120", 1, "dma", kDma, "OCI",
       "20/g\x8a"
       "r/2024"},
      {"20240520", 1, "dma", kDma, "OCI", "20/mai/2024"},
      {"20241231", 1, "dma", kDma, "CAT", "31/des/2024"},
      // An unknown or blank language is Catalan.
      {"20240405", 2, "dma", kDma, "ENG", "5 d'abril del 2024"},
      {"20240405", 2, "dma", kDma, "   ", "5 d'abril del 2024"},
      {"20240405", 2, "dma", kDma, "spa", "5 d'abril del 2024"},
      // The letters of parts select, the configured order arranges.
      {"20240405", 0, "DMA", kDma, "CAT", "5/4/2024  "},
      {"20240405", 0, "amd", kDma, "CAT", "5/4/2024  "},
      {"20240405", 0, "d", kDma, "CAT", "5 "},
      {"20240405", 0, "a", kDma, "CAT", "2024"},
      {"20240405", 1, "m", kDma, "CAT", "abr"},
      {"20240405", 0, "ma", kDma, "CAT", "4/2024 "},
      {"20240405", 2, "d", kDma, "CAT", "5"},
      {"20240405", 2, "am", kDma, "CAT", "abril del 2024"},
      {"20240405", 2, "dm", {'/', "MDA"}, "CAT", "abril del 5"},
      {"20240405", 0, "", kDma, "CAT", ""},
      // Two-digit days and months fill the width.
      {"20241231", 0, "dma", kDma, "CAT", "31/12/2024"},
      {"00240405", 0, "dma", kDma, "CAT", "5/4/0024  "},
      // Only day and month both zero make the no-date text.
      {"20240400", 0, "dma", kDma, "CAT", "0/4/2024  "},
      {"20240005", 0, "dma", kDma, "CAT", "5/0/2024  "},
      {"20240000", 2, "dma", kDma, "CAT", ""},
      // Styles above 2 write out in words; other negatives read as ISO.
      {"20240405", 7, "dma", kDma, "SPA", "5 de abril de 2024"},
      {"20240405", -9, "dma", kDma, "SPA", "2024-04-05"},
      // An order letter that names no component writes nothing.
      {"20240405", 0, "dma", {'/', "DXA"}, "CAT", "5/2024    "},
      {"20240405", 0, "dma", {'/', "D  "}, "CAT", "5         "},
  };
  for (const DateCase& c : cases) {
    EXPECT_EQ(WrittenDate(D(c.digits), c.style, c.parts, c.chars, c.language), c.want)
        << c.digits << " style " << c.style << " '" << c.parts << "' " << c.language;
  }
}

TEST(WrittenDateTest, MonthTablesOfTheFourLanguages) {
  const std::vector<std::vector<std::string>> names = {
      {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre",
       "octubre", "noviembre", "diciembre"},
      {"janeiro", "fevereiro", "mar\x87o", "abril", "maio", "junho", "julho", "agosto", "setembro",
       "outubro", "novembro", "dezembro"},
      {"g\x8ar", "hereu\x8ar", "mar\x87", "abriu", "mai", "junh", "junhsega", "agost", "seteme",
       "octobre", "noveme", "deseme"},
      {"gener", "febrer", "mar\x87", "abril", "maig", "juny", "juliol", "agost", "setembre",
       "octubre", "novembre", "desembre"},
  };
  const char* languages[] = {"SPA", "GLG", "OCI", "CAT"};
  for (size_t l = 0; l < 4; ++l) {
    for (int m = 1; m <= 12; ++m) {
      char digits[9];
      std::snprintf(digits, sizeof digits, "2024%02d10", m);
      const std::string& name = names[l][static_cast<size_t>(m - 1)];
      EXPECT_EQ(WrittenDate(D(digits), 2, "m", kDma, languages[l]), name)
          << languages[l] << " " << m;
      EXPECT_EQ(WrittenDate(D(digits), 1, "m", kDma, languages[l]), name.substr(0, 3))
          << languages[l] << " " << m;
    }
  }
}

TEST(WrittenDateTest, ImpossibleDatesAreWrittenAsTheyAre) {
  struct Case {
    const char* name;
    std::string date;  // packed bytes
    int16_t style;
    const char* language;
    std::string want;
  };
  const Case cases[] = {
      {"month 13, day 99, numeric", D("20241399"), -1, "CAT", "2024-13-99"},
      {"month 13, day 99, style 0", D("20241399"), 0, "CAT", "99/13/2024"},
      {"month 13, day 99, style 1", D("20241399"), 1, "SPA", "99/13/2024 "},
      {"month 13, day 99, in words", D("20241399"), 2, "CAT", "99 de 13 del 2024"},
      {"month 0, in words", D("20240099"), 2, "OCI", "99 de 0 deth 2024"},
      // Bytes that are no packed digits still read as two digits each.
      {"blanks, numeric", std::string(4, ' '), -1, "CAT", "3232-32-32"},
      {"blanks, in words", std::string(4, ' '), 2, "CAT", "32 de 32 del 3232"},
      {"0xFF bytes, style 0", std::string(4, '\xff'), 0, "CAT", "27/27/2727"},
      // Short and empty dates fill with zeros.
      {"empty, numeric", "", -1, "CAT", "0000-00-00"},
      {"empty, style 0", "", 0, "CAT", std::string(10, ' ')},
      {"no day, numeric", D("202404"), -1, "CAT", "2024-04-00"},
      {"longer than a date, numeric", D("202404051234"), -1, "CAT", "2024-04-05"},
      {"no date, style 1", NoDate(), 1, "CAT", std::string(11, ' ')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WrittenDate(c.date, c.style, "dma", kDma, c.language), c.want) << c.name;
  }
}

// ---- Settings from Nuva.ini and the module's language ----------------------

class DateSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.SetVar("ZELROOT", dir_.path());
    config::ModuleSettings().language = "CAT";
  }
  void WriteNuva(const std::string& bytes) { testsupport::WriteFile(dir_.File("Nuva.ini"), bytes); }
  testsupport::ScratchDir dir_{"telvoran-dates"};
  testsupport::SettingsGuard settings_;
  platform::FakeEnv env_;
  platform::ScopedEnvOverride use_{&env_};
};

TEST_F(DateSettingsTest, MissingFileGivesSlashAndDayMonthYear) {
  EXPECT_EQ(WrittenDate(D("20240405"), 0, "dma"), "5/4/2024  ");
  const DateChars chars = LoadedDateChars();
  EXPECT_EQ(chars.separator, '/');
  EXPECT_EQ(chars.order, "DMA");
}

TEST_F(DateSettingsTest, SeparatorAndOrderFromSectionUsuari) {
  WriteNuva("[Usuari]\r\nDatCaracter=.\r\nDatOrdre=AMD\r\n");
  EXPECT_EQ(WrittenDate(D("20240405"), 0, "dma"), "2024.4.5  ");
}

TEST_F(DateSettingsTest, BlankValuesTakeTheDefaultsAndShortOrdersAreBlankPadded) {
  WriteNuva("[Usuari]\r\nDatCaracter=\" \"\r\nDatOrdre=MD\r\n");
  EXPECT_EQ(LoadedDateChars().order, "MD ");
  EXPECT_EQ(WrittenDate(D("20240405"), 0, "dma"), "4/5       ");
  ResetDateSettingsForTesting();
  WriteNuva("[Usuari]\r\nDatOrdre=\"   \"\r\nDatCaracter=-x\r\n");
  EXPECT_EQ(LoadedDateChars().order, "DMA");
  EXPECT_EQ(LoadedDateChars().separator, '-');
  ResetDateSettingsForTesting();
  WriteNuva("[Usuari]\r\nDatOrdre=AMDX\r\n");
  EXPECT_EQ(LoadedDateChars().order, "AMD");
}

TEST_F(DateSettingsTest, ReadOncePerRun) {
  WriteNuva("[Usuari]\r\nDatCaracter=-\r\n");
  EXPECT_EQ(WrittenDate(D("20240405"), 0, "dma"), "5-4-2024  ");
  WriteNuva("[Usuari]\r\nDatCaracter=.\r\n");
  EXPECT_EQ(WrittenDate(D("20240405"), 0, "dma"), "5-4-2024  ");
  ResetDateSettingsForTesting();
  EXPECT_EQ(WrittenDate(D("20240405"), 0, "dma"), "5.4.2024  ");
}

TEST_F(DateSettingsTest, LanguageOfTheModuleSettings) {
  config::ModuleSettings().language = "SPA";
  EXPECT_EQ(WrittenDate(D("20240405"), 2, "dma"), "5 de abril de 2024");
  config::ModuleSettings().language = "GLG";
  EXPECT_EQ(WrittenDate(D("20240405"), 2, "dma"), "5 de abril do 2024");
  config::ModuleSettings().language = "";
  EXPECT_EQ(WrittenDate(D("20240405"), 2, "dma"), "5 d'abril del 2024");
}

}  // namespace
}  // namespace format
