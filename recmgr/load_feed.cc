#include "recmgr/load_feed.h"

#include <cstring>
#include <new>

#include "recmgr/store.h"

namespace recmgr::store {

namespace {

// Every key form of each record of the batch into its key's sorter.
bool FeedSorters(const FileDefinition& def, const std::vector<std::string_view>& batch,
                 int64_t first_id, std::vector<std::unique_ptr<LoadSorter>>& sorters) {
  std::string raw, form;
  for (size_t j = 0; j < batch.size(); ++j) {
    const auto* record = reinterpret_cast<const uint8_t*>(batch[j].data());
    for (size_t k = 0; k < sorters.size(); ++k) {
      FormOf(def, static_cast<int>(k), batch[j], &raw, &form);
      if (!sorters[k]->Add(reinterpret_cast<const uint8_t*>(form.data()),
                           first_id + static_cast<int64_t>(j), record)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

void LoadFeed::StartInput(RecordSource* source, int64_t first_id, const FileDefinition* def,
                          std::vector<std::unique_ptr<LoadSorter>>* sorters) {
  Clear();
  source_ = source;
  def_ = def;
  sorters_ = sorters;
  next_id_ = first_id;
}

void LoadFeed::StartKey(LoadSorter* sorter, bool unique) {
  Clear();
  sorter_ = sorter;
  unique_ = unique;
}

void LoadFeed::Clear() {
  Fed();
  source_ = nullptr;
  sorter_ = nullptr;
  sorters_ = nullptr;
  batch_.clear();
  at_ = 0;
  distinct_ = 0;
  clash_ = -1;
  previous_.clear();
  at_end_ = true;
  failure_ = kOk;
}

// Waits until the last batch is in the sorters (its views must stay valid
// until then): false when it could not be.
bool LoadFeed::Fed() {
  if (!fed_.valid()) return true;
  bool ok = false;
  try {
    ok = fed_.get();
  } catch (...) {
    // Out of memory on the feeding thread: the load's failure, never an
    // exception through SQLite's frames.
  }
  if (!ok) failure_ = kIoError;
  return ok;
}

bool LoadFeed::NextBatch() {
  if (!Fed()) return false;
  if (!source_->Next(&batch_)) {
    failure_ = kIoError;
    return false;
  }
  at_ = 0;
  at_end_ = batch_.empty();
  if (at_end_) return true;
  // Positions are 32 bits wide.
  if (next_id_ + static_cast<int64_t>(batch_.size()) - 1 > static_cast<int64_t>(UINT32_MAX)) {
    failure_ = kIoError;
    return false;
  }
  if (sorters_ != nullptr && !sorters_->empty()) {
    try {
      fed_ = std::async(std::launch::async, FeedSorters, std::cref(*def_), std::cref(batch_),
                        next_id_, std::ref(*sorters_));
    } catch (...) {
      // No thread (or no memory for one) to be had: fed here, before the
      // batch's rows go out.
      bool ok = false;
      try {
        ok = FeedSorters(*def_, batch_, next_id_, *sorters_);
      } catch (...) {
      }
      if (!ok) {
        failure_ = kIoError;
        return false;
      }
    }
  }
  return true;
}

// A new value is counted; of the rows repeating a value of a unique key,
// the one that came first is kept.
void LoadFeed::ObserveKeyRow() {
  at_end_ = sorter_->AtEnd();
  if (at_end_) return;
  const std::string_view form(reinterpret_cast<const char*>(sorter_->form()),
                              sorter_->form_length());
  if (distinct_ == 0 || form != previous_) {
    ++distinct_;
    previous_.assign(form);
  } else if (unique_ && (clash_ < 0 || sorter_->id() < clash_)) {
    clash_ = sorter_->id();
  }
}

// Begin and Step run inside SQLite's frames, which no exception may cross:
// memory that runs out there (the source's buffer, a value kept, a merge
// block) fails the load as any other failure does.
bool LoadFeed::Begin() {
  try {
    if (source_ != nullptr) return NextBatch();
    if (sorter_ == nullptr) {
      at_end_ = true;
      return true;
    }
    ObserveKeyRow();
    return true;
  } catch (const std::bad_alloc&) {
    failure_ = kIoError;
    return false;
  }
}

bool LoadFeed::Step() {
  try {
    if (source_ != nullptr) {
      ++next_id_;
      return ++at_ < batch_.size() || NextBatch();
    }
    if (!sorter_->Next()) {
      failure_ = kIoError;
      return false;
    }
    ObserveKeyRow();
    return true;
  } catch (const std::bad_alloc&) {
    failure_ = kIoError;
    return false;
  }
}

// The row stays where it is until the next step, so SQLite need not copy.
void LoadFeed::Column(sqlite3_context* ctx, int column) const {
  if (source_ != nullptr) {
    if (column == 1) {
      sqlite3_result_int64(ctx, next_id_);
    } else if (column == 2) {
      const std::string_view r = batch_[at_];
      sqlite3_result_blob(ctx, r.data(), static_cast<int>(r.size()), SQLITE_STATIC);
    }
    return;
  }
  if (column == 0) {
    sqlite3_result_blob(ctx, sorter_->form(), static_cast<int>(sorter_->form_length()),
                        SQLITE_STATIC);
  } else if (column == 1) {
    sqlite3_result_int64(ctx, sorter_->id());
  } else {
    sqlite3_result_blob(ctx, sorter_->record(), static_cast<int>(sorter_->record_length()),
                        SQLITE_STATIC);
  }
}

int64_t LoadFeed::Rowid() const { return source_ != nullptr ? next_id_ : sorter_->id(); }

namespace {

struct Table {
  sqlite3_vtab base;
  LoadFeed* feed;
};

struct Cursor {
  sqlite3_vtab_cursor base;
  LoadFeed* feed;
};

LoadFeed* FeedOf(sqlite3_vtab_cursor* c) { return reinterpret_cast<Cursor*>(c)->feed; }

int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
  int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(kf BLOB, id INTEGER, data BLOB)");
  if (rc != SQLITE_OK) return rc;
  auto* t = static_cast<Table*>(sqlite3_malloc(sizeof(Table)));
  if (t == nullptr) return SQLITE_NOMEM;
  std::memset(t, 0, sizeof *t);
  t->feed = static_cast<LoadFeed*>(aux);
  *out = &t->base;
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  info->estimatedCost = 1e6;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* t) {
  sqlite3_free(t);
  return SQLITE_OK;
}

int Open(sqlite3_vtab* t, sqlite3_vtab_cursor** out) {
  auto* c = static_cast<Cursor*>(sqlite3_malloc(sizeof(Cursor)));
  if (c == nullptr) return SQLITE_NOMEM;
  std::memset(c, 0, sizeof *c);
  c->feed = reinterpret_cast<Table*>(t)->feed;
  *out = &c->base;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* c) {
  sqlite3_free(c);
  return SQLITE_OK;
}

int Filter(sqlite3_vtab_cursor* c, int, const char*, int, sqlite3_value**) {
  return FeedOf(c)->Begin() ? SQLITE_OK : SQLITE_IOERR;
}

int Next(sqlite3_vtab_cursor* c) { return FeedOf(c)->Step() ? SQLITE_OK : SQLITE_IOERR; }

int Eof(sqlite3_vtab_cursor* c) { return FeedOf(c)->AtEnd(); }

int Column(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int column) {
  FeedOf(c)->Column(ctx, column);
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* c, sqlite3_int64* out) {
  *out = FeedOf(c)->Rowid();
  return SQLITE_OK;
}

// Eponymous only (no xCreate): the table exists on the connection as soon as
// the module is registered, and nothing of it goes into the file.
sqlite3_module MakeModule() {
  sqlite3_module m{};
  m.xConnect = Connect;
  m.xBestIndex = BestIndex;
  m.xDisconnect = Disconnect;
  m.xOpen = Open;
  m.xClose = Close;
  m.xFilter = Filter;
  m.xNext = Next;
  m.xEof = Eof;
  m.xColumn = Column;
  m.xRowid = Rowid;
  return m;
}
const sqlite3_module kModule = MakeModule();

}  // namespace

int RegisterLoadRows(sqlite3* db, LoadFeed* feed) {
  return sqlite3_create_module_v2(db, "rm_load_rows", &kModule, feed, nullptr);
}

}  // namespace recmgr::store
