#include "driver/form_file.h"

#include <gtest/gtest.h>

#include <string>

namespace driver {
namespace {

const char kPlain[] =
    "2,3\r\n"
    "\"d,1b,4800\",2,0,5,10,15,70\r\n"
    "1,2,\"Data, informe: \",8,0,2,0,1,0,\r\n"
    "2,2,Copies,3,0,0,0,2,0,Una|Dues\r\n"
    "d,1,0,0,0,0,0\r\n"
    "1,1,Confirmar,1,0,0,0,0,0,\r\n"
    "2\r\n"
    "511,0,1,2,3,4,5,Comunitats,6\r\n"
    "513,0,1,2,3,4,5,Propietaris,7\r\n";

const char kCommented[] =
    "' the header: forms, fields\r\n"
    "2,3\r\n"
    "  ' form 1\r\n"
    "\"d,1b,4800\",2,0,5,10,15,70\r\n"
    "' field 1\r\n"
    "1,2,\"Data, informe: \",8,0,2,0,1,0,\r\n"
    "'field 2\r\n"
    "2,2,Copies,3,0,0,0,2,0,Una|Dues\r\n"
    "' form 2\r\n"
    "d,1,0,0,0,0,0\r\n"
    "1,1,Confirmar,1,0,0,0,0,0,\r\n"
    "' lists\r\n"
    "2\r\n"
    "' list 1\r\n"
    "511,0,1,2,3,4,5,Comunitats,6\r\n"
    "' list 2\r\n"
    "513,0,1,2,3,4,5,Propietaris,7\r\n";

std::string Tag(const std::string& s) {
  return "<" + s + ">";
}

void ExpectSample(const console::FormSet& set) {
  ASSERT_EQ(set.form_count(), 2);
  EXPECT_EQ(set.max_fields, 3);
  const console::FormDef& f1 = set.forms[1];
  EXPECT_EQ(f1.exit_keys, "d,1b,4800");
  EXPECT_EQ(f1.field_count, 2);
  EXPECT_EQ(f1.next, 0);
  EXPECT_EQ(f1.top, 5);
  EXPECT_EQ(f1.right, 70);
  const console::FieldDef& a = set.Field(1, 1);
  EXPECT_EQ(a.label, "<Data, informe: >");
  EXPECT_EQ(a.attr[console::kFieldLength], 8);
  EXPECT_EQ(a.attr[console::kFieldTrailer], 2);
  EXPECT_EQ(a.attr[console::kFieldType], 1);
  EXPECT_EQ(a.value, std::string(8, ' '));
  EXPECT_EQ(a.choices, "<>");
  const console::FieldDef& b = set.Field(1, 2);
  EXPECT_EQ(b.label, "<Copies>");
  EXPECT_EQ(b.choices, "<Una|Dues>");
  EXPECT_EQ(b.attr[console::kFieldType], 2);
  EXPECT_EQ(set.forms[2].exit_keys, "d");
  EXPECT_EQ(set.Field(2, 1).label, "<Confirmar>");
  EXPECT_EQ(set.Field(2, 1).value, " ");
  ASSERT_EQ(set.lists.size(), 3u);
  EXPECT_EQ(set.lists[1].attr[0], 511);
  EXPECT_EQ(set.lists[1].attr[6], 5);
  EXPECT_EQ(set.lists[1].title, "<Comunitats>");
  EXPECT_EQ(set.lists[1].attr[7], 6);
  EXPECT_EQ(set.lists[2].title, "<Propietaris>");
  EXPECT_EQ(set.lists[2].attr[7], 7);
}

TEST(FormFileTest, LoadsAndTranslatesLabelsChoicesAndTitles) {
  console::FormSet set;
  ParseFormFile(kPlain, Tag, &set);
  ExpectSample(set);
}

TEST(FormFileTest, CommentLinesBeforeAnyRecordChangeNothing) {
  console::FormSet set;
  ParseFormFile(kCommented, Tag, &set);
  ExpectSample(set);
}

TEST(FormFileTest, ItemsSpreadOverLinesAndLfEndings) {
  std::string text = kPlain;
  std::string lf;
  for (char c : text) {
    if (c == '\r') continue;
    lf.push_back(c == ',' ? '\n' : c);
  }
  // Commas inside the quoted texts must survive: put the quoted items back.
  size_t p;
  while ((p = lf.find("\"d\n1b\n4800\"")) != std::string::npos) lf.replace(p, 11, "\"d,1b,4800\"");
  while ((p = lf.find("\"Data\n informe: \"")) != std::string::npos)
    lf.replace(p, 17, "\"Data, informe: \"");
  console::FormSet set;
  ParseFormFile(lf, Tag, &set);
  ExpectSample(set);
}

TEST(FormFileTest, CtrlZEndsTheFileAndEarlyEndKeepsWhatWasRead) {
  std::string text = kPlain;
  size_t lists = text.find("2\r\n511");
  console::FormSet set;
  ParseFormFile(text.substr(0, lists) + "\x1a" + text.substr(lists), nullptr, &set);
  EXPECT_EQ(set.form_count(), 2);
  EXPECT_EQ(set.Field(2, 1).label, "Confirmar");
  EXPECT_TRUE(set.lists.empty());

  ParseFormFile(std::string(kPlain).substr(0, 60), nullptr, &set);
  EXPECT_EQ(set.form_count(), 2);
  EXPECT_EQ(set.Field(1, 1).label, "Data, informe: ");
  EXPECT_EQ(set.Field(1, 2).label, "");

  ParseFormFile("", nullptr, &set);
  EXPECT_EQ(set.form_count(), 0);
  ParseFormFile("' only a comment\r\n", nullptr, &set);
  EXPECT_EQ(set.form_count(), 0);
}

// Found by fuzz/form_file_fuzz: a file that ends inside a field, after its
// length, left the field with an empty value; the screens rely on a value as
// long as its field.
TEST(FormFileTest, FieldCutAfterItsLengthStillHasItsBlanks) {
  console::FormSet set;
  ParseFormFile("1,2\r\n\"d\",2,0,1,1,5,40\r\n2,3,\"Data \",10,0", nullptr, &set);
  ASSERT_TRUE(set.HasField(1, 1));
  EXPECT_EQ(set.Field(1, 1).attr[console::kFieldLength], 10);
  EXPECT_EQ(set.Value(1, 1), std::string(10, ' '));
  ParseFormFile("1,2\r\n\"d\",2,0,1,1,5,40\r\n2,3,\"Data \",-4,0", nullptr, &set);
  EXPECT_EQ(set.Value(1, 1), "");
}

// Found by fuzz/form_file_fuzz: a field count beyond the bound (or below 0)
// was kept as written while only the bounded number of fields was made.
TEST(FormFileTest, FieldCountIsTheNumberOfFieldsHeld) {
  console::FormSet set;
  ParseFormFile("1,2\r\nd,5000,0,1,1,5,40\r\n", nullptr, &set);
  ASSERT_EQ(set.form_count(), 1);
  EXPECT_EQ(set.forms[1].field_count, 999);
  EXPECT_TRUE(set.HasField(1, 999));
  ParseFormFile("1,2\r\nd,-7,0,1,1,5,40\r\n", nullptr, &set);
  EXPECT_EQ(set.forms[1].field_count, 0);
}

TEST(FormFileTest, ListCountZeroEndsAfterTheCount) {
  std::string text = std::string(kPlain).substr(0, std::string(kPlain).find("2\r\n511")) +
                     "0\r\n511,0,1,2,3,4,5,Junk,6\r\n";
  console::FormSet set;
  ParseFormFile(text, nullptr, &set);
  ASSERT_EQ(set.lists.size(), 1u);
  EXPECT_EQ(set.lists[0].title, "");
}

TEST(FormFileTest, HostileCountsAndFieldsStayBounded) {
  console::FormSet set;
  ParseFormFile("32767,32767\r\n", nullptr, &set);
  EXPECT_LE(set.form_count(), 999);
  ParseFormFile("-4,-1\r\nx,5,0,0,0,0,0\r\n", nullptr, &set);
  EXPECT_EQ(set.form_count(), 0);
  // A form claiming more fields than the maximum still loads them.
  ParseFormFile("1,1\r\nd,2,0,0,0,0,0\r\n1,1,A,2,0,0,0,0,0,\r\n2,1,B,-3,0,0,0,0,0,\r\n", nullptr,
                &set);
  EXPECT_EQ(set.Field(1, 2).label, "B");
  EXPECT_EQ(set.Field(1, 2).value, "");
  set.SetValue(1, 1, "abc");
  EXPECT_EQ(set.Value(1, 1), "ab");
  set.SetValue(9, 9, "x");  // undefined field: ignored
  EXPECT_EQ(set.Value(9, 9), "");
}

}  // namespace
}  // namespace driver
