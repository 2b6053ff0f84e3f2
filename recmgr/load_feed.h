// The rows a bulk load hands to SQLite through the eponymous virtual table
// rm_load_rows(kf, id, data), each table filled by one INSERT ... SELECT:
//  - input: the source's records with their new positions, for rec; each
//    batch's key forms go to the key sorters on another thread meanwhile;
//  - a key: the merged rows of its sorter in (form, position) order, for its
//    key table; the distinct values are counted on the way, and for a unique
//    key clash() gives the first record (in input order) repeating a value.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recmgr/file_definition.h"
#include "recmgr/load_sort.h"
#include "recmgr/record_manager.h"

namespace recmgr::store {

class LoadFeed {
 public:
  ~LoadFeed() { Clear(); }

  void StartInput(RecordSource* source, int64_t first_id, const FileDefinition* def,
                  std::vector<std::unique_ptr<LoadSorter>>* sorters);
  void StartKey(LoadSorter* sorter, bool unique);
  // Waits for the feeding thread: the failure, if any, of the input.
  Status Finish() {
    Fed();
    return failure_;
  }
  // Finishes and forgets the source and the sorter.
  void Clear();

  // kIoError after a source that could not be read, a position past the
  // highest possible or a sorter that could not write its run.
  Status failure() const { return failure_; }
  int64_t next_id() const { return next_id_; }
  int64_t distinct() const { return distinct_; }
  int64_t clash() const { return clash_; }

  // What the table's cursor does: false on a failure.
  bool Begin();
  bool Step();
  bool AtEnd() const { return at_end_; }
  void Column(sqlite3_context* ctx, int column) const;
  int64_t Rowid() const;

 private:
  bool NextBatch();
  bool Fed();
  void ObserveKeyRow();

  // Input.
  RecordSource* source_ = nullptr;
  const FileDefinition* def_ = nullptr;
  std::vector<std::unique_ptr<LoadSorter>>* sorters_ = nullptr;
  std::vector<std::string_view> batch_;
  size_t at_ = 0;
  int64_t next_id_ = 0;
  std::future<bool> fed_;
  // A key.
  LoadSorter* sorter_ = nullptr;
  bool unique_ = false;
  int64_t distinct_ = 0;
  int64_t clash_ = -1;
  std::string previous_;

  bool at_end_ = true;
  Status failure_ = kOk;
};

// Registers rm_load_rows on the connection, reading from *feed.
int RegisterLoadRows(sqlite3* db, LoadFeed* feed);

}  // namespace recmgr::store
