// The browse list on a real data file (the SQLite-backed engine through the
// record file layer) and a memory console: paging, the ends of the list,
// the heading, sideways scrolling, the key range, Esc during loading, lazy
// reading, the cache without a data file (intact and damaged), the linked
// list and the entry format.
#include "console/browse_list.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/form_engine.h"
#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "console/tests/kit_test_support.h"
#include "datafiles/record_file.h"
#include "platform/console.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"
#include "testsupport/scratch_dir.h"

namespace console {
namespace {

using recmgr::testing::Definition;
using testsupport::ScratchDir;

constexpr int16_t kFile = 513;
constexpr int kRecordLength = 64;

// Records: 0..1 group code, 2..3 number (both high byte first, so key 0 on
// bytes 1..4 sorts by group, then number), 4..63 the text shown.
std::string Rec(int group, int number, const std::string& text) {
  std::string r(kRecordLength, ' ');
  r[0] = static_cast<char>(group >> 8);
  r[1] = static_cast<char>(group & 0xFF);
  r[2] = static_cast<char>(number >> 8);
  r[3] = static_cast<char>(number & 0xFF);
  r.replace(4, text.size(), text);
  return r;
}

std::string Line(int n) {
  return "LINE " + std::to_string(n);
}

using testsupport::ReadFile;

class BrowseListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    std::filesystem::create_directories(root_ + "DADES");
    std::filesystem::create_directories(root_ + "tmp");
    config::Settings& s = config::ModuleSettings();
    s.root_dir = root_;
    s.temp_dir = root_ + "tmp/";
    s.colours = config::ParseColourTable(config::kDefaultColours);
    screen_.set_idle_limit(200);
    // Keys reach the console only while nothing else is waiting, so the one
    // key per record the loading takes never eats a scripted key.
    screen_.set_idle_hook([this] {
      if (keys_.empty()) throw platform::ScriptExhausted();
      keys_.front()();
      keys_.pop_front();
    });
    Forms().lists.resize(4);
    BrowseHooks hooks;
    hooks.start_key = [this](int16_t list, std::string& lo, std::string& hi) {
      lists_asked_.push_back(list);
      lo = lowest_;
      hi = highest_;
      return range_status_;
    };
    hooks.line = [this](int16_t) {
      ++lines_built_;
      return std::string(record_ + 4, kRecordLength - 4);
    };
    hooks.transfer = [this](int16_t list, int16_t form, int16_t field) {
      transfers_.push_back({list, form, field});
      return int16_t{0};
    };
    SetBrowseHooks(hooks);
  }

  void TearDown() override {
    datafiles::Status st = 0;
    datafiles::RecordFilesReset(st);
  }

  // Creates the data file with the records and opens it as kFile.
  void MakeFile(const std::vector<std::string>& records) {
    const std::string path = root_ + "DADES/Owners.dat";
    ASSERT_EQ(recmgr::testing::EngineFile::Create(path, Definition(kRecordLength, {{{1, 4}}})), 0);
    {
      recmgr::testing::EngineFile w;
      ASSERT_EQ(w.Open(path, datafiles::RecordFileOwnerName()), 0);
      for (const std::string& r : records) ASSERT_EQ(w.Insert(r), 0);
    }
    datafiles::Status st = -1;
    datafiles::RecordFileOpen(kFile, root_ + "DADES\\Owners", record_, st);
    ASSERT_EQ(st, 0);
  }
  void MakeNumbered(int n, int group = 1) {
    std::vector<std::string> records;
    for (int i = 1; i <= n; ++i) records.push_back(Rec(group, i, Line(i)));
    MakeFile(records);
  }

  // List `list` on rows top..bottom (rows - 2 visible) and columns 10..41
  // (30 characters wide).
  void DefineList(int16_t list, int16_t file, int rows, const std::string& title = "Test",
                  int16_t linked = 0, int right = 41) {
    BrowseListDef& d = Forms().lists[static_cast<size_t>(list)];
    d.attr = {file, 0,     3, 10, static_cast<int16_t>(3 + rows + 1), static_cast<int16_t>(right),
              0,    linked};
    d.title = title;
  }

