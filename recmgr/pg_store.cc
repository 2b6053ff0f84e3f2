// The PostgreSQL back end of the record manager, through libpq's C API: one
// server connection per handle (so record and file locks are per handle, as
// with the SQLite files), every statement prepared with parameters in
// binary form.
//
// Storage, in the schema the connection's search_path names:
//   rm_files   the registry: one row per data file (name, format tag,
//              definition in the Stat layout, owner, record count, distinct
//              values per key as 8-byte big-endian counts, lock key)
//   rm_t<id>   the records of the file with registry id <id>: id (the
//              position, an identity that never goes back), data, and the
//              comparable form of every key (k0, k1, ...) as bytea, which
//              compares as unsigned bytes like the forms; an index per key,
//              UNIQUE for a key without duplicates, (kN, id) otherwise.
// Table names are made from the registry's id only, never from a path.
//
// Locks are advisory locks of the handle's session, so a killed workstation
// frees them when its connection goes: a record lock is the two-key lock
// (file lock key, position), the file lock of an exclusive open the
// one-key lock on the file's lock key (a different lock space). The lock key
// is the object id the file's first table got, unique in the database
// across schemas.
//
// Writes are serialised per file by taking the registry row FOR UPDATE
// first; lock waits end after lock_timeout (30 s unless the connection sets
// another) with 85. A lost connection is an I/O error (2), and so is a
// server that does not answer in time (lock_timeout + 15 s, or
// statement_timeout + 5 s when the session sets one): every connection of
// the process is then closed. A handle whose connection went connects again
// at its next call, unless a held snapshot or a lock of its went with it.
//
// Reads outside a held snapshot run one statement each (autocommit), so
// each sees every write committed before it. Inside a held snapshot a
// handle keeps one REPEATABLE READ READ ONLY transaction, and scans read
// ahead in growing batches: the snapshot cannot change under them.
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"
#include "recmgr/store.h"

