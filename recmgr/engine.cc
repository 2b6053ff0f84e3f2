// The record manager's front end: the entry point's argument conventions,
// the handle table and position blocks, the currency, the search each
// operation makes, key forms, the lock policy, statuses, held read
// snapshots and the Stat encoding. The data itself lives in a store
// (store.h): SQLite files by default (sqlite_store.cc), or tables on a
// PostgreSQL server for the files under the root folder once UseServer has
// named one (pg_store.cc).
//
// Division of this file:
//   1. Handles: one per Open, owning its store, its currency and its lock
//   2. Open, Create, Close
//   3. Reads
//   4. Writes
//   5. The entry point and the administration calls
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/load_sort.h"
#include "recmgr/record_manager.h"
#include "recmgr/store.h"

namespace recmgr {

namespace store {

void FormOf(const FileDefinition& def, int key, std::string_view record, std::string* scratch,
            std::string* out) {
  const Key& k = def.keys[static_cast<size_t>(key)];
  // A record of another length (damage) is read as if cut or padded with
  // zeros to the record length, never past its end. Not thread_local: a
  // thread's first one with a destructor needs memory to register it, and
  // glibc aborts the process when there is none (the load's workers call
  // this).
  std::string padded;
  if (record.size() != static_cast<size_t>(def.record_length)) {
    padded.assign(static_cast<size_t>(def.record_length), '\0');
    padded.replace(0, std::min(record.size(), padded.size()), record.substr(0, padded.size()));
    record = padded;
  }
  scratch->resize(static_cast<size_t>(k.length));
  ExtractKey(k, reinterpret_cast<const uint8_t*>(record.data()),
             reinterpret_cast<uint8_t*>(scratch->data()));
  ComparableForm(def, k, reinterpret_cast<const uint8_t*>(scratch->data()), out);
}

void FormsOf(const FileDefinition& def, const uint8_t* record, std::string* scratch,
             std::vector<std::string>* forms) {
  forms->resize(def.keys.size());
  for (size_t k = 0; k < def.keys.size(); ++k) {
    const Key& key = def.keys[k];
    scratch->resize(static_cast<size_t>(key.length));
    ExtractKey(key, record, reinterpret_cast<uint8_t*>(scratch->data()));
    ComparableForm(def, key, reinterpret_cast<const uint8_t*>(scratch->data()), &(*forms)[k]);
  }
}

}  // namespace store

namespace {

using store::Counts;
using store::FileStore;
using store::RowView;

constexpr uint8_t kBlockMagic[4] = {'R', 'M', 'P', 'B'};

// --- 1. Handles -------------------------------------------------------------

struct Row {
  std::string kf;
  int64_t id = 0;
  std::string data;
};

struct Handle {
  ~Handle() {
    if (store) {
      store->StopScan();
      if (locked_id != 0) store->UnlockRecord(static_cast<uint32_t>(locked_id));
    }
  }

  std::unique_ptr<FileStore> store;
  FileDefinition def;
  uint32_t generation = 0;

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

  // The row a locking read found, kept across the snapshot it renews.
  Row found;

  std::string stat_cache;
  uint64_t stat_counter = 0;
  bool stat_valid = false;

  int64_t locked_id = 0;

  // Each key's bytes in the record, for the key buffer of every read.
  std::vector<std::vector<KeySpan>> key_spans;

  // Scratch buffers of one call.
  std::string raw_key, target_kf, row_raw_key;