  void Key(uint8_t scan) {
    keys_.push_back([this, scan] { screen_.PushScan(scan); });
  }
  void Char(uint8_t ch) {
    keys_.push_back([this, ch] { screen_.PushChar(ch); });
  }
  void Then(std::function<void()> check) { keys_.push_back(std::move(check)); }

  int16_t Run(int16_t list = 1) {
    int16_t result = 99;
    BrowseList(list, result);
    return result;
  }

  // The text of visible row r (1-based inside the frame), trailing blanks
  // removed.
  std::string Row(int r) {
    std::string t = Cells(3 + r, 11, 40);
    return t.substr(0, t.find_last_not_of(' ') + 1);
  }
  // The code page 850 bytes of the cells first..last of a screen row.
  std::string Cells(int row, int first, int last) {
    std::string t;
    for (int c = first; c <= last; ++c) t.push_back(static_cast<char>(screen_.ReadCell(row, c).ch));
    return t;
  }
  std::vector<std::string> Rows(int n) {
    std::vector<std::string> out;
    for (int r = 1; r <= n; ++r) out.push_back(Row(r));
    return out;
  }
  std::vector<std::string> Expected(int first, int last, int blanks) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) out.push_back(Line(i));
    out.resize(out.size() + static_cast<size_t>(blanks));
    return out;
  }
  // The current record's number in the record buffer.
  int Current() const {
    return (static_cast<uint8_t>(record_[2]) << 8) | static_cast<uint8_t>(record_[3]);
  }
  bool CacheExists() { return std::filesystem::exists(root_ + "tmp/Browse.tmp"); }

  ScratchDir dir_;
  KitState kit_;
  std::string root_;
  platform::FakeEnv env_;
  platform::ScopedEnvOverride env_override_{&env_};
  platform::MemoryConsole screen_{25, 80};
  platform::ScopedConsoleOverride console_override_{&screen_};
  std::deque<std::function<void()>> keys_;
  char record_[kRecordLength] = {};
  std::string lowest_, highest_;
  int16_t range_status_ = 0;
  std::vector<int16_t> lists_asked_;
  int lines_built_ = 0;
  std::vector<std::vector<int16_t>> transfers_;
};

TEST_F(BrowseListTest, PagesThroughTwentyFiveRecordsAndStopsAtTheLastPage) {
  MakeNumbered(25);
  DefineList(1, kFile, 10);
  std::vector<std::vector<std::string>> pages;
  auto snap = [&] { pages.push_back(Rows(10)); };
  Then(snap);
  Key(0x51);
  Then(snap);
  Key(0x51);
  Then(snap);
  Key(0x51);
  Then(snap);
  Char(27);
  EXPECT_EQ(Run(), kBrowseResultLeft);
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(pages[0], Expected(1, 10, 0));
  EXPECT_EQ(pages[1], Expected(11, 20, 0));
  EXPECT_EQ(pages[2], Expected(21, 25, 5));
  EXPECT_EQ(pages[3], pages[2]) << "PgDn on the last page does nothing";
  EXPECT_FALSE(CacheExists());
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(screen_.Dump(), std::string(25, '\n')) << "the window is restored";
}

TEST_F(BrowseListTest, PageBoundaryAtTheEndOfTheDataIsNoNextPage) {
  MakeNumbered(20);
  DefineList(1, kFile, 10);
  std::vector<std::string> after;
  Key(0x51);
  Key(0x51);
  Then([&] { after = Rows(10); });
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(after, Expected(11, 20, 0));
  EXPECT_EQ(Current(), 11) << "the cursor stayed on the page's first row";
}

TEST_F(BrowseListTest, UpOnTheFirstLineAndDownOnTheLastDoNothing) {
  MakeNumbered(3);
  DefineList(1, kFile, 10);
  Key(0x48);
  Key(0x48);
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Current(), 1);
  std::vector<std::string> rows;
  for (int i = 0; i < 6; ++i) Key(0x50);
  Then([&] { rows = Rows(10); });
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Current(), 3);
  EXPECT_EQ(rows, Expected(1, 3, 7));
}

