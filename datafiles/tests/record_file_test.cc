#include "datafiles/record_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "datafiles/file_messages.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"

namespace datafiles {
namespace {

using recmgr::testing::Definition;
using recmgr::testing::TempDir;

struct OpenFailed {
  std::string message;
};

// Writes the definition file root/ddf/name.xdf: count, then the bytes.
void WriteXdf(const std::string& root, const std::string& name, const std::string& def,
              int extra_count = 0) {
  std::filesystem::create_directories(root + "ddf");
  std::ofstream out(root + "ddf/" + name + ".xdf", std::ios::binary);
  const size_t n = def.size() + static_cast<size_t>(extra_count);
  out.put(static_cast<char>(n & 0xFF)).put(static_cast<char>(n >> 8)) << def;
}

// Records of 12 bytes: 0..1 binary code (key 0, unique), 2..5 text (key 1,
// duplicates), 6..11 filler.
std::string Rec(uint16_t code, const std::string& text) {
  std::string r(12, '.');
  r[0] = static_cast<char>(code & 0xFF);
  r[1] = static_cast<char>(code >> 8);
  r.replace(2, 4, (text + "    ").substr(0, 4));
  return r;
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() + "/";
    config::ModuleSettings().root_dir = root_;
    config::ModuleSettings().language = "CAT";
    std::filesystem::create_directories(root_ + "DADES");
    WriteXdf(root_, "Pagam",
             Definition(12, {{{1, 2, recmgr::kSegBinary}}, {{3, 4, recmgr::kSegDuplicates}}}));
    DataFileUi ui;
    ui.open_failure = [this](const std::string& m) { failures_.push_back(m); };
    ui.show_message = [this](int row, const std::string& t) {
      shown_.push_back(std::to_string(row) + ":" + t);
    };
    ui.remove_message = [this] { ++removed_; };
    ui.end_program = [] {};
    SetDataFileUi(ui);
  }
  void TearDown() override {
    SetRecordManager(nullptr);
    Status st = 0;
    RecordFilesReset(st);
    SetDataFileUi(DataFileUi{});
  }
  std::string Name() const { return root_ + "DADES\\Pagam"; }
  // Opens file 501 and fills it with codes 1..n (text "T" + code % 3).
  void OpenFilled(int n) {
    Status st = -1;
    RecordFileOpen(501, Name(), buf_, st);
    ASSERT_EQ(st, 0);
    recmgr::testing::EngineFile w;
    ASSERT_EQ(w.Open(root_ + "DADES/Pagam.dat", RecordFileOwnerName()), 0);
    for (int i = 1; i <= n; ++i) {
      ASSERT_EQ(w.Insert(Rec(static_cast<uint16_t>(i), "T" + std::to_string(i % 3))), 0);
    }
  }
  std::string Buf() const { return std::string(buf_, 12); }

