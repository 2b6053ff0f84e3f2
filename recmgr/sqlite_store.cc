// The SQLite back end of the record manager: one SQLite database per data
// file at the path the caller names; other processes share it through
// SQLite's WAL journal and through POSIX advisory locks on a side file next
// to it ("<path>-lck", lock_file.h), so a killed process never leaves a lock
// behind.
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
// committed; and while the counter stands still no WAL frame is newer than
// the snapshot, so an active reader holds back no checkpoint. A held read
// keeps its snapshot although the counter moved.
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
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "recmgr/file_definition.h"
#include "recmgr/load_feed.h"
#include "recmgr/load_sort.h"
#include "recmgr/lock_file.h"
#include "recmgr/record_manager.h"
#include "recmgr/store.h"

namespace recmgr::store {
namespace {

constexpr int32_t kApplicationId = 0x544C5652;
constexpr char kFormatTag[] = "telvoran-recmgr-1";
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

// What rm_form works with: the file's definition and scratch buffers. Kept
// by the handle (its connection runs on one thread at a time), not per
// thread: a thread's first thread_local with a destructor needs memory to
// register it, and glibc aborts the process when there is none.
struct FormScratch {
  const FileDefinition* def = nullptr;
  std::string raw, form;
};

class SqliteFile final : public FileStore {
 public:
  ~SqliteFile() override {
    StopScan();
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
    if (db != nullptr && !wrote_)
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_close(db);
  }

  Status TryLockRecord(uint32_t position) override {
    return locks->TryLockRecord(position) ? kOk : kRecordLocked;
  }
  void UnlockRecord(uint32_t position) override { locks->UnlockRecord(position); }
  Status TryLockFile() override { return locks->TryLockFile() ? kOk : kFileLocked; }
  Status CheckFileLock() override { return locks->FileLockedByOther() ? kFileLocked : kOk; }

  Status BeginRead(bool hold) override;
  void EndRead() override {
    StopScan();
    if (!sqlite3_get_autocommit(db)) end_read->Run();
  }
  void StartScan(std::string_view kf, int64_t id, int dir, int key) override;
  Status Advance(RowView* out) override;
  bool ScanContinues(int dir, int key, int64_t id) override {
    return scan != nullptr && scan_dir == dir && scan_key == key && scan_id == id &&
           scan_counter == locks->ChangeCounter();
  }
  void StopScan() override {
    if (scan != nullptr) {
      scan->Reset();
      scan = nullptr;
    }
  }
  Status FetchById(int64_t id, std::string* data) override;
  Status ReadCounts(Counts* c) override { return FromSqlite(ReadCountsRc(c)); }
  uint64_t CurrentStamp() override { return locks->ChangeCounter(); }
  uint64_t ReadStamp() override { return read_counter; }

  Status Insert(const uint8_t* record, int64_t* id) override;
  Status Update(int64_t id, const uint8_t* record) override;
  Status Delete(int64_t id) override;
  Status SetOwner(const std::string& name) override;
  Status InsertAll(RecordSource* source, int64_t* failed_index) override;
  bool wrote() const override { return wrote_; }
  Status HighestPosition(int64_t* out);

  // Opening.
  Status VerifyAndLoad(const std::string& host, std::string* owner);
  int PrepareAll();
  void set_read_only(bool v) { read_only_ = v; }

  sqlite3* db = nullptr;
  std::unique_ptr<LockFile> locks;
  // Opened without SQLite's side files.
  bool immutable = false;

 private:
  int ReadCountsRc(Counts* c);
  int WriteCounts(const Counts& c);
  template <typename Body>
  Status InTransaction(Body body);
  Status InsertOne(const uint8_t* record, Counts* c, int64_t* id);
  Status LoadForChange(int64_t id, Counts* c);

  Status FillFromSorter(size_t k, LoadSorter* sorter, Counts* c, int64_t* clash);
  Status LoadInTransaction(RecordSource* source, int64_t* failed_index);

  bool wrote_ = false;
  // The rows the load's virtual table hands out, once it is registered.
  LoadFeed feed_;
  FormScratch form_scratch_;
  bool load_module_ = false;
  std::vector<std::unique_ptr<KeyStatements>> keys;
  std::unique_ptr<Stmt> by_id, rec_insert, rec_update, rec_delete, begin_read, end_read;
  std::unique_ptr<Stmt> read_records, read_distinct, write_records, write_distinct;