TEST_F(BrowseListTest, EnterRereadsTheChosenRecordByItsPosition) {
  MakeNumbered(25);
  DefineList(1, kFile, 10);
  Key(0x50);
  Key(0x50);
  Char(13);
  EXPECT_EQ(Run(), 0);
  // The list had read on to record 10 for the page; Enter came back to 3.
  EXPECT_EQ(Current(), 3);
  EXPECT_EQ(std::string(record_ + 4, 6), "LINE 3");
}

TEST_F(BrowseListTest, EnterOnARecordGoneMeanwhileReturnsTheDataLayerStatus) {
  MakeNumbered(5);
  DefineList(1, kFile, 5);
  Key(0x50);
  Then([&] {
    // Another program of the suite deletes record 2 while the list shows it.
    recmgr::testing::EngineFile other;
    ASSERT_EQ(other.Open(root_ + "DADES/Owners.dat", datafiles::RecordFileOwnerName()), 0);
    ASSERT_EQ(other.Get(recmgr::kOpGetEqual, 0, std::string("\x00\x01\x00\x02", 4)), 0);
    ASSERT_EQ(other.Delete(), 0);
  });
  Char(13);
  const int16_t result = Run();
  EXPECT_NE(result, kBrowseResultChosen);
  EXPECT_NE(result, kBrowseResultLeft);
  EXPECT_FALSE(CacheExists());
}

TEST_F(BrowseListTest, ScrollsDownAndUpByOneLineAtThePageEdges) {
  MakeNumbered(25);
  DefineList(1, kFile, 10);
  std::vector<std::string> down, up;
  for (int i = 0; i < 11; ++i) Key(0x50);  // past the last row: one line on
  Then([&] { down = Rows(10); });
  for (int i = 0; i < 10; ++i) Key(0x48);  // back to row 1, then one more
  Then([&] { up = Rows(10); });
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(down, Expected(3, 12, 0));
  EXPECT_EQ(up, Expected(2, 11, 0));
  EXPECT_EQ(Current(), 2);
}

TEST_F(BrowseListTest, PageUpNearTheStartPutsTheCursorOnTheCurrentEntry) {
  MakeNumbered(25);
  DefineList(1, kFile, 10);
  // 12 Downs: the page starts at 4 (or 3), the cursor on 13; two Ups: 11 on
  // row 8. PgUp moves 10 back to entry 1, and the page to the start.
  std::vector<std::string> page;
  for (int i = 0; i < 12; ++i) Key(0x50);
  Key(0x48);
  Key(0x48);
  Key(0x49);
  Then([&] { page = Rows(10); });
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(page, Expected(1, 10, 0));
  EXPECT_EQ(Current(), 1);
}

TEST_F(BrowseListTest, PageUpFromTheSecondPageKeepsTheCursorRow) {
  MakeNumbered(25);
  DefineList(1, kFile, 10);
  std::vector<std::string> page;
  Key(0x51);  // page 11-20, cursor on 11
  Key(0x50);
  Key(0x50);
  Key(0x50);  // 14 on row 4
  Key(0x49);
  Then([&] { page = Rows(10); });
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(page, Expected(1, 10, 0));
  EXPECT_EQ(Current(), 4);
}

TEST_F(BrowseListTest, HeadingShowsBlanksAsFrameAndUnderscoresAsBlanks) {
  MakeNumbered(2);
  DefineList(1, kFile, 5, "Codi_i nom");
  std::string top;
  Then([&] { top = Cells(3, 10, 41); });
  Char(27);
  Run();
  // ╔Codi i═nom═══…╗: the blank draws the frame line, "_" a blank.
  EXPECT_EQ(top,
            "\xC9"
            "Codi i\xCDnom" +
                std::string(20, '\xCD') + "\xBB");
}

