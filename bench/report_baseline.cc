// The least work any settlement report must do, as a baseline for the
// batch printer: one pass over the payment and collection files' stored
// records with SQLite, summing payments by community, section, group or flat
// and expense type up to the report date, and collections of types C and I
// by owner up to the date.
//
//   report_baseline DADES_DIR YYYYMMDD
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

int32_t I32(const unsigned char* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
}

std::string Packed(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<char>(0x80 + 10 * (digits[i] - '0') + (digits[i + 1] - '0')));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: report_baseline DADES_DIR YYYYMMDD\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string date = Packed(argv[2]);
  auto start = std::chrono::steady_clock::now();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((dir + "/PagamH.dat").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s\n", (dir + "/PagamH.dat").c_str());
    return 1;
  }
  sqlite3_exec(db, ("ATTACH '" + dir + "/CobramH.dat' AS c").c_str(), nullptr, nullptr, nullptr);
  std::unordered_map<std::string, int64_t> payments, collections;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT data FROM main.rec", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* d = static_cast<const unsigned char*>(sqlite3_column_blob(st, 0));
    if (sqlite3_column_bytes(st, 0) < 44) continue;
    if (std::memcmp(d + 2, date.data(), 4) > 0) continue;
    std::string key(reinterpret_cast<const char*>(d), 2);
    key.append(reinterpret_cast<const char*>(d) + 39, 3);
    key.append(reinterpret_cast<const char*>(d) + 8, 2);
    payments[key] += I32(d + 35);
  }
  sqlite3_finalize(st);
  sqlite3_prepare_v2(db, "SELECT data FROM c.rec", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* d = static_cast<const unsigned char*>(sqlite3_column_blob(st, 0));
    if (sqlite3_column_bytes(st, 0) < 24) continue;
    if (std::memcmp(d + 4, date.data(), 4) > 0 || (d[21] != 'C' && d[21] != 'I')) continue;
    collections[std::string(reinterpret_cast<const char*>(d), 4)] +=
        int64_t{I32(d + 13)} - I32(d + 17);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("baseline: %zu payment groups, %zu owners with collections, %.3f s\n",
              payments.size(), collections.size(), s);
  return 0;
}
