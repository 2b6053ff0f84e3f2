#include "tools/zizavezu/directive.h"

#include <gtest/gtest.h>

namespace zizavezu {
namespace {

using Kind = Directive::Kind;
using JKind = Justification::Kind;

TEST(ParseNumberTest, Table) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {" 66 ", true, 66},
      {"66", true, 66},
      {"-5", true, -5},
      {"- 5", true, -5},
      {"+7", true, 7},
      {"   0   ", true, 0},
      {"99999999999999999999", true, kNumberLimit},
      {"-99999999999999999999", true, -kNumberLimit},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"6 6", false, 0},
      {"12a", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    int64_t v = 12345;
    EXPECT_EQ(ParseNumber(c.text, &v), c.ok) << "\"" << c.text << "\"";
    EXPECT_EQ(v, c.ok ? c.value : 12345) << "\"" << c.text << "\"";
  }
}

TEST(ParseJustificationTest, Table) {
  struct Case {
    const char* code;
    JKind kind;
    int64_t fill_column;
    char fill;
    bool delimited;
  };
  const Case cases[] = {
      {"D", JKind::kRight, 0, ' ', true},
      {" r ", JKind::kRight, 0, ' ', true},
      {"C", JKind::kCentre, 0, ' ', true},
      {"A", JKind::kBold, 0, ' ', true},
      {"b", JKind::kBold, 0, ' ', true},
      {"E", JKind::kLeft, 0, ' ', true},
      {"", JKind::kLeft, 0, ' ', true},
      {"X", JKind::kLeft, 0, ' ', true},
      {"N 72 \\.\\", JKind::kFill, 72, '.', true},
      {"N 83 \\.\\", JKind::kFill, 83, '.', true},
      {"n40 \\-\\", JKind::kFill, 40, '-', true},
      {"N 72 \\\\", JKind::kFill, 72, ' ', true},
      {"N -3 \\*\\", JKind::kFill, 0, '*', true},
      {"N 72", JKind::kFill, 72, ' ', false},
      {"N 72 \\.", JKind::kFill, 72, ' ', false},
  };
  for (const Case& c : cases) {
    Justification j = ParseJustification(c.code);
    EXPECT_EQ(j.kind, c.kind) << c.code;
    EXPECT_EQ(j.fill_column, c.fill_column) << c.code;
    EXPECT_EQ(j.fill, c.fill) << c.code;
    EXPECT_EQ(j.fill_delimited, c.delimited) << c.code;
  }
}

TEST(ParseDirectiveTest, Keywords) {
  Directive d = ParseDirective("DEVICE  PDF:C:\\TMP\\a,b.pdf ");
  EXPECT_EQ(d.kind, Kind::kDevice);
  EXPECT_EQ(d.text, "  PDF:C:\\TMP\\a,b.pdf ");

  d = ParseDirective("PAGE 66 ");
  EXPECT_EQ(d.kind, Kind::kPage);
  EXPECT_TRUE(d.number_ok);
  EXPECT_EQ(d.number, 66);

  d = ParseDirective("PAGE");
  EXPECT_EQ(d.kind, Kind::kPage);
  EXPECT_FALSE(d.number_ok);

  d = ParseDirective("JUSN 72 \\.\\");
  EXPECT_EQ(d.kind, Kind::kJustify);
  EXPECT_EQ(d.justification.kind, JKind::kFill);
  EXPECT_EQ(d.justification.fill_column, 72);

  d = ParseDirective("*@e");
  EXPECT_EQ(d.kind, Kind::kRaw);
  EXPECT_EQ(d.text, "@e");

  EXPECT_EQ(ParseDirective("").kind, Kind::kBlank);
}

TEST(ParseDirectiveTest, TextItems) {
  struct Case {
    std::string line;
    Kind kind;
    int64_t column;
    std::string text;
    int64_t feeds;
    bool feeds_ok;
  };
  const Case cases[] = {
      {" 20 ,TOTAL, 0 ", Kind::kText, 20, "TOTAL", 0, true},
      {" 73 ,  12.345,67, 1 ", Kind::kText, 73, "  12.345,67", 1, true},
      {" 1 ,Carrer de la Diputaci\xA2, 245, 3r 2a, 1 ", Kind::kText, 1,
       "Carrer de la Diputaci\xA2, 245, 3r 2a", 1, true},
      {"-5 ,x, 2 ", Kind::kText, -5, "x", 2, true},
      {" 0 ,, 3 ", Kind::kText, 0, "", 3, true},
      {" 1 ,,, 3 ", Kind::kText, 1, ",", 3, true},
      {" 1 ,x,-3 ", Kind::kText, 1, "x", -3, true},
      {" 1 ,x, 100000 ", Kind::kText, 1, "x", 100000, true},
      {" 1 ,no feeds", Kind::kText, 1, "no feeds", 0, false},
      {" 1 ,a, b", Kind::kText, 1, "a, b", 0, false},
      {" 1 ,", Kind::kText, 1, "", 0, false},
      {std::string(" 1 ,a\0b, 1 ", 11), Kind::kText, 1, std::string("a\0b", 3), 1, true},
      {"hello world", Kind::kInvalid, 0, "hello world", 0, true},
      {"x,y,1", Kind::kInvalid, 0, "x,y,1", 0, true},
      {",y,1", Kind::kInvalid, 0, ",y,1", 0, true},
  };
  for (const Case& c : cases) {
    Directive d = ParseDirective(c.line);
    EXPECT_EQ(d.kind, c.kind) << c.line;
    EXPECT_EQ(d.text, c.text) << c.line;
    if (c.kind != Kind::kText) continue;
    EXPECT_EQ(d.column, c.column) << c.line;
    EXPECT_EQ(d.line_feeds, c.feeds) << c.line;
    EXPECT_EQ(d.line_feeds_ok, c.feeds_ok) << c.line;
  }
}

}  // namespace
}  // namespace zizavezu