TEST_F(BrowseListTest, RightScrollsByEightUntilTheLongestLineEndsInView) {
  // 30 columns; the longest line has 45 characters: overhang 15.
  std::string long_line = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghi";
  MakeFile({Rec(1, 1, "short"), Rec(1, 2, long_line)});
  DefineList(1, kFile, 5, "Test");
  struct View {
    std::string row2;
    uint8_t left, right;
  };
  std::vector<View> views;
  auto snap = [&] {
    views.push_back({Row(2), screen_.ReadCell(3, 10).ch, screen_.ReadCell(3, 41).ch});
  };
  Then(snap);
  for (int i = 0; i < 3; ++i) {
    Key(0x4D);
    Then(snap);
  }
  Key(0x4B);
  Then(snap);
  Char(27);
  Run();
  ASSERT_EQ(views.size(), 5u);
  EXPECT_EQ(views[0].row2, long_line.substr(0, 30));
  EXPECT_EQ(views[0].left, 0xC9);
  EXPECT_EQ(views[0].right, 0x10) << "► while more text lies to the right";
  EXPECT_EQ(views[1].row2, long_line.substr(8, 30));
  EXPECT_EQ(views[1].left, 0x11) << "◄ once scrolled";
  EXPECT_EQ(views[1].right, 0x10);
  EXPECT_EQ(views[2].row2, long_line.substr(16));
  EXPECT_EQ(views[2].right, 0xBB) << "the end is in view";
  EXPECT_EQ(views[3].row2, views[2].row2) << "no further";
  EXPECT_EQ(views[4].row2, long_line.substr(8, 30));
}

TEST_F(BrowseListTest, KeyRangeStartsAtTheLowestKeyAndStopsAfterTheHighest) {
  std::vector<std::string> records;
  for (int g = 1; g <= 3; ++g) {
    for (int i = 1; i <= 4; ++i)
      records.push_back(Rec(g, i, "G" + std::to_string(g) + "/" + std::to_string(i)));
  }
  MakeFile(records);
  DefineList(2, kFile, 10);
  lowest_ = std::string("\x00\x02", 2);
  highest_ = lowest_;
  std::vector<std::string> rows;
  Then([&] { rows = Rows(5); });
  Char(27);
  EXPECT_EQ(Run(2), kBrowseResultLeft);
  EXPECT_EQ(rows, (std::vector<std::string>{"G2/1", "G2/2", "G2/3", "G2/4", ""}));
  EXPECT_EQ(lists_asked_, std::vector<int16_t>{2});
}

TEST_F(BrowseListTest, EmptyRangeShowsAnEmptyWindowAndEnterLeaves) {
  MakeNumbered(5, 1);
  DefineList(1, kFile, 5);
  lowest_ = std::string("\x00\x07", 2);
  highest_ = lowest_;
  std::vector<std::string> rows;
  Then([&] { rows = Rows(5); });
  Char(13);
  EXPECT_EQ(Run(), kBrowseResultLeft);
  EXPECT_EQ(rows, std::vector<std::string>(5));
}

TEST_F(BrowseListTest, RangeHookStatusKeepsTheListClosed) {
  MakeNumbered(5);
  DefineList(1, kFile, 5);
  range_status_ = 4;
  EXPECT_EQ(Run(), 4);
  EXPECT_EQ(screen_.Dump(), std::string(25, '\n'));
  EXPECT_EQ(lines_built_, 0);
  EXPECT_FALSE(CacheExists());
}

TEST_F(BrowseListTest, ReadsOnlyAPageAtATime) {
  MakeNumbered(100);
  DefineList(1, kFile, 10);
  int built_first = 0, built_second = 0;
  Then([&] { built_first = lines_built_; });
  Key(0x51);
  Then([&] { built_second = lines_built_; });
  Key(0x49);
  Then([&] { EXPECT_EQ(lines_built_, built_second) << "going back never re-reads"; });
  Char(27);
  Run();
  EXPECT_EQ(built_first, 10);
  EXPECT_EQ(built_second, 20);
}

