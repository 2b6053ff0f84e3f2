// The record manager: an embedded keyed-record engine reached through one
// entry point, RecordManagerCall. Each data file is one SQLite database at the
// path the caller names; other processes share it through SQLite's WAL
// journal and through POSIX advisory locks on a side file next to it
// ("<path>-lck"), so a killed process never leaves a lock behind. After
// UseServer the files under a root folder live on a PostgreSQL server
// instead, with the same calls and statuses.
//
// The engine is single-threaded: call it from one thread only. Handles live
// in a process-wide table; a 128-byte position block names one of them and
// carries its currency between calls. Blocks stay valid until Close or Reset.
#ifndef TELVORAN_RECMGR_RECORD_MANAGER_H_
#define TELVORAN_RECMGR_RECORD_MANAGER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace recmgr {

using platform::Status;

inline constexpr int kPositionBlockSize = 128;

// Operation codes. Must match the table in recmgr/README.md.
enum Operation : uint16_t {
  kOpOpen = 0,
  kOpClose = 1,
  kOpInsert = 2,
  kOpUpdate = 3,
  kOpDelete = 4,
  kOpGetEqual = 5,
  kOpGetNext = 6,
  kOpGetPrevious = 7,
  kOpGetGreater = 8,
  kOpGetGreaterOrEqual = 9,
  kOpGetLess = 10,
  kOpGetLessOrEqual = 11,
  kOpGetFirst = 12,
  kOpGetLast = 13,
  kOpCreate = 14,
  kOpStat = 15,
  kOpGetPosition = 22,
  kOpGetDirect = 23,
  kOpReset = 28,
};

// Added to a read operation: take a single-record lock without waiting.
inline constexpr uint16_t kLockNoWaitBias = 200;

// The operations kLockNoWaitBias may be added to.
inline constexpr bool IsReadOperation(uint16_t op) {
  return (op >= kOpGetEqual && op <= kOpGetLast) || op == kOpGetPosition || op == kOpGetDirect;
}

// Open modes (key number of Open).
inline constexpr int8_t kOpenNormal = 0;
inline constexpr int8_t kOpenExclusive = -4;
// Create mode (key number of Create): refuse an existing file. Any other
// key number replaces it.
inline constexpr int8_t kCreateNoReplace = -1;

// Statuses. Must match the table in recmgr/README.md.
inline constexpr Status kOk = 0;
inline constexpr Status kInvalidOperation = 1;
inline constexpr Status kIoError = 2;
inline constexpr Status kFileNotOpen = 3;
inline constexpr Status kKeyNotFound = 4;
inline constexpr Status kDuplicateKey = 5;
inline constexpr Status kInvalidKeyNumber = 6;
inline constexpr Status kNoCurrentRecord = 8;
inline constexpr Status kEndOfFile = 9;
inline constexpr Status kKeyNotModifiable = 10;
inline constexpr Status kFileNotFound = 12;
inline constexpr Status kDataBufferShort = 22;
inline constexpr Status kInvalidDefinition = 25;
inline constexpr Status kInvalidKeyPosition = 27;
inline constexpr Status kInvalidRecordLength = 28;
inline constexpr Status kInvalidKeyLength = 29;
inline constexpr Status kNotADataFile = 30;
inline constexpr Status kInvalidRecordPosition = 43;
inline constexpr Status kInvalidOwner = 51;
inline constexpr Status kFileExists = 59;
inline constexpr Status kRecordLocked = 84;
inline constexpr Status kFileLocked = 85;

// The single entry point.
//   operation     one of Operation, read operations optionally + 200
//   position_block 128 bytes; zero-filled before Open, then left alone
//   data_buffer   in/out; *data_length on entry is the bytes available or
//                 to send, on return the bytes returned
//   key_buffer    in/out; operations that return a key write the whole key
//                 (as stored in the record), so it must hold at least the
//                 longest key of the file (255 bytes are always enough)
//   key_length    bytes of the key buffer the caller filled (Open, Create:
//                 the path length; reads: the key length)
//   key_number    the key for reads; a mode for Open and Create
// Null buffers read as empty. Never throws.
Status RecordManagerCall(uint16_t operation, uint8_t* position_block, void* data_buffer,
                         uint32_t* data_length, void* key_buffer, uint8_t key_length,
                         int8_t key_number);

// Ends the read transaction every handle keeps open between reads (each is
// renewed anyway at its next scan or after another write). For a program
// about to wait for long, e.g. for a key, so that WAL checkpoints of other
// processes' writes are not held back meanwhile.
void EndReadTransactions();

