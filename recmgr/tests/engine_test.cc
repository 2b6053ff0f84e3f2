#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "recmgr/lock_file.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"
#include "testsupport/scratch_dir.h"
#include "testsupport/test_server.h"

namespace recmgr {
namespace {

using testing::Definition;
using testing::EngineFile;
using testsupport::ScratchDir;

// Records of 8 bytes: 0..3 a unique id, 4..5 a binary counter (duplicates),
// 6 a letter compared case-blind (duplicates), 7 a descending byte.
struct Fixture {
  uint8_t table[256];
  Fixture() {
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<uint8_t>(c - 32);
  }
  std::string Def() const {
    return Definition(8,
                      {{{1, 4}},
                       {{5, 2, kSegBinary | kSegDuplicates | kSegModifiable}},
                       {{7, 1, kSegAlternate | kSegDuplicates | kSegModifiable},
                        {8, 1, kSegDescending | kSegDuplicates | kSegModifiable}}},
                      table);
  }
};

std::string Rec(uint32_t id, uint16_t counter, char letter, uint8_t desc) {
  std::string r(8, '\0');
  for (int i = 0; i < 4; ++i) r[i] = static_cast<char>(id >> (8 * (3 - i)));
  r[4] = static_cast<char>(counter & 0xFF);
  r[5] = static_cast<char>(counter >> 8);
  r[6] = letter;
  r[7] = static_cast<char>(desc);
  return r;
}

enum class Backend { kSqlite, kPostgres };

class EngineTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kPostgres) {
      if (testsupport::TestServer().empty()) GTEST_SKIP() << "no test server (TELVORAN_TEST_PG)";
      conninfo_ = testsupport::FreshServerSchema(testsupport::TestServer());
      ASSERT_FALSE(conninfo_.empty());
      UseServer(conninfo_, dir_.path());
    }
    path_ = dir_.File("f.dat");
    ASSERT_EQ(EngineFile::Create(path_, fx_.Def()), kOk);
    ASSERT_EQ(file_.Open(path_), kOk);
  }
  void TearDown() override {
    file_.Close();
    UseServer("", "");
  }
  bool OnServer() const { return GetParam() == Backend::kPostgres; }
  // Runs SQL on the store behind the file, through its command-line client.
  bool StoreSql(const std::string& sql) {
    const std::string cmd =
        OnServer() ? "timeout 30 psql -qAtX -d \"" + conninfo_ + "\" -c \"" + sql + "\" >/dev/null"
                   : "timeout 30 sqlite3 '" + path_ + "' \"" + sql + "\"";
    return std::system(cmd.c_str()) == 0;
  }
  std::string conninfo_;
  ScratchDir dir_;
  Fixture fx_;
  std::string path_;
  EngineFile file_;
};

INSTANTIATE_TEST_SUITE_P(Backends, EngineTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const ::testing::TestParamInfo<Backend>& i) {
                           return i.param == Backend::kSqlite ? "Sqlite" : "Postgres";
                         });

TEST_P(EngineTest, CreateAndOpenStatuses) {
  EXPECT_EQ(EngineFile::Create(path_, fx_.Def()), kFileExists);
  EXPECT_EQ(EngineFile::Create(path_, fx_.Def(), 0), kOk);  // replace
  EngineFile other;
  EXPECT_EQ(other.Open(dir_.File("missing.dat")), kFileNotFound);
  EXPECT_EQ(other.Open(dir_.path()), kNotADataFile);
  // A server has no folders: a name with a missing one is just a name.
  if (!OnServer()) {
    EXPECT_EQ(EngineFile::Create(dir_.File("nodir/x.dat"), fx_.Def()), kIoError);
  }
  EXPECT_NE(EngineFile::Create(dir_.File("bad.dat"), Definition(0, {{{1, 1}}})), kOk);
  EXPECT_NE(access(dir_.File("bad.dat").c_str(), F_OK), 0);
}

TEST_P(EngineTest, CallConventions) {
  uint8_t zero_block[kPositionBlockSize] = {};
  uint32_t length = 0;
  EXPECT_EQ(RecordManagerCall(kOpGetFirst, zero_block, nullptr, &length, nullptr, 0, 0),
            kFileNotOpen);
  EXPECT_EQ(RecordManagerCall(99, file_.block(), nullptr, &length, nullptr, 0, 0),
            kInvalidOperation);
  EXPECT_EQ(RecordManagerCall(202, file_.block(), nullptr, &length, nullptr, 0, 0),
            kInvalidOperation);  // no lock bias on writes
  EXPECT_EQ(file_.Get(kOpGetNext, 0), kNoCurrentRecord);
  EXPECT_EQ(file_.Get(kOpGetFirst, 0), kEndOfFile);
  EXPECT_EQ(file_.Get(kOpGetFirst, 3), kInvalidKeyNumber);
  EXPECT_EQ(file_.Get(kOpGetFirst, -1), kInvalidKeyNumber);
  EXPECT_EQ(file_.Insert("short"), kDataBufferShort);
  ASSERT_EQ(file_.Insert(Rec(1, 5, 'a', 1)), kOk);
  EXPECT_EQ(file_.Insert(Rec(1, 6, 'b', 2)), kDuplicateKey);
  std::string rec;
  EXPECT_EQ(file_.Get(kOpGetFirst, 0, "", &rec, nullptr, 3), kDataBufferShort);
  EXPECT_EQ(rec, Rec(1, 5, 'a', 1).substr(0, 3));
  std::string key;
  EXPECT_EQ(file_.Get(kOpGetEqual, 1, std::string("\x05\x00", 2), &rec, &key), kOk);
  EXPECT_EQ(key.substr(0, 2), std::string("\x05\x00", 2));  // as stored, not reversed
  EXPECT_EQ(file_.Get(kOpGetEqual, 1, std::string("\x06\x00", 2)), kKeyNotFound);
  EXPECT_EQ(file_.Get(kOpGetGreater, 1, std::string("\x05\x00", 2)), kEndOfFile);
  EXPECT_EQ(file_.Get(kOpGetLess, 1, std::string("\x05\x00", 2)), kEndOfFile);
  EXPECT_EQ(file_.Get(kOpGetLessOrEqual, 1, std::string("\x05\x00", 2)), kOk);
  EXPECT_EQ(file_.Direct(0, 0), kInvalidRecordPosition);
  EXPECT_EQ(file_.Direct(999, 0), kInvalidRecordPosition);
}