TEST_F(BrowseListTest, EscWhileLoadingEndsTheListAtTheLastLoadedLine) {
  MakeNumbered(25);
  DefineList(1, kFile, 10);
  // One waiting key is taken per record read: three reads find nothing,
  // the fourth finds Esc.
  screen_.PushNothing();
  screen_.PushNothing();
  screen_.PushNothing();
  screen_.PushChar(27);
  std::vector<std::string> page;
  Then([&] { page = Rows(10); });
  for (int i = 0; i < 5; ++i) Key(0x50);
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(page, Expected(1, 3, 7));
  EXPECT_EQ(Current(), 3);
}

TEST_F(BrowseListTest, SkipsRecordsWithAnEmptyLine) {
  MakeFile({Rec(1, 1, "one"), Rec(1, 2, ""), Rec(1, 3, "   "), Rec(1, 4, "four")});
  DefineList(1, kFile, 5);
  std::vector<std::string> rows;
  Then([&] { rows = Rows(3); });
  Key(0x50);
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(rows, (std::vector<std::string>{"one", "four", ""}));
  EXPECT_EQ(Current(), 4);
}

TEST_F(BrowseListTest, CacheHoldsTheEntriesInTheDescribedFormat) {
  MakeNumbered(3);
  DefineList(1, kFile, 5);
  std::string cache;
  Then([&] { cache = ReadFile(root_ + "tmp/Browse.tmp"); });
  Char(27);
  Run();
  std::vector<BrowseEntry> entries;
  int32_t position = 1;
  while (static_cast<size_t>(position) <= cache.size()) {
    auto e = DecodeBrowseEntry(std::string_view(cache).substr(static_cast<size_t>(position - 1)),
                               position);
    ASSERT_TRUE(e);
    entries.push_back(*e);
    position += kBrowseEntryHeaderSize + static_cast<int32_t>(e->line.size());
  }
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].back_link, 0);
  EXPECT_EQ(entries[1].back_link, 1);
  EXPECT_EQ(entries[2].back_link, 1 + 10 + 6);
  EXPECT_EQ(entries[2].line, "LINE 3");
  EXPECT_NE(entries[0].record_position, entries[1].record_position);
  EXPECT_FALSE(CacheExists()) << "removed when the list closes";
}

TEST_F(BrowseListTest, ASignalWhileTheListIsOpenRemovesTheCache) {
  MakeNumbered(3);
  DefineList(1, kFile, 5);
  bool during = false, after_signal = true;
  Then([&] {
    during = CacheExists();
    RemoveBrowseCacheAfterSignal();
    after_signal = CacheExists();
  });
  Char(27);
  Run();
  EXPECT_TRUE(during);
  EXPECT_FALSE(after_signal);
}

TEST_F(BrowseListTest, WithoutADataFileShowsTheCachedLines) {
  std::string cache;
  int32_t previous = 0;
  for (const char* line : {"alpha", "beta", "gamma"}) {
    const int32_t at = static_cast<int32_t>(cache.size()) + 1;
    cache += EncodeBrowseEntry({previous, 0, line});
    previous = at;
  }
  std::ofstream(root_ + "tmp/Browse.tmp", std::ios::binary) << cache;
  DefineList(1, 0, 5);
  std::vector<std::string> rows;
  Then([&] { rows = Rows(4); });
  Key(0x50);
  Char(13);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(rows, (std::vector<std::string>{"alpha", "beta", "gamma", ""}));
  EXPECT_EQ(lines_built_, 0);
  EXPECT_FALSE(CacheExists());
}

TEST_F(BrowseListTest, WithoutADataFileAnEmptyCacheChoosesNothing) {
  // Enter on a list without a data file chooses its line; with no line at
  // all there is nothing to choose, whether the cache is empty or missing.
  for (bool make_file : {true, false}) {
    SCOPED_TRACE(make_file ? "empty cache" : "no cache");
    if (make_file) std::ofstream(root_ + "tmp/Browse.tmp", std::ios::binary);
    DefineList(1, 0, 5);
    std::vector<std::string> rows;
    Then([&] { rows = Rows(5); });
    Char(13);
    EXPECT_EQ(Run(), kBrowseResultLeft);
    EXPECT_EQ(rows, std::vector<std::string>(5));
    EXPECT_FALSE(CacheExists());
  }
}

