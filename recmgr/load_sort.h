// The sort behind a bulk load: the rows of one key (comparable form,
// position, record) in bounded memory, merged back in (form, position)
// order. Rows are collected in a fixed-size buffer; a full buffer is sorted
// and written to an unnamed temporary file by a worker thread while the
// next one fills, so the sorting runs beside the caller's own work. The last
// buffer stays in memory as one more run. The merge too runs a block of rows
// ahead of the caller on a worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace recmgr::store {

// Why a sorter's temporary files failed: the folder they were (or were to
// be) in, the system's error number, and whether reading them back failed
// (else making or writing them). The first failure since the last clear is
// kept, for the message of the load it ended.
struct TemporaryFailure {
  std::string folder;
  int error = 0;
  bool reading = false;
};
void ClearTemporaryFailure();
bool LastTemporaryFailure(TemporaryFailure* out);

class LoadSorter {
 public:
  // buffer_bytes: the size of each of the two collecting buffers (at least
  // one row). Positions must be added in increasing order.
  LoadSorter(size_t form_length, size_t record_length, size_t buffer_bytes);
  ~LoadSorter();
  LoadSorter(const LoadSorter&) = delete;
  LoadSorter& operator=(const LoadSorter&) = delete;

  // False once writing a run failed (no temporary file, disk full).
  bool Add(const uint8_t* form, int64_t id, const uint8_t* record);
  // Ends the adding and starts the merge; the first row is then current
  // unless AtEnd().
  bool StartMerge();
  // The next row in (form, position) order; false on a read error.
  bool Next();
  bool AtEnd() const { return current_ == nullptr; }
  const uint8_t* form() const { return current_; }
  const uint8_t* record() const { return current_ + form_length_; }
  int64_t id() const;

  size_t form_length() const { return form_length_; }
  size_t record_length() const { return record_length_; }
  size_t runs() const { return runs_.size(); }

 private:
  // A row's place in the sort: the form's first 8 bytes as a number (most
  // rows differ there, and numbers compare faster than bytes) and its index
  // in the buffer.
  struct Slot {
    uint64_t prefix;
    uint32_t index;
  };
  struct Buffer {
    std::vector<uint8_t> rows;
    std::vector<Slot> order;
    size_t count = 0;
  };
  struct Run {
    // A run in the temporary file (offset, rows) or, for the last one, the
    // sorted buffer in memory.
    uint64_t offset = 0;
    uint64_t rows = 0;
    const Buffer* memory = nullptr;
    uint64_t next = 0;  // rows taken so far
    std::vector<uint8_t> window;
    size_t window_at = 0, window_rows = 0;
    const uint8_t* row = nullptr;
    uint64_t prefix = 0;
  };

  uint64_t Prefix(const uint8_t* form) const;
  // Orders rows with equal prefixes by the rest of their forms: <0, 0, >0.
  int CompareRest(const uint8_t* a, const uint8_t* b) const;
  // Merged rows, handed out a block at a time: one is read while the next
  // is merged on a worker thread.
  struct Block {
    std::vector<uint8_t> rows;
    size_t count = 0;
    bool ok = true;     // false: a run could not be read
    bool more = false;  // rows left to merge after this block
  };
  static constexpr size_t kBlockRows = 8192;

  void SortBuffer(Buffer* b) const;
  void Produce(Block* b);
  void ProduceAhead();
  bool PopHeap();
  bool WriteRun(Buffer* b, uint64_t offset);
  bool Spill();
  bool RunWritten();
  bool Advance(Run* r);
  bool Less(size_t a, size_t b) const;
  void SiftDown(size_t at);

  const size_t form_length_, record_length_, row_bytes_, capacity_;
  Buffer buffers_[2];
  Buffer* filling_;
  std::future<bool> pending_;
  int fd_ = -1;
  std::string folder_;  // where fd_ is
  uint64_t file_end_ = 0;
  bool failed_ = false;
  std::vector<Run> runs_;
  size_t window_rows_ = 1;    // rows read from the file at a time per run
  std::vector<size_t> heap_;  // run indices, smallest current row first
  Block blocks_[2];
  Block* reading_ = nullptr;
  size_t read_at_ = 0;
  std::future<void> ahead_;
  const uint8_t* current_ = nullptr;
};

}  // namespace recmgr::store