// The reference order of key k: segment values compared as the engine
// documents them, then insertion order.
bool RefLess(int k, const std::pair<std::string, int>& a, const std::pair<std::string, int>& b,
             const uint8_t* table) {
  auto u = [](const std::string& s, int i) { return static_cast<uint8_t>(s[i]); };
  std::tuple<uint32_t, uint32_t, int> ta, tb;
  if (k == 0) {
    ta = {static_cast<uint32_t>(u(a.first, 0) << 24 | u(a.first, 1) << 16 | u(a.first, 2) << 8 |
                                u(a.first, 3)),
          0, a.second};
    tb = {static_cast<uint32_t>(u(b.first, 0) << 24 | u(b.first, 1) << 16 | u(b.first, 2) << 8 |
                                u(b.first, 3)),
          0, b.second};
  } else if (k == 1) {
    ta = {static_cast<uint32_t>(u(a.first, 4) | u(a.first, 5) << 8), 0, a.second};
    tb = {static_cast<uint32_t>(u(b.first, 4) | u(b.first, 5) << 8), 0, b.second};
  } else {
    ta = {table[u(a.first, 6)], 255u - u(a.first, 7), a.second};
    tb = {table[u(b.first, 6)], 255u - u(b.first, 7), b.second};
  }
  return ta < tb;
}

TEST_P(EngineTest, OrderMatchesSortedReferenceAfterInsertsAndDeletes) {
  std::mt19937 rng(12345);
  std::map<uint32_t, std::pair<std::string, int>> live;  // id -> (record, seq)
  int seq = 0;
  for (int step = 0; step < 1500; ++step) {
    if (!live.empty() && rng() % 4 == 0) {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      ASSERT_EQ(file_.Get(kOpGetEqual, 0, it->second.first.substr(0, 4)), kOk);
      ASSERT_EQ(file_.Delete(), kOk);
      live.erase(it);
    } else {
      uint32_t id = rng() % 100000;
      if (live.count(id)) continue;
      const std::string r = Rec(id, static_cast<uint16_t>(rng() % 700), "aAbBcZz"[rng() % 7],
                                static_cast<uint8_t>(rng() % 4));
      ASSERT_EQ(file_.Insert(r), kOk);
      live[id] = {r, seq++};
    }
  }
  std::string stat;
  ASSERT_EQ(file_.Stat(&stat), kOk);
  EXPECT_EQ(static_cast<size_t>(static_cast<uint8_t>(stat[6]) | static_cast<uint8_t>(stat[7]) << 8),
            live.size());
  for (int k = 0; k < 3; ++k) {
    std::vector<std::pair<std::string, int>> ref;
    for (auto& [id, v] : live) ref.push_back(v);
    std::sort(ref.begin(), ref.end(),
              [&](const auto& a, const auto& b) { return RefLess(k, a, b, fx_.table); });
    std::vector<std::string> forward, backward;
    std::string rec;
    for (Status s = file_.Get(kOpGetFirst, static_cast<int8_t>(k), "", &rec); s == kOk;
         s = file_.Get(kOpGetNext, static_cast<int8_t>(k), "", &rec)) {
      forward.push_back(rec);
    }
    for (Status s = file_.Get(kOpGetLast, static_cast<int8_t>(k), "", &rec); s == kOk;
         s = file_.Get(kOpGetPrevious, static_cast<int8_t>(k), "", &rec)) {
      backward.push_back(rec);
    }
    ASSERT_EQ(forward.size(), ref.size()) << "key " << k;
    ASSERT_EQ(backward.size(), ref.size()) << "key " << k;
    for (size_t i = 0; i < ref.size(); ++i) {
      EXPECT_EQ(forward[i], ref[i].first) << "key " << k << " forward " << i;
      EXPECT_EQ(backward[ref.size() - 1 - i], ref[i].first) << "key " << k << " backward " << i;
    }
    // Greater-or-equal searches land on the reference's lower bound.
    for (int probe = 0; probe < 50 && k == 1; ++probe) {
      const uint16_t v = static_cast<uint16_t>(rng() % 720);
      std::string kv = Rec(0, v, 'a', 0).substr(4, 2);
      auto it = std::find_if(ref.begin(), ref.end(), [&](const auto& e) {
        return static_cast<uint16_t>(static_cast<uint8_t>(e.first[4]) |
                                     static_cast<uint8_t>(e.first[5]) << 8) >= v;
      });
      Status s = file_.Get(kOpGetGreaterOrEqual, 1, kv, &rec);
      if (it == ref.end()) {
        EXPECT_EQ(s, kEndOfFile);
      } else {
        EXPECT_EQ(s, kOk);
        EXPECT_EQ(rec, it->first);
      }
    }
  }
}

