#include "format/written_date.h"

#include <array>
#include <string_view>

#include "config/settings.h"
#include "format/packed.h"
#include "format/user_cells.h"

namespace format {

namespace {

std::array<char, 1> g_separator_cell{};
std::array<char, 3> g_order_cell{};

constexpr size_t kMonthSlot = 10;

// One language's words: month names (the slots of its month table without
// their trailing blanks) and the three joining words.
struct LanguageWords {
  std::array<const char*, 12> months;
  const char* before_consonant;
  const char* before_vowel;
  const char* before_day_or_year;
};

// Code page 850: 0x87 is c cedilla, 0x8A is e grave.
constexpr LanguageWords kSpanish = {{"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio",
                                     "agosto", "septiembre", "octubre", "noviembre", "diciembre"},
                                    " de ",
                                    " de ",
                                    " de "};
constexpr LanguageWords kGalician = {
    {"janeiro", "fevereiro", "mar\x87o", "abril", "maio", "junho", "julho", "agosto", "setembro",
     "outubro", "novembro", "dezembro"},
    " de ",
    " de ",
    " do "};
constexpr LanguageWords kAranese = {{"g\x8a"
                                     "r",
                                     "hereu\x8a"
                                     "r",
                                     "mar\x87", "abriu", "mai", "junh", "junhsega", "agost",
                                     "seteme", "octobre", "noveme", "deseme"},
                                    " de ",
                                    " d'",
                                    " deth "};
constexpr LanguageWords kCatalan = {
    {"gener", "febrer", "mar\x87", "abril", "maig", "juny", "juliol", "agost", "setembre",
     "octubre", "novembre", "desembre"},
    " de ",
    " d'",
    " del "};

const LanguageWords& WordsFor(const std::string& language) {
  if (language == "SPA") return kSpanish;
  if (language == "GLG") return kGalician;
  if (language == "OCI") return kAranese;
  return kCatalan;
}

// The month's slot of the table: the name padded with blanks to ten.
std::string MonthSlot(const LanguageWords& words, long long month) {
  std::string slot = words.months[static_cast<size_t>(month - 1)];
  slot.resize(kMonthSlot, ' ');
  return slot;
}

bool StartsWithVowel(const std::string& piece) {
  if (piece.empty()) return false;
  char c = piece[0];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return std::string_view("AEIOU").find(c) != std::string_view::npos;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

DateChars LoadedDateChars() {
  LoadUserCell(g_separator_cell, "DatCaracter", "/");
  LoadUserCell(g_order_cell, "DatOrdre", "DMA");
  return DateChars{g_separator_cell[0], std::string(g_order_cell.begin(), g_order_cell.end())};
}

void ResetDateSettingsForTesting() {
  g_separator_cell.fill('\0');
  g_order_cell.fill('\0');
}

std::string WrittenDate(const std::string& date, int16_t style, const std::string& parts) {
  return WrittenDate(date, style, parts, LoadedDateChars(), config::ModuleSettings().language);
}

std::string WrittenDate(const std::string& date, int16_t style, const std::string& parts,
                        const DateChars& chars, const std::string& language) {
  const std::string digits = UnpackDigits(date);
  auto field = [&digits](size_t from, size_t n) {
    return from < digits.size() ? digits.substr(from, n) : std::string();
  };
  std::string year = field(0, 4);
  year.insert(0, 4 - year.size(), '0');
  std::string month2 = field(4, 2);
  month2.insert(0, 2 - month2.size(), '0');
  std::string day2 = field(6, 2);
  day2.insert(0, 2 - day2.size(), '0');

  // Negative styles other than -1 are not used; they read as the ISO form.
  if (style < 0) return year + "-" + month2 + "-" + day2;

  const long long month = DigitValue(month2);
  const long long day = DigitValue(day2);
  const std::string month_text = std::to_string(month);
  const std::string day_text = std::to_string(day);
  const LanguageWords& words = WordsFor(language);
  const std::string wanted = Upper(parts);

  std::string out;
  if (month_text + day_text != "00") {
    for (char c : chars.order) {
      if (wanted.find(c) == std::string::npos) continue;
      std::string piece;
      const char* joiner = words.before_day_or_year;
      switch (c) {
        case 'D':
          piece = day_text;
          break;
        case 'A':
          piece = year;
          break;
        case 'M':
          if (month < 1 || month > 12 || style == kDateNumeric) {
            piece = month_text;
          } else if (style == kDateShortMonth) {
            piece = MonthSlot(words, month).substr(0, 3);
          } else {
            piece = words.months[static_cast<size_t>(month - 1)];
          }
          joiner = StartsWithVowel(piece) ? words.before_vowel : words.before_consonant;
          break;
        default:
          // Only D, M and A name a component; other letters write nothing.
          continue;
      }
      if (!out.empty()) {
        if (style < kDateWords) {
          out += chars.separator;
        } else {
          out += joiner;
        }
      }
      out += piece;
    }
  }
  if (style >= kDateWords) return out;

  long width = static_cast<long>(parts.size()) - 1;
  if (wanted.find('M') != std::string::npos) width += style + 2;
  if (wanted.find('A') != std::string::npos) width += 4;
  if (wanted.find('D') != std::string::npos) width += 2;
  out.resize(width > 0 ? static_cast<size_t>(width) : 0, ' ');
  return out;
}

}  // namespace format
