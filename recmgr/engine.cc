// The record manager engine. Division of this file:
//   1. SQLite helpers and the status translation (the only place SQLite
//      result codes become statuses)
//   2. Handles: one per Open, owning its connection, its prepared
//      statements, its currency and its open scan
//   3. Open, Create, Close, Reset
//   4. Reads
//   5. Writes
//   6. The entry point and the administration calls
//
// Storage, per data file: rm_file (one row: format tag, definition in the
// Stat layout, owner name, record count), rec (id = the physical position,
// AUTOINCREMENT so that a position is never reused), rm_distinct (distinct
// key values per key) and per key k a covering WITHOUT ROWID table kK(kf,
// id, data) ordered by the key's comparable form and then by id, which keeps
// duplicates in insertion order both ways.
//
// Reads on a handle run inside one SQLite read transaction (a snapshot)
// kept open from call to call, so that a run of reads does not take and drop
// SQLite's file and WAL locks for every statement. The snapshot is renewed
// at the first read after the shared change counter of the side file has
// moved (every committed write through this engine, in any process, moves
// it), after a +200 lock is taken, and it is ended before every write on
// the handle. So reads see other processes' writes as soon as they are
// committed, as before; and while the counter stands still no WAL frame
// is newer than the snapshot, so an active reader holds back no checkpoint.
// EndReadTransactions ends them all for a program about to wait for long.
// HoldReadSnapshots keeps them from being renewed, for a report that must
// see each file as it was at one moment.
//
// A file that may be read but not written (a read-only folder, another
// user's files) is opened read-only, or immutable when SQLite's side files
// can neither be found nor made (see OpenDatabaseChain and LockFile); its
// writes give an I/O error. A handle that never wrote closes without a
// checkpoint, so a reader never writes into the data file.
//
// Sequential reads are served by one row-value range query per scan, kept
// stepping from call to call: each Next / Previous along the scan takes one
// more row from it, so a scan reads exactly the rows its caller asks for. The
// query is ended with the snapshot, before every write, and whenever a read
// leaves the place it stands on.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/lock_file.h"
#include "recmgr/record_manager.h"

namespace recmgr {
namespace {

// --- 1. SQLite helpers ------------------------------------------------------

constexpr int32_t kApplicationId = 0x544C5652;
constexpr char kFormatTag[] = "telvoran-recmgr-1";
constexpr uint8_t kBlockMagic[4] = {'R', 'M', 'P', 'B'};
constexpr int kBusyTimeoutMs = 30000;

Status FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kOk;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:  // a missing table or column: not one of our files
      return kNotADataFile;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kFileLocked;
    case SQLITE_CONSTRAINT:
      return kDuplicateKey;
    default:
      return kIoError;
  }
}