// Random runs of searches, steps both ways, key switches, direct reads,
// inserts and deletes through one handle, against a model of the currency:
// a step goes to the neighbour of the record last read in the order of its
// key, even when a step in the other direction, another key or a write came
// in between, and from the place of a deleted record.
TEST_P(EngineTest, StepsFollowTheCurrencyThroughAnyMixOfCalls) {
  using Entry = std::pair<std::string, int>;  // record, insertion sequence
  std::vector<Entry> live;
  std::map<int, uint32_t> position;  // sequence -> position
  int seq = 0;
  std::mt19937 rng(777);
  auto insert = [&](uint32_t id) {
    const std::string r = Rec(id, static_cast<uint16_t>(rng() % 30), "ab"[rng() % 2],
                              static_cast<uint8_t>(rng() % 3));
    if (file_.Insert(r) != kOk) return false;
    live.push_back({r, seq});
    position[seq++] = file_.Position();
    return true;
  };
  for (uint32_t id = 0; id < 300; ++id) ASSERT_TRUE(insert(id * 2));
  auto counter = [](const std::string& r) {
    return static_cast<int>(static_cast<uint8_t>(r[4]) | static_cast<uint8_t>(r[5]) << 8);
  };

  bool has = false, exists = false;
  int cur_key = 0;
  Entry at;
  auto sorted = [&](int k) {
    std::vector<Entry> v = live;
    std::sort(v.begin(), v.end(),
              [&](const Entry& a, const Entry& b) { return RefLess(k, a, b, fx_.table); });
    return v;
  };
  auto expect_read = [&](Status s, const std::string& rec, const Entry* want, int k, int step) {
    if (want == nullptr) {
      EXPECT_NE(s, kOk) << "step " << step;
      return;
    }
    ASSERT_EQ(s, kOk) << "step " << step;
    EXPECT_EQ(rec, want->first) << "step " << step;
    has = exists = true;
    cur_key = k;
    at = *want;
  };

  for (int step = 0; step < 1500; ++step) {
    const int what = step == 0 ? 0 : static_cast<int>(rng() % 14);
    std::string rec;
    if (what <= 2) {  // a search on key 1
      static const uint16_t kOps[] = {kOpGetEqual, kOpGetGreaterOrEqual, kOpGetGreater,
                                      kOpGetLess,  kOpGetLessOrEqual,    kOpGetFirst,
                                      kOpGetLast};
      const uint16_t op = kOps[rng() % 7];
      const int v = static_cast<int>(rng() % 32);
      const std::vector<Entry> order = sorted(1);
      const Entry* want = nullptr;
      for (const Entry& e : order) {
        const int c = counter(e.first);
        const bool hit = op == kOpGetEqual            ? c == v
                         : op == kOpGetGreaterOrEqual ? c >= v
                         : op == kOpGetGreater        ? c > v
                         : op == kOpGetLess           ? c < v
                         : op == kOpGetLessOrEqual    ? c <= v
                                                      : true;
        const bool forward = op != kOpGetLess && op != kOpGetLessOrEqual && op != kOpGetLast;
        if (hit && (want == nullptr || !forward)) want = &e;
        if (hit && forward) break;
      }
      const std::string value = Rec(0, static_cast<uint16_t>(v), 'a', 0).substr(4, 2);
      expect_read(file_.Get(op, 1, value, &rec), rec, want, 1, step);
    } else if (what <= 9) {  // Next or Previous along the current key
      const bool next = what <= 6;
      const std::vector<Entry> order = sorted(cur_key);
      const Entry* want = nullptr;
      for (const Entry& e : order) {
        if (next && RefLess(cur_key, at, e, fx_.table)) {
          want = &e;
          break;
        }
        if (!next && RefLess(cur_key, e, at, fx_.table)) want = &e;
      }
      const Status s = file_.Get(next ? kOpGetNext : kOpGetPrevious, 0, "", &rec);
      if (want == nullptr) {
        EXPECT_EQ(s, kEndOfFile) << "step " << step;
      } else {
        expect_read(s, rec, want, cur_key, step);
      }
    } else if (what == 10) {  // an insert makes the new record current on key 0
      if (insert(600 + static_cast<uint32_t>(step))) {
        has = exists = true;
        cur_key = 0;
        at = live.back();
      }
    } else if (what == 11 && exists) {  // the place of a deleted record stays
      ASSERT_EQ(file_.Delete(), kOk) << "step " << step;
      live.erase(std::find(live.begin(), live.end(), at));
      exists = false;
    } else if (!live.empty()) {  // a direct read or an equal search on key 0
      const Entry& e = live[rng() % live.size()];
      if (what == 12) {
        const int k = static_cast<int>(rng() % 2);
        expect_read(file_.Direct(position[e.second], static_cast<int8_t>(k), &rec), rec, &e, k,
                    step);
      } else {
        expect_read(file_.Get(kOpGetEqual, 0, e.first.substr(0, 4), &rec), rec, &e, 0, step);
      }
    }
    ASSERT_TRUE(has);
  }
}

