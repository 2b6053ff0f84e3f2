#include "console/help_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console/tests/popup_test_support.h"

namespace console {
namespace {

constexpr uint8_t kScanF1 = 0x3B, kScanUp = 0x48, kScanDown = 0x50, kScanPgUp = 0x49,
                  kScanPgDn = 0x51, kScanHome = 0x47, kScanEnd = 0x4F;

// A text help file of n lines "LINE 01", "LINE 02"... of 80 bytes each.
std::string NumberedLines(int n) {
  std::string bytes;
  for (int i = 1; i <= n; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "LINE %02d", i);
    bytes += line + std::string(80 - 7, ' ');
  }
  return bytes;
}

class HelpViewTest : public PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    std::filesystem::create_directories(root_ + "AJUDA");
  }
  // The first and last line numbers shown inside the frame (rows 5 and 21),
  // as "first-last".
  std::string ShownRange() {
    return Region(5, 3, 5, 9).substr(5, 2) + "-" + Region(21, 3, 21, 9).substr(5, 2);
  }
  // Opens the help for the topic, presses the keys of each step in turn and
  // notes the range shown after each, then Esc.
  std::vector<std::string> Browse(const std::vector<std::vector<uint8_t>>& steps) {
    std::vector<std::string> ranges;
    std::vector<std::function<void()>> script;
    for (const std::vector<uint8_t>& keys : steps) {
      script.push_back([this, &ranges, keys] {
        ranges.push_back(ShownRange());
        for (uint8_t scan : keys) con_.PushScan(scan);
      });
    }
    script.push_back([this, &ranges] {
      ranges.push_back(ShownRange());
      con_.PushChar(27);
    });
    Steps(std::move(script));
    ShowHelp("TOPIC");
    return ranges;
  }
};

TEST_F(HelpViewTest, UnderWindowsTheLauncherGetsThePageWithoutAShell) {
  config::ModuleSettings().environment_kind = "WIN";
  env_.SetVar("COMSPEC", "C:\\WINDOWS\\SYSTEM32\\CMD.EXE");
  const std::string before = con_.Dump() + con_.DumpAttributes();
  con_.set_idle_limit(0);  // a key read would throw: none may be read
  ShowHelp("TELVORAN");
  ASSERT_EQ(env_.runs().size(), 1u);
  EXPECT_EQ(env_.runs()[0].program, "VIMBLO");
  EXPECT_EQ(env_.runs()[0].args, std::vector<std::string>{"AJUDA\\TELVORAN.HTM"});
  EXPECT_EQ(con_.Dump() + con_.DumpAttributes(), before);
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(HelpViewTest, AnUnsafeTopicShowsNoHelp) {
  const char* topics[] = {"",          "   ", "A B", "..\\SECRET", "X/Y",  "X&calc", "X\" /C del",
                          "$(reboot)", "X;Y", "X|Y", "X%PATH%",    "A\tB", "\x82S",  "X>Y"};
  for (const char* kind : {"WIN", "DOS"}) {
    config::ModuleSettings().environment_kind = kind;
    for (const char* topic : topics) {
      EXPECT_FALSE(IsSafeHelpTopic(topic)) << topic;
      con_.set_idle_limit(0);
      ShowHelp(topic);
      EXPECT_EQ(WindowDepth(), 0) << topic;
    }
  }
  EXPECT_TRUE(env_.runs().empty());
  EXPECT_TRUE(std::filesystem::is_empty(root_ + "AJUDA"));
  for (const char* topic : {"TELVORAN", "QARNESTO", "a-b_c.1"}) {
    EXPECT_TRUE(IsSafeHelpTopic(topic)) << topic;
  }
}

TEST_F(HelpViewTest, ShowsTheFirstPageInADoubleFrame) {
  std::string file = NumberedLines(20);
  file.replace(2 * 80, 7, "THIRD..");  // line 3 is the 80 bytes from byte 160
  WriteFile("AJUDA/TOPIC.HLP", file);
  std::string window, line3;
  SnapshotThenClose([&] {
    window = Region(4, 1, 7, 12) + Region(20, 1, 22, 12);
    line3 = Region(7, 3, 7, 9);
  });
  ShowHelp("TOPIC   ");  // trailing blanks of the menu name do not count
  EXPECT_EQ(window,
            "╔═══════════\n"
            "║ LINE 01   \n"
            "║ LINE 02   \n"
            "║ THIRD..   \n"
            "║ LINE 16   \n"
            "║ LINE 17   \n"
            "╚═══════════\n");
  EXPECT_EQ(line3, "THIRD..\n");
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(CurrentColour(), 0);
}

TEST_F(HelpViewTest, ScrollingKeys) {
  WriteFile("AJUDA/TOPIC.HLP", NumberedLines(40));
  const std::vector<std::string> ranges = Browse({
      {kScanUp, kScanPgUp, kScanHome},  // nothing above line 1
      {kScanDown},                      // one line on
      {kScanUp},                        // and back
      {kScanPgDn},                      // a whole page
      {kScanPgUp},                      // back, ending with line 18
      {kScanHome},
      {kScanPgDn},
      {kScanPgDn},                       // fewer left: the last page
      {kScanDown, kScanPgDn, kScanEnd},  // nothing below the last line
      {kScanPgUp},                       // the page ending with the first row's line
      {kScanPgUp},                       // cut at line 1
      {kScanEnd},
      {kScanHome},
  });
  const std::vector<std::string> want = {"01-17", "01-17", "02-18", "01-17", "18-34",
                                         "02-18", "01-17", "18-34", "24-40", "24-40",
                                         "08-24", "01-17", "24-40", "01-17"};
  EXPECT_EQ(ranges, want);
}

TEST_F(HelpViewTest, AFileShorterThanAPageShowsBlankLinesAfterIt) {
  // Two and a half lines count as three; the short last line shows as it is.
  WriteFile("AJUDA/TOPIC.HLP", NumberedLines(2) + "LINE 03" + std::string(33, ' '));
  EXPECT_EQ(HelpLineCount(200, 80), 3);
  std::string rows;
  con_.PushScan(kScanDown);
  con_.PushScan(kScanEnd);
  SnapshotThenClose([&] { rows = Region(5, 2, 9, 10); });
  ShowHelp("TOPIC");
  EXPECT_EQ(rows,
            " LINE 01 \n"
            " LINE 02 \n"
            " LINE 03 \n"
            "         \n"
            "         \n");
}

TEST_F(HelpViewTest, LineCountRoundsToTheNearestLine) {
  EXPECT_EQ(HelpLineCount(0, 80), 0);
  EXPECT_EQ(HelpLineCount(39, 80), 0);
  EXPECT_EQ(HelpLineCount(40, 80), 1);
  EXPECT_EQ(HelpLineCount(160, 80), 2);
  EXPECT_EQ(HelpLineCount(170, 80), 2);
  EXPECT_EQ(HelpLineCount(100, 0), 0);
}

TEST_F(HelpViewTest, SwitchBytesChangeTheColour) {
  std::string line = std::string("\x1e") + "ABC" + "\x1e" + "d " + "\x1f" + "UL" + "\x1f" + " " +
                     "\x10" + "RV" + "\x10" + " " + "\x1f" + "u" + "\x1e" + "b" + "\x1e" + "u" +
                     "\x1f" + "n";
  line += std::string(80 - line.size(), 'x');  // more than 76 characters to show
  WriteFile("AJUDA/TOPIC.HLP", line);
  std::string text, attrs;
  SnapshotThenClose([&] {
    text = Region(5, 3, 5, 80);
    for (int c = 3; c <= 20; ++c) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", AttrAt(5, c));
      attrs += hex;
    }
  });
  ShowHelp("TOPIC");
  // The bold text is "h", underline "u", reverse "r"; bold inside underline
  // keeps the underline colour.
  EXPECT_EQ(text.substr(0, 18), "ABCd UL RV ubunxxx");
  EXPECT_EQ(attrs, "0f0f0f070770700770700770707007070707");
  // Switch bytes do not count: 76 characters shown, then the frame.
  EXPECT_EQ(text.substr(0, 76).find('\x1e'), std::string::npos);
  EXPECT_EQ(text.substr(76), " ║\n");
}