namespace recmgr::store {
namespace {

constexpr char kFormatTag[] = "telvoran-recmgr-1";
// Serialises the creation of the registry (an advisory lock key no table's
// object id can take).
constexpr int64_t kRegistryLockKey = -0x544C5652;
// Read-ahead inside a held snapshot: the first batch of a scan, its growth
// and its ceiling. Most scans of a print run read one row or a few; the long
// ones reach the ceiling after a few round trips.
constexpr int64_t kFirstBatch = 8;
constexpr int64_t kBatchGrowth = 4;
constexpr int64_t kMaxBatch = 1024;

ServerTraffic g_traffic;

void PutBe64(char* p, uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
}
uint64_t GetBe64(const char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}
void PutBe32(char* p, uint32_t v) {
  for (int i = 3; i >= 0; --i) {
    p[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
}

// Parameters of one statement, all binary.
class Params {
 public:
  void Bytes(const void* p, size_t n) {
    values_.push_back(n == 0 ? "" : static_cast<const char*>(p));
    lengths_.push_back(static_cast<int>(n));
  }
  void Bytes(std::string_view s) { Bytes(s.data(), s.size()); }
  void Int8(int64_t v) {
    ints_.emplace_back();
    PutBe64(ints_.back().b, static_cast<uint64_t>(v));
    Bytes(ints_.back().b, 8);
  }
  void Int4(uint32_t v) {
    ints_.emplace_back();
    PutBe32(ints_.back().b, v);
    Bytes(ints_.back().b, 4);
  }
  int count() const { return static_cast<int>(values_.size()); }
  const char* const* values() const { return values_.data(); }
  const int* lengths() const { return lengths_.data(); }
  const int* formats() {
    formats_.assign(values_.size(), 1);
    return formats_.data();
  }
  void Reserve(size_t n) {
    // Ints point into ints_: it must not move once filled.
    ints_.reserve(n);
    values_.reserve(n);
    lengths_.reserve(n);
  }

 private:
  struct Int {
    char b[8];
  };
  std::vector<Int> ints_;
  std::vector<const char*> values_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
};

// A result, freed when it goes.
struct Result {
  PGresult* r = nullptr;
  Result() = default;
  explicit Result(PGresult* p) : r(p) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  Result(Result&& o) noexcept : r(o.r) { o.r = nullptr; }
  Result& operator=(Result&& o) noexcept {
    if (this != &o) {
      PQclear(r);
      r = o.r;
      o.r = nullptr;
    }
    return *this;
  }
  int rows() const { return r ? PQntuples(r) : 0; }
  std::string_view Bytes(int row, int col) const {
    return std::string_view(PQgetvalue(r, row, col),
                            static_cast<size_t>(PQgetlength(r, row, col)));
  }
  int64_t Int8(int row, int col) const {
    return static_cast<int64_t>(GetBe64(PQgetvalue(r, row, col)));
  }
  bool Bool(int row, int col) const { return PQgetvalue(r, row, col)[0] != 0; }
};

// Why the last failing call failed (ServerFailureOfLastCall), and the call.
ServerFailure g_failure;
uint64_t g_failure_call = 0;

// The first line of a message, its runs of blanks made one.
std::string OneLine(std::string_view words) {
  std::string out;
  for (char c : words.substr(0, words.find('\n'))) {
    const bool blank = c == ' ' || c == '\t' || c == '\r';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out.push_back(blank ? ' ' : c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Notes why the current call failed: the result's words (its primary
// message, without the severity libpq puts before it), else the
// connection's. Without words (the connection is gone already) the reason
// noted when it went stands for this call too.
void NoteFailure(const PGresult* r, PGconn* conn) {
  // A write refused because the server is a hot standby: named as such, by
  // its host, rather than by the statement it refused.
  const char* state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (state != nullptr && std::string_view(state) == "25006" && conn != nullptr) {
    std::string host = PQhost(conn) != nullptr ? PQhost(conn) : "";
    if (PQport(conn) != nullptr && *PQport(conn) != '\0') host += std::string(":") + PQport(conn);
    g_failure = ServerFailure{ServerFailure::kStandby, host, 0};
    g_failure_call = g_calls;
    return;
  }
  const char* words = r != nullptr ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  if ((words == nullptr || *words == '\0') && r != nullptr) words = PQresultErrorMessage(r);
  if ((words == nullptr || *words == '\0') && conn != nullptr) words = PQerrorMessage(conn);
  if (words != nullptr && *words != '\0') {
    g_failure = ServerFailure{ServerFailure::kWords, OneLine(words), 0};
  }
  g_failure_call = g_calls;
}

// The status of a failed statement: from its SQLSTATE, or 2 when the server
// is gone.
Status FromPg(PGconn* conn, const PGresult* r) {
  NoteFailure(r, conn);
  if (conn == nullptr || PQstatus(conn) == CONNECTION_BAD) return kIoError;
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (state == nullptr) return kIoError;
  const std::string_view s(state);
  if (s == "23505") return kDuplicateKey;
  if (s == "42P01" || s == "42703") return kNotADataFile;
  if (s == "55P03" || s == "57014" || s == "40001" || s == "40P01") return kFileLocked;
  return kIoError;
}

// Every server connection of the process, so that a server found not to
// answer drops all of them at once: the calls under way fail with an I/O
// error, and the next run connects again.
class Connection;
std::vector<Connection*>& OpenConnections() {
  static auto* all = new std::vector<Connection*>();
  return *all;
}
// Closes every connection: one was lost, or its server gave no answer in
// time, or the wait hook gave the wait up (give_up). Held snapshots cannot
// be taken up again: when one went (or the server was given up), reads
// inside a hold fail until the reads are ended (ResumeAfterLostServer).
// Connections lost before anything was read on them in the current hold (a
// module left open while the server restarted, or failed over) are made
// again by their next read.
void AbandonAllConnections(bool give_up);
bool g_server_given_up = false;

// Asked while a statement waits for the server (SetServerWaitHook).
std::function<bool()>& WaitHook() {
  static auto* hook = new std::function<bool()>();
  return *hook;
}

// How often a wait looks at the hook, and how long past the session's own
// limits an answer may take before the server is given up: past
// lock_timeout a statement that waits for a lock has been refused by the
// server, past statement_timeout any statement has.
constexpr int kWaitTickMs = 200;
constexpr int64_t kAnswerGraceMs = 15000;
constexpr int64_t kStatementGraceMs = 5000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One server connection with its lazily prepared statements. Every
// statement is sent without waiting and its answer waited for on the
// socket, bounded: a server that stops answering (a frozen process, a
// network gone without a reset) ends the call with an I/O error instead of
// hanging the program, and the wait hook is asked meanwhile.
class Connection {
 public:
  Connection() { OpenConnections().push_back(this); }
  ~Connection() {
    Close();
    auto& all = OpenConnections();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Status Connect(const std::string& conninfo) {
    Close();
    // Defaults first, so that the connection string overrides them: TCP
    // keepalives find a dead server (or a dead workstation, on its side)
    // instead of waiting forever, and data the server does not acknowledge
    // within 30 s ends the connection (a network gone while a statement is
    // under way, where keepalives do not apply).
    const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                          "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                          "fallback_application_name", "dbname", nullptr};
    const char* values[] = {"10", "1", "30", "10", "3", "30000", "telvoran", conninfo.c_str(),
                            nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    ++g_traffic.connections;
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
      NoteFailure(nullptr, conn_);
      return kIoError;
    }
    g_failure = ServerFailure{};
    // The server's notices ("already exists, skipping") are not for the
    // user's terminal.
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    // A lock wait never hangs a workstation: 30 s unless the connection
    // string's options chose a limit. The limits then in force bound how
    // long an answer may take.
    Result r(Run("SELECT set_config('lock_timeout', '30s', false) "
                 "WHERE current_setting('lock_timeout') = '0'; "
                 "SELECT (extract(epoch FROM current_setting('lock_timeout')::interval) * 1000)"
                 "::bigint, (extract(epoch FROM current_setting('statement_timeout')::interval)"
                 " * 1000)::bigint"));
    if (!Ok(r) || r.rows() != 1) return FromPg(conn_, r.r);
    const int64_t lock_ms = std::strtoll(PQgetvalue(r.r, 0, 0), nullptr, 10);
    statement_timeout_ms_ = std::strtoll(PQgetvalue(r.r, 0, 1), nullptr, 10);
    answer_bound_ms_ = statement_timeout_ms_ > 0 ? statement_timeout_ms_ + kStatementGraceMs
                                                 : lock_ms + kAnswerGraceMs;
    return kOk;
  }

  // Ends the connection (the server frees its session's locks); a later
  // Connect starts afresh.
  void Close() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
    prepared_.clear();
    holds_snapshot = false;
  }

  // Set while a held read snapshot lives on the connection (its store's).
  bool holds_snapshot = false;

  PGconn* get() const { return conn_; }
  bool broken() const { return conn_ == nullptr || PQstatus(conn_) == CONNECTION_BAD; }

  // While one lives, the connection's statements are the long ones of bulk
  // loads and copies (COPY, index builds, counts over a whole table): their
  // answers are waited for without a bound unless the session has a
  // statement_timeout, the hook still asked.
  class Bulk {
   public:
    explicit Bulk(Connection& c) : c_(c) { c_.bulk_ = true; }
    ~Bulk() { c_.bulk_ = false; }
    Bulk(const Bulk&) = delete;
    Bulk& operator=(const Bulk&) = delete;

   private:
    Connection& c_;
  };

  // A statement without parameters, text results (control statements).
  PGresult* Run(const char* sql) {
    ++g_traffic.round_trips;
    if (conn_ == nullptr || PQsendQuery(conn_, sql) != 1) return nullptr;
    return Collect();
  }

  // Runs the statement of slot with params, preparing it first when it is
  // the slot's first use on this connection; binary results.
  PGresult* Exec(int slot, const std::string& sql, Params& p) {
    if (conn_ == nullptr) return nullptr;
    if (static_cast<size_t>(slot) >= prepared_.size()) prepared_.resize(slot + 1, false);
    const std::string name = "t" + std::to_string(slot);
    if (!prepared_[static_cast<size_t>(slot)]) {
      ++g_traffic.round_trips;
      if (PQsendPrepare(conn_, name.c_str(), sql.c_str(), 0, nullptr) != 1) return nullptr;
      PGresult* r = Collect();
      if (PQresultStatus(r) != PGRES_COMMAND_OK) return r;
      PQclear(r);
      if (conn_ == nullptr) return nullptr;
      prepared_[static_cast<size_t>(slot)] = true;
    }
    ++g_traffic.round_trips;
    if (PQsendQueryPrepared(conn_, name.c_str(), p.count(), p.values(), p.lengths(), p.formats(),
                            1) != 1) {
      return nullptr;
    }
    PGresult* r = Collect();
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
      g_traffic.rows += static_cast<uint64_t>(PQntuples(r));
    }
    return r;
  }

  // The next result of what was sent, or null when there is none: nothing
  // more to come, or no answer in time (the connection is then closed).
  PGresult* NextResult() { return AwaitReady() ? PQgetResult(conn_) : nullptr; }

  static bool Ok(const Result& r) {
    const ExecStatusType s = PQresultStatus(r.r);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }

 private:
  // Waits until a result can be taken without blocking. False when the wait
  // ended without one: the bound passed or the hook gave the wait up (every
  // connection is then closed), or the connection is gone.
  bool AwaitReady() {
    if (conn_ == nullptr) return false;
    const int64_t bound = bulk_ ? (statement_timeout_ms_ > 0
                                       ? statement_timeout_ms_ + kStatementGraceMs
                                       : 0)
                                : answer_bound_ms_;
    int64_t deadline = NowMs() + bound;
    while (PQisBusy(conn_) != 0) {
      struct pollfd ready = {PQsocket(conn_), POLLIN, 0};
      if (ready.fd < 0) return true;  // gone: PQgetResult reports it at once
      const int n = ::poll(&ready, 1, kWaitTickMs);
      if (n < 0 && errno != EINTR) return true;
      if (n > 0 && PQconsumeInput(conn_) != 1) return true;
      if (const std::function<bool()>& hook = WaitHook(); hook) {
        const int64_t asked = NowMs();
        const bool give_up = hook();
        // Time spent answering the hook (a question on the screen) is not
        // the server's.
        deadline += NowMs() - asked;
        if (give_up) {
          AbandonAllConnections(true);
          return false;
        }
      }
      if (bound > 0 && NowMs() >= deadline) {
        g_failure = ServerFailure{ServerFailure::kNoAnswer, "", static_cast<int>(bound / 1000)};
        g_failure_call = g_calls;
        AbandonAllConnections(true);
        return false;
      }
    }
    return true;
  }

  // Every result of what was sent, as PQexec gives them: the last one (a
  // COPY's start ends them); null when the wait ended without an answer. A
  // connection found lost takes the others with it: they lead to the same
  // server, and a run must not wait for each of them in turn.
  PGresult* Collect() {
    PGresult* last = nullptr;
    while (PGresult* r = NextResult()) {
      PQclear(last);
      last = r;
      const ExecStatusType s = PQresultStatus(r);
      if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH) break;
    }
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_BAD) {
      NoteFailure(last, conn_);
      AbandonAllConnections(false);
    }
    if (conn_ == nullptr) {
      PQclear(last);
      return nullptr;
    }
    return last;
  }

  PGconn* conn_ = nullptr;
  std::vector<bool> prepared_;
  int64_t answer_bound_ms_ = 30000 + kAnswerGraceMs;
  int64_t statement_timeout_ms_ = 0;
  bool bulk_ = false;
};

void AbandonAllConnections(bool give_up) {
  for (Connection* c : OpenConnections()) {
    give_up = give_up || c->holds_snapshot;
    c->Close();
  }
  g_server_given_up = g_server_given_up || give_up;
}

// Statement slots of a file's connection. Scans: kScanBase + key * 6 + kind.
enum Slot {
  kSlotById,
  kSlotCounts,
  kSlotCountsForUpdate,
  kSlotExists,
  kSlotInsert,
  kSlotUpdate,
  kSlotDelete,
  kSlotWriteCounts,
  kSlotOwner,
  kSlotLockRecord,
  kSlotUnlockRecord,
  kSlotLockFile,
  kSlotFileFree,
  kScanBase,
};
enum ScanKind { kAfter, kBefore, kAtOrAfter, kPast, kBelow, kAtOrBelow };

std::string DistinctBytes(const std::vector<int64_t>& distinct) {
  std::string out(distinct.size() * 8, '\0');
  for (size_t k = 0; k < distinct.size(); ++k) {
    PutBe64(out.data() + k * 8, static_cast<uint64_t>(distinct[k]));
  }
  return out;
}

class PgFile final : public FileStore {
 public:
  ~PgFile() override {
    // The server frees a session's locks when its process ends, which may
    // be a moment after the connection is closed: given back first, so the
    // next open after a Close finds the file free.
    if (took_file_lock_ && !c_.broken()) Result r(c_.Run("SELECT pg_advisory_unlock_all()"));
  }
  Status Load(const std::string& conninfo, const std::string& name, std::string* owner);

  Status TryLockRecord(uint32_t position) override {
    if (Status s = Connected(); s != kOk) return s;
    Params p;
    p.Reserve(2);
    p.Int4(static_cast<uint32_t>(lock_key_));
    p.Int4(position);
    Result r(c_.Exec(kSlotLockRecord, "SELECT pg_try_advisory_lock($1::int4, $2::int4)", p));
    if (!Connection::Ok(r)) return Failed(r);
    if (!r.Bool(0, 0)) return kRecordLocked;
    ++record_locks_;
    return kOk;
  }
  void UnlockRecord(uint32_t position) override {
    if (record_locks_ > 0) --record_locks_;
    if (c_.broken()) return;
    Params p;
    p.Reserve(2);
    p.Int4(static_cast<uint32_t>(lock_key_));
    p.Int4(position);
    Result r(c_.Exec(kSlotUnlockRecord, "SELECT pg_advisory_unlock($1::int4, $2::int4)", p));
  }
  Status TryLockFile() override {
    if (Status s = Connected(); s != kOk) return s;
    Params p;
    p.Reserve(1);
    p.Int8(lock_key_);
    Result r(c_.Exec(kSlotLockFile, "SELECT pg_try_advisory_lock($1::int8)", p));
    if (!Connection::Ok(r)) return Failed(r);
    took_file_lock_ = r.Bool(0, 0);
    return took_file_lock_ ? kOk : kFileLocked;
  }
  Status CheckFileLock() override {
    // A shared lock is granted unless another session holds the exclusive
    // one (a session's own locks never conflict with it); given back at once.
    if (Status s = Connected(); s != kOk) return s;
    Params p;
    p.Reserve(1);
    p.Int8(lock_key_);
    Result r(c_.Exec(kSlotFileFree,
                     "SELECT CASE WHEN pg_try_advisory_lock_shared($1::int8)"
                     " THEN pg_advisory_unlock_shared($1::int8) ELSE false END",
                     p));
    if (!Connection::Ok(r)) return Failed(r);
    return r.Bool(0, 0) ? kOk : kFileLocked;
  }

  Status BeginRead(bool hold) override {
    // Inside a hold, a connection given up stays so until the reads end: the
    // rest of the run must not read from a snapshot of a later moment.
    if (Status s = Connected(!hold || !g_server_given_up); s != kOk) return s;
    if (in_read_ && !hold) EndRead();
    if (hold && !in_read_) {
      constexpr char kBegin[] = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";
      Result r(c_.Run(kBegin));
      // A connection found lost at the first statement of a snapshot (the
      // server restarted or failed over since the last run) is made again
      // at once: nothing was read on it yet.
      if (!Connection::Ok(r) && c_.broken() && !g_server_given_up && Reconnect() == kOk) {
        r = Result(c_.Run(kBegin));
      }
      if (!Connection::Ok(r)) return Failed(r);
      in_read_ = true;
      c_.holds_snapshot = true;
      snapshot_stamp_ = ++stamp_;
    }
    return kOk;
  }
  void EndRead() override {
    StopScan();
    c_.holds_snapshot = false;
    if (in_read_) {
      in_read_ = false;
      Result r(c_.Run("COMMIT"));
    }
  }

  void StartScan(std::string_view kf, int64_t id, int dir, int key) override {
    StopScan();
    scan_on_ = true;
    scan_key_ = key;
    scan_dir_ = dir;
    scan_kf_.assign(kf);
    scan_from_id_ = id;
    scan_started_ = false;
    scan_done_ = false;
    batch_ = in_read_ ? kFirstBatch : 1;
    row_ = 0;
    last_id_ = 0;
    if (in_read_) StartFromBatch();
  }
  Status Advance(RowView* out) override;
  bool ScanContinues(int dir, int key, int64_t id) override {
    return in_read_ && scan_on_ && scan_dir_ == dir && scan_key_ == key && last_id_ == id;
  }
  void StopScan() override {
    scan_on_ = false;
    batch_rows_.reset();
  }

  Status FetchById(int64_t id, std::string* data) override {
    Params p;
    p.Reserve(1);
    p.Int8(id);
    Result r(c_.Exec(kSlotById, "SELECT data FROM " + table_ + " WHERE id = $1", p));
    if (!Connection::Ok(r)) return Failed(r);
    if (r.rows() == 0) return kInvalidRecordPosition;
    data->assign(r.Bytes(0, 0));
    return kOk;
  }
  Status ReadCounts(Counts* c) override { return Counted(kSlotCounts, c); }
  uint64_t CurrentStamp() override { return in_read_ ? snapshot_stamp_ : ++stamp_; }
  uint64_t ReadStamp() override { return in_read_ ? snapshot_stamp_ : 0; }

  Status Insert(const uint8_t* record, int64_t* id) override;
  Status Update(int64_t id, const uint8_t* record) override;
  Status Delete(int64_t id) override;
  Status SetOwner(const std::string& name) override;
  Status InsertAll(RecordSource* source, int64_t* failed_index) override;
  Status CopyAll(RecordSource* source, int64_t* failed_index, Counts* c);
  bool wrote() const override { return wrote_; }

 private:
  // The status of a failed statement; a read transaction the failure
  // aborted is given up (the next read takes a new one).
  Status Failed(const Result& r) {
    const Status s = FromPg(c_.get(), r.r);
    if (in_read_) {
      GiveUpRead();
      if (!c_.broken()) Result rb(c_.Run("ROLLBACK"));
    }
    return s;
  }
  void GiveUpRead() {
    in_read_ = false;
    c_.holds_snapshot = false;
    scan_on_ = false;
    batch_rows_.reset();
    batches_.clear();
  }
  // The connection, made again when it was lost and may_reconnect, unless a
  // lock of this handle went with it: kIoError then.
  Status Connected(bool may_reconnect = true) {
    if (!c_.broken()) return kOk;
    GiveUpRead();
    if (!may_reconnect || took_file_lock_ || record_locks_ > 0) return kIoError;
    return Reconnect();
  }
  Status Reconnect();
  Status Counted(int slot, Counts* c) {
    Params p;
    p.Reserve(1);
    p.Int8(file_id_);
    Result r(c_.Exec(slot,
                     slot == kSlotCounts
                         ? "SELECT records, distinct_n FROM rm_files WHERE id = $1"
                         : "SELECT records, distinct_n FROM rm_files WHERE id = $1 FOR UPDATE",
                     p));
    if (!Connection::Ok(r)) return Failed(r);
    if (r.rows() != 1) return kNotADataFile;
    c->records = r.Int8(0, 0);
    const std::string_view d = r.Bytes(0, 1);
    c->distinct.assign(def_.keys.size(), 0);
    for (size_t k = 0; k < c->distinct.size() && (k + 1) * 8 <= d.size(); ++k) {
      c->distinct[k] = static_cast<int64_t>(GetBe64(d.data() + k * 8));
    }
    return kOk;
  }
  Status WriteCounts(const Counts& c) {
    Params p;
    p.Reserve(3);
    p.Int8(file_id_);
    p.Int8(c.records);
    const std::string d = DistinctBytes(c.distinct);
    p.Bytes(d);
    Result r(c_.Exec(kSlotWriteCounts,
                     "UPDATE rm_files SET records = $2, distinct_n = $3 WHERE id = $1", p));
    return Connection::Ok(r) ? kOk : FromPg(c_.get(), r.r);
  }
  // Whether each key value of forms is in the file (one statement).
  Status Exists(const std::vector<std::string>& forms, std::vector<bool>* exists) {
    std::string sql = "SELECT ";
    Params p;
    p.Reserve(forms.size());
    for (size_t k = 0; k < forms.size(); ++k) {
      if (k > 0) sql += ", ";
      sql += "EXISTS(SELECT 1 FROM " + table_ + " WHERE k" + std::to_string(k) + " = $" +
             std::to_string(k + 1) + ")";
      p.Bytes(forms[k]);
    }
    Result r(c_.Exec(kSlotExists, sql, p));
    if (!Connection::Ok(r)) return FromPg(c_.get(), r.r);
    exists->resize(forms.size());
    for (size_t k = 0; k < forms.size(); ++k) (*exists)[k] = r.Bool(0, static_cast<int>(k));
    return kOk;
  }
  // Runs body inside a write transaction that holds the file's registry row
  // (c: the counts read under it); any failure rolls back.
  template <typename Body>
  Status InWrite(Body body) {
    EndRead();
    if (Status s = Connected(); s != kOk) return s;
    {
      Result r(c_.Run("BEGIN"));
      if (!Connection::Ok(r)) return FromPg(c_.get(), r.r);
    }
    Counts c;
    Status s = Counted(kSlotCountsForUpdate, &c);
    if (s == kOk) s = body(&c);
    if (s == kOk) s = WriteCounts(c);
    if (s == kOk) {
      Result r(c_.Run("COMMIT"));
      if (!Connection::Ok(r)) s = FromPg(c_.get(), r.r);
    }
    if (s != kOk && !c_.broken()) Result r(c_.Run("ROLLBACK"));
    if (s == kOk) wrote_ = true;
    return s;
  }
  std::string ScanSql(int key, int kind) const;
  Status LoadForChange(int64_t id);

  Connection c_;
  // What Load found, to find the same file again after a lost connection.
  std::string conninfo_, name_, definition_;
  int64_t file_id_ = 0;
  int64_t lock_key_ = 0;
  std::string table_;
  bool wrote_ = false;
  bool took_file_lock_ = false;
  int record_locks_ = 0;
  bool in_read_ = false;
  uint64_t stamp_ = 0;
  uint64_t snapshot_stamp_ = 0;

  // The open scan: along scan_key_ in scan_dir_ from (scan_kf_,
  // scan_from_id_); batch_rows_ holds the rows read ahead, row_ the next one
  // to hand out, last_id_ the position last handed out.
  bool scan_on_ = false;
  bool scan_started_ = false;
  bool scan_done_ = false;
  int scan_key_ = 0;
  int scan_dir_ = 1;
  std::string scan_kf_;
  int64_t scan_from_id_ = 0;
  int64_t batch_ = 1;
  std::shared_ptr<Result> batch_rows_;
  int BatchRows() const { return batch_rows_ ? batch_rows_->rows() : 0; }
  // Inside a held snapshot, the last batch read along each key in each
  // direction (index key * 2 + (dir > 0)): the rows that follow the place
  // (from_kf, from_id) in that direction, all of them when complete. A new
  // scan that starts inside one goes on from it without asking the server:
  // the snapshot cannot change under it.
  struct Batch {
    std::shared_ptr<Result> rows;
    std::string from_kf;
    int64_t from_id = 0;
    bool complete = false;
    int64_t next_size = 0;
  };
  std::vector<Batch> batches_;
  bool StartFromBatch();
  int row_ = 0;
  int64_t last_id_ = 0;

  std::string raw_key_, row_form_, seek_form_;
  std::vector<std::string> old_kf_, new_kf_;
};

std::string PgFile::ScanSql(int key, int kind) const {
  const std::string k = "k" + std::to_string(key);
  const bool unique = !def_.keys[static_cast<size_t>(key)].duplicates;
  // A key without duplicates orders by the key alone: its unique index then
  // serves the order with no sort.
  const std::string up = unique ? " ORDER BY " + k : " ORDER BY " + k + ", id";
  const std::string down = unique ? " ORDER BY " + k + " DESC" : " ORDER BY " + k + " DESC, id DESC";
  std::string where;
  bool forward = true;
  switch (kind) {
    case kAfter:
      where = unique ? k + " >= $1 AND (" + k + " > $1 OR id > $2)" : "(" + k + ", id) > ($1, $2)";
      break;
    case kBefore:
      where = unique ? k + " <= $1 AND (" + k + " < $1 OR id < $2)" : "(" + k + ", id) < ($1, $2)";
      forward = false;
      break;
    case kAtOrAfter:
      where = k + " >= $1";
      break;
    case kPast:
      where = k + " > $1";
      break;
    case kBelow:
      where = k + " < $1";
      forward = false;
      break;
    default:
      where = k + " <= $1";
      forward = false;
      break;
  }
  const bool with_id = kind == kAfter || kind == kBefore;
  return "SELECT id, data FROM " + table_ + " WHERE " + where + (forward ? up : down) +
         " LIMIT $" + (with_id ? "3" : "2");
}

// (a, ai) before (b, bi) in key order.
bool Before(std::string_view a, int64_t ai, std::string_view b, int64_t bi) {
  const int c = a.compare(b);
  return c < 0 || (c == 0 && ai < bi);
}

bool PgFile::StartFromBatch() {
  const size_t at = static_cast<size_t>(scan_key_ * 2 + (scan_dir_ > 0));
  if (at >= batches_.size() || !batches_[at].rows) return false;
  const Batch& b = batches_[at];
  const int n = b.rows->rows();
  // (x, xi) comes first along the scan's direction.
  const bool up = scan_dir_ > 0;
  auto first = [up](std::string_view x, int64_t xi, std::string_view y, int64_t yi) {
    return up ? Before(x, xi, y, yi) : Before(y, yi, x, xi);
  };
  // The batch must start at or before the new place...
  if (first(scan_kf_, scan_from_id_, b.from_kf, b.from_id)) return false;
  // ...and the row after the new place must be in it: the first of its rows
  // past the place.
  // A damaged row (of another length) has no form to place it by: then the
  // server is asked, which orders by the stored form.
  bool damaged = false;
  auto past = [&](int i) {
    const std::string_view data = b.rows->Bytes(i, 1);
    damaged = damaged || data.size() != static_cast<size_t>(def_.record_length);
    FormOf(def_, scan_key_, data, &raw_key_, &seek_form_);
    return first(scan_kf_, scan_from_id_, seek_form_, b.rows->Int8(i, 0));
  };
  int lo = 0, hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (past(mid)) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  if (damaged || (lo == n && !b.complete)) return false;
  batch_rows_ = b.rows;
  row_ = lo;
  scan_started_ = true;
  scan_done_ = b.complete;
  batch_ = b.next_size;
  return true;
}

Status PgFile::Advance(RowView* out) {
  if (row_ >= BatchRows()) {
    if (scan_done_ || c_.broken()) {
      const bool broken = c_.broken();
      StopScan();
      return broken ? kIoError : kEndOfFile;
    }
    int kind = 0;
    Params p;
    p.Reserve(3);
    std::string_view from_kf;
    int64_t from_id = 0;
    if (!scan_started_) {
      if (scan_from_id_ == -1) {
        kind = scan_dir_ > 0 ? kAtOrAfter : kBelow;
      } else if (scan_from_id_ == INT64_MAX) {
        kind = scan_dir_ > 0 ? kPast : kAtOrBelow;
      } else {
        kind = scan_dir_ > 0 ? kAfter : kBefore;
      }
      p.Bytes(scan_kf_);
      if (kind == kAfter || kind == kBefore) p.Int8(scan_from_id_);
      from_kf = scan_kf_;
      from_id = scan_from_id_;
    } else {
      // On from the last row handed out.
      kind = scan_dir_ > 0 ? kAfter : kBefore;
      p.Bytes(row_form_);
      p.Int8(last_id_);
      from_kf = row_form_;
      from_id = last_id_;
    }
    p.Int8(batch_);
    Result r(c_.Exec(kScanBase + scan_key_ * 6 + kind, ScanSql(scan_key_, kind), p));
    if (!Connection::Ok(r)) {
      scan_on_ = false;
      return Failed(r);
    }
    scan_started_ = true;
    scan_done_ = r.rows() < batch_;
    batch_ = std::min(batch_ * kBatchGrowth, kMaxBatch);
    if (!in_read_) batch_ = 1;
    batch_rows_ = std::make_shared<Result>(std::move(r));
    row_ = 0;
    if (in_read_) {
      if (batches_.size() < def_.keys.size() * 2) batches_.resize(def_.keys.size() * 2);
      Batch& b = batches_[static_cast<size_t>(scan_key_ * 2 + (scan_dir_ > 0))];
      b.rows = batch_rows_;
      b.from_kf.assign(from_kf);
      b.from_id = from_id;
      b.complete = scan_done_;
      b.next_size = batch_;
    }
    if (BatchRows() == 0) {
      StopScan();
      return kEndOfFile;
    }
  }
  out->id = batch_rows_->Int8(row_, 0);
  out->data = batch_rows_->Bytes(row_, 1);
  out->kf = std::string_view();
  out->kf_known = false;
  last_id_ = out->id;
  ++row_;
  // The place the next batch starts from.
  if (row_ == BatchRows() && !scan_done_) {
    FormOf(def_, scan_key_, out->data, &raw_key_, &row_form_);
  }
  return kOk;
}

Status PgFile::Load(const std::string& conninfo, const std::string& name, std::string* owner) {
  if (Status s = c_.Connect(conninfo); s != kOk) return s;
  Params p;
  p.Reserve(1);
  p.Bytes(name);
  Result r(c_.Exec(kScanBase + kMaxKeys * 6,
                   "SELECT id, lock_key, convert_to(magic, 'UTF8'), definition, owner FROM rm_files"
                   " WHERE name = $1",
                   p));
  if (!Connection::Ok(r)) {
    const Status s = FromPg(c_.get(), r.r);
    if (s != kNotADataFile) return s;
    // No registry at all: no file of this engine on the server yet, which
    // is the file missing, not the server failing.
    g_failure = ServerFailure{};
    return kFileNotFound;
  }
  if (r.rows() != 1) return kFileNotFound;
  const int64_t file_id = r.Int8(0, 0);
  const std::string_view definition = r.Bytes(0, 3);
  // Found again after a lost connection: it must still be the file this
  // handle opened.
  if (!name_.empty() && (file_id != file_id_ || definition != definition_)) return kIoError;
  conninfo_ = conninfo;
  name_ = name;
  definition_.assign(definition);
  file_id_ = file_id;
  lock_key_ = r.Int8(0, 1);
  if (r.Bytes(0, 2) != kFormatTag ||
      DecodeDefinition(reinterpret_cast<const uint8_t*>(definition.data()), definition.size(),
                       &def_) != kOk) {
    return kNotADataFile;
  }
  owner->assign(r.Bytes(0, 4));
  table_ = "rm_t" + std::to_string(file_id_);
  return kOk;
}

Status PgFile::Reconnect() {
  batches_.clear();
  StopScan();
  std::string owner;
  const Status s = Load(conninfo_, name_, &owner);
  if (s != kOk) c_.Close();
  return s;
}

Status PgFile::Insert(const uint8_t* record, int64_t* id) {
  return InWrite([&](Counts* c) -> Status {
    FormsOf(def_, record, &raw_key_, &new_kf_);
    std::vector<bool> exists;
    if (Status s = Exists(new_kf_, &exists); s != kOk) return s;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      if (exists[k] && !def_.keys[k].duplicates) return kDuplicateKey;
    }
    std::string sql = "INSERT INTO " + table_ + "(data";
    std::string values = ") VALUES($1";
    Params p;
    p.Reserve(def_.keys.size() + 1);
    p.Bytes(record, def_.record_length);
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      sql += ", k" + std::to_string(k);
      values += ", $" + std::to_string(k + 2);
      p.Bytes(new_kf_[k]);
    }
    Result r(c_.Exec(kSlotInsert, sql + values + ") RETURNING id", p));
    if (!Connection::Ok(r)) return FromPg(c_.get(), r.r);
    *id = r.Int8(0, 0);
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      if (!exists[k]) ++c->distinct[k];
    }
    ++c->records;
    return kOk;
  });
}

// The record as stored (the caller's copy may be stale) and its key forms in
// old_kf_.
Status PgFile::LoadForChange(int64_t id) {
  std::string old;
  if (Status s = FetchById(id, &old); s != kOk) {
    return s == kInvalidRecordPosition ? kNoCurrentRecord : s;
  }
  // A record of another length is damage, not something to take keys from.
  if (old.size() != static_cast<size_t>(def_.record_length)) return kIoError;
  FormsOf(def_, reinterpret_cast<const uint8_t*>(old.data()), &raw_key_, &old_kf_);
  return kOk;
}

Status PgFile::Update(int64_t id, const uint8_t* record) {
  return InWrite([&](Counts* c) -> Status {
    if (Status s = LoadForChange(id); s != kOk) return s;
    FormsOf(def_, record, &raw_key_, &new_kf_);
    bool changed = false;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      if (old_kf_[k] == new_kf_[k]) continue;
      changed = true;
      if (!def_.keys[k].modifiable) return kKeyNotModifiable;
    }
    std::vector<bool> exists(def_.keys.size(), true);
    if (changed) {
      if (Status s = Exists(new_kf_, &exists); s != kOk) return s;
      for (size_t k = 0; k < def_.keys.size(); ++k) {
        if (old_kf_[k] != new_kf_[k] && exists[k] && !def_.keys[k].duplicates) {
          return kDuplicateKey;
        }
      }
    }
    std::string sql = "UPDATE " + table_ + " SET data = $2";
    Params p;
    p.Reserve(def_.keys.size() + 2);
    p.Int8(id);
    p.Bytes(record, def_.record_length);
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      sql += ", k" + std::to_string(k) + " = $" + std::to_string(k + 3);
      p.Bytes(new_kf_[k]);
    }
    Result r(c_.Exec(kSlotUpdate, sql + " WHERE id = $1", p));
    if (!Connection::Ok(r)) return FromPg(c_.get(), r.r);
    if (!changed) return kOk;
    // A key value that moved: one more distinct value when the new one was
    // not there, one fewer when no other record keeps the old one.
    std::vector<bool> old_left;
    if (Status s = Exists(old_kf_, &old_left); s != kOk) return s;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      if (old_kf_[k] == new_kf_[k]) continue;
      if (!exists[k]) ++c->distinct[k];
      if (!old_left[k]) --c->distinct[k];
    }
    return kOk;
  });
}