// Two handles scanning the same file at once each keep their own place.
// Inside a held snapshot a store may read ahead: every key, both ways, from
// First / Last and from a record in the middle, must give the same records
// as step-by-step reads outside the hold, across batch boundaries (a few
// hundred rows, duplicates included).
TEST_P(EngineTest, HeldScansGiveTheSameRowsAsSingleSteps) {
  std::vector<std::string> records;
  for (uint32_t i = 0; i < 700; ++i) {
    records.push_back(Rec(i * 7919 % 1000, static_cast<uint16_t>(i % 37), "abcXYZ"[i % 6],
                          static_cast<uint8_t>(i % 5)));
  }
  int64_t failed = 0;
  ASSERT_EQ(InsertAll(file_.block(), records, &failed), kOk);
  auto walk = [this](int8_t key, uint16_t first, uint16_t step, int skip) {
    std::vector<uint32_t> seen;
    Status s = file_.Get(first, key);
    for (int i = 0; s == kOk && i < skip; ++i) s = file_.Get(step, key);
    for (; s == kOk; s = file_.Get(step, key)) seen.push_back(file_.Position());
    EXPECT_EQ(s, kEndOfFile);
    return seen;
  };
  for (int8_t key = 0; key < 3; ++key) {
    for (auto [first, step] : {std::pair<uint16_t, uint16_t>{kOpGetFirst, kOpGetNext},
                               {kOpGetLast, kOpGetPrevious}}) {
      for (int skip : {0, 345}) {
        const std::vector<uint32_t> single = walk(key, first, step, skip);
        HoldReadSnapshots();
        const std::vector<uint32_t> held = walk(key, first, step, skip);
        ReleaseReadSnapshots();
        EXPECT_EQ(held, single) << "key " << int(key) << " op " << first << " skip " << skip;
        EXPECT_EQ(single.size(), records.size() - static_cast<size_t>(skip));
      }
    }
  }
}

// Seeks of every kind inside a held snapshot, each followed by a few steps
// either way, give what the same calls give outside the hold (a store may
// answer a seek from rows it read ahead for an earlier scan).
TEST_P(EngineTest, HeldSeeksGiveTheSameRowsAsSingleSteps) {
  std::vector<std::string> records;
  for (uint32_t i = 0; i < 3000; ++i) {
    records.push_back(Rec(i * 7919 % 5000, static_cast<uint16_t>(i % 97), "abcXYZ"[i % 6],
                          static_cast<uint8_t>(i % 5)));
  }
  int64_t failed = 0;
  ASSERT_EQ(InsertAll(file_.block(), records, &failed), kOk);
  // One run of calls: (operation, key, sought value) with the steps after
  // each, the statuses and positions seen.
  auto run = [this]() {
    std::mt19937 rng(11);
    std::vector<uint64_t> seen;
    const uint16_t seeks[] = {kOpGetEqual, kOpGetGreater, kOpGetGreaterOrEqual, kOpGetLess,
                              kOpGetLessOrEqual};
    for (int i = 0; i < 600; ++i) {
      const int8_t key = static_cast<int8_t>(rng() % 2);
      const uint32_t v = rng() % 5200;
      const std::string value =
          key == 0 ? Rec(v, 0, 'a', 0).substr(0, 4) : Rec(0, static_cast<uint16_t>(v % 100), 'a', 0).substr(4, 2);
      Status s = file_.Get(seeks[rng() % 5], key, value);
      seen.push_back(static_cast<uint64_t>(s) << 32 | (s == kOk ? file_.Position() : 0));
      const uint16_t step = rng() % 2 ? kOpGetNext : kOpGetPrevious;
      for (int n = static_cast<int>(rng() % 40); s == kOk && n > 0; --n) {
        s = file_.Get(step, key);
        seen.push_back(static_cast<uint64_t>(s) << 32 | (s == kOk ? file_.Position() : 0));
      }
    }
    return seen;
  };
  const std::vector<uint64_t> single = run();
  HoldReadSnapshots();
  const std::vector<uint64_t> held = run();
  ReleaseReadSnapshots();
  EXPECT_EQ(held, single);
}