  void StopScan() { store->StopScan(); }
};

std::vector<std::unique_ptr<Handle>>& Handles() {
  static auto* handles = new std::vector<std::unique_ptr<Handle>>();
  return *handles;
}
uint32_t g_generation = 0;
// Set between HoldReadSnapshots and ReleaseReadSnapshots: an open read
// snapshot is kept although others have written meanwhile.
bool g_hold_snapshots = false;

// The server named by UseServer (empty: none) and the root folder whose
// files live on it.
std::string& ServerConninfo() {
  static auto* s = new std::string();
  return *s;
}
std::string& ServerRoot() {
  static auto* s = new std::string();
  return *s;
}

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

void EndRead(Handle* h) { h->store->EndRead(); }
Status BeginRead(Handle* h) { return h->store->BeginRead(g_hold_snapshots); }
// Every record stored is of the file's record length (writes refuse any
// other); one that is not was damaged outside the engine, and its keys
// cannot be read from it: an I/O error, never a read past its end.
Status FetchById(Handle* h, int64_t id, std::string* data) {
  const Status s = h->store->FetchById(id, data);
  if (s == kOk && data->size() != static_cast<size_t>(h->def.record_length)) return kIoError;
  return s;
}
void StartScan(Handle* h, std::string_view kf, int64_t id, int dir, int key) {
  h->store->StartScan(kf, id, dir, key);
}
Status Advance(Handle* h, RowView* out) {
  const Status s = h->store->Advance(out);
  if (s == kOk && out->data.size() != static_cast<size_t>(h->def.record_length)) {
    h->store->StopScan();
    return kIoError;
  }
  return s;
}

std::string TextFromBuffer(const void* buffer, size_t n) {
  if (buffer == nullptr) return std::string();
  const char* p = static_cast<const char*>(buffer);
  size_t len = 0;
  while (len < n && p[len] != '\0') ++len;
  return std::string(p, len);
}

// --- 2. Open, Create, Close -------------------------------------------------

// The name on the server of the file at a host path: its path relative to
// the root folder with "/" separators, or, without a root folder, the path
// itself. False when no server is in use or the file lies outside the root
// folder (a temporary or private file stays local).
//
// The root and the file may be named through different links (a root
// given as /x/root where /x is a link, while the current directory, which
// the module makes the root, reads as the resolved path): the file is the
// root's when it lies under it in the form as written or with the links of
// both resolved. A file of the root must never be read from a local file
// left behind while the server holds the data.
bool ServerName(const std::string& host, std::string* name) {
  if (ServerConninfo().empty()) return false;
  namespace fs = std::filesystem;
  const std::string& root = ServerRoot();
  if (root.empty()) {
    *name = fs::path(host).lexically_normal().generic_string();
    return !name->empty();
  }
  std::error_code ec;
  fs::path p(host);
  if (p.is_relative()) p = fs::current_path(ec) / p;
  if (ec) return false;
  p = p.lexically_normal();
  auto under = [name](const fs::path& file, const fs::path& folder) {
    const std::string r = file.lexically_relative(folder).generic_string();
    if (r.empty() || r == "." || r.starts_with("..")) return false;
    *name = r;
    return true;
  };
  const fs::path given_root = fs::path(root).lexically_normal();
  if (under(p, given_root)) return true;
  // The resolved forms: the root's own links resolved; the file's folder
  // resolved with its name kept (a link at the name itself is the store's
  // to refuse, not a way out of the root).
  const fs::path real_root = fs::weakly_canonical(given_root, ec);
  if (ec) return false;
  if (under(p, real_root)) return true;
  const fs::path real_folder = fs::weakly_canonical(p.parent_path(), ec);
  if (ec) return false;
  return under(real_folder / p.filename(), real_root);
}

Status OpenStore(const std::string& host, store::Opened* out) {
  std::string name;
  if (ServerName(host, &name)) return store::PgOpen(ServerConninfo(), name, out);
  return store::SqliteOpen(host, out);
}

Status DoOpen(uint8_t* block, const void* data, const uint32_t* data_length, const void* key,
              uint8_t key_length, int8_t mode) {
  if (block == nullptr) return kFileNotOpen;
  const std::string path = TextFromBuffer(key, key_length);
  if (path.empty()) return kFileNotFound;
  const std::string host = platform::HostPath(path);
  const std::string owner = TextFromBuffer(data, data_length ? *data_length : 0);

  store::Opened opened;
  if (Status s = OpenStore(host, &opened); s != kOk) return s;
  auto h = std::make_unique<Handle>();
  h->store = std::move(opened.store);
  h->def = h->store->def();
  for (const Key& k : h->def.keys) h->key_spans.push_back(KeySpans(k));
  if (Status s = mode == kOpenExclusive ? h->store->TryLockFile() : h->store->CheckFileLock();
      s != kOk) {
    return s;
  }
  if (!opened.owner.empty() && opened.owner != owner) return kInvalidOwner;

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
  std::string name;
  if (ServerName(host, &name)) return store::PgCreate(ServerConninfo(), name, def, mode);
  return store::SqliteCreate(host, def, mode);
}

void CloseHandle(uint8_t* block) {
  auto& handles = Handles();
  handles[LoadLe32(block + 4)].reset();
  std::memset(block, 0, 12);
}

// --- 3. Reads ---------------------------------------------------------------

// The comparable form of key in a record, as stored with it.
void FormOf(Handle* h, int key, std::string_view record, std::string* out) {
  store::FormOf(h->def, key, record, &h->row_raw_key, out);
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
  if (fresh || !h->store->ScanContinues(dir, h->cur_key, h->cur_id)) {
    StartScan(h, CurrentForm(h), h->cur_id, dir, h->cur_key);
  }
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
Status LockRecord(Handle* h, int64_t id) {
  if (h->locked_id == id) return kOk;
  if (Status s = h->store->TryLockRecord(static_cast<uint32_t>(id)); s != kOk) return s;
  if (h->locked_id != 0) h->store->UnlockRecord(static_cast<uint32_t>(h->locked_id));
  h->locked_id = id;
  return kOk;
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
    ExtractSpans(h->key_spans[static_cast<size_t>(key)],
                 reinterpret_cast<const uint8_t*>(data.data()), key_buffer);
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
  if (lock || !g_hold_snapshots) {
    if (Status s = h->store->CheckFileLock(); s != kOk) return s;
  }
  if (Status s = BeginRead(h); s != kOk) return s;

  if (op == kOpGetDirect) {
    if (buffer == nullptr || *data_length < 4) return kInvalidRecordPosition;
    const int64_t id = LoadLe32(buffer);
    std::string data;
    if (id == 0) return kInvalidRecordPosition;
    if (Status s = FetchById(h, id, &data); s != kOk) return s;
    if (lock) {
      if (Status s = LockRecord(h, id); s != kOk) return s;
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

  const bool step = op == kOpGetNext || op == kOpGetPrevious;
  const int key = step ? h->cur_key : key_number;
  // The key value of a positioning read; the caller's buffer is read before
  // it is overwritten with the key found. A step goes from the currency and
  // reads no key value.
  const uint8_t* raw = nullptr;
  if (!step) {
    const Key& k = h->def.keys[static_cast<size_t>(key)];
    h->raw_key.assign(static_cast<size_t>(k.length), '\0');
    if (key_buffer != nullptr) std::memcpy(h->raw_key.data(), key_buffer, h->raw_key.size());
    raw = reinterpret_cast<const uint8_t*>(h->raw_key.data());
  }

  RowView row;
  for (int attempt = 0;; ++attempt) {
    Status s =
        step ? Step(h, op == kOpGetNext ? 1 : -1, lock, &row) : Position(h, op, key, raw, &row);
    if (s != kOk) return s;
    if (!lock) break;
    if (s = LockRecord(h, row.id); s != kOk) {
      h->StopScan();
      return s;
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
  const uint64_t counter = h->store->CurrentStamp();
  if (!h->stat_valid || h->stat_counter != counter) {
    if (Status s = BeginRead(h); s != kOk) return s;
    Counts c;
    if (Status s = h->store->ReadCounts(&c); s != kOk) return s;
    std::vector<uint32_t> distinct(c.distinct.begin(), c.distinct.end());
    h->stat_cache = EncodeDefinition(h->def, static_cast<uint32_t>(c.records), distinct);
    // Dated by the snapshot it was read from, which a held snapshot keeps
    // older than counter: read again once the hold ends.
    h->stat_counter = h->store->ReadStamp();
    h->stat_valid = true;
  }
  const uint32_t available = buffer ? *data_length : 0;
  const uint32_t n = std::min<uint32_t>(available, static_cast<uint32_t>(h->stat_cache.size()));
  if (n > 0) std::memcpy(buffer, h->stat_cache.data(), n);
  *data_length = n;
  return n < h->stat_cache.size() ? kDataBufferShort : kOk;
}

// --- 4. Writes --------------------------------------------------------------

// What every write checks first: a read-only handle writes nothing (I/O
// error), and none goes into a file another handle holds locked.
Status MayWrite(Handle* h) {
  if (h->store->read_only()) return kIoError;
  return h->store->CheckFileLock();
}

// Holds the record lock for a write through a block that does not own it.
class WriteLock {
 public:
  WriteLock(Handle* h, int64_t id) : h_(h), id_(id) {
    if (h->locked_id == id) {
      status_ = kOk;
    } else {
      status_ = h->store->TryLockRecord(static_cast<uint32_t>(id));
      taken_ = status_ == kOk;
    }
  }
  ~WriteLock() {
    if (taken_) h_->store->UnlockRecord(static_cast<uint32_t>(id_));
  }
  Status status() const { return status_; }

 private:
  Handle* h_;
  int64_t id_;
  Status status_ = kOk;
  bool taken_ = false;
};

Status DoInsert(Handle* h, const uint8_t* buffer, const uint32_t* data_length, uint8_t* key_buffer,
                int8_t key_number) {
  if (buffer == nullptr || *data_length != h->def.record_length) return kDataBufferShort;
  if (key_number < 0 || key_number >= static_cast<int>(h->def.keys.size())) {
    return kInvalidKeyNumber;
  }
  if (Status s = MayWrite(h); s != kOk) return s;
  int64_t id = 0;
  Status s = h->store->Insert(buffer, &id);
  h->stat_valid = false;
  if (s != kOk) return s;
  std::string data(reinterpret_cast<const char*>(buffer), h->def.record_length);
  uint32_t n = h->def.record_length;
  std::string kf;
  FormOf(h, key_number, data, &kf);
  std::string scratch = data;
  const std::string_view form(kf);
  return Deliver(h, key_number, &form, id, data, reinterpret_cast<uint8_t*>(scratch.data()), &n,
                 key_buffer);
}

Status DoUpdate(Handle* h, const uint8_t* buffer, const uint32_t* data_length,
                uint8_t* key_buffer) {
  if (!h->has_cur || !h->cur_exists) return kNoCurrentRecord;
  if (buffer == nullptr || *data_length != h->def.record_length) return kDataBufferShort;
  WriteLock lock(h, h->cur_id);
  if (lock.status() != kOk) return lock.status();
  if (Status s = MayWrite(h); s != kOk) return s;
  Status s = h->store->Update(h->cur_id, buffer);
  h->stat_valid = false;
  if (s != kOk) return s;
  FormOf(h, h->cur_key,
         std::string_view(reinterpret_cast<const char*>(buffer), h->def.record_length), &h->cur_kf);
  h->cur_kf_known = true;
  if (key_buffer != nullptr) {
    ExtractKey(h->def.keys[static_cast<size_t>(h->cur_key)], buffer, key_buffer);
  }
  return kOk;
}

Status DoDelete(Handle* h) {
  if (!h->has_cur || !h->cur_exists) return kNoCurrentRecord;
  WriteLock lock(h, h->cur_id);
  if (lock.status() != kOk) return lock.status();
  if (Status s = MayWrite(h); s != kOk) return s;
  const int64_t id = h->cur_id;
  Status s = h->store->Delete(id);
  h->stat_valid = false;
  if (s != kOk) return s;
  h->cur_exists = false;
  if (h->locked_id == id) {
    h->store->UnlockRecord(static_cast<uint32_t>(id));
    h->locked_id = 0;
  }
  return kOk;
}

}  // namespace

// --- 5. Entry point and administration --------------------------------------

Status RecordManagerCall(uint16_t operation, uint8_t* position_block, void* data_buffer,
                         uint32_t* data_length, void* key_buffer, uint8_t key_length,
                         int8_t key_number) {
  ++store::g_calls;
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
  store::ResumeAfterLostServer();
}

void HoldReadSnapshots() {
  EndReadTransactions();
  g_hold_snapshots = true;
}

void ReleaseReadSnapshots() {
  g_hold_snapshots = false;
}

void UseServer(const std::string& conninfo, const std::string& root_dir) {
  // TELVORAN_SERVER_TRAFFIC=1: what the server cost this process goes to
  // standard error at its end, as counts for benchmarks and tuning.
  static bool reporting = false;
  if (!conninfo.empty() && !reporting && std::getenv("TELVORAN_SERVER_TRAFFIC") != nullptr) {
    reporting = true;
    std::atexit([] {
      const ServerTraffic t = ServerTrafficSoFar();
      std::fprintf(stderr, "server-traffic connections=%llu round-trips=%llu rows=%llu rows-sent=%llu\n",
                   static_cast<unsigned long long>(t.connections),
                   static_cast<unsigned long long>(t.round_trips),
                   static_cast<unsigned long long>(t.rows),
                   static_cast<unsigned long long>(t.rows_sent));
    });
  }
  ServerConninfo() = conninfo;
  ServerRoot() = root_dir.empty() ? std::string()
                                  : std::filesystem::path(platform::HostPath(root_dir))
                                        .lexically_normal()
                                        .generic_string();
}

Status SetOwnerName(uint8_t* position_block, const std::string& name) {
  ++store::g_calls;
  Handle* h = Lookup(position_block);
  if (h == nullptr) return kFileNotOpen;
  if (Status s = MayWrite(h); s != kOk) return s;
  Status s = h->store->SetOwner(name);
  h->stat_valid = false;
  return s;
}

namespace {

// The caller's records as one batch.
class VectorSource final : public RecordSource {
 public:
  explicit VectorSource(const std::vector<std::string_view>& records) : records_(records) {}
  bool Next(std::vector<std::string_view>* batch) override {
    if (given_) {
      batch->clear();
    } else {
      *batch = records_;
      given_ = true;
    }
    return true;
  }

 private:
  const std::vector<std::string_view>& records_;
  bool given_ = false;
};

// A source whose records are checked on their way to the store: each of the
// file's record length, no more than positions can number.
class CheckedSource final : public RecordSource {
 public:
  CheckedSource(RecordSource* in, size_t record_length) : in_(in), record_length_(record_length) {}
  bool Next(std::vector<std::string_view>* batch) override {
    if (!in_->Next(batch)) return false;
    for (size_t i = 0; i < batch->size(); ++i) {
      if ((*batch)[i].size() != record_length_) {
        bad_length_at_ = seen_ + static_cast<int64_t>(i);
        return false;
      }
    }
    seen_ += static_cast<int64_t>(batch->size());
    return seen_ <= static_cast<int64_t>(UINT32_MAX);
  }
  int64_t bad_length_at() const { return bad_length_at_; }

 private:
  RecordSource* in_;
  size_t record_length_;
  int64_t seen_ = 0;
  int64_t bad_length_at_ = -1;
};

}  // namespace

Status InsertAll(uint8_t* position_block, RecordSource* source, int64_t* failed_index) {
  ++store::g_calls;
  *failed_index = -1;
  Handle* h = Lookup(position_block);
  if (h == nullptr) return kFileNotOpen;
  if (Status s = MayWrite(h); s != kOk) return s;
  CheckedSource checked(source, static_cast<size_t>(h->def.record_length));
  store::ClearTemporaryFailure();
  Status s = kIoError;
  try {
    s = h->store->InsertAll(&checked, failed_index);
  } catch (const std::bad_alloc&) {
    // The stores undo the load themselves; this keeps whatever they missed
    // from ending the caller.
  }
  h->stat_valid = false;
  if (checked.bad_length_at() >= 0) {
    *failed_index = checked.bad_length_at();
    return kDataBufferShort;
  }
  return s;
}

bool LoadTemporaryFailure(std::string* folder, int* error, bool* reading) {
  store::TemporaryFailure f;
  if (!store::LastTemporaryFailure(&f)) return false;
  *folder = f.folder;
  *error = f.error;
  *reading = f.reading;
  return true;
}

Status InsertAll(uint8_t* position_block, const std::vector<std::string_view>& records,
                 int64_t* failed_index) {
  VectorSource source(records);
  return InsertAll(position_block, &source, failed_index);
}

Status InsertAll(uint8_t* position_block, const std::vector<std::string>& records,
                 int64_t* failed_index) {
  std::vector<std::string_view> views(records.begin(), records.end());
  return InsertAll(position_block, views, failed_index);
}

Status CopyFileToServer(const std::string& host_path, const std::string& conninfo,
                        const std::string& name, bool replace, int64_t* records) {
  ++store::g_calls;
  *records = 0;
  store::Opened opened;
  if (Status s = store::SqliteOpen(host_path, &opened); s != kOk) return s;
  // An exclusive open elsewhere means the file is being changed as a whole.
  if (Status s = opened.store->CheckFileLock(); s != kOk) return s;
  int64_t highest = 0;
  if (Status s = store::SqliteHighestPosition(opened.store.get(), &highest); s != kOk) return s;
  const Status s = store::PgCopy(conninfo, name, opened.store.get(), opened.owner, highest,
                                 replace ? 0 : kCreateNoReplace, records);
  opened.store->EndRead();
  return s;
}

}  // namespace recmgr
