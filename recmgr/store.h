// The seam between the record manager's front end (engine.cc: the call's
// conventions, handles, currency, lock policy, statuses) and the stores that
// keep the data: one FileStore per open handle, made by a back end
// (sqlite_store.cc: one SQLite database per data file; pg_store.cc: tables
// on a PostgreSQL server).
//
// A store keeps the records of one file under its keys' comparable forms
// (file_definition.h) and positions that are never reused, serves scans
// along a key from a (form, position) place in either direction, and owns
// the cross-handle locks: record locks by position and the file lock of an
// exclusive open. It does not know the currency, the operation codes or the
// data buffers: the front end turns those into scans and fetches.
#ifndef TELVORAN_RECMGR_STORE_H_
#define TELVORAN_RECMGR_STORE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

namespace recmgr::store {

// A row a scan returned: valid until the scan advances, stops or the read
// ends. kf is filled only when kf_known (most rows are never stepped from by
// a new scan, and the form follows from the record).
struct RowView {
  std::string_view kf;
  bool kf_known = false;
  int64_t id = 0;
  std::string_view data;
};

// Counts kept in the file: the record count and distinct values per key.
struct Counts {
  int64_t records = 0;
  std::vector<int64_t> distinct;
};

class FileStore {
 public:
  virtual ~FileStore() = default;

  const FileDefinition& def() const { return def_; }
  // Writes are refused with an I/O error (a read-only folder or side file).
  bool read_only() const { return read_only_; }

  // Locks: kOk, or kRecordLocked / kFileLocked when another handle holds it,
  // or kIoError when the store cannot be asked.
  virtual Status TryLockRecord(uint32_t position) = 0;
  virtual void UnlockRecord(uint32_t position) = 0;
  virtual Status TryLockFile() = 0;
  // kOk when no other handle holds the file lock, kFileLocked when one does.
  virtual Status CheckFileLock() = 0;

  // Makes sure a read may run: a snapshot that sees every write committed
  // so far, or, while hold is set, the one taken at the first read after the
  // hold began.
  virtual Status BeginRead(bool hold) = 0;
  // Ends the read snapshot and the open scan.
  virtual void EndRead() = 0;

  // Starts a scan along key from (kf, id) in direction dir (+1 / -1),
  // replacing any open one. Positions are above 0, so id -1 stands before
  // every row of a key value and INT64_MAX after every one. The form is
  // copied.
  virtual void StartScan(std::string_view kf, int64_t id, int dir, int key) = 0;
  // The open scan's next row; kEndOfFile after its last one.
  virtual Status Advance(RowView* out) = 0;
  // True when the open scan may go on from (key, id) in direction dir: it
  // last returned that row and nothing it would return has changed since.
  virtual bool ScanContinues(int dir, int key, int64_t id) = 0;
  virtual void StopScan() = 0;

  // The record at a position: kInvalidRecordPosition when there is none.
  virtual Status FetchById(int64_t id, std::string* data) = 0;
  virtual Status ReadCounts(Counts* c) = 0;
  // Stat caching: a cached Stat read from the snapshot of ReadStamp() is
  // still good while CurrentStamp() returns that value.
  virtual uint64_t CurrentStamp() = 0;
  virtual uint64_t ReadStamp() = 0;

  // Writes, each one transaction. The front end has checked the currency,
  // the lengths, the record lock and the file lock.
  // Insert: kDuplicateKey on a unique key already there.
  virtual Status Insert(const uint8_t* record, int64_t* id) = 0;
  // Update / Delete of the record at id: kNoCurrentRecord when it is gone;
  // a changed key that is not modifiable gives kKeyNotModifiable, one that
  // would duplicate a unique key kDuplicateKey (the first key in order that
  // fails decides).
  virtual Status Update(int64_t id, const uint8_t* record) = 0;
  virtual Status Delete(int64_t id) = 0;
  virtual Status SetOwner(const std::string& name) = 0;
  // Every record of the source (each of the record length, checked) in one
  // transaction, holding one batch at a time.
  virtual Status InsertAll(RecordSource* source, int64_t* failed_index) = 0;
  // Whether a committed write went through this handle.
  virtual bool wrote() const = 0;

 protected:
  FileDefinition def_;
  bool read_only_ = false;
};

// What opening a file gives: the store and the owner name kept in the file.
struct Opened {
  std::unique_ptr<FileStore> store;
  std::string owner;
};

// The SQLite back end: host_path names the database file.
Status SqliteOpen(const std::string& host_path, Opened* out);
Status SqliteCreate(const std::string& host_path, const FileDefinition& def, int8_t mode);

// The highest position the SQLite file at store ever gave (kept although
// that record is gone).
Status SqliteHighestPosition(FileStore* store, int64_t* out);

// The PostgreSQL back end: name is the file's name on the server.
Status PgOpen(const std::string& conninfo, const std::string& name, Opened* out);
Status PgCreate(const std::string& conninfo, const std::string& name, const FileDefinition& def,
                int8_t mode);
// Counts the calls of the record manager's interface, so that a failure
// noted on the server belongs to the call that met it.
inline uint64_t g_calls = 0;

// After a server connection was lost or given up, reads inside a held
// snapshot fail without connecting again until this is called (when the
// reads end): the next read then connects again.
void ResumeAfterLostServer();
// Creates the file name on the server as a copy of from (owner name,
// records at their positions, counts; new positions follow highest) in one
// transaction; *records is what was copied.
Status PgCopy(const std::string& conninfo, const std::string& name, FileStore* from,
              const std::string& owner, int64_t highest, int8_t mode, int64_t* records);

// Shared key-form helpers.
// The comparable form of key in a record. scratch holds the raw key.
void FormOf(const FileDefinition& def, int key, std::string_view record, std::string* scratch,
            std::string* out);
// Every key's form of a record.
void FormsOf(const FileDefinition& def, const uint8_t* record, std::string* scratch,
             std::vector<std::string>* forms);

}  // namespace recmgr::store

#endif  // TELVORAN_RECMGR_STORE_H_
