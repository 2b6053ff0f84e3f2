#include "datafiles/record_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "datafiles/file_messages.h"
#include "platform/fake_env.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/test_server.h"

namespace datafiles {
namespace {

using recmgr::testing::Definition;
using testsupport::ScratchDir;

struct OpenFailed {
  std::string message;
};

// Writes the definition file root/ddf/name.xdf: count, then the bytes.
void WriteXdf(const std::string& root, const std::string& name, const std::string& def,
              int extra_count = 0) {
  const size_t n = def.size() + static_cast<size_t>(extra_count);
  const char count[2] = {static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)};
  testsupport::WriteFile(root + "ddf/" + name + ".xdf", std::string(count, 2) + def);
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

// One record manager call as the layer issued it.
struct Issued {
  uint16_t op;
  uint32_t data_length;  // on entry
  std::string data;      // the data bytes offered (up to the buffer's size)
  std::string key;       // the key buffer on entry
  int key_length;
  int key_number;
  std::string block;  // the position block on entry
};

// Records every call, then passes it to the engine. The layer's working
// buffers are 1536 and 256 bytes; Open and Reset pass smaller areas.
class CallLog {
 public:
  CallLog() {
    SetRecordManager([this](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                            int8_t kn) -> Status {
      const size_t data_size = op == 0 ? 5 : op == 28 ? 4 : kDataBufferSize;
      const size_t key_size = op == 0 ? kl + 1u : op == 28 ? 4 : op == 14 ? kl : kKeyBufferSize;
      calls.push_back({op, *dl, std::string(static_cast<const char*>(d), data_size),
                       std::string(static_cast<const char*>(k), key_size), kl, kn,
                       std::string(reinterpret_cast<const char*>(pb), 128)});
      return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
    });
  }
  ~CallLog() { SetRecordManager(nullptr); }
  // The calls other than Stat.
  std::vector<Issued> Reads() const {
    std::vector<Issued> out;
    for (const Issued& c : calls) {
      if (c.op != 15) out.push_back(c);
    }
    return out;
  }
  std::vector<Issued> calls;
};

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    // With TELVORAN_RECORDS_SERVER (a test server's connection string) the
    // data files under the root live on that server, in a schema of each
    // test's own: the layer must behave the same.
    if (const std::string on = testsupport::TestServer("TELVORAN_RECORDS_SERVER"); !on.empty()) {
      const std::string server = testsupport::FreshServerSchema(on);
      ASSERT_FALSE(server.empty()) << "no schema on the test server";
      recmgr::UseServer(server, root_);
      on_server_ = true;
    }
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
    recmgr::UseServer("", "");
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