TEST_F(HelpViewTest, F1ShowsTheGeneralHelpOnceAndEscReturns) {
  WriteFile("AJUDA/TOPIC.HLP", NumberedLines(3));
  WriteFile("AJUDA/QARNESTO.HLP", "GENERAL" + std::string(73, ' '));
  std::string outer, inner, back;
  int inner_depth = 0;
  con_.PushScan(kScanF1);
  Steps({[&] {
           inner = Region(5, 3, 5, 9);
           inner_depth = WindowDepth();
           con_.PushScan(kScanF1);  // nothing inside the general help
         },
         [&] {
           EXPECT_EQ(WindowDepth(), inner_depth);
           con_.PushChar(27);
         },
         [&] {
           back = Region(5, 3, 5, 9);
           con_.PushChar(27);
         }});
  ShowHelp("TOPIC");
  EXPECT_EQ(inner, "GENERAL\n");
  EXPECT_EQ(inner_depth, 2);
  EXPECT_EQ(back, "LINE 01\n");
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(HelpViewTest, HelpInTheInterfaceLanguageElseCatalan) {
  WriteFile("AJUDA/TOPIC.HLP", "CATALA" + std::string(74, ' '));
  WriteFile("AJUDA/TOPIC.SPA.HLP", "ESPANOL" + std::string(73, ' '));
  WriteFile("AJUDA/TOPIC.OCI.HLP", "ARANES" + std::string(74, ' '));
  const struct {
    const char* language;
    const char* shown;
  } cases[] = {{"CAT", "CATALA "}, {"SPA", "ESPANOL"}, {"OCI", "ARANES "},
               {"GLG", "CATALA "},  // no Galician text: the Catalan one
               {"XYZ", "CATALA "}};
  for (const auto& c : cases) {
    config::ModuleSettings().language = c.language;
    std::string shown;
    SnapshotThenClose([&] { shown = Region(5, 3, 5, 9); });
    ShowHelp("TOPIC");
    EXPECT_EQ(shown, std::string(c.shown) + "\n") << c.language;
  }
  EXPECT_FALSE(Exists("AJUDA/TOPIC.GLG.HLP"));
}

TEST_F(HelpViewTest, AMissingFileIsCreatedEmptyAndShowsAnEmptyPage) {
  const std::string before = con_.Dump() + con_.DumpAttributes();
  std::string inside;
  SnapshotThenClose([&] { inside = Region(5, 2, 21, 79); });
  ShowHelp("NOFILE");
  EXPECT_EQ(inside.find_first_not_of(" \n"), std::string::npos);
  EXPECT_TRUE(Exists("AJUDA/NOFILE.HLP"));
  EXPECT_EQ(ReadFile("AJUDA/NOFILE.HLP"), "");
  EXPECT_EQ(con_.Dump() + con_.DumpAttributes(), before);
  EXPECT_FALSE(Exists("TMP/WinPush.tmp"));
}

}  // namespace
}  // namespace console
