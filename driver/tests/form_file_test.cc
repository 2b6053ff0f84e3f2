#include "driver/form_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "datafiles/record_file.h"
#include "driver/program.h"
#include "driver/report_context.h"
#include "platform/fake_env.h"

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

// The module's own form file, whole, is accepted; cut short anywhere, or
// without a field the module reads, it is refused with a message naming it.
TEST(FormFileTest, ModuleFormsCutShortOrIncompleteAreRefused) {
  std::string source = __FILE__;
  source.resize(source.rfind("/driver/"));
  std::ifstream in(source + "/sample/FORMS/TELVORAN.ZPN", std::ios::binary);
  std::ostringstream whole_stream;
  whole_stream << in.rdbuf();
  const std::string whole = whole_stream.str();
  ASSERT_GT(whole.size(), 1000u);
  auto cut = [&](size_t n) { return whole.substr(0, n); };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = whole;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  const std::string kCut = "s'acaba abans d'hora";
  const struct {
    std::string bytes;
    std::string problem;  // empty: accepted
  } cases[] = {
      {whole, ""},
      {cut(0), kCut},
      {cut(300), kCut},
      {cut(1000), kCut},
      {cut(whole.find("\"d,1b\",")), kCut},         // the confirmation form missing
      {cut(whole.find("\"|N,No|")), kCut},          // inside the confirmation field
      {cut(whole.find("' Browse lists")), kCut},    // no list count
      {cut(whole.size() - 3), kCut},                // inside the last list
      {replaced(") \",1,0,0,1,", ") \",2,0,0,1,"),  // the confirmation two long
       "el camp 1 del formulari 2 no hi \x82s o no t\x82 una llargada v\x85lida"},
      {replaced("propietari) \",3,", "propietari) \",0,"),  // no room for the copies
       "el camp 6 del formulari 1 no hi \x82s o no t\x82 una llargada v\x85lida"},
      {replaced("\",6,0,6,8,15,72", "\",5,0,6,8,15,72"),  // five fields announced
       "el camp 6 del formulari 1 no hi \x82s o no t\x82 una llargada v\x85lida"},
      {replaced("2,6\r\n", "1,6\r\n").substr(0, whole.find("\"d,1b\",")) + "0\r\n",
       "el camp 1 del formulari 2 no hi \x82s o no t\x82 una llargada v\x85lida"},
  };
  const std::string path = ::testing::TempDir() + "telvoran_forms.ZPN";
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    console::FormSet set;
    const std::string message = LoadModuleForms(path, nullptr, &set);
    const std::string label = std::to_string(c.bytes.size()) + " bytes";
    if (c.problem.empty()) {
      EXPECT_EQ(message, "") << label;
      EXPECT_EQ(set.form_count(), 2) << label;
    } else {
      EXPECT_EQ(message, "no es pot fer servir el fitxer de formularis " + path + ": " + c.problem)
          << label;
    }
  }
  std::remove(path.c_str());
  console::FormSet set;
  EXPECT_EQ(LoadModuleForms(path, nullptr, &set),
            "no es pot fer servir el fitxer de formularis " + path + ": no es pot llegir");

  // Start-up stops there, before any data file is opened, and says why.
  const std::string root = ::testing::TempDir() + "telvoran_forms_root/";
  std::filesystem::create_directories(root + "FORMS");
  std::ofstream(root + "FORMS/TELVORAN.ZPN", std::ios::binary | std::ios::trunc) << cut(1000);
  platform::FakeEnv env;
  env.SetVar("ZELROOT", root);
  env.SetVar("ZELTMP", root);
  platform::ScopedEnvOverride use(&env);
  // A data file open would end the process: it fails the test instead.
  datafiles::SetRecordManager(
      [](uint16_t, uint8_t*, void*, uint32_t*, void*, uint8_t, int8_t) -> platform::Status {
        throw std::runtime_error("start-up opened a data file");
      });
  std::string message;
  ReportContext ctx;
  EXPECT_FALSE(StartUp(ctx, &message));
  datafiles::SetRecordManager(nullptr);
  EXPECT_EQ(message,
            "no es pot fer servir el fitxer de formularis " + root + "FORMS/TELVORAN.ZPN: " + kCut);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace driver