// A record of another length than the file's can only be damage done
// outside the engine: reading it is an I/O error, never a read past its end
// or a scan that stands still; the records around it still read.
TEST_P(EngineTest, ADamagedRecordIsAnIoError) {
  for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(file_.Insert(Rec(i, 0, 'a', 0)), kOk);
  ASSERT_EQ(file_.Get(kOpGetFirst, 0), kOk);
  const uint32_t first = file_.Position();
  file_.Close();
  const std::string at = std::to_string(first + 1);
  ASSERT_TRUE(OnServer() ? StoreSql("UPDATE rm_t1 SET data = '\\x0102' WHERE id = " + at)
                         : StoreSql("UPDATE rec SET data = x'0102' WHERE id = " + at +
                                    "; UPDATE k0 SET data = x'0102' WHERE id = " + at +
                                    "; UPDATE k1 SET data = x'0102' WHERE id = " + at +
                                    "; UPDATE k2 SET data = x'0102' WHERE id = " + at));
  ASSERT_EQ(file_.Open(path_), kOk);
  for (bool held : {false, true}) {
    if (held) HoldReadSnapshots();
    EXPECT_EQ(file_.Get(kOpGetFirst, 0), kOk);
    EXPECT_EQ(file_.Get(kOpGetNext, 0), kIoError);
    EXPECT_EQ(file_.Direct(first + 1, 0), kIoError);
    EXPECT_EQ(file_.Get(kOpGetEqual, 0, Rec(3, 0, 'a', 0).substr(0, 4)), kOk);
    EXPECT_EQ(file_.Get(kOpGetPrevious, 0), kIoError);
    if (held) ReleaseReadSnapshots();
  }
}

TEST_P(EngineTest, InterleavedScansOfTwoHandles) {
  for (uint32_t i = 0; i < 50; ++i) ASSERT_EQ(file_.Insert(Rec(i, 0, 'a', 0)), kOk);
  EngineFile other;
  ASSERT_EQ(other.Open(path_), kOk);
  std::string a, b;
  ASSERT_EQ(file_.Get(kOpGetFirst, 0, "", &a), kOk);
  ASSERT_EQ(other.Get(kOpGetLast, 0, "", &b), kOk);
  for (uint32_t i = 1; i < 50; ++i) {
    ASSERT_EQ(file_.Get(kOpGetNext, 0, "", &a), kOk);
    ASSERT_EQ(other.Get(kOpGetPrevious, 0, "", &b), kOk);
    EXPECT_EQ(a, Rec(i, 0, 'a', 0));
    EXPECT_EQ(b, Rec(49 - i, 0, 'a', 0));
  }
  EXPECT_EQ(file_.Get(kOpGetNext, 0), kEndOfFile);
  EXPECT_EQ(other.Get(kOpGetPrevious, 0), kEndOfFile);
}

TEST_P(EngineTest, PositionsAreStableAndNeverReused) {
  ASSERT_EQ(file_.Insert(Rec(1, 1, 'a', 0)), kOk);
  const uint32_t p1 = file_.Position();
  ASSERT_EQ(file_.Insert(Rec(2, 1, 'a', 0)), kOk);
  const uint32_t p2 = file_.Position();
  EXPECT_NE(p1, p2);
  ASSERT_EQ(file_.Get(kOpGetEqual, 0, Rec(2, 0, 0, 0).substr(0, 4)), kOk);
  ASSERT_EQ(file_.Update(Rec(2, 9, 'q', 7)), kOk);
  EXPECT_EQ(file_.Position(), p2);
  ASSERT_EQ(file_.Delete(), kOk);
  EXPECT_EQ(file_.Position(), 0u);
  ASSERT_EQ(file_.Insert(Rec(3, 1, 'a', 0)), kOk);
  EXPECT_GT(file_.Position(), p2);
  std::string rec;
  EXPECT_EQ(file_.Direct(p2, 0), kInvalidRecordPosition);
  ASSERT_EQ(file_.Direct(p1, 0, &rec), kOk);
  EXPECT_EQ(rec, Rec(1, 1, 'a', 0));
  // Direct establishes currency on the key given.
  ASSERT_EQ(file_.Get(kOpGetNext, 0, "", &rec), kOk);
  EXPECT_EQ(rec, Rec(3, 1, 'a', 0));
}

TEST_P(EngineTest, UpdateAndDeleteRules) {
  ASSERT_EQ(file_.Insert(Rec(1, 1, 'a', 0)), kOk);
  ASSERT_EQ(file_.Insert(Rec(2, 2, 'b', 0)), kOk);
  EXPECT_EQ(file_.Update(Rec(1, 2, 'b', 0)), kKeyNotModifiable);  // key 0 fixed
  ASSERT_EQ(file_.Get(kOpGetFirst, 1), kOk);
  EXPECT_EQ(file_.Update(Rec(1, 2, 'b', 0)), kOk);  // duplicates allowed on 1, 2
  std::string rec;
  ASSERT_EQ(file_.Get(kOpGetNext, 1, "", &rec), kOk);  // insertion order: id 1 first
  EXPECT_EQ(rec, Rec(2, 2, 'b', 0));
  ASSERT_EQ(file_.Get(kOpGetFirst, 0), kOk);
  ASSERT_EQ(file_.Delete(), kOk);
  EXPECT_EQ(file_.Delete(), kNoCurrentRecord);
  ASSERT_EQ(file_.Get(kOpGetNext, 0, "", &rec), kOk);  // goes on from the deleted place
  EXPECT_EQ(rec, Rec(2, 2, 'b', 0));
}