Status PgFile::Delete(int64_t id) {
  return InWrite([&](Counts* c) -> Status {
    if (Status s = LoadForChange(id); s != kOk) return s;
    Params p;
    p.Reserve(1);
    p.Int8(id);
    Result r(c_.Exec(kSlotDelete, "DELETE FROM " + table_ + " WHERE id = $1", p));
    if (!Connection::Ok(r)) return FromPg(c_.get(), r.r);
    std::vector<bool> left;
    if (Status s = Exists(old_kf_, &left); s != kOk) return s;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
      if (!left[k]) --c->distinct[k];
    }
    --c->records;
    return kOk;
  });
}

Status PgFile::SetOwner(const std::string& name) {
  return InWrite([&](Counts*) -> Status {
    Params p;
    p.Reserve(2);
    p.Int8(file_id_);
    p.Bytes(name);
    Result r(c_.Exec(kSlotOwner, "UPDATE rm_files SET owner = $2 WHERE id = $1", p));
    return Connection::Ok(r) ? kOk : FromPg(c_.get(), r.r);
  });
}

// Binary COPY framing.
void PutField(std::string* buf, std::string_view v) {
  char len[4];
  PutBe32(len, static_cast<uint32_t>(v.size()));
  buf->append(len, 4);
  buf->append(v);
}

