// The cost of reading alone, as the batch printer's second baseline: every
// payment record stepped once in the order of the key the report reads them
// by (key 2) and every collection record in the order of key 0, through
// SQLite, nothing computed beyond touching each record's bytes.
//
//   report_floor DADES_DIR
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Steps every row of one key table; false when the file cannot be read.
bool StepAll(sqlite3* db, const char* sql, int64_t* rows, uint64_t* checksum) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return false;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(st, 1));
    const int n = sqlite3_column_bytes(st, 1);
    *checksum += static_cast<uint64_t>(n) + (n > 0 ? data[n - 1] : 0u);
    ++*rows;
  }
  sqlite3_finalize(st);
  return rc == SQLITE_DONE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: report_floor DADES_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((dir + "/PagamH.dat").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s/PagamH.dat\n", dir.c_str());
    return 1;
  }
  sqlite3_stmt* attach = nullptr;
  sqlite3_prepare_v2(db, "ATTACH ?1 AS c", -1, &attach, nullptr);
  const std::string collections = dir + "/CobramH.dat";
  sqlite3_bind_text(attach, 1, collections.c_str(), -1, SQLITE_TRANSIENT);
  const bool attached = sqlite3_step(attach) == SQLITE_DONE;
  sqlite3_finalize(attach);
  int64_t rows = 0;
  uint64_t checksum = 0;
  const bool ok = attached && StepAll(db, "SELECT kf, data FROM main.k2", &rows, &checksum) &&
                  StepAll(db, "SELECT kf, data FROM c.k0", &rows, &checksum);
  sqlite3_close(db);
  if (!ok) {
    std::fprintf(stderr, "cannot read the payment and collection files in %s\n", dir.c_str());
    return 1;
  }
  std::printf("floor: %lld records read (checksum %llu)\n", static_cast<long long>(rows),
              static_cast<unsigned long long>(checksum));
  return 0;
}