TEST_P(EngineTest, InsertAllIsAllOrNothing) {
  ASSERT_EQ(file_.Insert(Rec(5, 1, 'a', 0)), kOk);
  int64_t failed = 0;
  std::vector<std::string> recs = {Rec(1, 1, 'a', 0), Rec(2, 1, 'a', 0), Rec(5, 1, 'a', 0)};
  EXPECT_EQ(InsertAll(file_.block(), recs, &failed), kDuplicateKey);
  EXPECT_EQ(failed, 2);
  // The same unique key twice in one batch: the second one is the offender.
  recs = {Rec(1, 1, 'a', 0), Rec(1, 1, 'a', 0)};
  failed = 0;
  EXPECT_EQ(InsertAll(file_.block(), recs, &failed), kDuplicateKey);
  EXPECT_EQ(failed, 1);
  recs = {Rec(1, 1, 'a', 0), "short"};
  EXPECT_EQ(InsertAll(file_.block(), recs, &failed), kDataBufferShort);
  EXPECT_EQ(failed, 1);
  std::string stat;
  ASSERT_EQ(file_.Stat(&stat), kOk);
  EXPECT_EQ(stat[6], 1);
  recs = {Rec(3, 7, 'a', 0), Rec(1, 7, 'A', 0), Rec(2, 8, 'b', 0)};
  ASSERT_EQ(InsertAll(file_.block(), recs, &failed), kOk);
  ASSERT_EQ(file_.Stat(&stat), kOk);
  EXPECT_EQ(stat[6], 4);
  EXPECT_EQ(stat[16 + 6], 4);  // key 0 distinct
  EXPECT_EQ(stat[32 + 6], 3);  // counters 1, 7, 8
  EXPECT_EQ(stat[48 + 6], 2);  // letters A, B (case-blind)
  EXPECT_EQ(stat[64 + 6], 2);
}

// A load into a file without records (sorted as it comes in) and into one
// with records answer alike, on every back end: the clash reported is the
// first record in input order whose value came before it, nothing stays of
// a failed load, and the distinct counts are those of the records loaded.
TEST_P(EngineTest, InsertAllIntoEmptyAndFilledFilesAlike) {
  for (const bool filled : {false, true}) {
    SCOPED_TRACE(filled ? "filled" : "empty");
    const std::string p = dir_.File(filled ? "filled.dat" : "empty.dat");
    ASSERT_EQ(EngineFile::Create(p, fx_.Def()), kOk);
    EngineFile f;
    ASSERT_EQ(f.Open(p), kOk);
    if (filled) {
      ASSERT_EQ(f.Insert(Rec(900, 9, 'z', 0)), kOk);
    }
    const int base = filled ? 1 : 0;
    int64_t failed = 0;
    // The second 5 (index 2) is the first record repeating a value, though
    // the second 2 (index 3) comes before it in key order.
    std::vector<std::string> recs = {Rec(5, 1, 'a', 0), Rec(2, 1, 'a', 0), Rec(5, 1, 'a', 0),
                                     Rec(2, 1, 'a', 0)};
    EXPECT_EQ(InsertAll(f.block(), recs, &failed), kDuplicateKey);
    EXPECT_EQ(failed, 2);
    recs = {Rec(1, 1, 'a', 0), "short"};
    EXPECT_EQ(InsertAll(f.block(), recs, &failed), kDataBufferShort);
    EXPECT_EQ(failed, 1);
    std::string stat;
    ASSERT_EQ(f.Stat(&stat), kOk);
    EXPECT_EQ(stat[6], base);
    recs = {Rec(3, 7, 'a', 0), Rec(1, 7, 'A', 0), Rec(2, 8, 'b', 0), Rec(4, 7, 'c', 0)};
    ASSERT_EQ(InsertAll(f.block(), recs, &failed), kOk);
    ASSERT_EQ(f.Stat(&stat), kOk);
    EXPECT_EQ(stat[6], base + 4);
    EXPECT_EQ(stat[16 + 6], base + 4);  // key 0 distinct
    EXPECT_EQ(stat[32 + 6], base + 2);  // counters 7, 8 (and 9)
    EXPECT_EQ(stat[48 + 6], base + 3);  // letters A, B, C (and Z)
    std::string rec;
    std::vector<std::string> by_counter;
    for (Status s = f.Get(kOpGetFirst, 1, "", &rec); s == kOk; s = f.Get(kOpGetNext, 1, "", &rec)) {
      by_counter.push_back(rec);
    }
    std::vector<std::string> want = {Rec(3, 7, 'a', 0), Rec(1, 7, 'A', 0), Rec(4, 7, 'c', 0),
                                     Rec(2, 8, 'b', 0)};
    if (filled) want.push_back(Rec(900, 9, 'z', 0));
    EXPECT_EQ(by_counter, want);  // duplicates in the order they came
    f.Close();
  }
}

TEST_P(EngineTest, OwnerName) {
  EngineFile other;
  EXPECT_EQ(other.Open(path_, "9999"), kOk);  // no owner: anything goes
  other.Close();
  ASSERT_EQ(SetOwnerName(file_.block(), "1234"), kOk);
  EXPECT_EQ(other.Open(path_, "9999"), kInvalidOwner);
  EXPECT_EQ(other.Open(path_, ""), kInvalidOwner);
  EXPECT_EQ(other.Open(path_, "1234"), kOk);
}