class Stmt {
 public:
  Stmt() = default;
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  int Prepare(sqlite3* db, const std::string& sql) {
    return sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }
  void BindBlob(int i, const void* p, size_t n) {
    if (n == 0) {
      sqlite3_bind_zeroblob(stmt_, i, 0);
    } else {
      sqlite3_bind_blob(stmt_, i, p, static_cast<int>(n), SQLITE_STATIC);
    }
  }
  void BindBlob(int i, const std::string& s) { BindBlob(i, s.data(), s.size()); }
  void BindInt(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  int Step() { return sqlite3_step(stmt_); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  // Runs a statement that returns no rows and resets it.
  int Run() {
    int rc = sqlite3_step(stmt_);
    Reset();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
  void ColumnBlob(int i, std::string* out) const {
    const void* p = sqlite3_column_blob(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    out->assign(static_cast<const char*>(p ? p : ""), static_cast<size_t>(n));
  }
  int64_t ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

int Exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

// --- 2. Handles -------------------------------------------------------------

struct Row {
  std::string kf;
  int64_t id = 0;
  std::string data;
};

// A row as SQLite holds it: valid until the statement it came from steps
// again or is reset. A scan does not fetch the key form: most rows read are
// never stepped from by a new query, and the form follows from the record.
struct RowView {
  std::string_view kf;  // when kf_known
  bool kf_known = false;
  int64_t id = 0;
  std::string_view data;
};

struct KeyStatements {
  Stmt after;   // rows after (kf, id) in key order
  Stmt before;  // rows before (kf, id), backwards
  // The same from a key value alone, for positioning reads: SQLite then
  // seeks once and compares nothing more per row.
  Stmt at_or_after;  // kf >= value
  Stmt past;         // kf > value
  Stmt below;        // kf < value, backwards
  Stmt at_or_below;  // kf <= value, backwards
  Stmt exists;
  Stmt insert;
  Stmt remove;
  Stmt update;
};

struct Handle {
  ~Handle() {
    StopScan();
    if (locked_id != 0) locks->UnlockRecord(static_cast<uint32_t>(locked_id));
    if (db != nullptr && end_read && !sqlite3_get_autocommit(db)) end_read->Run();
    keys.clear();
    by_id.reset();
    rec_insert.reset();
    rec_update.reset();
    rec_delete.reset();
    begin_read.reset();
    end_read.reset();
    read_records.reset();
    read_distinct.reset();
    write_records.reset();
    write_distinct.reset();
    // A handle that never wrote leaves the WAL as it found it: the last
    // close would otherwise checkpoint another program's log into the data
    // file (a reader never writes into it).
    if (db != nullptr && !wrote)
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_close(db);
  }

  sqlite3* db = nullptr;
  std::unique_ptr<LockFile> locks;
  FileDefinition def;
  uint32_t generation = 0;
  // Writes are refused (the file, its folder or its side file may not be
  // written); immutable: opened without SQLite's side files.
  bool read_only = false;
  bool immutable = false;
  // A write was committed through this handle.
  bool wrote = false;

  std::vector<std::unique_ptr<KeyStatements>> keys;
  std::unique_ptr<Stmt> by_id, rec_insert, rec_update, rec_delete, begin_read, end_read;
  std::unique_ptr<Stmt> read_records, read_distinct, write_records, write_distinct;

  // Currency: the record last read, along the key it was read by. After a
  // delete the place is kept (exists false) so Next / Previous go on from it.
  int cur_key = 0;
  bool has_cur = false;
  bool cur_exists = false;
  // The key form of the currency; while !cur_kf_known it is still to be
  // taken from cur_data, the record as it was read.
  std::string cur_kf;
  bool cur_kf_known = true;
  std::string cur_data;
  int64_t cur_id = 0;

  // The open scan: a range query in direction scan_dir along scan_key that
  // last returned the row scan_id, started while the change counter was
  // scan_counter. scan_kf holds the bound key form while it runs.
  Stmt* scan = nullptr;
  int scan_dir = 0;
  int scan_key = -1;
  int64_t scan_id = 0;
  uint64_t scan_counter = 0;
  std::string scan_kf;
  // The row a locking read found, kept across the snapshot it renews.
  Row found;

  std::string stat_cache;
  uint64_t stat_counter = 0;
  bool stat_valid = false;

  int64_t locked_id = 0;

  // The change counter when the open read transaction began.
  uint64_t read_counter = 0;

  // Scratch buffers of one call.
  std::string raw_key, target_kf, row_raw_key;
  std::vector<std::string> old_kf, new_kf;

  void StopScan() {
    if (scan != nullptr) {
      scan->Reset();
      scan = nullptr;
    }
  }

  void DropCaches() {
    StopScan();
    stat_valid = false;
  }
};

std::vector<std::unique_ptr<Handle>>& Handles() {
  static auto* handles = new std::vector<std::unique_ptr<Handle>>();
  return *handles;
}
uint32_t g_generation = 0;
// Set between HoldReadSnapshots and ReleaseReadSnapshots: an open read
// transaction is kept although the change counter has moved.
bool g_hold_snapshots = false;

using platform::LoadLe32;
using platform::StoreLe32;

Handle* Lookup(const uint8_t* block) {
  if (block == nullptr || std::memcmp(block, kBlockMagic, 4) != 0) return nullptr;
  const uint32_t index = LoadLe32(block + 4);
  auto& handles = Handles();
  if (index >= handles.size() || !handles[index]) return nullptr;
  Handle* h = handles[index].get();
  return h->generation == LoadLe32(block + 8) ? h : nullptr;
}

int PrepareAll(Handle* h) {
  auto make = [h](std::unique_ptr<Stmt>* s, const std::string& sql) {
    *s = std::make_unique<Stmt>();
    return (*s)->Prepare(h->db, sql);
  };
  int rc = SQLITE_OK;
  if ((rc = make(&h->by_id, "SELECT data FROM rec WHERE id = ?1")) ||
      (rc = make(&h->rec_insert, "INSERT INTO rec(data) VALUES(?1)")) ||
      (rc = make(&h->rec_update, "UPDATE rec SET data = ?2 WHERE id = ?1")) ||
      (rc = make(&h->rec_delete, "DELETE FROM rec WHERE id = ?1")) ||
      (rc = make(&h->begin_read, "BEGIN")) || (rc = make(&h->end_read, "COMMIT")) ||
      (rc = make(&h->read_records, "SELECT records FROM rm_file WHERE id = 1")) ||
      (rc = make(&h->read_distinct, "SELECT key, n FROM rm_distinct ORDER BY key")) ||
      (rc = make(&h->write_records, "UPDATE rm_file SET records = ?1 WHERE id = 1")) ||
      (rc = make(&h->write_distinct, "UPDATE rm_distinct SET n = ?2 WHERE key = ?1"))) {
    return rc;
  }
  for (size_t k = 0; k < h->def.keys.size(); ++k) {
    auto ks = std::make_unique<KeyStatements>();
    const std::string t = "k" + std::to_string(k);
    if ((rc = ks->after.Prepare(
             h->db, "SELECT id, data FROM " + t + " WHERE (kf, id) > (?1, ?2) ORDER BY kf, id")) ||
        (rc = ks->before.Prepare(h->db,
                                 "SELECT id, data FROM " + t +
                                     " WHERE (kf, id) < (?1, ?2) ORDER BY kf DESC, id DESC")) ||
        (rc = ks->at_or_after.Prepare(
             h->db, "SELECT id, data FROM " + t + " WHERE kf >= ?1 ORDER BY kf, id")) ||
        (rc = ks->past.Prepare(h->db,
                               "SELECT id, data FROM " + t + " WHERE kf > ?1 ORDER BY kf, id")) ||
        (rc = ks->below.Prepare(
             h->db, "SELECT id, data FROM " + t + " WHERE kf < ?1 ORDER BY kf DESC, id DESC")) ||
        (rc = ks->at_or_below.Prepare(
             h->db, "SELECT id, data FROM " + t + " WHERE kf <= ?1 ORDER BY kf DESC, id DESC")) ||
        (rc = ks->exists.Prepare(h->db, "SELECT 1 FROM " + t + " WHERE kf = ?1 LIMIT 1")) ||
        (rc =
             ks->insert.Prepare(h->db, "INSERT INTO " + t + "(kf, id, data) VALUES(?1, ?2, ?3)")) ||
        (rc = ks->remove.Prepare(h->db, "DELETE FROM " + t + " WHERE kf = ?1 AND id = ?2")) ||
        (rc = ks->update.Prepare(h->db,
                                 "UPDATE " + t + " SET data = ?3 WHERE kf = ?1 AND id = ?2"))) {
      return rc;
    }
    h->keys.push_back(std::move(ks));
  }
  return SQLITE_OK;
}

// Ends the handle's read transaction, if one is open.
void EndRead(Handle* h) {
  h->StopScan();
  if (!sqlite3_get_autocommit(h->db)) h->end_read->Run();
}

// Makes sure a read transaction is open and began after the last change
// noted in the side file.
Status BeginRead(Handle* h) {
  const uint64_t counter = h->locks->ChangeCounter();
  if (!sqlite3_get_autocommit(h->db)) {
    if (counter == h->read_counter || g_hold_snapshots) return kOk;
    EndRead(h);
  }
  if (int rc = h->begin_read->Run(); rc != SQLITE_OK) return FromSqlite(rc);
  h->read_counter = counter;
  return kOk;
}

// Counts kept in the file: the record count and distinct values per key.
struct Counts {
  int64_t records = 0;
  std::vector<int64_t> distinct;
};

int ReadCounts(Handle* h, Counts* c) {
  c->records = 0;
  c->distinct.assign(h->def.keys.size(), 0);
  int rc = h->read_records->Step();
  if (rc == SQLITE_ROW) c->records = h->read_records->ColumnInt(0);
  h->read_records->Reset();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
  while ((rc = h->read_distinct->Step()) == SQLITE_ROW) {
    int64_t k = h->read_distinct->ColumnInt(0);
    if (k >= 0 && static_cast<size_t>(k) < c->distinct.size()) {
      c->distinct[static_cast<size_t>(k)] = h->read_distinct->ColumnInt(1);
    }
  }
  h->read_distinct->Reset();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int WriteCounts(Handle* h, const Counts& c) {
  h->write_records->BindInt(1, c.records);
  int rc = h->write_records->Run();
  for (size_t k = 0; rc == SQLITE_OK && k < c.distinct.size(); ++k) {
    h->write_distinct->BindInt(1, static_cast<int64_t>(k));
    h->write_distinct->BindInt(2, c.distinct[k]);
    rc = h->write_distinct->Run();
  }
  return rc;
}

std::string TextFromBuffer(const void* buffer, size_t n) {
  if (buffer == nullptr) return std::string();
  const char* p = static_cast<const char*>(buffer);
  size_t len = 0;
  while (len < n && p[len] != '\0') ++len;
  return std::string(p, len);
}

// --- 3. Open, Create, Close, Reset ------------------------------------------

// Failures of the open are "not a data file" only when the file itself
// says so (FromSqlite: not a database, corrupt, other tables); a file that
// cannot be read (I/O error, full disk, no permission, no memory) is an I/O
// error.
Status VerifyAndLoad(Handle* h, const std::string& host, std::string* owner) {
  Stmt app;
  int rc = app.Prepare(h->db, "PRAGMA application_id");
  if (rc != SQLITE_OK) return FromSqlite(rc);
  rc = app.Step();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? kNotADataFile : FromSqlite(rc);
  if (app.ColumnInt(0) != kApplicationId) return kNotADataFile;
  app.Reset();

  // A file cut short loses pages SQLite would only notice when it reads
  // them; with no WAL frames pending, the header's page count must fit.
  struct stat wal;
  if (::stat((host + "-wal").c_str(), &wal) != 0 || wal.st_size == 0) {
    struct stat st;
    Stmt pc, ps;
    if (::stat(host.c_str(), &st) != 0) return kIoError;
    if ((rc = pc.Prepare(h->db, "PRAGMA page_count")) != SQLITE_OK ||
        (rc = ps.Prepare(h->db, "PRAGMA page_size")) != SQLITE_OK) {
      return FromSqlite(rc);
    }
    if ((rc = pc.Step()) != SQLITE_ROW || (rc = ps.Step()) != SQLITE_ROW) {
      return rc == SQLITE_DONE ? kNotADataFile : FromSqlite(rc);
    }
    if (pc.ColumnInt(0) * ps.ColumnInt(0) > static_cast<int64_t>(st.st_size)) {
      return kNotADataFile;
    }
  }

  Stmt meta;
  if ((rc = meta.Prepare(h->db, "SELECT magic, definition, owner FROM rm_file WHERE id = 1")) !=
      SQLITE_OK) {
    return FromSqlite(rc);
  }
  if ((rc = meta.Step()) != SQLITE_ROW) return rc == SQLITE_DONE ? kNotADataFile : FromSqlite(rc);
  std::string magic, definition;
  meta.ColumnBlob(0, &magic);
  meta.ColumnBlob(1, &definition);
  meta.ColumnBlob(2, owner);
  if (magic != kFormatTag || DecodeDefinition(reinterpret_cast<const uint8_t*>(definition.data()),
                                              definition.size(), &h->def) != kOk) {
    return kNotADataFile;
  }
  meta.Reset();
  if ((rc = PrepareAll(h)) != SQLITE_OK) return FromSqlite(rc);
  Counts counts;
  if ((rc = ReadCounts(h, &counts)) != SQLITE_OK) return FromSqlite(rc);
  return kOk;
}

// The path as a URI for sqlite3_open_v2: "%", "?" and "#" would end or
// escape the path, so they travel percent-encoded; an absolute path gets
// an empty authority, so one starting with "//" is not taken for a host.
std::string UriFor(const std::string& host, const char* query) {
  std::string uri = host.starts_with('/') ? "file://" : "file:";
  for (char c : host) {
    if (c == '%' || c == '?' || c == '#') {
      static const char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[static_cast<uint8_t>(c) >> 4];
      uri += kHex[static_cast<uint8_t>(c) & 0xF];
    } else {
      uri += c;
    }
  }
  return uri + query;
}

// How a data file's database is opened, in the order tried.
enum class DbMode {
  kReadWrite,  // normal: SQLite's side files made and written as needed
  kReadOnly,   // no writes; reads the WAL through existing side files
  kImmutable,  // no side files and no locks at all: only with no WAL
};

// One attempt to open and verify the file in a mode; the handle keeps the
// connection on success.
Status OpenDatabase(Handle* h, const std::string& host, DbMode mode, std::string* owner) {
  const char* query = mode == DbMode::kReadWrite  ? ""
                      : mode == DbMode::kReadOnly ? "?mode=ro"
                                                  : "?immutable=1";
  const int flags = (mode == DbMode::kReadWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
                    SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(UriFor(host, query).c_str(), &h->db, flags, nullptr);
  if (rc != SQLITE_OK) {
    Status s = FromSqlite(rc);
    return s == kFileLocked || s == kNotADataFile ? s : kIoError;
  }
  sqlite3_busy_timeout(h->db, kBusyTimeoutMs);
  return VerifyAndLoad(h, host, owner);
}

// Opens the file's database: read-write; failing that with an I/O error
// (the file or its folder not writable, SQLite's side files that cannot be
// made, no room for them), read-only; failing that too, immutable, which
// ignores the WAL and so is taken only when there is none: a log that
// cannot be read is an I/O error, never skipped. A file that is not a data
// file, or is busy, stops the chain.
Status OpenDatabaseChain(std::unique_ptr<Handle>* out, const std::string& host,
                         std::string* owner) {
  Status s = kIoError;
  for (DbMode mode : {DbMode::kReadWrite, DbMode::kReadOnly, DbMode::kImmutable}) {
    if (mode == DbMode::kImmutable) {
      struct stat wal;
      if (::stat((host + "-wal").c_str(), &wal) == 0 ? wal.st_size != 0 : errno != ENOENT) {
        return s;
      }
    }
    auto h = std::make_unique<Handle>();
    s = OpenDatabase(h.get(), host, mode, owner);
    if (s == kOk) {
      h->immutable = mode == DbMode::kImmutable;
      h->read_only = mode != DbMode::kReadWrite || sqlite3_db_readonly(h->db, "main") == 1;
      *out = std::move(h);
      return kOk;
    }
    if (s != kIoError) return s;
  }
  return s;
}

Status DoOpen(uint8_t* block, const void* data, const uint32_t* data_length, const void* key,
              uint8_t key_length, int8_t mode) {
  if (block == nullptr) return kFileNotOpen;
  const std::string path = TextFromBuffer(key, key_length);
  if (path.empty()) return kFileNotFound;
  const std::string host = platform::HostPath(path);
  const std::string owner = TextFromBuffer(data, data_length ? *data_length : 0);

  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? kFileNotFound : kIoError;
  }
  if (!S_ISREG(st.st_mode) || st.st_size == 0) return kNotADataFile;

  std::unique_ptr<Handle> h;
  std::string stored_owner;
  if (Status s = OpenDatabaseChain(&h, host, &stored_owner); s != kOk) return s;
  Exec(h->db, "PRAGMA synchronous = NORMAL");

  h->locks = LockFile::Open(host);
  if (!h->locks) return kIoError;
  // Writes need the shared side file: without it others would neither see
  // this handle's record locks nor learn of its changes.
  if (h->locks->mode() != LockFile::Mode::kShared) h->read_only = true;
  if (h->immutable) h->locks->SetUnchanging();
  if (mode == kOpenExclusive ? !h->locks->TryLockFile() : h->locks->FileLockedByOther()) {
    return kFileLocked;
  }
  if (!stored_owner.empty() && stored_owner != owner) return kInvalidOwner;

  auto& handles = Handles();
  size_t index = 0;
  while (index < handles.size() && handles[index]) ++index;
  if (index == handles.size()) handles.emplace_back();
  h->generation = ++g_generation;
  std::memset(block, 0, kPositionBlockSize);
  std::memcpy(block, kBlockMagic, 4);
  StoreLe32(block + 4, static_cast<uint32_t>(index));
  StoreLe32(block + 8, h->generation);
  handles[index] = std::move(h);
  return kOk;
}

Status DoCreate(const void* data, const uint32_t* data_length, const void* key, uint8_t key_length,
                int8_t mode) {
  const std::string path = TextFromBuffer(key, key_length);
  if (path.empty()) return kFileNotFound;
  FileDefinition def;
  if (Status s =
          DecodeDefinition(static_cast<const uint8_t*>(data), data_length ? *data_length : 0, &def);
      s != kOk) {
    return s;
  }
  const std::string host = platform::HostPath(path);
  const bool exists = ::access(host.c_str(), F_OK) == 0;
  if (mode == kCreateNoReplace && exists) return kFileExists;
  // The file being replaced is held with the file lock until the new one is
  // in place: a handle holding it (an exclusive open) is never replaced
  // under, and opens meanwhile wait as for any file lock.
  std::unique_ptr<LockFile> replacing;
  if (mode != kCreateNoReplace && exists) {
    replacing = LockFile::Open(host);
    if (!replacing) return kIoError;
    if (!replacing->TryLockFile()) return kFileLocked;
  }

  // Built aside and moved into place, so a crash never leaves half a file
  // under the real name.
  const std::string tmp = host + ".new-" + std::to_string(::getpid());
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((tmp + suffix).c_str());
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      tmp.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
      nullptr);
  std::string sql = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                    "; PRAGMA journal_mode = WAL; BEGIN;"
                    "CREATE TABLE rm_file(id INTEGER PRIMARY KEY, magic TEXT NOT NULL,"
                    " definition BLOB NOT NULL, owner TEXT NOT NULL, records INTEGER NOT NULL);"
                    "CREATE TABLE rec(id INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL);"
                    "CREATE TABLE rm_distinct(key INTEGER PRIMARY KEY, n INTEGER NOT NULL);";
  for (size_t k = 0; k < def.keys.size(); ++k) {
    const std::string t = "k" + std::to_string(k);
    sql += "CREATE TABLE " + t +
           "(kf BLOB NOT NULL, id INTEGER NOT NULL, data BLOB NOT NULL,"
           " PRIMARY KEY(kf, id)) WITHOUT ROWID;"
           "INSERT INTO rm_distinct VALUES(" +
           std::to_string(k) + ", 0);";
  }
  if (rc == SQLITE_OK) rc = Exec(db, sql);
  if (rc == SQLITE_OK) {
    Stmt ins;
    rc = ins.Prepare(db, "INSERT INTO rm_file VALUES(1, ?1, ?2, '', 0)");
    if (rc == SQLITE_OK) {
      const std::string encoded = EncodeDefinition(def, 0, {});
      sqlite3_bind_text(ins.get(), 1, kFormatTag, -1, SQLITE_STATIC);
      ins.BindBlob(2, encoded);
      rc = ins.Run();
    }
  }
  if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
  if (sqlite3_close(db) != SQLITE_OK && rc == SQLITE_OK) rc = SQLITE_IOERR;
  if (rc != SQLITE_OK) {
    ::unlink(tmp.c_str());
    return kIoError;
  }
  if (mode == kCreateNoReplace) {
    const int linked = ::link(tmp.c_str(), host.c_str());
    const int err = errno;
    ::unlink(tmp.c_str());
    if (linked != 0) return err == EEXIST ? kFileExists : kIoError;
    return kOk;
  }
  // A journal left by the file being replaced would be replayed into the new
  // one.
  ::unlink((host + "-wal").c_str());
  ::unlink((host + "-shm").c_str());
  if (::rename(tmp.c_str(), host.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return kIoError;
  }
  return kOk;
}

void CloseHandle(uint8_t* block) {
  auto& handles = Handles();
  handles[LoadLe32(block + 4)].reset();
  std::memset(block, 0, 12);
}

// --- 4. Reads ---------------------------------------------------------------

// Starts a scan along key from (kf, id) in direction dir, replacing any open
// one. Positions are above 0, so id -1 stands before every row of a key
// value and INT64_MAX after every one.
void StartScan(Handle* h, std::string_view kf, int64_t id, int dir, int key) {
  h->StopScan();
  KeyStatements& ks = *h->keys[static_cast<size_t>(key)];
  Stmt* stmt = nullptr;
  if (id == -1) {
    stmt = dir > 0 ? &ks.at_or_after : &ks.below;
  } else if (id == INT64_MAX) {
    stmt = dir > 0 ? &ks.past : &ks.at_or_below;
  } else {
    stmt = dir > 0 ? &ks.after : &ks.before;
    stmt->BindInt(2, id);
  }
  h->scan_kf.assign(kf);
  stmt->BindBlob(1, h->scan_kf);
  h->scan = stmt;
  h->scan_dir = dir;
  h->scan_key = key;
  h->scan_id = 0;
  h->scan_counter = h->locks->ChangeCounter();
}

// The open scan's next row; the scan ends at its last row or on an error.
Status Advance(Handle* h, RowView* out) {
  sqlite3_stmt* st = h->scan->get();
  const int rc = sqlite3_step(st);
  if (rc != SQLITE_ROW) {
    h->StopScan();
    return rc == SQLITE_DONE ? kEndOfFile : FromSqlite(rc);
  }
  out->id = sqlite3_column_int64(st, 0);
  const void* data = sqlite3_column_blob(st, 1);
  const size_t data_size = static_cast<size_t>(sqlite3_column_bytes(st, 1));
  out->kf = std::string_view();
  out->kf_known = false;
  out->data = std::string_view(data ? static_cast<const char*>(data) : "", data_size);
  h->scan_id = out->id;
  return kOk;
}

// The comparable form of key in a record, as stored with it in the key's
// table.
void FormOf(Handle* h, int key, std::string_view record, std::string* out) {
  const Key& k = h->def.keys[static_cast<size_t>(key)];
  h->row_raw_key.resize(static_cast<size_t>(k.length));
  ExtractKey(k, reinterpret_cast<const uint8_t*>(record.data()),
             reinterpret_cast<uint8_t*>(h->row_raw_key.data()));
  ComparableForm(h->def, k, reinterpret_cast<const uint8_t*>(h->row_raw_key.data()), out);
}

const std::string& CurrentForm(Handle* h) {
  if (!h->cur_kf_known) {
    FormOf(h, h->cur_key, h->cur_data, &h->cur_kf);
    h->cur_kf_known = true;
  }
  return h->cur_kf;
}

// The next row after (or before) the currency along the current key: the
// open scan's next one while that scan stands on the currency, else from a
// new scan. A fresh read always starts a new one.
Status Step(Handle* h, int dir, bool fresh, RowView* out) {
  const bool continues = h->scan != nullptr && h->scan_dir == dir && h->scan_key == h->cur_key &&
                         h->scan_id == h->cur_id && h->scan_counter == h->locks->ChangeCounter();
  if (fresh || !continues) StartScan(h, CurrentForm(h), h->cur_id, dir, h->cur_key);
  return Advance(h, out);
}

// A positioning read: first / last / relative to a key value.
Status Position(Handle* h, uint16_t op, int key, const uint8_t* raw, RowView* out) {
  const Key& k = h->def.keys[static_cast<size_t>(key)];
  std::string& target = h->target_kf;
  if (op == kOpGetFirst) {
    target.clear();
  } else if (op == kOpGetLast) {
    target.assign(kMaxKeyLength + 1, '\xFF');
  } else {
    ComparableForm(h->def, k, raw, &target);
  }
  int dir = 1;
  int64_t id = -1;
  switch (op) {
    case kOpGetEqual:
    case kOpGetGreaterOrEqual:
    case kOpGetFirst:
      break;
    case kOpGetGreater:
      id = INT64_MAX;
      break;
    case kOpGetLess:
      dir = -1;
      break;
    default:  // less or equal, last
      dir = -1;
      id = INT64_MAX;
      break;
  }
  StartScan(h, target, id, dir, key);
  Status s = Advance(h, out);
  if (s == kOk && op == kOpGetEqual) {
    std::string& found = h->found.kf;
    FormOf(h, key, out->data, &found);
    if (found != target) s = kEndOfFile;
    out->kf = target;
    out->kf_known = true;
  }
  if (s == kEndOfFile) {
    h->StopScan();
    return op == kOpGetEqual ? kKeyNotFound : kEndOfFile;
  }
  return s;
}

// Takes the single-record lock for a +200 read, releasing the block's
// previous one.
bool LockRecord(Handle* h, int64_t id) {
  if (h->locked_id == id) return true;
  if (!h->locks->TryLockRecord(static_cast<uint32_t>(id))) return false;
  if (h->locked_id != 0) h->locks->UnlockRecord(static_cast<uint32_t>(h->locked_id));
  h->locked_id = id;
  return true;
}

Status FetchById(Handle* h, int64_t id, std::string* data) {
  h->by_id->BindInt(1, id);
  int rc = h->by_id->Step();
  if (rc == SQLITE_ROW) h->by_id->ColumnBlob(0, data);
  h->by_id->Reset();
  if (rc == SQLITE_ROW) return kOk;
  return rc == SQLITE_DONE ? kInvalidRecordPosition : FromSqlite(rc);
}

// Makes the record current and copies it out. kf is its key form, or null
// when it is to be taken from the record when needed.
Status Deliver(Handle* h, int key, const std::string_view* kf, int64_t id, std::string_view data,
               uint8_t* buffer, uint32_t* data_length, uint8_t* key_buffer) {
  h->cur_key = key;
  h->has_cur = true;
  h->cur_exists = true;
  if (kf != nullptr) {
    if (kf->data() != h->cur_kf.data()) h->cur_kf.assign(*kf);
    h->cur_kf_known = true;
  } else if (h->cur_data.size() == data.size()) {
    std::memcpy(h->cur_data.data(), data.data(), data.size());
    h->cur_kf_known = false;
  } else {
    h->cur_data.assign(data);
    h->cur_kf_known = false;
  }
  h->cur_id = id;
  const uint32_t available = buffer ? *data_length : 0;
  const uint32_t n = std::min<uint32_t>(available, static_cast<uint32_t>(data.size()));
  if (n > 0) std::memcpy(buffer, data.data(), n);
  *data_length = n;
  if (key_buffer != nullptr) {
    ExtractKey(h->def.keys[static_cast<size_t>(key)], reinterpret_cast<const uint8_t*>(data.data()),
               key_buffer);
  }
  return n < data.size() ? kDataBufferShort : kOk;
}

Status Read(Handle* h, uint16_t op, bool lock, uint8_t* buffer, uint32_t* data_length,
            uint8_t* key_buffer, int8_t key_number) {
  const int keys = static_cast<int>(h->def.keys.size());
  if (op == kOpGetPosition) {
    if (!h->has_cur || !h->cur_exists) return kNoCurrentRecord;
    if (buffer == nullptr || *data_length < 4) return kDataBufferShort;
    StoreLe32(buffer, static_cast<uint32_t>(h->cur_id));
    *data_length = 4;
    return kOk;
  }
  if (op == kOpGetNext || op == kOpGetPrevious) {
    if (!h->has_cur) return kNoCurrentRecord;
  } else if (key_number < 0 || key_number >= keys) {
    return kInvalidKeyNumber;
  }
  // A held snapshot is read as it was, whatever the holder of a file lock
  // taken meanwhile does: a report must not find a file cut short halfway.
  if ((lock || !g_hold_snapshots) && h->locks->FileLockedByOther()) return kFileLocked;
  if (Status s = BeginRead(h); s != kOk) return s;

  if (op == kOpGetDirect) {
    if (buffer == nullptr || *data_length < 4) return kInvalidRecordPosition;
    const int64_t id = LoadLe32(buffer);
    std::string data;
    if (id == 0) return kInvalidRecordPosition;
    if (Status s = FetchById(h, id, &data); s != kOk) return s;
    if (lock) {
      if (!LockRecord(h, id)) return kRecordLocked;
      // Read again under the lock, from a snapshot taken after it.
      EndRead(h);
      if (Status s = BeginRead(h); s != kOk) return s;
      if (Status s = FetchById(h, id, &data); s != kOk) return s;
    }
    const Key& k = h->def.keys[static_cast<size_t>(key_number)];
    h->raw_key.resize(static_cast<size_t>(k.length));
    ExtractKey(k, reinterpret_cast<const uint8_t*>(data.data()),
               reinterpret_cast<uint8_t*>(h->raw_key.data()));
    std::string kf;
    ComparableForm(h->def, k, reinterpret_cast<const uint8_t*>(h->raw_key.data()), &kf);
    h->StopScan();
    const std::string_view form(kf);
    return Deliver(h, key_number, &form, id, data, buffer, data_length, key_buffer);
  }

  const int key = (op == kOpGetNext || op == kOpGetPrevious) ? h->cur_key : key_number;
  // The key value of a positioning read; the caller's buffer is read before
  // it is overwritten with the key found.
  const Key& k = h->def.keys[static_cast<size_t>(key)];
  h->raw_key.assign(static_cast<size_t>(k.length), '\0');
  if (key_buffer != nullptr) std::memcpy(h->raw_key.data(), key_buffer, h->raw_key.size());
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(h->raw_key.data());

  RowView row;
  for (int attempt = 0;; ++attempt) {
    Status s = (op == kOpGetNext || op == kOpGetPrevious)
                   ? Step(h, op == kOpGetNext ? 1 : -1, lock, &row)
                   : Position(h, op, key, raw, &row);
    if (s != kOk) return s;
    if (!lock) break;
    if (!LockRecord(h, row.id)) {
      h->StopScan();
      return kRecordLocked;
    }
    // Read again under the lock, from a snapshot taken after it: the row
    // found may have changed before it. Ending the snapshot ends the scan,
    // so the row's place is kept first.
    Row& found = h->found;
    if (row.kf_known) {
      found.kf.assign(row.kf);
    } else {
      FormOf(h, key, row.data, &found.kf);
    }
    found.id = row.id;
    EndRead(h);
    if (s = BeginRead(h); s != kOk) return s;
    s = FetchById(h, found.id, &found.data);
    if (s == kOk) {
      row = RowView{found.kf, true, found.id, found.data};
      break;
    }
    if (s != kInvalidRecordPosition || attempt > 8) return s;
  }
  return Deliver(h, key, row.kf_known ? &row.kf : nullptr, row.id, row.data, buffer, data_length,
                 key_buffer);
}

Status DoStat(Handle* h, uint8_t* buffer, uint32_t* data_length) {
  const uint64_t counter = h->locks->ChangeCounter();
  if (!h->stat_valid || h->stat_counter != counter) {
    if (Status s = BeginRead(h); s != kOk) return s;
    Counts c;
    if (int rc = ReadCounts(h, &c); rc != SQLITE_OK) return FromSqlite(rc);
    std::vector<uint32_t> distinct(c.distinct.begin(), c.distinct.end());
    h->stat_cache = EncodeDefinition(h->def, static_cast<uint32_t>(c.records), distinct);
    // Dated by the snapshot it was read from, which a held snapshot keeps
    // older than counter: read again once the hold ends.
    h->stat_counter = h->read_counter;
    h->stat_valid = true;
  }
  const uint32_t available = buffer ? *data_length : 0;
  const uint32_t n = std::min<uint32_t>(available, static_cast<uint32_t>(h->stat_cache.size()));
  if (n > 0) std::memcpy(buffer, h->stat_cache.data(), n);
  *data_length = n;
  return n < h->stat_cache.size() ? kDataBufferShort : kOk;
}

// --- 5. Writes --------------------------------------------------------------

// Runs body inside BEGIN IMMEDIATE ... COMMIT; any failure rolls back. A
// read-only handle writes nothing: I/O error.
template <typename Body>
Status InTransaction(Handle* h, Body body) {
  if (h->read_only) return kIoError;
  if (h->locks->FileLockedByOther()) return kFileLocked;
  EndRead(h);
  if (int rc = Exec(h->db, "BEGIN IMMEDIATE"); rc != SQLITE_OK) return FromSqlite(rc);
  Status s = body();
  if (s == kOk) {
    int rc = Exec(h->db, "COMMIT");
    if (rc != SQLITE_OK) s = FromSqlite(rc);
  }
  if (s != kOk) Exec(h->db, "ROLLBACK");
  h->DropCaches();
  if (s == kOk) {
    h->wrote = true;
    h->locks->NoteChange();
  }
  return s;
}

int KeyExists(KeyStatements& ks, const std::string& kf, bool* exists) {
  ks.exists.BindBlob(1, kf);
  int rc = ks.exists.Step();
  ks.exists.Reset();
  *exists = rc == SQLITE_ROW;
  return (rc == SQLITE_ROW || rc == SQLITE_DONE) ? SQLITE_OK : rc;
}

void FormsOf(Handle* h, const uint8_t* record, std::vector<std::string>* forms) {
  forms->resize(h->def.keys.size());
  for (size_t k = 0; k < h->def.keys.size(); ++k) {
    const Key& key = h->def.keys[k];
    h->raw_key.resize(static_cast<size_t>(key.length));
    ExtractKey(key, record, reinterpret_cast<uint8_t*>(h->raw_key.data()));
    ComparableForm(h->def, key, reinterpret_cast<const uint8_t*>(h->raw_key.data()), &(*forms)[k]);
  }
}

// Inserts one record inside an open transaction.
Status InsertOne(Handle* h, const uint8_t* record, Counts* c, int64_t* id) {
  FormsOf(h, record, &h->new_kf);
  std::vector<bool> fresh(h->def.keys.size());
  for (size_t k = 0; k < h->def.keys.size(); ++k) {
    bool exists = false;
    if (int rc = KeyExists(*h->keys[k], h->new_kf[k], &exists); rc != SQLITE_OK) {
      return FromSqlite(rc);
    }
    if (exists && !h->def.keys[k].duplicates) return kDuplicateKey;
    fresh[k] = !exists;
  }
  h->rec_insert->BindBlob(1, record, h->def.record_length);
  if (int rc = h->rec_insert->Run(); rc != SQLITE_OK) return FromSqlite(rc);
  *id = sqlite3_last_insert_rowid(h->db);
  if (*id > static_cast<int64_t>(UINT32_MAX)) return kIoError;
  for (size_t k = 0; k < h->def.keys.size(); ++k) {
    KeyStatements& ks = *h->keys[k];
    ks.insert.BindBlob(1, h->new_kf[k]);
    ks.insert.BindInt(2, *id);
    ks.insert.BindBlob(3, record, h->def.record_length);
    if (int rc = ks.insert.Run(); rc != SQLITE_OK) return FromSqlite(rc);
    if (fresh[k]) ++c->distinct[k];
  }
  ++c->records;
  return kOk;
}

// Holds the record lock for a write through a block that does not own it.
class WriteLock {
 public:
  WriteLock(Handle* h, int64_t id) : h_(h), id_(id) {
    held_ = h->locked_id == id || (taken_ = h->locks->TryLockRecord(static_cast<uint32_t>(id)));
  }
  ~WriteLock() {
    if (taken_) h_->locks->UnlockRecord(static_cast<uint32_t>(id_));
  }
  bool held() const { return held_; }

 private:
  Handle* h_;
  int64_t id_;
  bool held_ = false;
  bool taken_ = false;
};

Status DoInsert(Handle* h, const uint8_t* buffer, const uint32_t* data_length, uint8_t* key_buffer,
                int8_t key_number) {
  if (buffer == nullptr || *data_length != h->def.record_length) return kDataBufferShort;
  if (key_number < 0 || key_number >= static_cast<int>(h->def.keys.size())) {
    return kInvalidKeyNumber;
  }
  int64_t id = 0;
  Status s = InTransaction(h, [&]() -> Status {
    Counts c;
    if (int rc = ReadCounts(h, &c); rc != SQLITE_OK) return FromSqlite(rc);
    if (Status st = InsertOne(h, buffer, &c, &id); st != kOk) return st;
    return FromSqlite(WriteCounts(h, c));
  });
  if (s != kOk) return s;
  std::string data(reinterpret_cast<const char*>(buffer), h->def.record_length);
  uint32_t n = h->def.record_length;
  std::string kf = h->new_kf[static_cast<size_t>(key_number)];
  std::string scratch = data;
  const std::string_view form(kf);
  return Deliver(h, key_number, &form, id, data, reinterpret_cast<uint8_t*>(scratch.data()), &n,
                 key_buffer);
}

// The start of every change to the current record: the record as stored
// (the caller's copy may be stale), the file's counts, and the stored
// record's key forms in h->old_kf.
Status LoadForChange(Handle* h, int64_t id, Counts* c) {
  std::string old;
  if (Status st = FetchById(h, id, &old); st != kOk) {
    return st == kInvalidRecordPosition ? kNoCurrentRecord : st;
  }
  if (int rc = ReadCounts(h, c); rc != SQLITE_OK) return FromSqlite(rc);
  FormsOf(h, reinterpret_cast<const uint8_t*>(old.data()), &h->old_kf);
  return kOk;
}

// Takes record id out of one key; when no other record keeps that key
// value, the key has one distinct value fewer.
int RemoveKeyEntry(KeyStatements& ks, const std::string& kf, int64_t id, int64_t* distinct) {
  ks.remove.BindBlob(1, kf);
  ks.remove.BindInt(2, id);
  if (int rc = ks.remove.Run(); rc != SQLITE_OK) return rc;
  bool exists = false;
  if (int rc = KeyExists(ks, kf, &exists); rc != SQLITE_OK) return rc;
  if (!exists) --*distinct;
  return SQLITE_OK;
}

Status DoUpdate(Handle* h, const uint8_t* buffer, const uint32_t* data_length,
                uint8_t* key_buffer) {
  if (!h->has_cur || !h->cur_exists) return kNoCurrentRecord;
  if (buffer == nullptr || *data_length != h->def.record_length) return kDataBufferShort;
  WriteLock lock(h, h->cur_id);
  if (!lock.held()) return kRecordLocked;
  const int64_t id = h->cur_id;
  Status s = InTransaction(h, [&]() -> Status {
    Counts c;
    if (Status st = LoadForChange(h, id, &c); st != kOk) return st;
    FormsOf(h, buffer, &h->new_kf);
    for (size_t k = 0; k < h->def.keys.size(); ++k) {
      KeyStatements& ks = *h->keys[k];
      const Key& key = h->def.keys[k];
      int rc = SQLITE_OK;
      if (h->old_kf[k] == h->new_kf[k]) {
        ks.update.BindBlob(1, h->old_kf[k]);
        ks.update.BindInt(2, id);
        ks.update.BindBlob(3, buffer, h->def.record_length);
        if ((rc = ks.update.Run()) != SQLITE_OK) return FromSqlite(rc);
        continue;
      }
      if (!key.modifiable) return kKeyNotModifiable;
      bool exists = false;
      if ((rc = KeyExists(ks, h->new_kf[k], &exists)) != SQLITE_OK) return FromSqlite(rc);
      if (exists && !key.duplicates) return kDuplicateKey;
      if (!exists) ++c.distinct[k];
      if ((rc = RemoveKeyEntry(ks, h->old_kf[k], id, &c.distinct[k])) != SQLITE_OK) {
        return FromSqlite(rc);
      }
      ks.insert.BindBlob(1, h->new_kf[k]);
      ks.insert.BindInt(2, id);
      ks.insert.BindBlob(3, buffer, h->def.record_length);
      if ((rc = ks.insert.Run()) != SQLITE_OK) return FromSqlite(rc);
    }
    h->rec_update->BindInt(1, id);
    h->rec_update->BindBlob(2, buffer, h->def.record_length);
    if (int rc = h->rec_update->Run(); rc != SQLITE_OK) return FromSqlite(rc);
    return FromSqlite(WriteCounts(h, c));
  });
  if (s != kOk) return s;
  h->cur_kf = h->new_kf[static_cast<size_t>(h->cur_key)];
  h->cur_kf_known = true;
  if (key_buffer != nullptr) {
    ExtractKey(h->def.keys[static_cast<size_t>(h->cur_key)], buffer, key_buffer);
  }
  return kOk;
}

Status DoDelete(Handle* h) {
  if (!h->has_cur || !h->cur_exists) return kNoCurrentRecord;
  WriteLock lock(h, h->cur_id);
  if (!lock.held()) return kRecordLocked;
  const int64_t id = h->cur_id;
  Status s = InTransaction(h, [&]() -> Status {
    Counts c;
    if (Status st = LoadForChange(h, id, &c); st != kOk) return st;
    for (size_t k = 0; k < h->def.keys.size(); ++k) {
      KeyStatements& ks = *h->keys[k];
      if (int rc = RemoveKeyEntry(ks, h->old_kf[k], id, &c.distinct[k]); rc != SQLITE_OK) {
        return FromSqlite(rc);
      }
    }
    h->rec_delete->BindInt(1, id);
    if (int rc = h->rec_delete->Run(); rc != SQLITE_OK) return FromSqlite(rc);
    --c.records;
    return FromSqlite(WriteCounts(h, c));
  });
  if (s != kOk) return s;
  h->cur_exists = false;
  if (h->locked_id == id) {
    h->locks->UnlockRecord(static_cast<uint32_t>(id));
    h->locked_id = 0;
  }
  return kOk;
}

}  // namespace

// --- 6. Entry point and administration --------------------------------------

Status RecordManagerCall(uint16_t operation, uint8_t* position_block, void* data_buffer,
                         uint32_t* data_length, void* key_buffer, uint8_t key_length,
                         int8_t key_number) {
  uint32_t no_length = 0;
  if (data_length == nullptr) data_length = &no_length;
  uint8_t* data = static_cast<uint8_t*>(data_buffer);
  uint8_t* key = static_cast<uint8_t*>(key_buffer);
  bool lock = false;
  uint16_t op = operation;
  if (op >= kLockNoWaitBias && op < kLockNoWaitBias + 100) {
    op = static_cast<uint16_t>(op - kLockNoWaitBias);
    if (!IsReadOperation(op)) return kInvalidOperation;
    lock = op != kOpGetPosition;
  }
  switch (op) {
    case kOpOpen:
      return DoOpen(position_block, data, data_length, key, key_length, key_number);
    case kOpCreate:
      return DoCreate(data, data_length, key, key_length, key_number);
    case kOpReset:
      Handles().clear();
      return kOk;
    case kOpClose:
    case kOpInsert:
    case kOpUpdate:
    case kOpDelete:
    case kOpStat:
      break;
    default:
      if (!IsReadOperation(op)) return kInvalidOperation;
  }
  Handle* h = Lookup(position_block);
  if (h == nullptr) return kFileNotOpen;
  switch (op) {
    case kOpClose:
      CloseHandle(position_block);
      return kOk;
    case kOpInsert:
      return DoInsert(h, data, data_length, key, key_number);
    case kOpUpdate:
      return DoUpdate(h, data, data_length, key);
    case kOpDelete:
      return DoDelete(h);
    case kOpStat:
      return DoStat(h, data, data_length);
    default:
      return Read(h, op, lock, data, data_length, key, key_number);
  }
}

void EndReadTransactions() {
  for (auto& h : Handles()) {
    if (h) EndRead(h.get());
  }
}

void HoldReadSnapshots() {
  EndReadTransactions();
  g_hold_snapshots = true;
}

void ReleaseReadSnapshots() {
  g_hold_snapshots = false;
}

Status SetOwnerName(uint8_t* position_block, const std::string& name) {
  Handle* h = Lookup(position_block);
  if (h == nullptr) return kFileNotOpen;
  return InTransaction(h, [&]() -> Status {
    Stmt st;
    int rc = st.Prepare(h->db, "UPDATE rm_file SET owner = ?1 WHERE id = 1");
    if (rc != SQLITE_OK) return FromSqlite(rc);
    sqlite3_bind_text(st.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    return FromSqlite(st.Run());
  });
}

namespace {

// Rows per multi-row INSERT of a bulk load: one statement execution (and
// one AUTOINCREMENT bookkeeping step) per group instead of per row.
constexpr size_t kLoadGroup = 64;

// "INSERT INTO table(columns) VALUES(?,?),(?,?)...", rows groups of width
// parameters each.
std::string GroupInsertSql(const std::string& table, const std::string& columns, int width,
                           size_t rows) {
  std::string row = "(";
  for (int i = 0; i < width; ++i) row += i == 0 ? "?" : ",?";
  row += ")";
  std::string sql = "INSERT INTO " + table + "(" + columns + ") VALUES";
  for (size_t r = 0; r < rows; ++r) {
    if (r > 0) sql += ',';
    sql += row;
  }
  return sql;
}

// One sort entry per record and key: the first 16 bytes of the comparable
// form as two big-endian integers, the rest compared from the forms buffer,
// then the record's index, so equal keys keep their input order.
struct SortEntry {
  uint64_t hi = 0;
  uint64_t lo = 0;
  uint32_t index = 0;
};

uint64_t BigEndian64(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) v = (v << 8) | (i < n ? p[i] : 0);
  return v;
}

}  // namespace

Status InsertAll(uint8_t* position_block, const std::vector<std::string_view>& records,
                 int64_t* failed_index) {
  *failed_index = -1;
  Handle* h = Lookup(position_block);
  if (h == nullptr) return kFileNotOpen;
  const size_t record_length = h->def.record_length;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].size() != record_length) {
      *failed_index = static_cast<int64_t>(i);
      return kDataBufferShort;
    }
  }
  if (records.size() > UINT32_MAX) return kIoError;
  // A bulk load touches every page of every key table; a larger cache for
  // the load alone keeps it from re-reading them.
  Exec(h->db, "PRAGMA cache_size = -131072");
  Status result = InTransaction(h, [&]() -> Status {
    Counts c;
    if (int rc = ReadCounts(h, &c); rc != SQLITE_OK) return FromSqlite(rc);
    const bool was_empty = c.records == 0;
    const size_t n = records.size();

    // Positions follow the highest ever given (AUTOINCREMENT's counter, or
    // the highest present), so none is ever reused.
    int64_t next_id = 1;
    {
      Stmt top;
      int rc = top.Prepare(h->db,
                           "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = "
                           "'rec'), 0), coalesce((SELECT max(id) FROM rec), 0))");
      if (rc == SQLITE_OK && (rc = top.Step()) == SQLITE_ROW) next_id = top.ColumnInt(0) + 1;
      if (rc != SQLITE_ROW) return FromSqlite(rc);
    }
    if (next_id + static_cast<int64_t>(n) - 1 > static_cast<int64_t>(UINT32_MAX)) {
      return kIoError;
    }

    // Runs groups of width-parameter rows through a multi-row INSERT; bind
    // fills the parameters of row i from first. Statements are made for the
    // full group and for the last, shorter one.
    auto insert_rows = [&](const std::string& table, const std::string& columns, int width,
                           auto bind) -> int {
      Stmt full, tail;
      const size_t tail_rows = n % kLoadGroup;
      int rc = SQLITE_OK;
      if (n >= kLoadGroup) {
        rc = full.Prepare(h->db, GroupInsertSql(table, columns, width, kLoadGroup));
      }
      if (rc == SQLITE_OK && tail_rows > 0) {
        rc = tail.Prepare(h->db, GroupInsertSql(table, columns, width, tail_rows));
      }
      for (size_t at = 0; rc == SQLITE_OK && at < n; at += kLoadGroup) {
        const size_t rows = std::min(kLoadGroup, n - at);
        Stmt& st = rows == kLoadGroup ? full : tail;
        for (size_t r = 0; r < rows; ++r) bind(st, static_cast<int>(r) * width + 1, at + r);
        rc = st.Run();
      }
      return rc;
    };

    int rc = insert_rows("rec", "id, data", 2, [&](Stmt& st, int p, size_t i) {
      st.BindInt(p, next_id + static_cast<int64_t>(i));
      st.BindBlob(p + 1, records[i].data(), record_length);
    });
    if (rc != SQLITE_OK) return FromSqlite(rc);

    // Key entries go in sorted, which keeps every B-tree insert an append.
    std::vector<uint8_t> forms;
    std::vector<SortEntry> entries(n);
    std::string form;
    for (size_t k = 0; k < h->def.keys.size(); ++k) {
      const Key& key = h->def.keys[k];
      const size_t kl = static_cast<size_t>(key.length);
      KeyStatements& ks = *h->keys[k];
      forms.resize(n * kl);
      h->raw_key.resize(kl);
      for (size_t i = 0; i < n; ++i) {
        ExtractKey(key, reinterpret_cast<const uint8_t*>(records[i].data()),
                   reinterpret_cast<uint8_t*>(h->raw_key.data()));
        ComparableForm(h->def, key, reinterpret_cast<const uint8_t*>(h->raw_key.data()), &form);
        uint8_t* f = forms.data() + i * kl;
        std::memcpy(f, form.data(), kl);
        SortEntry& e = entries[i];
        e.hi = BigEndian64(f, kl);
        e.lo = kl > 8 ? BigEndian64(f + 8, kl - 8) : 0;
        e.index = static_cast<uint32_t>(i);
      }
      const uint8_t* fb = forms.data();
      std::sort(entries.begin(), entries.end(), [kl, fb](const SortEntry& a, const SortEntry& b) {
        if (a.hi != b.hi) return a.hi < b.hi;
        if (a.lo != b.lo) return a.lo < b.lo;
        if (kl > 16) {
          if (int d = std::memcmp(fb + a.index * kl + 16, fb + b.index * kl + 16, kl - 16)) {
            return d < 0;
          }
        }
        return a.index < b.index;
      });
      for (size_t j = 0; j < n; ++j) {
        const size_t i = entries[j].index;
        const uint8_t* f = fb + i * kl;
        const bool first_of_value =
            j == 0 || std::memcmp(fb + entries[j - 1].index * kl, f, kl) != 0;
        if (!first_of_value && !key.duplicates) {
          *failed_index = static_cast<int64_t>(i);
          return kDuplicateKey;
        }
        if (!first_of_value) continue;
        bool exists = false;
        if (!was_empty) {
          form.assign(reinterpret_cast<const char*>(f), kl);
          if ((rc = KeyExists(ks, form, &exists)) != SQLITE_OK) return FromSqlite(rc);
        }
        if (exists && !key.duplicates) {
          *failed_index = static_cast<int64_t>(i);
          return kDuplicateKey;
        }
        if (!exists) ++c.distinct[k];
      }
      rc = insert_rows("k" + std::to_string(k), "kf, id, data", 3, [&](Stmt& st, int p, size_t j) {
        const size_t i = entries[j].index;
        st.BindBlob(p, fb + i * kl, kl);
        st.BindInt(p + 1, next_id + static_cast<int64_t>(i));
        st.BindBlob(p + 2, records[i].data(), record_length);
      });
      if (rc != SQLITE_OK) return FromSqlite(rc);
    }
    c.records += static_cast<int64_t>(n);
    return FromSqlite(WriteCounts(h, c));
  });
  Exec(h->db, "PRAGMA cache_size = -2000");
  Exec(h->db, "PRAGMA shrink_memory");
  return result;
}

Status InsertAll(uint8_t* position_block, const std::vector<std::string>& records,
                 int64_t* failed_index) {
  std::vector<std::string_view> views(records.begin(), records.end());
  return InsertAll(position_block, views, failed_index);
}

}  // namespace recmgr
