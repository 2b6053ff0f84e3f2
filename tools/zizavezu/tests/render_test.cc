// Renders the sample print files through the whole program and checks the
// PDF against the text rendering with the poppler tools.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/fake_env.h"
#include "platform/cp850.h"
#include "tools/zizavezu/print_program.h"
#include "testsupport/scratch_dir.h"
#include "tools/zizavezu/tests/test_util.h"

namespace zizavezu {
namespace {

using testing_util::DataPath;
using testing_util::RunCapture;
using testing_util::Split;
using testing_util::WithDevice;
using testsupport::ReadFile;
using testsupport::ScratchDir;
using testsupport::WriteFile;

int CountPageDirectives(const std::string& print_file) {
  int pages = 0;
  for (const std::string& line : Split(print_file, '\n')) {
    if (line.rfind("PAGE", 0) == 0) ++pages;
  }
  return pages;
}

std::string RightTrimmed(std::string line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

// The printed lines of one page without trailing blanks, with the sheet
// margin removed. Empty lines are left out: text extraction closes up
// vertical gaps, so row positions are checked separately (WordsOnTheGrid).
std::vector<std::string> PrintedLines(const std::string& page, size_t drop_margin) {
  std::vector<std::string> lines;
  for (std::string line : Split(page, '\n')) {
    line = RightTrimmed(line);
    if (line.empty()) continue;
    size_t blanks = line.find_first_not_of(' ');
    EXPECT_GE(blanks, drop_margin) << "text left of the margin: " << line;
    lines.push_back(line.substr(std::min(blanks, drop_margin)));
  }
  return lines;
}

std::u32string DecodeUtf8(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

std::string Unescape(std::string s) {
  const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"},    {"&gt;", ">"},
                                                          {"&quot;", "\""}, {"&apos;", "'"},
                                                          {"&#39;", "'"},   {"&amp;", "&"}};
  for (const auto& [from, to] : entities) {
    for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, strlen(from), to);
  }
  return s;
}

double Attribute(const std::string& tag, const std::string& name) {
  size_t at = tag.find(name + "=\"");
  return at == std::string::npos ? -1 : std::atof(tag.c_str() + at + name.size() + 2);
}

// Every word pdftotext finds in the PDF, placed back on the grid from its
// box (12-point rows from the top of the 66-line band, 6-point cells from
// the left margin), must stand at that row and column in the text rendering.
void ExpectWordsOnTheGrid(const std::string& bbox_html, const std::vector<std::string>& pages) {
  const double top = (841.8898 - 66 * 12.0) / 2, left = (595.2756 - 576.0) / 2;
  size_t page = 0, words = 0;
  size_t at = 0;
  for (;;) {
    size_t page_at = bbox_html.find("<page ", at);
    size_t word_at = bbox_html.find("<word ", at);
    if (word_at == std::string::npos) break;
    if (page_at != std::string::npos && page_at < word_at) {
      ++page;
      at = page_at + 1;
      continue;
    }
    size_t close = bbox_html.find('>', word_at);
    size_t end = bbox_html.find("</word>", close);
    std::string tag = bbox_html.substr(word_at, close - word_at);
    std::u32string word = DecodeUtf8(Unescape(bbox_html.substr(close + 1, end - close - 1)));
    at = end;
    double y = (Attribute(tag, "yMin") + Attribute(tag, "yMax")) / 2;
    size_t row = static_cast<size_t>((y - top) / 12.0);
    size_t column = static_cast<size_t>((Attribute(tag, "xMin") - left) / 6.0 + 0.5);
    ASSERT_GE(page, 1u);
    ASSERT_LE(page, pages.size());
    std::vector<std::string> rows = Split(pages[page - 1], '\n');
    ASSERT_LT(row, rows.size()) << "page " << page;
    std::u32string line = DecodeUtf8(rows[row]);
    EXPECT_EQ(line.substr(std::min(column, line.size()), word.size()), word)
        << "page " << page << " row " << row + 1 << " column " << column + 1;
    ++words;
  }
  EXPECT_EQ(page, pages.size());
  EXPECT_GT(words, 50u);
}

class RenderTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Renders the sample with the device; returns the output file's bytes.
  std::string Render(const std::string& device, const std::string& name, int* pages) {
    std::string sample = ReadFile(DataPath(GetParam()));
    EXPECT_FALSE(sample.empty());
    EXPECT_TRUE(WriteFile(dir_ + "zizavezu.tmp", WithDevice(sample, device)));
    platform::FakeEnv env;
    std::ostringstream out, err;
    PrintRunResult r = RenderPrintRun(env, dir_, out, err);
    EXPECT_EQ(r.exit_code, kExitOk) << err.str();
    EXPECT_EQ(err.str(), "") << "the samples are well formed";
    *pages = static_cast<int>(r.pages);
    return ReadFile(dir_ + name);
  }
  ScratchDir scratch_{"zizavezu"};
  const std::string& dir_ = scratch_.path();
};

TEST_P(RenderTest, PdfMatchesTextRendering) {
  const std::string sample = ReadFile(DataPath(GetParam()));
  int pdf_pages = 0, txt_pages = 0;
  std::string pdf = Render("PDF:out.pdf", "out.pdf", &pdf_pages);
  std::string txt = Render("TXT:out.txt", "out.txt", &txt_pages);
  ASSERT_EQ(pdf.rfind("%PDF-", 0), 0u);
  EXPECT_EQ(pdf_pages, CountPageDirectives(sample));
  EXPECT_EQ(txt_pages, pdf_pages);

  std::string info;
  ASSERT_EQ(RunCapture("pdfinfo", {dir_ + "out.pdf"}, &info), 0);
  EXPECT_NE(info.find("Pages:           " + std::to_string(pdf_pages) + "\n"), std::string::npos)
      << info;

  std::string fonts;
  ASSERT_EQ(RunCapture("pdffonts", {dir_ + "out.pdf"}, &fonts), 0);
  std::vector<std::string> font_lines = Split(fonts, '\n');
  ASSERT_GE(font_lines.size(), 3u) << fonts;
  for (size_t i = 2; i < font_lines.size(); ++i) {
    EXPECT_NE(font_lines[i].find("DejaVuSansMono"), std::string::npos) << font_lines[i];
    // Columns: name, type, encoding, then "yes yes yes" for emb, sub, uni.
    EXPECT_NE(font_lines[i].find(" yes yes yes "), std::string::npos) << font_lines[i];
  }

  // Every page of the samples has "@e": 12 characters per inch, 6 points a
  // cell; the sheet margin left of column 1 reads as two blanks.
  ASSERT_EQ(
      RunCapture("pdftotext", {"-layout", "-fixed", "6", dir_ + "out.pdf", dir_ + "p.txt"}, &info),
      0);
  std::vector<std::string> pdf_text = Split(ReadFile(dir_ + "p.txt"), '\f');
  std::vector<std::string> txt_text = Split(txt, '\f');
  ASSERT_EQ(static_cast<int>(pdf_text.size()), pdf_pages);
  ASSERT_EQ(static_cast<int>(txt_text.size()), pdf_pages);
  for (int p = 0; p < pdf_pages; ++p) {
    EXPECT_EQ(PrintedLines(pdf_text[p], 2), PrintedLines(txt_text[p], 0)) << "page " << p + 1;
  }
  ASSERT_EQ(RunCapture("pdftotext", {"-bbox", dir_ + "out.pdf", dir_ + "box.html"}, &info), 0);
  ExpectWordsOnTheGrid(ReadFile(dir_ + "box.html"), txt_text);
}

INSTANTIATE_TEST_SUITE_P(Samples, RenderTest,
                         ::testing::Values("statement_letterhead.tmp",
                                           "statement_plain_paper.tmp",
                                           // The report's own golden print runs.
                                           "../../../../driver/tests/golden/basic.tmp",
                                           "../../../../driver/tests/golden/page_breaks.tmp",
                                           "../../../../driver/tests/golden/no_letterhead.tmp"));

// Columns in the text rendering of the letterhead sample: the labels with
// their dot leaders and the amounts where the page layout put them.
TEST(RenderColumnsTest, LeadersAndAmountsLandInTheirColumns) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp",
                        WithDevice(ReadFile(DataPath("statement_letterhead.tmp")), "TXT:out.txt")));
  platform::FakeEnv env;
  std::ostringstream out, err;
  ASSERT_EQ(RenderPrintRun(env, dir, out, err).exit_code, kExitOk) << err.str();
  std::vector<std::string> pages = Split(ReadFile(dir + "out.txt"), '\f');
  ASSERT_EQ(pages.size(), 2u);
  std::vector<std::string> first = Split(pages[0], '\n');
  std::vector<std::string> second = Split(pages[1], '\n');
  // UTF-8 lines: compare the ASCII parts by column.
  auto find_line = [](const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& l : lines) {
      if (l.find(start) != std::string::npos) return l;
    }
    return std::string();
  };
  std::string total = find_line(second, "TOTAL GENERALS");
  ASSERT_FALSE(total.empty());
  // "TOTAL GENERALS " at column 20, dots through column 72, amount at 73..83.
  EXPECT_EQ(total.find("TOTAL GENERALS "), 19u);
  EXPECT_EQ(total.substr(34, 38), std::string(38, '.'));
  EXPECT_EQ(total.substr(72), "  15.476,56");
  std::string collected = find_line(second, "TOTAL COBRAMENTS");
  EXPECT_EQ(collected.substr(19),
            "TOTAL COBRAMENTS " + std::string(36, '.') + "              12.345,67");
  std::string amount = find_line(first, "Electricitat escala (1)");
  EXPECT_EQ(amount.substr(19, 23), "Electricitat escala (1)");
  EXPECT_EQ(amount.substr(72), "      98,77");
  std::string rule = find_line(first, std::string(72, ' ') + "-");
  EXPECT_EQ(rule, std::string(72, ' ') + std::string(11, '-'));
  std::string header = find_line(second, "C. MALLORCA, 401");
  EXPECT_EQ(header.rfind("   2"), 92u) << "page number ends in column 95";
}

}  // namespace
}  // namespace zizavezu

