#include "tools/zizavezu/device.h"

#include <gtest/gtest.h>

namespace zizavezu {
namespace {

using DKind = Device::Kind;

TEST(SelectDeviceTest, Table) {
  struct Case {
    const char* text;
    DKind kind;
    const char* path;
    const char* queue;
    bool defaulted;
  };
  const char* temp = "C:\\TMP\\";
  const Case cases[] = {
      {"PDF:C:\\OUT\\run.pdf", DKind::kPdf, "C:\\OUT\\run.pdf", "", false},
      {"  PDF:C:\\OUT\\run.pdf  ", DKind::kPdf, "C:\\OUT\\run.pdf", "", false},
      {"pdf:run.pdf", DKind::kPdf, "C:\\TMP\\run.pdf", "", false},
      {"PDF:/home/admin/run.pdf", DKind::kPdf, "/home/admin/run.pdf", "", false},
      {"PDF:\\\\server\\share\\x.pdf", DKind::kPdf, "\\\\server\\share\\x.pdf", "", false},
      {"PDF:", DKind::kPdf, "C:\\TMP\\zizavezu.pdf", "", false},
      {"PDF:  my run.pdf ", DKind::kPdf, "C:\\TMP\\my run.pdf", "", false},
      {"TXT:preview.txt", DKind::kText, "C:\\TMP\\preview.txt", "", false},
      {"Txt:", DKind::kText, "C:\\TMP\\zizavezu.txt", "", false},
      {"LP:oficina", DKind::kPrinter, "C:\\TMP\\zizavezu.pdf", "oficina", false},
      {" lp: oficina ", DKind::kPrinter, "C:\\TMP\\zizavezu.pdf", "oficina", false},
      {"LP:", DKind::kPrinter, "C:\\TMP\\zizavezu.pdf", "", false},
      {"", DKind::kPdf, "C:\\TMP\\zizavezu.pdf", "", true},
      {"   ", DKind::kPdf, "C:\\TMP\\zizavezu.pdf", "", true},
      {"LPT1", DKind::kPdf, "C:\\TMP\\zizavezu.pdf", "", true},
      {"PDF", DKind::kPdf, "C:\\TMP\\zizavezu.pdf", "", true},
      {"DIR:", DKind::kFolder, "C:\\TMP\\resum\\", "", false},
      {" dir: out ", DKind::kFolder, "C:\\TMP\\out\\", "", false},
      {"DIR:D:\\OUT\\", DKind::kFolder, "D:\\OUT\\", "", false},
      {"Correu:/srv/mail", DKind::kFolder, "/srv/mail\\", "", false},
  };
  for (const Case& c : cases) {
    Device d = SelectDevice(c.text, temp);
    EXPECT_EQ(d.kind, c.kind) << c.text;
    EXPECT_EQ(d.path, c.path) << c.text;
    EXPECT_EQ(d.queue, c.queue) << c.text;
    EXPECT_EQ(d.defaulted, c.defaulted) << c.text;
    EXPECT_EQ(d.mail, std::string_view(c.text).find("orreu") != std::string_view::npos) << c.text;
  }
}

TEST(SelectDeviceTest, EmptyTemporaryFolderMeansCurrentDirectory) {
  EXPECT_EQ(SelectDevice("PDF:a.pdf", "").path, "a.pdf");
  EXPECT_EQ(SelectDevice("", "").path, "zizavezu.pdf");
  EXPECT_EQ(SelectDevice("TXT:a.txt", "D:").path, "D:a.txt");
}

TEST(IsAbsolutePathTest, Table) {
  EXPECT_TRUE(IsAbsolutePath("C:\\x"));
  EXPECT_TRUE(IsAbsolutePath("c:x"));
  EXPECT_TRUE(IsAbsolutePath("\\x"));
  EXPECT_TRUE(IsAbsolutePath("/x"));
  EXPECT_FALSE(IsAbsolutePath("x\\y"));
  EXPECT_FALSE(IsAbsolutePath("1:x"));
  EXPECT_FALSE(IsAbsolutePath(""));
}

}  // namespace
}  // namespace zizavezu