TEST_P(EngineTest, ChangesThroughAnotherHandleAreSeenAtOnce) {
  for (uint32_t i = 0; i < 40; i += 2) ASSERT_EQ(file_.Insert(Rec(i, 0, 'a', 0)), kOk);
  EngineFile reader;
  ASSERT_EQ(reader.Open(path_), kOk);
  std::string rec;
  ASSERT_EQ(reader.Get(kOpGetFirst, 0, "", &rec), kOk);
  ASSERT_EQ(reader.Get(kOpGetNext, 0, "", &rec), kOk);  // fills a read-ahead batch
  ASSERT_EQ(file_.Insert(Rec(3, 0, 'a', 0)), kOk);
  ASSERT_EQ(reader.Get(kOpGetNext, 0, "", &rec), kOk);
  EXPECT_EQ(rec, Rec(3, 0, 'a', 0));
}

TEST_P(EngineTest, LocksBetweenHandles) {
  ASSERT_EQ(file_.Insert(Rec(1, 0, 'a', 0)), kOk);
  ASSERT_EQ(file_.Insert(Rec(2, 0, 'a', 0)), kOk);
  EngineFile other;
  ASSERT_EQ(other.Open(path_), kOk);
  ASSERT_EQ(file_.Get(kOpGetFirst + kLockNoWaitBias, 0), kOk);
  const uint32_t p1 = file_.Position();
  EXPECT_EQ(other.Get(kOpGetFirst + kLockNoWaitBias, 0), kRecordLocked);
  EXPECT_EQ(other.Get(kOpGetFirst, 0), kOk);  // a plain read still succeeds
  EXPECT_EQ(other.Update(Rec(1, 5, 'a', 0)), kRecordLocked);
  EXPECT_EQ(other.Direct(p1, 0, nullptr, kOpGetDirect + kLockNoWaitBias), kRecordLocked);
  // Locking the next record releases the first.
  ASSERT_EQ(file_.Get(kOpGetNext + kLockNoWaitBias, 0), kOk);
  EXPECT_EQ(other.Get(kOpGetFirst + kLockNoWaitBias, 0), kOk);
  EXPECT_EQ(other.Get(kOpGetNext + kLockNoWaitBias, 0), kRecordLocked);
  // A failed lock leaves the currency where it was.
  EXPECT_EQ(other.Position(), p1);

  // Exclusive open: others cannot open, and open ones read 85.
  EngineFile exclusive;
  EXPECT_EQ(exclusive.Open(path_, "", kOpenExclusive), kOk);
  EngineFile late;
  EXPECT_EQ(late.Open(path_), kFileLocked);
  EXPECT_EQ(other.Get(kOpGetFirst, 0), kFileLocked);
  EXPECT_EQ(other.Insert(Rec(9, 0, 'a', 0)), kFileLocked);
  exclusive.Close();
  EXPECT_EQ(other.Get(kOpGetFirst, 0), kOk);

  // Reset releases everything this process holds.
  uint32_t length = 0;
  ASSERT_EQ(RecordManagerCall(kOpReset, nullptr, nullptr, &length, nullptr, 0, 0), kOk);
  EXPECT_EQ(file_.Get(kOpGetFirst, 0), kFileNotOpen);
  EngineFile again;
  ASSERT_EQ(again.Open(path_), kOk);
  EXPECT_EQ(again.Get(kOpGetLast + kLockNoWaitBias, 0), kOk);
}

TEST(EngineForeignFiles, GiveNotADataFile) {
  ScratchDir dir;
  Fixture fx;
  auto write = testsupport::WriteFile;
  std::mt19937 rng(7);
  std::string noise(8192, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  write(dir.File("noise.dat"), noise);
  write(dir.File("empty.dat"), "");
  write(dir.File("header.dat"), std::string("SQLite format 3\0", 16) + noise);
  {
    // A SQLite file of another schema.
    const std::string p = dir.File("other.dat");
    ASSERT_EQ(EngineFile::Create(p, fx.Def()), kOk);
    std::string cmd = "sqlite3 '" + p + "' 'DROP TABLE rm_file;' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) write(p, std::string("SQLite format 3\0", 16));
  }
  {
    // A real data file cut in half.
    const std::string p = dir.File("cut.dat");
    ASSERT_EQ(EngineFile::Create(p, fx.Def()), kOk);
    EngineFile f;
    ASSERT_EQ(f.Open(p), kOk);
    std::vector<std::string> recs;
    for (uint32_t i = 0; i < 3000; ++i) recs.push_back(Rec(i, static_cast<uint16_t>(i), 'a', 0));
    int64_t failed = 0;
    ASSERT_EQ(InsertAll(f.block(), recs, &failed), kOk);
    f.Close();
    const auto size = std::filesystem::file_size(p);
    std::filesystem::resize_file(p, size / 2);
  }
  for (const char* name : {"noise.dat", "empty.dat", "header.dat", "other.dat", "cut.dat"}) {
    EngineFile f;
    EXPECT_EQ(f.Open(dir.File(name)), kNotADataFile) << name;
  }
}

// A checksum of the file's bytes.
size_t Checksum(const std::string& path) {
  return std::hash<std::string>()(testsupport::ReadFile(path));
}

// Runs body in a child process and returns what it returned. The child
// must not have the file open before: it gets no connection of ours.
std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string out = body();
    if (::write(fds[1], out.data(), out.size()) < 0) ::_exit(1);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof(buf))) > 0;)
    out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return out;
}