  TempDir dir_;
  std::string root_;
  platform::FakeEnv env_;
  platform::ScopedEnvOverride env_override_{&env_};
  char buf_[12] = {};
  std::vector<std::string> failures_, shown_;
  int removed_ = 0;
};

TEST(RecordFileNames, Resolution) {
  struct Case {
    const char* name;
    const char* path;
    const char* base;
  } cases[] = {
      {"DADES\\TDespesa", "DADES\\TDespesa.dat", "TDespesa"},
      {"DADES.OLD\\TDespesa", "DADES.OLD\\TDespesa.dat", "TDespesa"},
      {"DADES\\TDespesa.old", "DADES\\TDespesa.old", "TDespesa"},
      {"DADES\\TDespesa.", "DADES\\TDespesa.", "TDespesa"},
      {"C:Pagam", "C:Pagam.dat", "Pagam"},
      {"a/b.c/Pagam.x.y", "a/b.c/Pagam.x.y", "Pagam"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveRecordFileName(c.name), c.path) << c.name;
    EXPECT_EQ(RecordFileBaseName(c.name), c.base) << c.name;
  }
  EXPECT_EQ(RecordFileOwnerName().size(), 4u);
}

TEST_F(RecordFileTest, OpenCreatesFromDefinitionAndGuardsSlots) {
  OpenFilled(0);
  EXPECT_TRUE(std::filesystem::exists(root_ + "DADES/Pagam.dat"));
  Status st = 0;
  char other[12];
  RecordFileOpen(501, Name(), other, st);
  EXPECT_EQ(st, kStatusAlreadyOpen);
  for (int16_t n = 1; n < 40; ++n) {
    RecordFileOpen(n, Name(), other, st);
    ASSERT_EQ(st, 0) << n;
  }
  RecordFileOpen(99, Name(), other, st);
  EXPECT_EQ(st, kStatusNoFreeSlot);
  EXPECT_TRUE(failures_.empty());
  // The first opening still works on the first buffer.
  RecordFileSeek(501, 0, "", 1, st);
  EXPECT_EQ(st, 9);
  // A successful reset frees every slot.
  RecordFilesReset(st);
  ASSERT_EQ(st, 0);
  RecordFileOpen(99, Name(), other, st);
  EXPECT_EQ(st, 0);
  RecordFileOpen(501, Name(), buf_, st);
  EXPECT_EQ(st, 0);
}

TEST_F(RecordFileTest, OpenFailures) {
  struct Case {
    const char* what;
    std::string xdf;
    int extra_count;
    Status status;
  } cases[] = {
      {"no definition file", "", -1, kStatusFileNotFound},
      {"definition shorter than its count", Definition(12, {{{1, 2}}}), 5,
       recmgr::kInvalidDefinition},
      {"record length over 1536", Definition(1600, {{{1, 2}}}), 0, recmgr::kInvalidRecordLength},
      {"key over 255", Definition(600, {{{1, 200}, {201, 100}}}), 0, recmgr::kInvalidKeyLength},
  };
  int16_t number = 600;
  for (const Case& c : cases) {
    failures_.clear();
    const std::string base = "F" + std::to_string(number);
    if (c.extra_count >= 0) WriteXdf(root_, base, c.xdf, c.extra_count);
    Status st = 0;
    RecordFileOpen(number, root_ + "DADES\\" + base, buf_, st);
    EXPECT_EQ(st, c.status) << c.what;
    ASSERT_EQ(failures_.size(), 1u) << c.what;
    EXPECT_EQ(failures_[0], "NO ES POT ACCEDIR AL FITXER " + root_ + "DADES\\" + base + " (" +
                                std::to_string(c.status) + ")")
        << c.what;
    EXPECT_FALSE(std::filesystem::exists(root_ + "ddf/" + base + ".xdf") && c.extra_count < 0)
        << "a missing definition must not be created";
    ++number;
  }
}

TEST_F(RecordFileTest, OversizedFilesAreRefusedEvenIfTheEngineReportsThem) {
  // An engine answering a Stat with a record length past the layer's buffers.
  SetRecordManager([](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                      int8_t kn) -> Status {
    Status s = recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
    if (op == 15) static_cast<uint8_t*>(d)[1] = 0x08;  // 2048 + low byte
    return s;
  });
  Status st = 0;
  RecordFileOpen(501, Name(), buf_, st);
  EXPECT_NE(st, 0);
  EXPECT_EQ(failures_.size(), 1u);
}

TEST_F(RecordFileTest, EachSeekTakesTheKeysFromTheStatOfTheMoment) {
  OpenFilled(3);
  // From now on the record manager describes the file with key 0 only, as
  // if another program had rebuilt it: key 1 is no longer there.
  bool rebuilt = false;
  int stats = 0;
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    Status s = recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
    if (op == 15) {
      ++stats;
      if (rebuilt) static_cast<uint8_t*>(d)[4] = 1;
    }
    return s;
  });
  Status st = 0;
  RecordFileSeek(501, 1, "T1  ", 0, st);
  ASSERT_EQ(st, 0);
  rebuilt = true;
  RecordFileSeek(501, 1, "T1  ", 0, st);
  EXPECT_EQ(st, kStatusKeyNotDefined);
  RecordFileSeek(501, 0, std::string("\x02\x00", 2), 0, st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(stats, 3);
}