  // The open scan: a range query in direction scan_dir along scan_key that
  // last returned the row scan_id, started while the change counter was
  // scan_counter. scan_kf holds the bound key form while it runs.
  Stmt* scan = nullptr;
  int scan_dir = 0;
  int scan_key = -1;
  int64_t scan_id = 0;
  uint64_t scan_counter = 0;
  std::string scan_kf;

  // The change counter when the open read transaction began.
  uint64_t read_counter = 0;

  // Scratch buffers of one call.
  std::string raw_key;
  std::vector<std::string> old_kf, new_kf;
};

int SqliteFile::PrepareAll() {
  auto make = [this](std::unique_ptr<Stmt>* s, const std::string& sql) {
    *s = std::make_unique<Stmt>();
    return (*s)->Prepare(db, sql);
  };
  int rc = SQLITE_OK;
  if ((rc = make(&by_id, "SELECT data FROM rec WHERE id = ?1")) ||
      (rc = make(&rec_insert, "INSERT INTO rec(data) VALUES(?1)")) ||
      (rc = make(&rec_update, "UPDATE rec SET data = ?2 WHERE id = ?1")) ||
      (rc = make(&rec_delete, "DELETE FROM rec WHERE id = ?1")) ||
      (rc = make(&begin_read, "BEGIN")) || (rc = make(&end_read, "COMMIT")) ||
      (rc = make(&read_records, "SELECT records FROM rm_file WHERE id = 1")) ||
      (rc = make(&read_distinct, "SELECT key, n FROM rm_distinct ORDER BY key")) ||
      (rc = make(&write_records, "UPDATE rm_file SET records = ?1 WHERE id = 1")) ||
      (rc = make(&write_distinct, "UPDATE rm_distinct SET n = ?2 WHERE key = ?1"))) {
    return rc;
  }
  for (size_t k = 0; k < def_.keys.size(); ++k) {
    auto ks = std::make_unique<KeyStatements>();
    const std::string t = "k" + std::to_string(k);
    if ((rc = ks->after.Prepare(
             db, "SELECT id, data FROM " + t + " WHERE (kf, id) > (?1, ?2) ORDER BY kf, id")) ||
        (rc = ks->before.Prepare(db, "SELECT id, data FROM " + t +
                                         " WHERE (kf, id) < (?1, ?2) ORDER BY kf DESC, id DESC")) ||
        (rc = ks->at_or_after.Prepare(
             db, "SELECT id, data FROM " + t + " WHERE kf >= ?1 ORDER BY kf, id")) ||
        (rc = ks->past.Prepare(db, "SELECT id, data FROM " + t + " WHERE kf > ?1 ORDER BY kf, id")) ||
        (rc = ks->below.Prepare(
             db, "SELECT id, data FROM " + t + " WHERE kf < ?1 ORDER BY kf DESC, id DESC")) ||
        (rc = ks->at_or_below.Prepare(
             db, "SELECT id, data FROM " + t + " WHERE kf <= ?1 ORDER BY kf DESC, id DESC")) ||
        (rc = ks->exists.Prepare(db, "SELECT 1 FROM " + t + " WHERE kf = ?1 LIMIT 1")) ||
        (rc = ks->insert.Prepare(db, "INSERT INTO " + t + "(kf, id, data) VALUES(?1, ?2, ?3)")) ||
        (rc = ks->remove.Prepare(db, "DELETE FROM " + t + " WHERE kf = ?1 AND id = ?2")) ||
        (rc = ks->update.Prepare(db, "UPDATE " + t + " SET data = ?3 WHERE kf = ?1 AND id = ?2"))) {
      return rc;
    }
    keys.push_back(std::move(ks));
  }
  return SQLITE_OK;
}

// Makes sure a read transaction is open and began after the last change
// noted in the side file (or, held, at all).
Status SqliteFile::BeginRead(bool hold) {
  const uint64_t counter = locks->ChangeCounter();
  if (!sqlite3_get_autocommit(db)) {
    if (counter == read_counter || hold) return kOk;
    EndRead();
  }
  if (int rc = begin_read->Run(); rc != SQLITE_OK) return FromSqlite(rc);
  read_counter = counter;
  return kOk;
}

int SqliteFile::ReadCountsRc(Counts* c) {
  c->records = 0;
  c->distinct.assign(def_.keys.size(), 0);
  int rc = read_records->Step();
  if (rc == SQLITE_ROW) c->records = read_records->ColumnInt(0);
  read_records->Reset();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
  while ((rc = read_distinct->Step()) == SQLITE_ROW) {
    int64_t k = read_distinct->ColumnInt(0);
    if (k >= 0 && static_cast<size_t>(k) < c->distinct.size()) {
      c->distinct[static_cast<size_t>(k)] = read_distinct->ColumnInt(1);
    }
  }
  read_distinct->Reset();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int SqliteFile::WriteCounts(const Counts& c) {
  write_records->BindInt(1, c.records);
  int rc = write_records->Run();
  for (size_t k = 0; rc == SQLITE_OK && k < c.distinct.size(); ++k) {
    write_distinct->BindInt(1, static_cast<int64_t>(k));
    write_distinct->BindInt(2, c.distinct[k]);
    rc = write_distinct->Run();
  }
  return rc;
}

// --- Open and Create --------------------------------------------------------

// Failures of the open are "not a data file" only when the file itself
// says so (FromSqlite: not a database, corrupt, other tables); a file that
// cannot be read (I/O error, full disk, no permission, no memory) is an I/O
// error.
Status SqliteFile::VerifyAndLoad(const std::string& host, std::string* owner) {
  Stmt app;
  int rc = app.Prepare(db, "PRAGMA application_id");
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
    if ((rc = pc.Prepare(db, "PRAGMA page_count")) != SQLITE_OK ||
        (rc = ps.Prepare(db, "PRAGMA page_size")) != SQLITE_OK) {
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
  if ((rc = meta.Prepare(db, "SELECT magic, definition, owner FROM rm_file WHERE id = 1")) !=
      SQLITE_OK) {
    return FromSqlite(rc);
  }
  if ((rc = meta.Step()) != SQLITE_ROW) return rc == SQLITE_DONE ? kNotADataFile : FromSqlite(rc);
  std::string magic, definition;
  meta.ColumnBlob(0, &magic);
  meta.ColumnBlob(1, &definition);
  meta.ColumnBlob(2, owner);
  if (magic != kFormatTag || DecodeDefinition(reinterpret_cast<const uint8_t*>(definition.data()),
                                              definition.size(), &def_) != kOk) {
    return kNotADataFile;
  }
  meta.Reset();
  if ((rc = PrepareAll()) != SQLITE_OK) return FromSqlite(rc);
  Counts counts;
  if ((rc = ReadCountsRc(&counts)) != SQLITE_OK) return FromSqlite(rc);
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

// SQLite keeps allocation statistics under a global mutex taken on every
// allocation; nothing here reads them, and a bulk load allocates per row.
// Set once, before SQLite initialises itself (later calls are refused).
void ConfigureSqlite() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

// One attempt to open and verify the file in a mode; the store keeps the
// connection on success.
Status OpenDatabase(SqliteFile* h, const std::string& host, DbMode mode, std::string* owner) {
  const char* query = mode == DbMode::kReadWrite  ? ""
                      : mode == DbMode::kReadOnly ? "?mode=ro"
                                                  : "?immutable=1";
  const int flags = (mode == DbMode::kReadWrite ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
                    SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  ConfigureSqlite();
  int rc = sqlite3_open_v2(UriFor(host, query).c_str(), &h->db, flags, nullptr);
  if (rc != SQLITE_OK) {
    Status s = FromSqlite(rc);
    return s == kFileLocked || s == kNotADataFile ? s : kIoError;
  }
  sqlite3_busy_timeout(h->db, kBusyTimeoutMs);
  return h->VerifyAndLoad(host, owner);
}

// Opens the file's database: read-write; failing that with an I/O error
// (the file or its folder not writable, SQLite's side files that cannot be
// made, no room for them), read-only; failing that too, immutable, which
// ignores the WAL and so is taken only when there is none: a log that
// cannot be read is an I/O error, never skipped. A file that is not a data
// file, or is busy, stops the chain.
Status OpenDatabaseChain(std::unique_ptr<SqliteFile>* out, const std::string& host,
                         std::string* owner) {
  Status s = kIoError;
  for (DbMode mode : {DbMode::kReadWrite, DbMode::kReadOnly, DbMode::kImmutable}) {
    if (mode == DbMode::kImmutable) {
      struct stat wal;
      if (::stat((host + "-wal").c_str(), &wal) == 0 ? wal.st_size != 0 : errno != ENOENT) {
        return s;
      }
    }
    auto h = std::make_unique<SqliteFile>();
    s = OpenDatabase(h.get(), host, mode, owner);
    if (s == kOk) {
      h->immutable = mode == DbMode::kImmutable;
      h->set_read_only(mode != DbMode::kReadWrite || sqlite3_db_readonly(h->db, "main") == 1);
      *out = std::move(h);
      return kOk;
    }
    if (s != kIoError) return s;
  }
  return s;
}

// --- Reads ------------------------------------------------------------------

void SqliteFile::StartScan(std::string_view kf, int64_t id, int dir, int key) {
  StopScan();
  KeyStatements& ks = *keys[static_cast<size_t>(key)];
  Stmt* stmt = nullptr;
  if (id == -1) {
    stmt = dir > 0 ? &ks.at_or_after : &ks.below;
  } else if (id == INT64_MAX) {
    stmt = dir > 0 ? &ks.past : &ks.at_or_below;
  } else {
    stmt = dir > 0 ? &ks.after : &ks.before;
    stmt->BindInt(2, id);
  }
  scan_kf.assign(kf);
  stmt->BindBlob(1, scan_kf);
  scan = stmt;
  scan_dir = dir;
  scan_key = key;
  scan_id = 0;
  scan_counter = locks->ChangeCounter();
}

// The open scan's next row; the scan ends at its last row or on an error.
Status SqliteFile::Advance(RowView* out) {
  sqlite3_stmt* st = scan->get();
  const int rc = sqlite3_step(st);
  if (rc != SQLITE_ROW) {
    StopScan();
    return rc == SQLITE_DONE ? kEndOfFile : FromSqlite(rc);
  }
  out->id = sqlite3_column_int64(st, 0);
  const void* data = sqlite3_column_blob(st, 1);
  const size_t data_size = static_cast<size_t>(sqlite3_column_bytes(st, 1));
  out->kf = std::string_view();
  out->kf_known = false;
  out->data = std::string_view(data ? static_cast<const char*>(data) : "", data_size);
  scan_id = out->id;
  return kOk;
}

Status SqliteFile::FetchById(int64_t id, std::string* data) {
  by_id->BindInt(1, id);
  int rc = by_id->Step();
  if (rc == SQLITE_ROW) by_id->ColumnBlob(0, data);
  by_id->Reset();
  if (rc == SQLITE_ROW) return kOk;
  return rc == SQLITE_DONE ? kInvalidRecordPosition : FromSqlite(rc);
}

// --- Writes -----------------------------------------------------------------

// Runs body inside BEGIN IMMEDIATE ... COMMIT; any failure rolls back. A
// read-only handle writes nothing: I/O error.
template <typename Body>
Status SqliteFile::InTransaction(Body body) {
  if (read_only_) return kIoError;
  EndRead();
  if (int rc = Exec(db, "BEGIN IMMEDIATE"); rc != SQLITE_OK) return FromSqlite(rc);
  Status s = body();
  if (s == kOk) {
    int rc = Exec(db, "COMMIT");
    if (rc != SQLITE_OK) s = FromSqlite(rc);
  }
  if (s != kOk) Exec(db, "ROLLBACK");
  StopScan();
  if (s == kOk) {
    wrote_ = true;
    locks->NoteChange();
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

// Inserts one record inside an open transaction.
Status SqliteFile::InsertOne(const uint8_t* record, Counts* c, int64_t* id) {
  FormsOf(def_, record, &raw_key, &new_kf);
  std::vector<bool> fresh(def_.keys.size());
  for (size_t k = 0; k < def_.keys.size(); ++k) {
    bool exists = false;
    if (int rc = KeyExists(*keys[k], new_kf[k], &exists); rc != SQLITE_OK) {
      return FromSqlite(rc);
    }
    if (exists && !def_.keys[k].duplicates) return kDuplicateKey;
    fresh[k] = !exists;
  }
  rec_insert->BindBlob(1, record, def_.record_length);
  if (int rc = rec_insert->Run(); rc != SQLITE_OK) return FromSqlite(rc);
  *id = sqlite3_last_insert_rowid(db);
  if (*id > static_cast<int64_t>(UINT32_MAX)) return kIoError;
  for (size_t k = 0; k < def_.keys.size(); ++k) {
    KeyStatements& ks = *keys[k];
    ks.insert.BindBlob(1, new_kf[k]);
    ks.insert.BindInt(2, *id);
    ks.insert.BindBlob(3, record, def_.record_length);
    if (int rc = ks.insert.Run(); rc != SQLITE_OK) return FromSqlite(rc);
    if (fresh[k]) ++c->distinct[k];
  }
  ++c->records;
  return kOk;
}

Status SqliteFile::Insert(const uint8_t* record, int64_t* id) {
  return InTransaction([&]() -> Status {
    Counts c;
    if (int rc = ReadCountsRc(&c); rc != SQLITE_OK) return FromSqlite(rc);
    if (Status st = InsertOne(record, &c, id); st != kOk) return st;
    return FromSqlite(WriteCounts(c));
  });
}

// The start of every change to a record: the record as stored (the caller's
// copy may be stale), the file's counts, and the stored record's key forms
// in old_kf.
Status SqliteFile::LoadForChange(int64_t id, Counts* c) {
  std::string old;
  if (Status st = FetchById(id, &old); st != kOk) {
    return st == kInvalidRecordPosition ? kNoCurrentRecord : st;
  }
  if (int rc = ReadCountsRc(c); rc != SQLITE_OK) return FromSqlite(rc);
  // A record of another length is damage, not something to take keys from.
  if (old.size() != static_cast<size_t>(def_.record_length)) return kIoError;
  FormsOf(def_, reinterpret_cast<const uint8_t*>(old.data()), &raw_key, &old_kf);
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

Status SqliteFile::Update(int64_t id, const uint8_t* buffer) {
  return InTransaction([&]() -> Status {
    Counts c;
    if (Status st = LoadForChange(id, &c); st != kOk) return st;
    FormsOf(def_, buffer, &raw_key, &new_kf);
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      KeyStatements& ks = *keys[k];
      const Key& key = def_.keys[k];
      int rc = SQLITE_OK;
      if (old_kf[k] == new_kf[k]) {
        ks.update.BindBlob(1, old_kf[k]);
        ks.update.BindInt(2, id);
        ks.update.BindBlob(3, buffer, def_.record_length);
        if ((rc = ks.update.Run()) != SQLITE_OK) return FromSqlite(rc);
        continue;
      }
      if (!key.modifiable) return kKeyNotModifiable;
      bool exists = false;
      if ((rc = KeyExists(ks, new_kf[k], &exists)) != SQLITE_OK) return FromSqlite(rc);
      if (exists && !key.duplicates) return kDuplicateKey;
      if (!exists) ++c.distinct[k];
      if ((rc = RemoveKeyEntry(ks, old_kf[k], id, &c.distinct[k])) != SQLITE_OK) {
        return FromSqlite(rc);
      }
      ks.insert.BindBlob(1, new_kf[k]);
      ks.insert.BindInt(2, id);
      ks.insert.BindBlob(3, buffer, def_.record_length);
      if ((rc = ks.insert.Run()) != SQLITE_OK) return FromSqlite(rc);
    }
    rec_update->BindInt(1, id);
    rec_update->BindBlob(2, buffer, def_.record_length);
    if (int rc = rec_update->Run(); rc != SQLITE_OK) return FromSqlite(rc);
    return FromSqlite(WriteCounts(c));
  });
}

Status SqliteFile::Delete(int64_t id) {
  return InTransaction([&]() -> Status {
    Counts c;
    if (Status st = LoadForChange(id, &c); st != kOk) return st;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      KeyStatements& ks = *keys[k];
      if (int rc = RemoveKeyEntry(ks, old_kf[k], id, &c.distinct[k]); rc != SQLITE_OK) {
        return FromSqlite(rc);
      }
    }
    rec_delete->BindInt(1, id);
    if (int rc = rec_delete->Run(); rc != SQLITE_OK) return FromSqlite(rc);
    --c.records;
    return FromSqlite(WriteCounts(c));
  });
}

Status SqliteFile::SetOwner(const std::string& name) {
  return InTransaction([&]() -> Status {
    Stmt st;
    int rc = st.Prepare(db, "UPDATE rm_file SET owner = ?1 WHERE id = 1");
    if (rc != SQLITE_OK) return FromSqlite(rc);
    sqlite3_bind_text(st.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    return FromSqlite(st.Run());
  });
}

// A small page cache per handle (512 KiB): reads go along keys, so beyond
// the B-tree's upper pages (and the system's file cache) a larger one only
// grows with the file; a print run then needs the same memory at any size.
constexpr char kHandleCacheSize[] = "PRAGMA cache_size = -512";

// rm_form(key, data): the comparable form of a key of the file's records,
// for the statements of a bulk load. No exception may cross SQLite's frames.
void FormFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto& scratch = *static_cast<FormScratch*>(sqlite3_user_data(ctx));
  const FileDefinition& def = *scratch.def;
  const int key = sqlite3_value_int(argv[0]);
  const void* data = sqlite3_value_blob(argv[1]);
  const int n = sqlite3_value_bytes(argv[1]);
  if (key < 0 || static_cast<size_t>(key) >= def.keys.size() || n != def.record_length ||
      data == nullptr) {
    sqlite3_result_error(ctx, "rm_form: not a record of the file", -1);
    return;
  }
  try {
    FormOf(def, key, std::string_view(static_cast<const char*>(data), static_cast<size_t>(n)),
           &scratch.raw, &scratch.form);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  sqlite3_result_blob(ctx, scratch.form.data(), static_cast<int>(scratch.form.size()),
                      SQLITE_TRANSIENT);
}

// The size of each of a load sorter's two buffers, per key: 2 MiB keeps a
// three-key file's load near 32 MiB at any size (the runs but the last go
// to temporary files); twice that was 3% faster for 10 MiB more.
constexpr size_t kLoadSortBuffer = 2 << 20;

// Fills key table k of a file that had no records from the sorted rows:
// every insert an append, the distinct values counted on the way. *clash
// becomes the position of the first record repeating a value of a unique
// key, if it is before *clash (or *clash is -1).
Status SqliteFile::FillFromSorter(size_t k, LoadSorter* sorter, Counts* c, int64_t* clash) {
  if (!sorter->StartMerge()) return kIoError;
  feed_.StartKey(sorter, !def_.keys[k].duplicates);
  const int rc = Exec(db, "INSERT INTO k" + std::to_string(k) +
                              "(kf, id, data) SELECT kf, id, data FROM rm_load_rows");
  const Status failure = feed_.Finish();
  const int64_t repeated = feed_.clash(), distinct = feed_.distinct();
  feed_.Clear();
  if (failure != kOk) return failure;
  if (rc != SQLITE_OK) return FromSqlite(rc);
  if (repeated >= 0 && (*clash < 0 || repeated < *clash)) *clash = repeated;
  c->distinct[k] = distinct;
  return kOk;
}

// A bulk load in bounded memory: the records go into rec in input order by
// one INSERT ... SELECT from the load's virtual table, which takes them from
// the source batch by batch (positions follow the highest ever given, so
// none is reused). Into a file without records, each record's key forms go
// to one sorter per key as it comes (worker threads sort and write the
// sorters' full buffers meanwhile), and each key table is then filled from
// its sorter's merge, in key order. Into a file with records, each key table is filled by one
// INSERT ... SELECT sorted on (form, position), SQLite's sorter spilling to
// temporary files, and the unique keys and the distinct counts are checked
// on the filled tables.
Status SqliteFile::InsertAll(RecordSource* source, int64_t* failed_index) {
  // A cache of 4 MiB for the load, which the sorter's memory follows too:
  // larger ones were no faster here (more memory to touch, same merges).
  Exec(db, "PRAGMA cache_size = -4096");
  // One helper thread sorts SQLite's sorter runs (a file with records).
  Exec(db, "PRAGMA threads = 1");
  // Memory that runs out on this thread (a sorter's buffers, the merge's
  // blocks) fails the load like any failure, undoing it.
  Status result = InTransaction([&]() -> Status {
    try {
      return LoadInTransaction(source, failed_index);
    } catch (const std::bad_alloc&) {
      return kIoError;
    }
  });
  sqlite3_create_function_v2(db, "rm_form", 2, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
  Exec(db, "PRAGMA threads = 0");
  Exec(db, kHandleCacheSize);
  Exec(db, "PRAGMA shrink_memory");
  return result;
}

// The load's work inside its transaction.
Status SqliteFile::LoadInTransaction(RecordSource* source, int64_t* failed_index) {
  const size_t record_length = def_.record_length;
  Counts c;
  if (int rc = ReadCountsRc(&c); rc != SQLITE_OK) return FromSqlite(rc);
  int64_t first_id = 0;
  if (Status s = HighestPosition(&first_id); s != kOk) return s;
  ++first_id;
  std::vector<std::unique_ptr<LoadSorter>> sorters;
  // However this ends, the feed lets go of the sorters before they go.
  struct Release {
    LoadFeed* feed;
    ~Release() { feed->Clear(); }
  } release{&feed_};
  if (c.records == 0) {
    for (const Key& key : def_.keys) {
      sorters.push_back(std::make_unique<LoadSorter>(static_cast<size_t>(key.length),
                                                     record_length, kLoadSortBuffer));
    }
  }
  if (!load_module_) {
    if (RegisterLoadRows(db, &feed_) != SQLITE_OK) return kIoError;
    load_module_ = true;
  }
  feed_.StartInput(source, first_id, &def_, &sorters);
  int rc = Exec(db, "INSERT INTO rec(id, data) SELECT id, data FROM rm_load_rows");
  const Status failure = feed_.Finish();
  const int64_t n = feed_.next_id() - first_id;
  feed_.Clear();
  if (failure != kOk) return failure;
  if (rc != SQLITE_OK) return FromSqlite(rc);
  if (n == 0) return kOk;
  // The offending record is the first, in input order, that repeats a
  // value of a unique key (of the file or of the load): every key is
  // looked at before the load is undone.
  int64_t clash = -1;
  bool repeats = false;
  if (!sorters.empty()) {
    for (size_t k = 0; k < sorters.size(); ++k) {
      if (Status s = FillFromSorter(k, sorters[k].get(), &c, &clash); s != kOk) return s;
      sorters[k].reset();
    }
    if (clash >= 0) {
      *failed_index = clash - first_id;
      return kDuplicateKey;
    }
    c.records += n;
    return FromSqlite(WriteCounts(c));
  }
  form_scratch_.def = &def_;
  rc = sqlite3_create_function_v2(db, "rm_form", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                  &form_scratch_, FormFunction, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return FromSqlite(rc);
  for (size_t k = 0; k < def_.keys.size(); ++k) {
    const std::string t = "k" + std::to_string(k);
    const std::string kn = std::to_string(k);
    Stmt fill, distinct;
    rc = fill.Prepare(db, "INSERT INTO " + t + "(kf, id, data) SELECT rm_form(" + kn +
                              ", data), id, data FROM rec WHERE id >= ?1 ORDER BY 1, 2");
    if (rc == SQLITE_OK) {
      fill.BindInt(1, first_id);
      rc = fill.Run();
    }
    if (rc == SQLITE_OK) {
      rc = distinct.Prepare(db, "SELECT count(*) FROM (SELECT 1 FROM " + t + " GROUP BY kf)");
    }
    if (rc == SQLITE_OK && (rc = distinct.Step()) == SQLITE_ROW) rc = SQLITE_OK;
    if (rc != SQLITE_OK) return FromSqlite(rc);
    const int64_t values = distinct.ColumnInt(0);
    if (!def_.keys[k].duplicates && values != c.records + n) {
      // The first loaded record whose value came before it.
      Stmt first_clash;
      rc = first_clash.Prepare(
          db, "SELECT min(id) FROM (SELECT id, kf, lag(kf) OVER (ORDER BY kf, id) AS prev FROM " +
                  t + ") WHERE kf = prev AND id >= ?1");
      if (rc == SQLITE_OK) {
        first_clash.BindInt(1, first_id);
        rc = first_clash.Step();
      }
      if (rc != SQLITE_ROW) return FromSqlite(rc);
      repeats = true;
      // NULL when no loaded record repeats one (the file's own records do).
      if (sqlite3_column_type(first_clash.get(), 0) != SQLITE_NULL) {
        const int64_t repeated = first_clash.ColumnInt(0);
        if (clash < 0 || repeated < clash) clash = repeated;
      }
    }
    c.distinct[k] = values;
  }
  if (clash >= 0) *failed_index = clash - first_id;
  if (repeats) return kDuplicateKey;
  c.records += n;
  return FromSqlite(WriteCounts(c));
}

Status SqliteFile::HighestPosition(int64_t* out) {
  Stmt top;
  int rc = top.Prepare(db,
                       "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = "
                       "'rec'), 0), coalesce((SELECT max(id) FROM rec), 0))");
  if (rc == SQLITE_OK && (rc = top.Step()) == SQLITE_ROW) {
    *out = top.ColumnInt(0);
    return kOk;
  }
  return FromSqlite(rc);
}

}  // namespace

Status SqliteHighestPosition(FileStore* store, int64_t* out) {
  auto* f = dynamic_cast<SqliteFile*>(store);
  if (f == nullptr) return kInvalidOperation;
  if (Status s = f->BeginRead(true); s != kOk) return s;
  return f->HighestPosition(out);
}

Status SqliteOpen(const std::string& host, Opened* out) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? kFileNotFound : kIoError;
  }
  if (!S_ISREG(st.st_mode) || st.st_size == 0) return kNotADataFile;

  std::unique_ptr<SqliteFile> h;
  if (Status s = OpenDatabaseChain(&h, host, &out->owner); s != kOk) return s;
  Exec(h->db, "PRAGMA synchronous = NORMAL");
  Exec(h->db, kHandleCacheSize);

  h->locks = LockFile::Open(host);
  if (!h->locks) return kIoError;
  // Writes need the shared side file: without it others would neither see
  // this handle's record locks nor learn of its changes.
  if (h->locks->mode() != LockFile::Mode::kShared) h->set_read_only(true);
  if (h->immutable) h->locks->SetUnchanging();
  out->store = std::move(h);
  return kOk;
}

// path with its folder resolved and its own name as given. SQLite's
// NOFOLLOW refuses a link at any step of the name it is handed, but a folder
// reached through a link (a symlinked /srv) is the administrator's choice:
// only a link at the file's own name is to be refused. Empty when the folder
// does not resolve.
std::string WithFolderResolved(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  char* real = ::realpath(dir.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string out = real;
  std::free(real);
  if (out.back() != '/') out += '/';
  return out + (slash == std::string::npos ? path : path.substr(slash + 1));
}

Status SqliteCreate(const std::string& host, const FileDefinition& def, int8_t mode) {
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
  const std::string resolved = WithFolderResolved(host);
  if (resolved.empty()) return kIoError;
  const std::string tmp = resolved + ".new-" + std::to_string(::getpid());
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((tmp + suffix).c_str());
  // A file that replaces another takes its group (where the user may give
  // it) and permission bits, as every whole file the programs write does: a
  // data file somebody restricted stays so. Made private first, so it is
  // never readable more widely meanwhile; SQLite takes an empty file as a
  // new database and gives its side files the file's mode.
  struct stat old_file;
  if (mode != kCreateNoReplace && ::lstat(host.c_str(), &old_file) == 0 &&
      S_ISREG(old_file.st_mode)) {
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return kIoError;
    if (::fchown(fd, static_cast<uid_t>(-1), old_file.st_gid) != 0) {
      // not in that group: the user's own
    }
    const bool kept = ::fchmod(fd, old_file.st_mode & 0777) == 0;
    ::close(fd);
    if (!kept) {
      ::unlink(tmp.c_str());
      return kIoError;
    }
  }
  sqlite3* db = nullptr;
  ConfigureSqlite();
  int rc = sqlite3_open_v2(
      tmp.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
      nullptr);
  // Pages of 16 KiB: a key table's rows hold whole records, and larger
  // pages mean fewer page splits in a bulk load and fewer page steps along a
  // key (a print run and a load of a large file both took 10-15% less than
  // with SQLite's 4 KiB; 64 KiB pages were no faster and doubled the load's
  // memory). Files made before keep the size they were made with.
  std::string sql = "PRAGMA page_size = 16384; PRAGMA application_id = " +
                    std::to_string(kApplicationId) +
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

}  // namespace recmgr::store