// Keeps every handle's read snapshot until ReleaseReadSnapshots, whatever
// other processes commit meanwhile, so that a reader that goes over a file
// in several scans (a report's sections and copies) sees the file as it was
// at one moment: its first read after the call. The open read transactions
// are ended first, so that moment is not older than the call. A write, a
// locking read (+200), Close and Reset on a handle still end its snapshot
// and the next read takes a new one. Reads without a lock go on while
// another handle holds the file lock (exclusive open): they see committed
// data only. A held snapshot holds back WAL checkpoints of later writes:
// hold for one report, not across a wait.
void HoldReadSnapshots();
// Lets the snapshots follow other processes' writes again from the next read.
void ReleaseReadSnapshots();

// Keeps the data files under root_dir on the PostgreSQL server that the
// libpq connection string conninfo names (passwords from libpq's own
// password or service file), each under its path relative to root_dir with
// "/" separators ("DADES/PagamH.dat"); files elsewhere stay SQLite files.
// An empty root_dir puts every file on the server under the path as given.
// An empty conninfo goes back to SQLite files only. Takes effect at the next
// Open or Create; handles already open keep their store.
void UseServer(const std::string& conninfo, const std::string& root_dir);

// Asked about every fifth of a second while a call waits for the server's
// answer (empty: never). True gives the wait up: every server connection
// is closed and the call fails with kIoError; later calls connect again.
// For a program that must see its user's keys meanwhile (Esc during a
// print run).
void SetServerWaitHook(std::function<bool()> hook);

// Why the last call failed on the server, for the user to read beside the
// status: the server's or the client library's own words (authentication
// failed, the database does not exist, could not connect, permission
// denied), that no answer came in time, or that the server is a standby,
// which serves reads only. kNone when the last call did not fail there.
struct ServerFailure {
  enum Kind { kNone, kWords, kNoAnswer, kStandby };
  Kind kind = kNone;
  std::string words;  // kWords: one line, UTF-8 as the server gives it;
                      // kStandby: the standby's host (and port)
  int seconds = 0;    // kNoAnswer: how long the answer was waited for
};
ServerFailure ServerFailureOfLastCall();

// What the server store has cost this process so far.
struct ServerTraffic {
  uint64_t connections = 0;
  uint64_t round_trips = 0;
  uint64_t rows = 0;       // rows received
  uint64_t rows_sent = 0;  // rows sent by bulk loads
};
ServerTraffic ServerTrafficSoFar();

// Administration calls outside the entry point, used by the data tool.

// Gives the file open in position_block the owner name (empty: none).
Status SetOwnerName(uint8_t* position_block, const std::string& name);

// Inserts the records in one transaction: either all of them go in or the
// file is left as it was. Each record must be exactly the record length.
// On failure *failed_index is the index of the offending record, or -1 when
// the failure is not tied to one.
Status InsertAll(uint8_t* position_block, const std::vector<std::string>& records,
                 int64_t* failed_index);
// The same over views of the caller's bytes (no copy of each record).
Status InsertAll(uint8_t* position_block, const std::vector<std::string_view>& records,
                 int64_t* failed_index);

// Records handed to a bulk load in batches, so that a load of any size
// needs memory for one batch only.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Replaces *batch with the next records (views that stay valid until the
  // next call); an empty batch ends them. False when they cannot be read:
  // the load is then undone and gives kIoError.
  virtual bool Next(std::vector<std::string_view>* batch) = 0;
};
// The same from a source: all of its records or none; *failed_index counts
// from the source's first record.
Status InsertAll(uint8_t* position_block, RecordSource* source, int64_t* failed_index);

// After a bulk load that failed with kIoError: true when the cause was the
// temporary files of its sort (a load into a file without records), with
// the folder they were in or were to be made in (TMPDIR, else /var/tmp or
// /tmp), the system's error number and whether reading them back failed
// (else making or writing them). Running out of memory is kIoError too,
// without this.
bool LoadTemporaryFailure(std::string* folder, int* error, bool* reading);

// Copies the data file at host_path (always a file of this machine,
// whatever UseServer chose) onto the server conninfo names, under name:
// its definition, owner name, records with their positions and its counts,
// in one transaction that also compares the server's record count with the
// file's (*records: the records copied). A file of that name already on the
// server gives kFileExists unless replace; one held by an exclusive open,
// kFileLocked.
Status CopyFileToServer(const std::string& host_path, const std::string& conninfo,
                        const std::string& name, bool replace, int64_t* records);

}  // namespace recmgr

#endif  // TELVORAN_RECMGR_RECORD_MANAGER_H_