  ScratchDir dir_;
  std::string root_;
  bool on_server_ = false;
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
  // Made from its definition (on the server there is no file to see).
  EXPECT_TRUE(on_server_ || std::filesystem::exists(root_ + "DADES/Pagam.dat"));
  Status st = 0;
  char other[12];
  RecordFileOpen(501, Name(), other, st);
  EXPECT_EQ(st, kStatusAlreadyOpen);
  // Number 0 marks free slots: it matches one while any is free.
  RecordFileOpen(0, Name(), other, st);
  EXPECT_EQ(st, kStatusAlreadyOpen);
  RecordFileSeek(0, 0, "", 1, st);
  EXPECT_EQ(st, kStatusFileNotOpen);
  for (int16_t n = 1; n < 40; ++n) {
    RecordFileOpen(n, Name(), other, st);
    ASSERT_EQ(st, 0) << n;
  }
  RecordFileOpen(99, Name(), other, st);
  EXPECT_EQ(st, kStatusNoFreeSlot);
  RecordFileOpen(0, Name(), other, st);
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

// The calls of an open that creates the file, and of the reset, as the
// record manager receives them.
TEST_F(RecordFileTest, OpenAndResetIssueTheirCalls) {
  const std::string path = Name() + ".dat";
  const std::string definition =
      Definition(12, {{{1, 2, recmgr::kSegBinary}}, {{3, 4, recmgr::kSegDuplicates}}});
  CallLog log;
  Status st = -1;
  RecordFileOpen(501, Name(), buf_, st);
  ASSERT_EQ(st, 0);
  ASSERT_EQ(log.calls.size(), 4u);
  for (int i : {0, 2}) {
    const Issued& open = log.calls[static_cast<size_t>(i)];
    EXPECT_EQ(open.op, 0);
    EXPECT_EQ(open.data_length, 5u);
    EXPECT_EQ(open.data, RecordFileOwnerName() + std::string(1, '\0'));
    EXPECT_EQ(open.key, path + std::string(1, '\0'));
    EXPECT_EQ(open.key_length, static_cast<int>(path.size()));
    EXPECT_EQ(open.key_number, 0);
  }
  EXPECT_EQ(log.calls[0].block, std::string(128, '\0'));
  const Issued& create = log.calls[1];
  EXPECT_EQ(create.op, 14);
  EXPECT_EQ(create.data_length, 1536u);
  EXPECT_EQ(create.data, definition + std::string(1536 - definition.size(), ' '));
  EXPECT_EQ(create.key, path);
  EXPECT_EQ(create.key_number, -1);
  const Issued& stat = log.calls[3];
  EXPECT_EQ(stat.op, 15);
  EXPECT_EQ(stat.data_length, 1536u);
  EXPECT_EQ(stat.key.substr(0, 255), std::string(255, ' '));
  EXPECT_EQ(stat.key_length, 255);
  EXPECT_EQ(stat.key_number, 0);

  log.calls.clear();
  RecordFilesReset(st);
  ASSERT_EQ(st, 0);
  ASSERT_EQ(log.calls.size(), 1u);
  const Issued& reset = log.calls[0];
  EXPECT_EQ(reset.op, 28);
  EXPECT_EQ(reset.data_length, 0u);
  EXPECT_EQ(reset.data, std::string(4, '\0'));
  EXPECT_EQ(reset.key, std::string(4, '\0'));
  EXPECT_EQ(reset.key_length, 0);
  EXPECT_EQ(reset.key_number, 0);
  EXPECT_EQ(reset.block, std::string(128, ' '));
}

// Each read as the record manager receives it: operation (with the lock
// bias), data length, key length and key number, the key buffer's fill
// after the key value, and the data offered (the caller's record followed
// by blanks for reads that reach the caller's buffer).
TEST_F(RecordFileTest, ReadsIssueTheirCalls) {
  OpenFilled(10);
  CallLog log;
  constexpr int kAny = -1;      // fill not looked at
  constexpr int kRecord = 0;    // data: the caller's record, then blanks
  constexpr int kScratch = 1;   // data: not looked at
  constexpr int kPosition = 2;  // data: the position, then blanks
  struct Expect {
    uint16_t op;
    uint32_t data_length;
    int key_length;
    int key_number;
    int fill;
    int data;
  };
  Status st = 0;
  int32_t p4 = 0;
  auto seek = [&](int16_t key, const std::string& value, int16_t direction) {
    return [&st, key, value, direction] { RecordFileSeek(501, key, value, direction, st); };
  };
  struct Case {
    const char* what;
    const char* letters;
    std::function<void()> before;
    std::function<void()> action;
    std::string key;  // the key value offered
    std::vector<Expect> calls;
  } cases[] = {
      {"seek equal",
       "D",
       [] {},
       seek(0, "\x02", 0),
       std::string("\x02\x00", 2),
       {{5, 12, 2, 0, ' ', kRecord}}},
      {"seek greater or equal",
       "D",
       [] {},
       seek(0, "\x02", 1),
       std::string("\x02\x00", 2),
       {{9, 12, 2, 0, 0x00, kRecord}}},
      {"seek less or equal",
       "D",
       [] {},
       seek(0, "\x02", -1),
       std::string("\x02\x00", 2),
       {{11, 12, 2, 0, 0xFF, kRecord}}},
      {"locked seek equal",
       "B",
       [] {},
       seek(1, "T1", 0),
       std::string("T1\0\0", 4),
       {{205, 12, 4, 1, ' ', kRecord}}},
      {"locked seek greater or equal",
       "A",
       [] {},
       seek(1, "T1", 1),
       std::string("T1\0\0", 4),
       {{209, 12, 4, 1, ' ', kRecord}}},
      {"locked seek less or equal",
       "B",
       [] {},
       seek(1, "T1", -1),
       std::string("T1\0\0", 4),
       {{211, 12, 4, 1, ' ', kRecord}}},
      {"skip forward",
       "D",
       seek(0, "\x03", 0),
       [&] { RecordFileSkip(501, 1, st); },
       std::string("\x03\x00", 2),
       {{6, 12, 2, 0, ' ', kRecord}}},
      {"locked skip of -3",
       "A",
       seek(1, "T2  ", 0),
       [&] { RecordFileSkip(501, -3, st); },
       "T1  ",  // reached by the two steps
       {{7, 1536, 0, 1, 0x00, kScratch},
        {7, 1536, 0, 1, 0x00, kScratch},
        {207, 12, 4, 1, ' ', kRecord}}},
      {"position",
       "A",
       seek(0, "\x04", 0),
       [&] { p4 = RecordFilePosition(501, 0); },
       "",
       {{22, 1536, 0, 0, 0x00, kScratch}}},
      {"direct read",
       "A",
       seek(1, "T0", 1),
       [&] { RecordFilePosition(501, p4); },
       "",
       {{23, 1536, 0, 1, 0x00, kPosition}}},
  };
  for (const Case& c : cases) {
    RecordFileSetLockMode(501, c.letters, st);
    c.before();
    std::memcpy(buf_, "CALLERRECORD", 12);
    log.calls.clear();
    c.action();
    const std::vector<Issued> calls = log.Reads();
    ASSERT_EQ(calls.size(), c.calls.size()) << c.what;
    for (size_t i = 0; i < calls.size(); ++i) {
      const Issued& got = calls[i];
      const Expect& want = c.calls[i];
      EXPECT_EQ(got.op, want.op) << c.what << i;
      EXPECT_EQ(got.data_length, want.data_length) << c.what << i;
      EXPECT_EQ(got.key_length, want.key_length) << c.what << i;
      EXPECT_EQ(got.key_number, want.key_number) << c.what << i;
      const size_t kl = static_cast<size_t>(want.key_length);
      if (kl > 0) {
        EXPECT_EQ(got.key.substr(0, kl), c.key) << c.what << i;
      }
      if (want.fill != kAny) {
        EXPECT_EQ(got.key.substr(kl), std::string(256 - kl, static_cast<char>(want.fill)))
            << c.what << i;
      }
      if (want.data == kRecord) {
        EXPECT_EQ(got.data, "CALLERRECORD" + std::string(1536 - 12, ' ')) << c.what << i;
      } else if (want.data == kPosition) {
        std::string pos(4, '\0');
        for (int b = 0; b < 4; ++b) pos[b] = static_cast<char>(p4 >> (8 * b));
        EXPECT_EQ(got.data, pos + std::string(1536 - 4, ' ')) << c.what << i;
      }
    }
  }
  EXPECT_NE(p4, 0);
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

// The layer never ends the process itself: with the default UI the message
// goes to stderr and the open comes back with its status.
TEST(RecordFileDefaultUi, OpenFailureIsWrittenAndReturned) {
  ScratchDir dir;
  config::ModuleSettings().root_dir = dir.path();
  config::ModuleSettings().language = "SPA";
  SetDataFileUi(DataFileUi{});
  char buf[4];
  Status st = 0;
  ::testing::internal::CaptureStderr();
  RecordFileOpen(1, "DADES\\Nada", buf, st);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "NO SE PUEDE ACCEDER AL FICHERO DADES\\Nada (12)\n");
  EXPECT_EQ(st, kStatusFileNotFound);
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

// The blanks after the record hold across files of other record lengths:
// a longer record read into the working buffer, a Stat, skip steps, a
// position, a direct read and the retries of a lock wait all leave bytes
// that the next read of a shorter record must blank again.
TEST_F(RecordFileTest, BlanksAfterTheRecordHoldAcrossRecordLengths) {
  OpenFilled(6);
  WriteXdf(root_, "Llarg", Definition(40, {{{1, 2, recmgr::kSegBinary}}}));
  char longer[40] = {};
  Status st = -1;
  RecordFileOpen(502, root_ + "DADES\\Llarg", longer, st);
  ASSERT_EQ(st, 0);
  {
    recmgr::testing::EngineFile w;
    ASSERT_EQ(w.Open(root_ + "DADES/Llarg.dat", RecordFileOwnerName()), 0);
    for (uint16_t i = 1; i <= 3; ++i) ASSERT_EQ(w.Insert(Rec(i, "L") + std::string(28, 'L')), 0);
  }
  int reads = 0, dirty = 0, locked = 0;
  bool scribble = false;  // the next read writes the whole buffer and says so
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    uint8_t* data = static_cast<uint8_t*>(d);
    const uint16_t base = op > 200 ? static_cast<uint16_t>(op - 200) : op;
    if (base >= 5 && base <= 13 && (*dl == 12 || *dl == 40)) {
      ++reads;
      for (uint32_t i = *dl; i < kDataBufferSize; ++i) dirty += data[i] != ' ';
    }
    if (op > 200 && locked > 0) {
      --locked;
      std::memset(data, 'Z', *dl);  // a refusal that wrote within what it was offered
      return kStatusRecordLocked;
    }
    const Status status = recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
    if (scribble) {
      scribble = false;
      std::memset(data, 'X', kDataBufferSize);
      *dl = kDataBufferSize;
    }
    return status;
  });
  const std::string k1("\x01\x00", 2);
  RecordFileSeek(502, 0, k1, 0, st);  // 40 bytes into the working buffer
  EXPECT_EQ(st, 0);
  RecordFileSeek(501, 0, k1, 0, st);
  EXPECT_EQ(Buf(), Rec(1, "T1"));
  RecordFileSkip(502, 2, st);  // a step, then a read of 40
  RecordFileSkip(501, 1, st);
  RecordFilePosition(502, RecordFilePosition(502, 0));  // a direct read of 40
  RecordFileSkip(501, 1, st);
  RecordFileSeek(502, 0, k1, 1, st);
  RecordFileSetLockMode(501, "A", st);
  locked = 2;
  RecordFileSkip(501, 1, st);  // three attempts
  EXPECT_EQ(st, 0);
  EXPECT_EQ(Buf(), Rec(4, "T1"));
  scribble = true;
  RecordFileSkip(502, 1, st);
  EXPECT_EQ(std::string(longer, 40), std::string(40, 'X'));
  RecordFileSkip(501, 1, st);
  EXPECT_EQ(Buf(), Rec(5, "T2"));
  EXPECT_EQ(reads, 11);
  EXPECT_EQ(dirty, 0);
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