TEST(RecordFileDeath, OpenFailureEndsTheProgramWithCodeZero) {
  TempDir dir;
  config::ModuleSettings().root_dir = dir.path() + "/";
  config::ModuleSettings().language = "SPA";
  SetDataFileUi(DataFileUi{});
  char buf[4];
  Status st = 0;
  EXPECT_EXIT(RecordFileOpen(1, "DADES\\Nada", buf, st), ::testing::ExitedWithCode(0),
              "NO SE PUEDE ACCEDER AL FICHERO DADES.Nada \\(12\\)");
}

TEST_F(RecordFileTest, OpenRetriesEveryThreeSecondsWhileLocked) {
  int locked = 2;
  SetRecordManager([&locked](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                             int8_t kn) -> Status {
    if (op == 0 && locked-- > 0) return kStatusFileLocked;
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  Status st = -1;
  RecordFileOpen(501, Name(), buf_, st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(env_.sleep_calls(), 2);
  EXPECT_EQ(env_.slept_ms(), 6000);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(RecordFileTest, SeekEdgeCases) {
  OpenFilled(20);
  Status st = 0;
  RecordFileSeek(501, 1, "T2", 1, st);  // short value padded with zero bytes
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Buf(), Rec(2, "T2"));
  RecordFileSeek(501, 5, "x", 0, st);
  EXPECT_EQ(st, kStatusKeyNotDefined);
  EXPECT_EQ(RecordFileCurrentKeyForm(501), std::string("T2  ", 4));  // key 1 still current
  RecordFileSeek(501, 1, "T1  and more", 0, st);                     // cut to the key length
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Buf(), Rec(1, "T1"));
  RecordFileSeek(501, 0, std::string("\x07\x00", 2), 0, st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Buf(), Rec(7, "T1"));
  RecordFileSeek(501, 0, std::string("\x07\x01", 2), -1, st);  // 263: last <= is 20
  ASSERT_EQ(st, 0);
  EXPECT_EQ(Buf(), Rec(20, "T2"));
  // A failed search leaves the caller's buffer as it was.
  std::memcpy(buf_, "DEFAULTVALUE", 12);
  RecordFileSeek(501, 0, std::string("\x63\x00", 2), 0, st);
  EXPECT_EQ(st, recmgr::kKeyNotFound);
  EXPECT_EQ(Buf(), "DEFAULTVALUE");
  RecordFileSeek(777, 0, "", 0, st);
  EXPECT_EQ(st, kStatusFileNotOpen);
}

TEST_F(RecordFileTest, SkipStepsAndCopiesOnlyTheLast) {
  OpenFilled(10);
  std::vector<uint16_t> ops;
  std::vector<int> key_lengths;
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    ops.push_back(op);
    key_lengths.push_back(kl);
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  Status st = 0;
  RecordFileSeek(501, 0, std::string("\x08\x00", 2), 0, st);
  ASSERT_EQ(st, 0);
  Status keep = 77;
  RecordFileSkip(501, 0, keep);
  EXPECT_EQ(keep, 0);
  EXPECT_EQ(Buf(), Rec(8, "T2"));
  RecordFileSetLockMode(501, "B", st);
  ops.clear();
  key_lengths.clear();
  RecordFileSkip(501, -3, st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(ops, (std::vector<uint16_t>{7, 7, 207}));
  EXPECT_EQ(key_lengths, (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(Buf(), Rec(5, "T2"));
  EXPECT_EQ(RecordFileCurrentKeyForm(501), std::string("\x00\x05", 2));
  RecordFileSkip(501, 10, st);
  EXPECT_EQ(st, 9);
  RecordFileSkip(502, 1, st);
  EXPECT_EQ(st, kStatusFileNotOpen);
}

TEST_F(RecordFileTest, PositionsAndDirectReads) {
  OpenFilled(5);
  Status st = 0;
  EXPECT_EQ(RecordFilePosition(501, 0), 0);  // no current record yet
  RecordFileSeek(501, 0, std::string("\x04\x00", 2), 0, st);
  const int32_t p4 = RecordFilePosition(501, 0);
  EXPECT_NE(p4, 0);
  RecordFileSeek(501, 1, "T0", 1, st);  // key 1 current, record 3
  ASSERT_EQ(Buf(), Rec(3, "T0"));
  EXPECT_EQ(RecordFilePosition(501, p4), 0);
  EXPECT_EQ(Buf(), Rec(4, "T1"));
  EXPECT_EQ(RecordFileCurrentKeyForm(501), "T1  ");
  RecordFileSkip(501, 1, st);  // along key 1 from record 4 (T1 holds 1 and 4)
  EXPECT_EQ(st, 0);
  EXPECT_EQ(Buf(), Rec(2, "T2"));
  EXPECT_EQ(RecordFilePosition(501, 999999), recmgr::kInvalidRecordPosition);
  EXPECT_EQ(RecordFilePosition(777, p4), kStatusFileNotOpen);
  EXPECT_EQ(RecordFilePosition(777, 0), 0);
}

// Every read offers the record manager the caller's record followed by
// blanks to the end of the buffer, whatever an earlier call left there; a
// read that delivers fewer bytes leaves the rest of the caller's record.
TEST_F(RecordFileTest, ReadsOfferTheRecordFollowedByBlanks) {
  OpenFilled(6);
  int reads = 0, dirty = 0;
  uint16_t scribble_on = 0;  // an operation that writes past what it returns
  uint16_t short_on = 0;     // an operation that delivers only four bytes
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    uint8_t* data = static_cast<uint8_t*>(d);
    if (op >= 5 && op <= 13 && *dl == 12) {  // a read of the record
      ++reads;
      for (int i = 12; i < kDataBufferSize; ++i) dirty += data[i] != ' ';
    }
    Status s = recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
    if (op == scribble_on) {
      std::memset(data, 'X', kDataBufferSize);
      *dl = kDataBufferSize;
    }
    if (op == short_on) *dl = 4;
    return s;
  });
  Status st = 0;
  RecordFileSeek(501, 0, std::string("\x02\x00", 2), 0, st);
  EXPECT_EQ(RecordFileCurrentKeyForm(501), std::string("\x00\x02", 2));  // a Stat: zeros
  RecordFileSkip(501, 1, st);
  EXPECT_EQ(RecordFilePosition(501, RecordFilePosition(501, 0)), 0);  // a direct read
  RecordFileSkip(501, 1, st);
  scribble_on = 6;
  RecordFileSkip(501, 1, st);
  scribble_on = 0;
  EXPECT_EQ(Buf(), std::string(12, 'X'));
  RecordFileSkip(501, -2, st);
  RecordFileSeek(501, 1, "T1", 1, st);
  EXPECT_EQ(Buf(), Rec(1, "T1"));
  EXPECT_EQ(reads, 6);
  EXPECT_EQ(dirty, 0);

  std::memcpy(buf_, "DEFAULTVALUE", 12);
  short_on = 5;
  RecordFileSeek(501, 0, std::string("\x06\x00", 2), 0, st);
  short_on = 0;
  EXPECT_EQ(Buf(), Rec(6, "T0").substr(0, 4) + "ULTVALUE");
}

// Files opened under several numbers keep apart through every mix of calls,
// also after a reset frees the slots and the numbers come back elsewhere.
TEST_F(RecordFileTest, SeveralFilesKeepTheirOwnSlots) {
  OpenFilled(4);
  WriteXdf(root_, "Altre", Definition(12, {{{1, 2, recmgr::kSegBinary}}}));
  char other[12] = {};
  Status st = -1;
  RecordFileOpen(502, root_ + "DADES\\Altre", other, st);
  ASSERT_EQ(st, 0);
  for (int round = 0; round < 2; ++round) {
    RecordFileSeek(501, 0, std::string("\x01\x00", 2), 1, st);
    ASSERT_EQ(st, 0);
    RecordFileSeek(502, 0, std::string("\x01\x00", 2), 1, st);
    EXPECT_EQ(st, recmgr::kEndOfFile);  // empty
    RecordFileSkip(501, 1, st);
    EXPECT_EQ(Buf(), Rec(2, "T2"));
    RecordFileSeek(502, 1, "T", 0, st);  // a key the file does not have
    EXPECT_EQ(st, kStatusKeyNotDefined);
    RecordFileSeek(501, 1, "T0  ", 0, st);
    EXPECT_EQ(Buf(), Rec(3, "T0"));
    RecordFilesReset(st);
    ASSERT_EQ(st, 0);
    RecordFileSkip(501, 1, st);
    EXPECT_EQ(st, kStatusFileNotOpen);
    // Reopened in the other order, so each number lands in the other slot.
    RecordFileOpen(502, root_ + "DADES\\Altre", other, st);
    ASSERT_EQ(st, 0);
    RecordFileOpen(501, Name(), buf_, st);
    ASSERT_EQ(st, 0);
  }
}

TEST_F(RecordFileTest, KeyForms) {
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<uint8_t>(c - 32);
  WriteXdf(root_, "Alt",
           Definition(12, {{{1, 2, recmgr::kSegBinary}, {3, 3, recmgr::kSegAlternate}}}, table));
  Status st = 0;
  RecordFileOpen(510, root_ + "DADES\\Alt", buf_, st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(RecordFileKeyForm("\x01\x02"
                              "abc",
                              510),
            "\x02\x01"
            "ABC");
  EXPECT_EQ(RecordFileKeyForm("\x01", 510), std::string("\x00\x01", 2));  // padded first
  EXPECT_EQ(RecordFileKeyForm("\x01\x02"
                              "ab",
                              510),
            "\x02\x01"
            "AB");
  EXPECT_EQ(RecordFileKeyForm("\x01\x02", 777), "\x01\x02");
  EXPECT_EQ(RecordFileCurrentKeyForm(777), "");
  EXPECT_EQ(RecordFileCurrentKeyForm(510), std::string(5, '\0'));
}

TEST_F(RecordFileTest, LockModeLetters) {
  OpenFilled(1);
  std::vector<uint16_t> ops;
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    if (op != 15) ops.push_back(op);
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  struct Case {
    const char* letters;
    bool biased;
  } cases[] = {{"A+B-", true}, {"D", false},    {"-", false},
               {"b", true},    {"d+a-", false}, {"x?", false}};
  for (const Case& c : cases) {
    Status st = 55;
    RecordFileSetLockMode(501, c.letters, st);
    EXPECT_EQ(st, 55) << c.letters;
    ops.clear();
    RecordFileSeek(501, 0, "", 1, st);
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0], c.biased ? 209 : 9) << c.letters;
  }
  Status st = 0;
  RecordFileSetLockMode(777, "A", st);
  EXPECT_EQ(st, kStatusFileNotOpen);
}

TEST_F(RecordFileTest, LockWait) {
  OpenFilled(3);
  int locked = 0;
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    if (op > 200 && locked > 0) {
      --locked;
      return kStatusRecordLocked;
    }
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  struct Case {
    const char* mode;
    int locked_calls;
    Status status;
    int sleeps;
    size_t messages;
  } cases[] = {
      {"A", 1, 0, 1, 0},  // free again before the first pause ends: no message
      {"A", 4, 0, 4, 1},  // still locked: one message from the second attempt on
      {"B", 1, kStatusRecordLocked, 0, 0},
      {"D", 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Status st = 0;
    RecordFileSetLockMode(501, c.mode, st);
    locked = c.locked_calls;
    shown_.clear();
    removed_ = 0;
    const int sleeps_before = env_.sleep_calls();
    RecordFileSeek(501, 0, "", 1, st);
    EXPECT_EQ(st, c.status) << c.mode << c.locked_calls;
    EXPECT_EQ(env_.sleep_calls() - sleeps_before, c.sleeps) << c.mode << c.locked_calls;
    ASSERT_EQ(shown_.size(), c.messages) << c.mode << c.locked_calls;
    EXPECT_EQ(removed_, static_cast<int>(c.messages));
    if (c.messages) {
      EXPECT_EQ(shown_[0], "24:FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    }
  }
}

}  // namespace
}  // namespace datafiles