TEST_F(BrowseListTest, DamagedCacheShowsOnlyItsIntactEntries) {
  struct Case {
    const char* name;
    std::function<std::string(std::string)> damage;
    std::vector<std::string> shown;
  };
  const std::string intact = EncodeBrowseEntry({0, 0, "alpha"}) + EncodeBrowseEntry({1, 0, "beta"});
  const std::string third = EncodeBrowseEntry({16, 0, "gamma"});
  const std::vector<Case> cases = {
      {"cut inside the third line",
       [&](std::string s) { return s + third.substr(0, 12); },
       {"alpha", "beta", ""}},
      {"cut inside the third header",
       [&](std::string s) { return s + third.substr(0, 5); },
       {"alpha", "beta", ""}},
      {"negative length",
       [&](std::string s) {
         std::string t = third;
         t[9] = '\x80';
         return s + t;
       },
       {"alpha", "beta", ""}},
      {"length past the end",
       [&](std::string s) {
         std::string t = third;
         t[8] = '\x7F';
         t[9] = '\x7F';
         return s + t;
       },
       {"alpha", "beta", ""}},
      {"back link forwards",
       [&](std::string s) {
         std::string t = third;
         t[0] = '\x70';
         return s + t;
       },
       {"alpha", "beta", ""}},
      {"first entry's length huge",
       [&](std::string s) {
         s[8] = '\xFF';
         s[9] = '\x7F';
         return s;
       },
       {"", "", ""}},
      {"garbage",
       [&](std::string) { return std::string("\xFF\xFF\xFF\xFF\x01\x02\x03", 7); },
       {"", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(root_ + "tmp/Browse.tmp", std::ios::binary | std::ios::trunc) << c.damage(intact);
    DefineList(1, 0, 5);
    std::vector<std::string> rows;
    Then([&] { rows = Rows(3); });
    for (int i = 0; i < 4; ++i) Key(0x50);
    for (int i = 0; i < 4; ++i) Key(0x48);
    Key(0x51);
    Key(0x49);
    Char(27);
    EXPECT_EQ(Run(), kBrowseResultLeft);
    EXPECT_EQ(rows, c.shown);
  }
}

TEST_F(BrowseListTest, UpAlongABrokenBackLinkStops) {
  // The second entry's back link names a position where no entry ends
  // right before it.
  std::string cache = EncodeBrowseEntry({0, 0, "alpha"}) + EncodeBrowseEntry({1, 0, "beta"});
  cache += EncodeBrowseEntry({1, 0, "gamma"});
  std::ofstream(root_ + "tmp/Browse.tmp", std::ios::binary) << cache;
  DefineList(1, 0, 5);
  Key(0x50);
  Key(0x50);
  Key(0x48);  // gamma's back link does not lead to beta: stays
  std::vector<std::string> rows;
  Then([&] {
    rows = Rows(3);
    EXPECT_EQ(screen_.ReadCell(6, 11).attr, 0x70) << "the cursor is still on gamma";
  });
  Char(27);
  Run();
  EXPECT_EQ(rows, (std::vector<std::string>{"alpha", "beta", "gamma"}));
}

TEST_F(BrowseListTest, F4OpensTheLinkedListAndTransfersItsChoice) {
  MakeNumbered(5);
  DefineList(1, kFile, 5, "Outer", 2);
  DefineList(2, kFile, 3, "Inner");
  std::string inner_top;
  Key(0x3E);
  Then([&] { inner_top = Cells(3, 10, 41); });
  Key(0x50);
  Char(13);
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(inner_top.substr(0, 9), "\xC9Inner\xCD\xCD\xCD");
  EXPECT_EQ(Current(), 2);
  EXPECT_EQ(transfers_, (std::vector<std::vector<int16_t>>{{2, 0, 0}}));
  EXPECT_EQ(lists_asked_, (std::vector<int16_t>{1, 2}));
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(CacheExists());
}

TEST_F(BrowseListTest, F4WithoutALinkedListJustLeaves) {
  MakeNumbered(5);
  DefineList(1, kFile, 5);
  Key(0x3E);
  EXPECT_EQ(Run(1), kBrowseResultLeft);
  EXPECT_TRUE(transfers_.empty());
}

TEST_F(BrowseListTest, RestoresTheLockModeTheColourAndTheKeyMap) {
  MakeNumbered(5);
  DefineList(1, kFile, 5);
  datafiles::Status st = 0;
  datafiles::RecordFileSetLockMode(kFile, "a", st);
  KeyMap("ea", "9");
  SetColour("r");
  const int16_t colour = CurrentColour();
  Char(27);
  Run();
  EXPECT_EQ(CurrentColour(), colour);
  int16_t target = 0;
  EXPECT_TRUE(ExitKeyLookup(9, &target));
  EXPECT_FALSE(ExitKeyLookup(0x4800, &target));
  // Lock mode 1 is back: "-" now restores nothing and "+b-" returns to it.
  datafiles::RecordFileSetLockMode(kFile, "+b-", st);
  EXPECT_EQ(st, 0);
}

TEST_F(BrowseListTest, ListsThatCannotBeShownLeaveAtOnce) {
  MakeNumbered(5);
  Forms().lists[1].attr = {kFile, 0, 3, 10, 30, 41, 0, 0};  // below the screen
  Forms().lists[2].attr = {kFile, 0, 3, 10, 4, 41, 0, 0};   // no row inside
  EXPECT_EQ(Run(1), kBrowseResultLeft);
  EXPECT_EQ(Run(2), kBrowseResultLeft);
  EXPECT_EQ(Run(7), kBrowseResultLeft);  // not defined
  EXPECT_EQ(screen_.Dump(), std::string(25, '\n'));
}

TEST_F(BrowseListTest, FilterFormEndedWithEscKeepsTheListClosed) {
  MakeNumbered(5);
  FormSet& f = Forms();
  f.max_fields = 1;
  f.forms.resize(2);
  f.forms[1].exit_keys = "d,1b";
  f.forms[1].field_count = 1;
  f.forms[1].fields.resize(2);
  f.forms[1].fields[1].attr = {2, 2, 5, 0, 0, 0, 0, 0};
  f.forms[1].fields[1].label = "Filtre ";
  f.forms[1].fields[1].value = "     ";
  DefineList(1, kFile, 5);
  f.lists[1].attr[kBrowseFilterForm] = 1;
  Char(27);
  EXPECT_EQ(Run(1), kBrowseResultLeft);
  EXPECT_TRUE(lists_asked_.empty());
}

TEST(BrowseEntryTest, EncodesTheHeaderLittleEndian) {
  const std::string b = EncodeBrowseEntry({0x01020304, -2, "ab"});
  EXPECT_EQ(b, std::string("\x04\x03\x02\x01\xFE\xFF\xFF\xFF\x02\x00"
                           "ab",
                           12));
  EXPECT_EQ(DecodeBrowseEntry(b, 0x01020304 + 10), (BrowseEntry{0x01020304, -2, "ab"}));
}

TEST(BrowseEntryTest, RejectsDamagedEntries) {
  const std::string good = EncodeBrowseEntry({20, 7, "line"});
  struct Case {
    const char* name;
    std::string bytes;
    int32_t position;
    bool ok;
  };
  std::string negative = good;
  negative[9] = '\xFF';
  std::string backwards_too_little = good;
  const std::vector<Case> cases = {
      {"intact", good, 30, true},
      {"bytes after it are ignored", good + "xyz", 30, true},
      {"empty", "", 1, false},
      {"header cut", good.substr(0, 9), 30, false},
      {"line cut", good.substr(0, 13), 30, false},
      {"negative length", negative, 30, false},
      {"position 0", good, 0, false},
      {"back link to itself", good, 20, false},
      {"back link inside the header room", good, 29, false},
      {"back link a header before", good, 30, true},
      {"negative back link", EncodeBrowseEntry({-5, 0, "x"}), 30, false},
      {"first entry", EncodeBrowseEntry({0, 0, ""}), 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeBrowseEntry(c.bytes, c.position).has_value(), c.ok);
  }
}

}  // namespace
}  // namespace console