  // A second key: only the current key's segments apply, and the table lies
  // after the segments of every key.
  WriteXdf(root_, "Alt2",
           Definition(12,
                      {{{1, 2, recmgr::kSegBinary}},
                       {{3, 3, recmgr::kSegAlternate}, {6, 2, recmgr::kSegBinary}, {8, 1}}},
                      table));
  char other[12] = {};
  RecordFileOpen(511, root_ + "DADES\\Alt2", other, st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(RecordFileKeyForm("ab", 511), "ba");  // key 0: binary
  RecordFileSeek(511, 1, "abc\x01\x02z", 0, st);  // the file is empty; key 1 is current
  EXPECT_EQ(st, recmgr::kKeyNotFound);
  EXPECT_EQ(RecordFileKeyForm("abc\x01\x02z", 511),
            "ABC\x02\x01"
            "z");
  EXPECT_EQ(RecordFileCurrentKeyForm(511),
            "ABC\x02\x01"
            "z");
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
  Status refusal = kStatusRecordLocked;
  SetRecordManager([&](uint16_t op, uint8_t* pb, void* d, uint32_t* dl, void* k, uint8_t kl,
                       int8_t kn) -> Status {
    if (op > 200 && locked > 0) {
      --locked;
      return refusal;
    }
    return recmgr::RecordManagerCall(op, pb, d, dl, k, kl, kn);
  });
  struct Case {
    const char* mode;
    int locked_calls;
    Status refusal;
    Status status;
    int sleeps;
    size_t messages;
  } cases[] = {
      {"A", 1, kStatusRecordLocked, 0, 1, 0},  // free again before the first pause ends
      {"A", 4, kStatusRecordLocked, 0, 4, 1},  // one message from the second attempt on
      {"A", 3, kStatusFileLocked, 0, 3, 1},    // a locked file waits the same way
      {"B", 1, kStatusRecordLocked, kStatusRecordLocked, 0, 0},
      {"B", 1, kStatusFileLocked, kStatusFileLocked, 0, 0},
      {"D", 1, kStatusRecordLocked, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Status st = 0;
    RecordFileSetLockMode(501, c.mode, st);
    locked = c.locked_calls;
    refusal = c.refusal;
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
