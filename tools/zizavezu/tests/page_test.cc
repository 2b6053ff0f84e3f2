#include "tools/zizavezu/page.h"

#include <gtest/gtest.h>

#include "tools/zizavezu/tests/test_util.h"

namespace zizavezu {
namespace {

using testing_util::Compose;
using testing_util::Composed;
using testing_util::Split;

std::vector<std::string> Rows(const Composed& c, size_t page = 0) {
  if (page >= c.pages.size()) return {};
  return Split(c.pages[page].text, '\n');
}

std::string Row(const Composed& c, size_t row, size_t page = 0) {
  std::vector<std::string> rows = Rows(c, page);
  return row < rows.size() ? rows[row] : std::string();
}

// Placement on a 12 cpi page: each case is the directives after "PAGE 66"
// and "*@e", and the first row expected.
TEST(PageComposerTest, PlacementTable) {
  struct Case {
    const char* name;
    std::vector<std::string> directives;
    std::string row;
  };
  const std::vector<Case> cases = {
      {"left at column", {" 5 ,abc, 1 "}, "    abc"},
      {"column 1 is the first", {" 1 ,abc, 1 "}, "abc"},
      {"column 0 continues after the previous item", {" 3 ,ab, 0 ", " 0 ,cd, 1 "}, "  abcd"},
      {"column 0 after a line feed is column 1", {" 3 ,ab, 1 ", " 0 ,cd, 1 "}, "  ab"},
      {"right-aligned amount ends where left-aligned would",
       {"JUSD", " 73 ,  12.345,67, 1 "},
       std::string(72, ' ') + "  12.345,67"},
      {"centred on the column", {"JUSC", " 48 ,ABCD, 1 "}, std::string(45, ' ') + "ABCD"},
      {"centre never goes left of column 1", {"JUSC", " 2 ,ABCDEFGH, 1 "}, "ABCDEFGH"},
      {"dot leader up to the fill column",
       {"JUSN 30 \\.\\", " 20 ,TOTAL , 0 ", "JUSD", " 31 ,  1,00, 1 "},
       std::string(19, ' ') + "TOTAL ....." + "  1,00"},
      {"fill column before the text end adds nothing",
       {"JUSN 3 \\.\\", " 1 ,ABCDEF, 1 "},
       "ABCDEF"},
      {"justification applies to the next item only",
       {"JUSN 10 \\.\\", " 1 ,A, 0 ", " 12 ,B, 0 ", " 14 ,C, 1 "},
       "A......... B C"},
      {"blanks do not erase", {" 1 ,AAAAAA, 0 ", " 1 ,  B  , 1 "}, "AABAAA"},
      {"later characters replace earlier ones", {" 1 ,AAAA, 0 ", " 2 ,BB, 1 "}, "ABBA"},
      {"text with commas", {" 1 ,a, b, c, 1 "}, "a, b, c"},
      {"negative column is column 1", {"-5 ,abc, 1 "}, "abc"},
      {"control bytes print as blanks",
       {std::string(" 1 ,a\0b\tc\x7F"
                    "d\xFF"
                    "e, 1 ",
                    16)},
       "a b c d e"},
      {"cut at column 96", {" 90 ,ABCDEFGHIJ, 1 "}, std::string(89, ' ') + "ABCDEFG"},
      {"huge column prints nothing", {" 1 ,x, 0 ", " 999999999 ,y, 1 "}, "x"},
      {"huge fill column stops at the edge",
       {"JUSN 999999999 \\-\\", " 95 ,a, 1 "},
       std::string(94, ' ') + "a-"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = {"DEVICE", "PAGE 66 ", "*@e"};
    lines.insert(lines.end(), c.directives.begin(), c.directives.end());
    Composed got = Compose(lines);
    ASSERT_EQ(got.pages.size(), 1u) << c.name;
    EXPECT_EQ(Row(got, 0), c.row) << c.name;
  }
}

TEST(PageComposerTest, BoldOnlyForJusA) {
  Composed got =
      Compose({"PAGE 66 ", "*@e", "JUSA", " 1 ,DESPESES :, 0 ", " 20 ,x, 1 ", " 1 ,-----, 1 "});
  ASSERT_EQ(got.pages.size(), 1u);
  const std::vector<std::string>& bold = got.pages[0].bold_rows;
  EXPECT_EQ(bold[0].substr(0, 21), "BBBBBBBB.B...........");
  EXPECT_EQ(bold[1].substr(0, 5), ".....");
}

TEST(PageComposerTest, PitchFollowsRawLineOnEachPage) {
  Composed got = Compose({"PAGE 66 ", "*@e", " 1 ,a, 1 ", "PAGE 66 ", " 1 ,b, 1 ", "PAGE 66 ",
                          " 1 ,c, 1 ", "* @e ", "*@E"});
  ASSERT_EQ(got.pages.size(), 3u);
  EXPECT_TRUE(got.pages[0].compressed);
  EXPECT_FALSE(got.pages[1].compressed) << "a new page starts at 10 per inch";
  EXPECT_TRUE(got.pages[2].compressed) << "\"@e\" anywhere on the page counts";
}

TEST(PageComposerTest, TenPitchPageCutsAtColumn80WithOneWarning) {
  Composed got = Compose({"PAGE 66 ", " 75 ,ABCDEFGHIJ, 1 ", " 85 ,x, 1 "});
  ASSERT_EQ(got.pages.size(), 1u);
  EXPECT_EQ(Row(got, 0), std::string(74, ' ') + "ABCDEF");
  EXPECT_EQ(Row(got, 1), "");
  EXPECT_EQ(got.diagnostics.Count(Fault::kColumnBeyondPage), 1);
}

TEST(PageComposerTest, OnePagePerPageDirectiveAndBlankPagesKept) {
  Composed got =
      Compose({"DEVICE", "PAGE 66 ", " 1 ,one, 1 ", "PAGE 66 ", "PAGE 66 ", " 1 ,three, 1 "});
  ASSERT_EQ(got.pages.size(), 3u);
  EXPECT_EQ(got.pages[1].text, "");
  EXPECT_EQ(Row(got, 0, 2), "three");
  EXPECT_FALSE(got.diagnostics.Any());
}

TEST(PageComposerTest, RowsFollowLineFeeds) {
  Composed got = Compose({"PAGE 66 ", " 1 ,a, 9 ", " 1 ,b, 2 ", " 1 ,c, 0 "});
  std::vector<std::string> rows = Rows(got);
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_EQ(rows[0], "a");
  EXPECT_EQ(rows[9], "b");
  EXPECT_EQ(rows[11], "c");
}

// The channel writes the justification before it decides on a page break,
// so a JUS line can come just before a PAGE line.
TEST(PageComposerTest, JustificationSurvivesPageBreak) {
  Composed got = Compose({"PAGE 2 ", " 1 ,a, 2 ", "JUSN 10 \\.\\", "PAGE 2 ", " 1 ,b, 1 "});
  ASSERT_EQ(got.pages.size(), 2u);
  EXPECT_EQ(Row(got, 0, 1), "b.........");
}

TEST(PageComposerTest, PastTheEndContinuesOnANewPageOfTheSameLength) {
  Composed got = Compose({"PAGE 10 ", "*@e", " 1 ,a, 12 ", " 90 ,b, 1 "});
  ASSERT_EQ(got.pages.size(), 2u);
  EXPECT_EQ(got.pages[1].length, 10);
  EXPECT_TRUE(got.pages[1].compressed);
  EXPECT_EQ(Row(got, 0, 1), std::string(89, ' ') + "b");
  EXPECT_EQ(got.diagnostics.Count(Fault::kLineFeedsBeyondPage), 1);
}

TEST(PageComposerTest, HugeLineFeedCountGivesOneNewPageAndOneWarning) {
  Composed got = Compose({"PAGE 66 ", " 1 ,before, 100000 ", " 1 ,after, 1 ", " 1 ,x, 100000 "});
  ASSERT_EQ(got.pages.size(), 2u);
  EXPECT_EQ(Row(got, 0, 0), "before");
  EXPECT_EQ(Row(got, 0, 1), "after");
  EXPECT_EQ(got.diagnostics.Count(Fault::kLineFeedsBeyondPage), 2);
  EXPECT_EQ(got.diagnostics.Lines().size(), 1u);
}

TEST(PageComposerTest, FaultTable) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    Fault fault;
    size_t pages;
    int length;  // of the first page
  };
  const std::vector<Case> cases = {
      {"PAGE 0", {"PAGE 0 ", " 1 ,x, 1 "}, Fault::kBadPageLength, 1, 66},
      {"PAGE negative", {"PAGE-4 ", " 1 ,x, 1 "}, Fault::kBadPageLength, 1, 66},
      {"PAGE huge", {"PAGE 99999999999 "}, Fault::kBadPageLength, 1, 66},
      {"PAGE without number", {"PAGEx"}, Fault::kBadPageLength, 1, 66},
      {"text before PAGE", {" 1 ,x, 1 ", "PAGE 30 "}, Fault::kTextBeforePage, 2, 66},
      {"line without commas", {"PAGE 66 ", "hello"}, Fault::kNotDirective, 1, 66},
      {"column not a number", {"PAGE 66 ", "a,b,1"}, Fault::kNotDirective, 1, 66},
      {"negative column", {"PAGE 66 ", "-5 ,x, 1 "}, Fault::kNegativeColumn, 1, 66},
      {"huge column", {"PAGE 66 ", " 5000 ,x, 1 "}, Fault::kColumnBeyondPage, 1, 66},
      {"missing line feeds", {"PAGE 66 ", " 1 ,x"}, Fault::kMissingLineFeeds, 1, 66},
      {"negative line feeds", {"PAGE 66 ", " 1 ,x,-2 "}, Fault::kNegativeLineFeeds, 1, 66},
      {"NUL byte", {"PAGE 66 ", std::string(" 1 ,a\0b, 1 ", 11)}, Fault::kControlBytes, 1, 66},
      {"fill without delimiters",
       {"PAGE 66 ", "JUSN 40", " 1 ,x, 1 "},
       Fault::kFillUndelimited,
       1,
       66},
      {"second DEVICE", {"PAGE 66 ", "DEVICEPDF:x"}, Fault::kDeviceRepeated, 1, 66},
  };
  for (const Case& c : cases) {
    Composed got = Compose(c.lines);
    EXPECT_EQ(got.diagnostics.Count(c.fault), 1) << c.name;
    EXPECT_EQ(got.diagnostics.Lines().size(), 1u) << c.name;
    ASSERT_EQ(got.pages.size(), c.pages) << c.name;
    EXPECT_EQ(got.pages[0].length, c.length) << c.name;
  }
}

TEST(PageComposerTest, RepeatedFaultsGiveOneLineWithTheFirstLineNumber) {
  std::vector<std::string> lines = {"DEVICE", "PAGE 66 "};
  for (int i = 0; i < 1000; ++i) lines.push_back("no commas here");
  Composed got = Compose(lines);
  std::vector<std::string> warnings = got.diagnostics.Lines();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("l\u00ednia 3:"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("(999 vegades m\u00e9s)"), std::string::npos) << warnings[0];
}

TEST(PageComposerTest, LongerPagesKeepTheirLengthShortOnesToo) {
  Composed got =
      Compose({"PAGE 72 ", " 1 ,x, 71 ", " 1 ,last, 1 ", "PAGE 1 ", " 1 ,a, 1 ", " 1 ,b, 1 "});
  ASSERT_EQ(got.pages.size(), 3u);
  EXPECT_EQ(got.pages[0].length, 72);
  EXPECT_EQ(Rows(got, 0).back(), "last");
  EXPECT_EQ(got.pages[1].length, 1);
  EXPECT_EQ(Row(got, 0, 2), "b");
}

// Pages are handed over as soon as the next one starts, and a failing sink
// stops the composer.
TEST(PageComposerTest, StreamsPagesAndStopsOnSinkFailure) {
  testing_util::RecordingSink sink;
  Diagnostics diagnostics;
  PageComposer composer(&sink, &diagnostics);
  EXPECT_TRUE(composer.Feed(ParseDirective("PAGE 66 "), 1));
  EXPECT_TRUE(composer.Feed(ParseDirective(" 1 ,a, 1 "), 2));
  EXPECT_EQ(sink.pages.size(), 0u);
  EXPECT_TRUE(composer.Feed(ParseDirective("PAGE 66 "), 3));
  EXPECT_EQ(sink.pages.size(), 1u);
  sink.fail_after = 1;
  EXPECT_FALSE(composer.Feed(ParseDirective("PAGE 66 "), 4));
  EXPECT_FALSE(composer.Feed(ParseDirective(" 1 ,b, 1 "), 5));
  EXPECT_FALSE(composer.Finish());
  EXPECT_EQ(composer.pages(), 1);
}

TEST(PageTest, ResetClearsEverything) {
  Page page;
  page.Reset(66);
  page.set_compressed(true);
  page.Put(3, 95, 'x', true);
  page.Reset(66);
  EXPECT_FALSE(page.compressed());
  EXPECT_TRUE(page.RowEmpty(3));
  EXPECT_FALSE(page.RowHasBold(3));
  EXPECT_FALSE(page.Bold(3, 95));
  EXPECT_EQ(page.Row(3), std::string(kMaxColumns, ' '));
}

}  // namespace
}  // namespace zizavezu