namespace zizavezu {
namespace {

// Pages the samples do not have: long and one-line pages, 10 per inch, box
// drawing and the euro sign, a bold run in mid-line.
TEST(RenderPdfTest, OddPagesAndTheWholeCodePage) {
  ScratchDir scratch("zizavezu");
  const std::string& dir = scratch.path();
  std::string file =
      "DEVICEPDF:odd.pdf\r\nPAGE 132 \r\n 1 ,\xC9\xCD\xCD\xBB \xD5 12,50, 131 \r\n"
      " 1 ,last row, 1 \r\nPAGE 1 \r\n 1 ,only, 1 \r\nPAGE 66 \r\n 1 ,plain ,0 \r\n"
      "JUSA\r\n 0 ,BOLD, 0 \r\n 0 , tail, 1 \r\nPAGE 66 \r\n*@e\r\n";
  std::string all;
  for (int b = 0x21; b < 0x100; ++b) {
    if (b != ',' && b != 0x7F && b != 0xFF) all.push_back(static_cast<char>(b));
  }
  file += " 1 ," + all.substr(0, 96) + ", 1 \r\n 1 ," + all.substr(96, 96) + ", 1 \r\n 1 ," +
          all.substr(192) + ", 1 \r\n";
  ASSERT_TRUE(WriteFile(dir + "zizavezu.tmp", file));
  platform::FakeEnv env;
  std::ostringstream out, err;
  PrintRunResult r = RenderPrintRun(env, dir, out, err);
  ASSERT_EQ(r.exit_code, kExitOk) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(r.pages, 4);
  // Pages 1 to 3 have 10 characters per inch (7.2-point cells), page 4 has 12.
  std::string ten, twelve;
  ASSERT_EQ(testing_util::RunCapture(
                "pdftotext", {"-layout", "-fixed", "7.2", "-l", "3", dir + "odd.pdf", "-"}, &ten),
            0);
  ASSERT_EQ(testing_util::RunCapture(
                "pdftotext", {"-layout", "-fixed", "6", "-f", "4", dir + "odd.pdf", "-"}, &twelve),
            0);
  std::vector<std::string> pages = testing_util::Split(ten + twelve, '\f');
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_NE(pages[0].find("╔══╗ € 12,50"), std::string::npos) << pages[0];
  EXPECT_NE(pages[0].find("last row"), std::string::npos);
  EXPECT_NE(pages[1].find("only"), std::string::npos);
  EXPECT_NE(pages[2].find("plain BOLD tail"), std::string::npos) << pages[2];
  std::string expected;
  for (char c : all) expected += platform::Cp850ByteToUtf8(static_cast<uint8_t>(c));
  std::string got;
  for (const std::string& line : testing_util::Split(pages[3], '\n')) {
    size_t b = line.find_first_not_of(' ');
    if (b != std::string::npos) got += line.substr(b);
  }
  // The soft hyphen (0xF0) has no visible glyph; text extraction may drop it.
  std::string soft_hyphen = platform::Cp850ByteToUtf8(0xF0).data();
  for (std::string* s : {&expected, &got}) {
    for (size_t at; (at = s->find(soft_hyphen)) != std::string::npos;) s->erase(at, 2);
  }
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace zizavezu
