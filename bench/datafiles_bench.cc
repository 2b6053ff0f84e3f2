// Record file layer against raw SQLite on a generated payment-like file of
// 1,000,000 records of 44 bytes with three duplicate keys. Build once, then
// run: the file is generated in a temporary directory at first use.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "config/settings.h"
#include "datafiles/record_file.h"
#include "recmgr/record_manager.h"
#include "recmgr/testing/engine_test_util.h"

namespace {

using recmgr::testing::Definition;

constexpr int kRecords = 1000000;
constexpr int16_t kFile = 515;

struct BenchFile {
  std::string dir;
  std::string path;
  std::vector<std::string> key2_values;
  double load_records_per_s = 0;
  char record[44] = {};

  BenchFile() {
    dir = (std::filesystem::temp_directory_path() / "telvoran-bench-data").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/DADES");
    path = dir + "/DADES/PagamH.dat";
    const std::string def =
        Definition(44, {{{1, 2, recmgr::kSegDuplicates}, {3, 4, recmgr::kSegDuplicates}},
                        {{9, 2, recmgr::kSegDuplicates}},
                        {{1, 2, recmgr::kSegDuplicates},
                         {40, 1, recmgr::kSegDuplicates},
                         {41, 2, recmgr::kSegDuplicates},
                         {9, 2, recmgr::kSegDuplicates}}});
    recmgr::testing::EngineFile::Create(path, def);
    std::mt19937 rng(42);
    std::vector<std::string> recs(kRecords);
    for (std::string& r : recs) {
      r.assign(44, ' ');
      r[0] = static_cast<char>(0x80 + rng() % 100);
      r[1] = static_cast<char>(0x80 + rng() % 100);
      r[2] = static_cast<char>(0x94);
      r[3] = static_cast<char>(0x80 + 20 + rng() % 7);
      r[4] = static_cast<char>(0x81 + rng() % 12);
      r[5] = static_cast<char>(0x81 + rng() % 28);
      r[8] = static_cast<char>('A' + rng() % 26);
      r[9] = static_cast<char>('A' + rng() % 26);
      const uint32_t amount = rng();
      std::memcpy(&r[35], &amount, 4);
      r[39] = (rng() & 1) ? 'N' : 'S';
      r[40] = static_cast<char>(0x80 + rng() % 8);
      r[41] = static_cast<char>(0x80 + rng() % 100);
    }
    for (int i = 0; i < 4096; ++i) {
      const std::string& r = recs[rng() % kRecords];
      key2_values.push_back(r.substr(0, 2) + r.substr(39, 3) + r.substr(8, 2));
    }
    recmgr::testing::EngineFile f;
    f.Open(path);
    int64_t failed = 0;
    const auto t0 = std::chrono::steady_clock::now();
    recmgr::InsertAll(f.block(), recs, &failed);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    load_records_per_s = kRecords / s;
    f.Close();
    config::ModuleSettings().root_dir = dir + "/";
    platform::Status st = 0;
    datafiles::RecordFileOpen(kFile, dir + "/DADES\\PagamH", record, st);
  }
};

BenchFile& File() {
  static BenchFile* f = new BenchFile();
  return *f;
}

long RssKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void BM_LayerSkipKey2(benchmark::State& state) {
  BenchFile& f = File();
  platform::Status st = 0;
  datafiles::RecordFileSeek(kFile, 2, "", 1, st);
  const long rss_start = RssKiB();
  long rss_max = rss_start;
  int64_t n = 0;
  for (auto _ : state) {
    datafiles::RecordFileSkip(kFile, 1, st);
    if (st != 0) {
      rss_max = std::max(rss_max, RssKiB());
      datafiles::RecordFileSeek(kFile, 2, "", 1, st);
    }
    if ((++n & 0xFFFF) == 0) rss_max = std::max(rss_max, RssKiB());
    benchmark::DoNotOptimize(f.record[0]);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["rss_start_MiB"] = static_cast<double>(rss_start) / 1024.0;
  state.counters["rss_growth_MiB"] = static_cast<double>(rss_max - rss_start) / 1024.0;
  state.counters["load_rec_per_s"] = f.load_records_per_s;
}

void BM_RawIndexScan(benchmark::State& state) {
  BenchFile& f = File();
  sqlite3* db = nullptr;
  sqlite3_open_v2(f.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT kf, id, data FROM k2 ORDER BY kf, id", -1, &stmt, nullptr);
  char out[44] = {};
  for (auto _ : state) {
    if (sqlite3_step(stmt) != SQLITE_ROW) {
      sqlite3_reset(stmt);
      sqlite3_step(stmt);
    }
    std::memcpy(out, sqlite3_column_blob(stmt, 2), 44);
    benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 1));
    benchmark::DoNotOptimize(out[0]);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

void BM_LayerSeekEqual(benchmark::State& state) {
  BenchFile& f = File();
  platform::Status st = 0;
  size_t i = 0;
  for (auto _ : state) {
    datafiles::RecordFileSeek(kFile, 2, f.key2_values[i++ & 4095], 0, st);
    benchmark::DoNotOptimize(st);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LayerSeekGreaterOrEqual(benchmark::State& state) {
  BenchFile& f = File();
  platform::Status st = 0;
  size_t i = 0;
  for (auto _ : state) {
    std::string k = f.key2_values[i++ & 4095];
    k[6] = static_cast<char>(k[6] + 1);
    datafiles::RecordFileSeek(kFile, 2, k, 1, st);
    benchmark::DoNotOptimize(st);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LayerDirect(benchmark::State& state) {
  File();
  std::mt19937 rng(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(datafiles::RecordFilePosition(kFile, 1 + rng() % kRecords));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RawPointLookup(benchmark::State& state) {
  BenchFile& f = File();
  sqlite3* db = nullptr;
  sqlite3_open_v2(f.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT data FROM rec WHERE id = ?1", -1, &stmt, nullptr);
  std::mt19937 rng(1);
  char out[44] = {};
  for (auto _ : state) {
    sqlite3_bind_int64(stmt, 1, 1 + rng() % kRecords);
    if (sqlite3_step(stmt) == SQLITE_ROW) std::memcpy(out, sqlite3_column_blob(stmt, 0), 44);
    sqlite3_reset(stmt);
    benchmark::DoNotOptimize(out[0]);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_LayerSkipKey2)->Iterations(3000000);
BENCHMARK(BM_RawIndexScan)->Iterations(3000000);
BENCHMARK(BM_LayerSeekEqual);
BENCHMARK(BM_LayerSeekGreaterOrEqual);
BENCHMARK(BM_LayerDirect);
BENCHMARK(BM_RawPointLookup);

}  // namespace