// Streams rows to a server in binary COPY format: Row per row, Finish at
// the end (or after a failure, which it then reports).
class CopyIn {
 public:
  CopyIn(Connection& c, const std::string& table, size_t keys, bool with_ids)
      : c_(c), fields_(static_cast<uint16_t>(keys + 1 + (with_ids ? 1 : 0))) {
    std::string sql = "COPY " + table + (with_ids ? "(id, data" : "(data");
    for (size_t k = 0; k < keys; ++k) sql += ", k" + std::to_string(k);
    sql += ") FROM STDIN WITH (FORMAT binary)";
    Result r(c_.Run(sql.c_str()));
    if (PQresultStatus(r.r) != PGRES_COPY_IN) {
      status_ = FromPg(c_.get(), r.r);
      return;
    }
    open_ = true;
    buf_.assign("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
  }
  bool ok() const { return open_ && sent_; }
  // One row: its position (when the copy gives them), record and key forms.
  void Row(int64_t id, std::string_view data, const std::vector<std::string>& forms) {
    const char n[2] = {static_cast<char>(fields_ >> 8), static_cast<char>(fields_ & 0xFF)};
    buf_.append(n, 2);
    if (fields_ == forms.size() + 2) {
      char v[8];
      PutBe64(v, static_cast<uint64_t>(id));
      PutField(&buf_, std::string_view(v, 8));
    }
    PutField(&buf_, data);
    for (const std::string& f : forms) PutField(&buf_, f);
    ++rows_;
    if (buf_.size() >= (1 << 20)) Flush();
  }
  // Ends the copy: abandoned (undone by the server) unless complete. The
  // status of the copy; *failed_row, when a row caused the failure, its
  // index (from the error's context, "COPY t, line N").
  Status Finish(bool complete, int64_t* failed_row) {
    if (!open_) return status_ == kOk ? kIoError : status_;
    open_ = false;
    if (complete) {
      buf_.append("\xff\xff", 2);
      Flush();
    }
    PQputCopyEnd(c_.get(), complete && sent_ ? nullptr : "abandoned");
    Status s = kOk;
    while (PGresult* r = c_.NextResult()) {
      Result res(r);
      if (PQresultStatus(r) == PGRES_COMMAND_OK || s != kOk) continue;
      s = FromPg(c_.get(), r);
      const char* context = PQresultErrorField(r, PG_DIAG_CONTEXT);
      const char* line = context ? std::strstr(context, ", line ") : nullptr;
      if (line != nullptr && failed_row != nullptr) {
        const long long n = std::strtoll(line + 7, nullptr, 10);
        if (n > 0) *failed_row = n - 1;
      }
    }
    // An abandoned copy is the caller's failure, whatever the server says of
    // it (it cancels the statement).
    if (!(complete && sent_)) s = kIoError;
    if (s == kOk) g_traffic.rows_sent += static_cast<uint64_t>(rows_);
    return s;
  }

 private:
  void Flush() {
    if (sent_ && !buf_.empty()) {
      ++g_traffic.round_trips;
      sent_ = PQputCopyData(c_.get(), buf_.data(), static_cast<int>(buf_.size())) == 1;
    }
    buf_.clear();
  }
  Connection& c_;
  uint16_t fields_;
  bool open_ = false;
  bool sent_ = true;
  Status status_ = kOk;
  int64_t rows_ = 0;
  std::string buf_;
};

// The distinct values of every key of table, counted by the server.
Status CountDistinct(Connection& c, const std::string& table, size_t keys,
                     std::vector<int64_t>* out) {
  std::string sql = "SELECT ";
  for (size_t k = 0; k < keys; ++k) {
    sql += (k == 0 ? "count(DISTINCT k" : ", count(DISTINCT k") + std::to_string(k) + ")";
  }
  sql += " FROM " + table;
  Result r(c.Run(sql.c_str()));
  if (!Connection::Ok(r) || r.rows() != 1) return FromPg(c.get(), r.r);
  out->resize(keys);
  for (size_t k = 0; k < keys; ++k) {
    (*out)[k] = std::strtoll(PQgetvalue(r.r, 0, static_cast<int>(k)), nullptr, 10);
  }
  return kOk;
}

// One COPY of every record of the source, positions from the identity in
// input order; the unique indexes refuse a clashing key (the server names
// the row), and the distinct counts are counted again afterwards.
Status PgFile::InsertAll(RecordSource* source, int64_t* failed_index) {
  Connection::Bulk bulk(c_);
  return InWrite([&](Counts* c) -> Status {
    // Memory that runs out (the source's buffer, the copy's, the counts)
    // fails the load inside its transaction, which is then undone.
    try {
      return CopyAll(source, failed_index, c);
    } catch (const std::bad_alloc&) {
      return kIoError;
    }
  });
}

Status PgFile::CopyAll(RecordSource* source, int64_t* failed_index, Counts* c) {
  const size_t nk = def_.keys.size();
  CopyIn copy(c_, table_, nk, false);
  std::vector<std::string_view> batch;
  std::vector<std::string> forms;
  int64_t n = 0;
  bool complete = false;
  try {
    while (copy.ok()) {
      if (!source->Next(&batch)) break;
      if (batch.empty()) {
        complete = true;
        break;
      }
      for (std::string_view record : batch) {
        FormsOf(def_, reinterpret_cast<const uint8_t*>(record.data()), &raw_key_, &forms);
        copy.Row(0, record, forms);
      }
      n += static_cast<int64_t>(batch.size());
    }
  } catch (const std::bad_alloc&) {
    // The copy is abandoned below, so the connection is free for the
    // rollback.
  }
  if (Status s = copy.Finish(complete, failed_index); s != kOk) return s;
  if (Status s = CountDistinct(c_, table_, nk, &c->distinct); s != kOk) return s;
  c->records += n;
  return kOk;
}

// The server connection of Create: runs control and DDL statements.
Status RunAll(Connection& c, const std::vector<std::string>& statements) {
  for (const std::string& sql : statements) {
    Result r(c.Run(sql.c_str()));
    if (!Connection::Ok(r)) return FromPg(c.get(), r.r);
  }
  return kOk;
}

// Creates (or replaces) the file inside a transaction it begins and leaves
// open; *file_id: its registry id. With later, the key indexes are not made
// but their statements left there, for after a bulk copy (one sorted build
// per index is faster than keeping them up to date row by row).
Status CreateIn(Connection& c, const std::string& name, const FileDefinition& def, int8_t mode,
                int64_t* file_id, std::vector<std::string>* later = nullptr) {
  if (Status s = RunAll(c, {"BEGIN", "SELECT pg_advisory_xact_lock(" +
                                         std::to_string(kRegistryLockKey) + ")",
                            "CREATE TABLE IF NOT EXISTS rm_files("
                            "id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
                            " name bytea NOT NULL UNIQUE, magic text NOT NULL,"
                            " definition bytea NOT NULL, owner bytea NOT NULL,"
                            " records bigint NOT NULL, distinct_n bytea NOT NULL,"
                            " lock_key bigint NOT NULL DEFAULT 0)"});
      s != kOk) {
    return s;
  }
  Params p;
  p.Reserve(1);
  p.Bytes(name);
  Result r(c.Exec(0, "SELECT id, lock_key FROM rm_files WHERE name = $1 FOR UPDATE", p));
  if (!Connection::Ok(r)) return FromPg(c.get(), r.r);
  const std::string encoded = EncodeDefinition(def, 0, {});
  const std::string distinct = DistinctBytes(std::vector<int64_t>(def.keys.size(), 0));
  int64_t id = 0;
  if (r.rows() == 1) {
    if (mode == kCreateNoReplace) return kFileExists;
    id = r.Int8(0, 0);
    // The file being replaced is held with the file lock until the new one
    // is in place: a handle holding it (an exclusive open) is never
    // replaced under.
    Params q;
    q.Reserve(1);
    q.Int8(r.Int8(0, 1));
    Result l(c.Exec(1, "SELECT pg_try_advisory_lock($1::int8)", q));
    if (!Connection::Ok(l)) return FromPg(c.get(), l.r);
    if (!l.Bool(0, 0)) return kFileLocked;
    if (Status s = RunAll(c, {"DROP TABLE IF EXISTS rm_t" + std::to_string(id)}); s != kOk) {
      return s;
    }
    Params u;
    u.Reserve(3);
    u.Int8(id);
    u.Bytes(encoded);
    u.Bytes(distinct);
    Result w(c.Exec(2,
                    "UPDATE rm_files SET definition = $2, owner = ''::bytea, records = 0,"
                    " distinct_n = $3 WHERE id = $1",
                    u));
    if (!Connection::Ok(w)) return FromPg(c.get(), w.r);
  } else {
    Params u;
    u.Reserve(4);
    u.Bytes(name);
    u.Bytes(kFormatTag, std::strlen(kFormatTag));
    u.Bytes(encoded);
    u.Bytes(distinct);
    Result w(c.Exec(3,
                    "INSERT INTO rm_files(name, magic, definition, owner, records, distinct_n)"
                    " VALUES($1, convert_from($2, 'UTF8'), $3, ''::bytea, 0, $4) RETURNING id",
                    u));
    if (!Connection::Ok(w)) return FromPg(c.get(), w.r);
    id = w.Int8(0, 0);
  }
  const std::string t = "rm_t" + std::to_string(id);
  std::string table = "CREATE TABLE " + t +
                      "(id bigint GENERATED BY DEFAULT AS IDENTITY (MAXVALUE 4294967295)"
                      " PRIMARY KEY, data bytea NOT NULL";
  std::vector<std::string> statements;
  for (size_t k = 0; k < def.keys.size(); ++k) {
    const std::string col = "k" + std::to_string(k);
    table += ", " + col + " bytea NOT NULL";
    statements.push_back(def.keys[k].duplicates
                             ? "CREATE INDEX ON " + t + "(" + col + ", id)"
                             : "CREATE UNIQUE INDEX ON " + t + "(" + col + ")");
  }
  if (later != nullptr) {
    *later = std::move(statements);
    statements.clear();
  }
  statements.insert(statements.begin(), table + ")");
  if (Status s = RunAll(c, statements); s != kOk) return s;
  // The lock key: the first table's object id, kept across replacements.
  Params u;
  u.Reserve(2);
  u.Int8(id);
  u.Bytes(t);
  Result w(c.Exec(4,
                  "UPDATE rm_files SET lock_key = to_regclass(convert_from($2, 'UTF8'))::oid::int8"
                  " WHERE id = $1 AND lock_key = 0",
                  u));
  if (!Connection::Ok(w)) return FromPg(c.get(), w.r);
  *file_id = id;
  return kOk;
}

// Ends the connection's transaction (committed when s is kOk) and gives
// back the locks it took.
Status Finish(Connection& c, Status s) {
  if (s == kOk) s = RunAll(c, {"COMMIT"});
  if (!c.broken()) {
    if (s != kOk) Result r(c.Run("ROLLBACK"));
    Result u(c.Run("SELECT pg_advisory_unlock_all()"));
  }
  return s;
}

}  // namespace