// Runs body in a child process that may not write the folder dir: as user
// nobody when the test runs as root (root ignores permission bits),
// otherwise with the folder and its files made read-only meanwhile.
std::string AsReader(const std::string& dir, const std::function<std::string()>& body) {
  std::vector<std::pair<std::string, std::filesystem::perms>> saved;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    saved.emplace_back(e.path().string(), e.status().permissions());
    ::chmod(e.path().c_str(), 0444);
  }
  ::chmod(dir.c_str(), 0555);
  const std::string out = InChild([&]() -> std::string {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      return "setuid";
    }
    return body();
  });
  ::chmod(dir.c_str(), 0755);
  for (const auto& [path, perms] : saved) std::filesystem::permissions(path, perms);
  return out;
}

// Open status, the records read along key 0, and what a write, a locking
// read and an exclusive open give.
std::string ReadEverything(const std::string& path) {
  EngineFile f;
  std::string out = "open " + std::to_string(f.Open(path));
  int n = 0;
  for (Status s = f.Get(kOpGetFirst, 0); s == kOk; s = f.Get(kOpGetNext, 0)) ++n;
  std::string stat;
  f.Stat(&stat);
  out += " records " + std::to_string(n) + " stat " +
         std::to_string(stat.size() > 9 ? static_cast<uint8_t>(stat[6]) : -1);
  out += " insert " + std::to_string(f.Insert(Rec(900, 1, 'z', 1)));
  out += " lock " + std::to_string(f.Get(kOpGetFirst + kLockNoWaitBias, 0));
  EngineFile exclusive;
  out += " exclusive " + std::to_string(exclusive.Open(path, "", kOpenExclusive));
  return out;
}

TEST(EngineReadOnlyFolder, IsReadAndAReaderNeverWritesTheDataFile) {
  ScratchDir dir;
  ::chmod(dir.path().c_str(), 0755);
  Fixture fx;
  const std::string path = dir.File("ro.dat");
  ASSERT_EQ(EngineFile::Create(path, fx.Def()), kOk);
  {
    EngineFile w;
    ASSERT_EQ(w.Open(path), kOk);
    for (uint32_t i = 1; i <= 20; ++i) ASSERT_EQ(w.Insert(Rec(i, 1, 'a', 0)), kOk);
  }
  // Only the data file, no side file of any kind. On a full disk (no byte
  // may be written) the side file cannot be made: an I/O error, not "not a
  // data file".
  std::filesystem::remove(path + "-lck");
  EXPECT_EQ(InChild([&] {
              ::signal(SIGXFSZ, SIG_IGN);
              const struct rlimit none = {0, 0};
              ::setrlimit(RLIMIT_FSIZE, &none);
              return "open " + std::to_string(EngineFile().Open(path));
            }),
            "open 2");
  for (const char* side : {"-lck", "-wal", "-shm"}) std::filesystem::remove(path + side);
  // In a folder that may not be written: read immutable, without locks.
  EXPECT_EQ(AsReader(dir.path(), [&] { return ReadEverything(path); }),
            "open 0 records 20 stat 20 insert 2 lock 0 exclusive 0");

  // A writer killed after its commits: five records only in the WAL.
  if (const pid_t pid = ::fork(); pid == 0) {
    EngineFile w;
    if (w.Open(path) != kOk) ::_exit(1);
    for (uint32_t i = 21; i <= 25; ++i) w.Insert(Rec(i, 1, 'a', 0));
    ::_exit(0);
  } else {
    ::waitpid(pid, nullptr, 0);
  }
  const size_t before = Checksum(path);
  // Another program holds record 1: a reader that cannot lock still sees it.
  std::unique_ptr<LockFile> holder = LockFile::Open(path);
  ASSERT_TRUE(holder && holder->TryLockRecord(1));
  EXPECT_EQ(AsReader(dir.path(), [&] { return ReadEverything(path); }),
            "open 0 records 25 stat 25 insert 2 lock 84 exclusive 0");
  holder.reset();
  {
    EngineFile r;  // may write, but never wrote: its close checkpoints nothing
    ASSERT_EQ(r.Open(path), kOk);
    std::string stat;
    ASSERT_EQ(r.Stat(&stat), kOk);
    EXPECT_EQ(static_cast<uint8_t>(stat[6]), 25);
  }
  EXPECT_EQ(Checksum(path), before);

  // The log is there but its index is gone and cannot be made: reading
  // without the log would lose records, so the open fails.
  std::filesystem::remove(path + "-shm");
  EXPECT_EQ(AsReader(dir.path(), [&] { return "open " + std::to_string(EngineFile().Open(path)); }),
            "open 2");
  EXPECT_EQ(Checksum(path), before);

  // A side file that is a link is never written through.
  const std::string victim = dir.File("victim");
  std::ofstream(victim) << "keep";
  std::filesystem::remove(path + "-lck");
  std::filesystem::create_symlink(victim, path + "-lck");
  EXPECT_EQ(EngineFile().Open(path), kIoError);
  std::filesystem::remove(path + "-lck");
  std::filesystem::create_hard_link(victim, path + "-lck");
  EXPECT_EQ(EngineFile().Open(path), kIoError);
  EXPECT_EQ(std::filesystem::file_size(victim), 4u);
}

}  // namespace
}  // namespace recmgr