Status PgOpen(const std::string& conninfo, const std::string& name, Opened* out) {
  auto f = std::make_unique<PgFile>();
  if (Status s = f->Load(conninfo, name, &out->owner); s != kOk) return s;
  out->store = std::move(f);
  return kOk;
}

Status PgCreate(const std::string& conninfo, const std::string& name, const FileDefinition& def,
                int8_t mode) {
  Connection c;
  if (Status s = c.Connect(conninfo); s != kOk) return s;
  int64_t id = 0;
  return Finish(c, CreateIn(c, name, def, mode, &id));
}

Status PgCopy(const std::string& conninfo, const std::string& name, FileStore* from,
              const std::string& owner, int64_t highest, int8_t mode, int64_t* records) {
  *records = 0;
  const FileDefinition& def = from->def();
  if (def.keys.empty()) return kInvalidDefinition;
  Counts counts;
  if (Status s = from->BeginRead(true); s != kOk) return s;
  if (Status s = from->ReadCounts(&counts); s != kOk) return s;
  Connection c;
  Connection::Bulk bulk(c);
  if (Status s = c.Connect(conninfo); s != kOk) return s;
  int64_t id = 0;
  std::vector<std::string> indexes;
  Status s = CreateIn(c, name, def, mode, &id, &indexes);
  const std::string table = "rm_t" + std::to_string(id);
  // Every record along the first key (each exactly once), at its position.
  int64_t copied = 0;
  if (s == kOk) {
    CopyIn copy(c, table, def.keys.size(), true);
    std::string scratch;
    std::vector<std::string> forms;
    from->StartScan("", -1, 1, 0);
    RowView row;
    Status step = kOk;
    while (copy.ok() && (step = from->Advance(&row)) == kOk) {
      // A damaged record (of another length) stops the copy: the file is
      // not moved as it is.
      if (row.data.size() != static_cast<size_t>(def.record_length)) {
        step = kIoError;
        break;
      }
      FormsOf(def, reinterpret_cast<const uint8_t*>(row.data.data()), &scratch, &forms);
      copy.Row(row.id, row.data, forms);
      ++copied;
    }
    from->StopScan();
    s = copy.Finish(step == kEndOfFile, nullptr);
    if (s == kOk && step != kEndOfFile) s = step;
    // A unique index refuses a file whose key values clash (23505: 5).
    if (s == kOk) s = RunAll(c, indexes);
  }
  // The owner and counts as the file kept them; new positions follow the
  // highest it ever gave; what the server holds is counted again.
  if (s == kOk) {
    Params p;
    p.Reserve(4);
    p.Int8(id);
    p.Bytes(owner);
    p.Int8(counts.records);
    const std::string distinct = DistinctBytes(counts.distinct);
    p.Bytes(distinct);
    Result r(c.Exec(5, "UPDATE rm_files SET owner = $2, records = $3, distinct_n = $4 WHERE id = $1",
                    p));
    if (!Connection::Ok(r)) s = FromPg(c.get(), r.r);
  }
  if (s == kOk && highest > 0) {
    Params p;
    p.Reserve(2);
    p.Bytes(table);
    p.Int8(highest);
    Result r(c.Exec(6, "SELECT setval(pg_get_serial_sequence($1, 'id'), $2, true)", p));
    if (!Connection::Ok(r)) s = FromPg(c.get(), r.r);
  }
  if (s == kOk) {
    Result r(c.Run(("SELECT count(*) FROM " + table).c_str()));
    if (!Connection::Ok(r) || r.rows() != 1) {
      s = FromPg(c.get(), r.r);
    } else if (std::strtoll(PQgetvalue(r.r, 0, 0), nullptr, 10) != counts.records ||
               copied != counts.records) {
      s = kIoError;
    }
  }
  *records = copied;
  return Finish(c, s);
}

}  // namespace recmgr::store

namespace recmgr {

ServerTraffic ServerTrafficSoFar() { return store::g_traffic; }

void SetServerWaitHook(std::function<bool()> hook) { store::WaitHook() = std::move(hook); }

ServerFailure ServerFailureOfLastCall() {
  return store::g_failure_call == store::g_calls ? store::g_failure : ServerFailure{};
}

namespace store {
void ResumeAfterLostServer() {
  g_server_given_up = false;
  g_failure = ServerFailure{};
}
}  // namespace store

}  // namespace recmgr
