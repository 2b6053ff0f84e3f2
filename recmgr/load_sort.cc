#include "recmgr/load_sort.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace recmgr::store {

namespace {


std::mutex g_failure_mutex;
TemporaryFailure g_failure;
bool g_failed = false;

void NoteFailure(const std::string& folder, int error, bool reading) {
  std::lock_guard<std::mutex> lock(g_failure_mutex);
  if (g_failed) return;  // the first is the cause; the rest follow from it
  g_failed = true;
  g_failure = TemporaryFailure{folder, error, reading};
}

// An unnamed file in the temporary folder (TMPDIR, else /var/tmp, else
// /tmp): nothing can be planted at a name that does not exist, and it goes
// when closed. Where the file system has no unnamed files, a fresh name
// made exclusively and removed at once. *folder: where it is; when none
// could be made, the first folder tried, with *error its reason.
int OpenTemporary(std::string* folder, int* error) {
  std::vector<std::string> dirs;
  if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t != '\0') dirs.emplace_back(t);
  dirs.emplace_back("/var/tmp");
  dirs.emplace_back("/tmp");
  *error = 0;
  for (const std::string& dir : dirs) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      std::string name = dir + "/telvoran-load-XXXXXX";
      fd = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd >= 0) {
      *folder = dir;
      return fd;
    }
    if (*error == 0) {
      *folder = dir;
      *error = errno;
    }
  }
  return -1;
}

// 0, or the system's reason (a write that takes nothing is a full disk).
int WriteAll(int fd, const uint8_t* p, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno;
    if (w == 0) return ENOSPC;
    p += w;
    n -= static_cast<size_t>(w);
    offset += static_cast<uint64_t>(w);
  }
  return 0;
}

// 0, or the system's reason (a run cut short reads as an I/O error).
int ReadAll(int fd, uint8_t* p, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) return EIO;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return 0;
}

}  // namespace

// A row: form, record, position (8 bytes, host order).
LoadSorter::LoadSorter(size_t form_length, size_t record_length, size_t buffer_bytes)
    : form_length_(form_length),
      record_length_(record_length),
      row_bytes_(form_length + record_length + sizeof(int64_t)),
      capacity_(std::max<size_t>(1, buffer_bytes / row_bytes_)),
      filling_(&buffers_[0]) {
  filling_->rows.resize(capacity_ * row_bytes_);
}

LoadSorter::~LoadSorter() {
  if (pending_.valid()) pending_.wait();
  if (ahead_.valid()) ahead_.wait();
  if (fd_ >= 0) ::close(fd_);
}

int64_t LoadSorter::id() const {
  int64_t v;
  std::memcpy(&v, current_ + form_length_ + record_length_, sizeof v);
  return v;
}

bool LoadSorter::Add(const uint8_t* form, int64_t id, const uint8_t* record) {
  if (failed_) return false;
  if (filling_->count == capacity_ && !Spill()) return false;
  uint8_t* row = filling_->rows.data() + filling_->count * row_bytes_;
  std::memcpy(row, form, form_length_);
  std::memcpy(row + form_length_, record, record_length_);
  std::memcpy(row + form_length_ + record_length_, &id, sizeof id);
  ++filling_->count;
  return true;
}

// Big-endian, padded with zeros: numbers order as the bytes do, and every
// form of the sorter has the same length.
uint64_t LoadSorter::Prefix(const uint8_t* form) const {
  uint64_t v = 0;
  const size_t n = std::min<size_t>(form_length_, 8);
  for (size_t i = 0; i < n; ++i) v = v << 8 | form[i];
  return n == 0 ? 0 : v << (8 * (8 - n));
}

int LoadSorter::CompareRest(const uint8_t* a, const uint8_t* b) const {
  return form_length_ > 8 ? std::memcmp(a + 8, b + 8, form_length_ - 8) : 0;
}

// Rows of one buffer came in position order, and equal forms must keep it:
// a stable radix sort on the prefix, one pass per byte of it that varies
// (least significant first), then, for forms longer than the prefix, a
// stable sort on the rest within each run of equal prefixes. Hand-written:
// a few passes over small fixed-size entries where a comparison sort
// needs ~log2(rows) of them.
void LoadSorter::SortBuffer(Buffer* b) const {
  const size_t n = b->count;
  b->order.resize(n);
  const uint8_t* base = b->rows.data();
  const size_t width = row_bytes_;
  for (uint32_t i = 0; i < n; ++i) b->order[i] = Slot{Prefix(base + i * width), i};
  std::vector<Slot> other(n);
  Slot* from = b->order.data();
  Slot* to = other.data();
  const size_t bytes = std::min<size_t>(form_length_, 8);
  for (size_t j = bytes; j-- > 0;) {
    const unsigned shift = static_cast<unsigned>(8 * (7 - j));
    size_t count[257] = {};
    for (size_t i = 0; i < n; ++i) ++count[((from[i].prefix >> shift) & 0xFF) + 1];
    if (n == 0 || count[((from[0].prefix >> shift) & 0xFF) + 1] == n) continue;  // all alike
    for (size_t v = 1; v < 257; ++v) count[v] += count[v - 1];
    for (size_t i = 0; i < n; ++i) to[count[(from[i].prefix >> shift) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != b->order.data()) std::copy(from, from + n, b->order.data());
  if (form_length_ <= 8) return;
  auto rest_less = [this, base, width](const Slot& x, const Slot& y) {
    return CompareRest(base + x.index * width, base + y.index * width) < 0;
  };
  for (size_t i = 0; i < n;) {
    size_t e = i + 1;
    while (e < n && b->order[e].prefix == b->order[i].prefix) ++e;
    if (e - i > 1) std::stable_sort(b->order.begin() + i, b->order.begin() + e, rest_less);
    i = e;
  }
}

void ClearTemporaryFailure() {
  std::lock_guard<std::mutex> lock(g_failure_mutex);
  g_failed = false;
  g_failure = TemporaryFailure{};
}

bool LastTemporaryFailure(TemporaryFailure* out) {
  std::lock_guard<std::mutex> lock(g_failure_mutex);
  if (g_failed) *out = g_failure;
  return g_failed;
}

bool LoadSorter::WriteRun(Buffer* b, uint64_t offset) {
  SortBuffer(b);
  // Gathered into blocks so a run goes out in few large writes.
  std::vector<uint8_t> out;
  out.reserve(std::min<size_t>(b->count, 1 + (256 * 1024) / row_bytes_) * row_bytes_);
  for (const Slot& slot : b->order) {
    const uint8_t* row = b->rows.data() + slot.index * row_bytes_;
    out.insert(out.end(), row, row + row_bytes_);
    if (out.size() + row_bytes_ > out.capacity()) {
      if (int error = WriteAll(fd_, out.data(), out.size(), offset); error != 0) {
        NoteFailure(folder_, error, false);
        return false;
      }
      offset += out.size();
      out.clear();
    }
  }
  if (int error = WriteAll(fd_, out.data(), out.size(), offset); error != 0) {
    NoteFailure(folder_, error, false);
    return false;
  }
  return true;
}

// Waits for the run being written: false when it could not be (a failure
// of the worker, memory included, is the load's failure, never an exception
// through SQLite's frames).
bool LoadSorter::RunWritten() {
  if (!pending_.valid()) return true;
  try {
    return pending_.get();
  } catch (...) {
    return false;
  }
}

// The full buffer goes to a worker; the other one (its earlier run written
// by now) takes the next rows.
bool LoadSorter::Spill() {
  if (!RunWritten()) failed_ = true;
  if (!failed_ && fd_ < 0) {
    int error = 0;
    if ((fd_ = OpenTemporary(&folder_, &error)) < 0) {
      NoteFailure(folder_, error, false);
      failed_ = true;
    }
  }
  if (failed_) return false;
  Buffer* full = filling_;
  Run run;
  run.offset = file_end_;
  run.rows = full->count;
  runs_.push_back(std::move(run));
  const uint64_t offset = file_end_;
  file_end_ += full->count * row_bytes_;
  auto write = [this, full, offset] {
    const bool ok = WriteRun(full, offset);
    full->count = 0;
    return ok;
  };
  try {
    pending_ = std::async(std::launch::async, write);
  } catch (...) {
    // No thread (or no memory for one) to be had: written here.
    if (!write()) failed_ = true;
  }
  filling_ = full == &buffers_[0] ? &buffers_[1] : &buffers_[0];
  if (filling_->rows.empty()) filling_->rows.resize(capacity_ * row_bytes_);
  return true;
}

bool LoadSorter::StartMerge() {
  if (!RunWritten()) failed_ = true;
  if (failed_) return false;
  // The spare buffer is not needed any more.
  Buffer* spare = filling_ == &buffers_[0] ? &buffers_[1] : &buffers_[0];
  spare->rows = {};
  spare->order = {};
  if (filling_->count > 0) {
    SortBuffer(filling_);
    Run run;
    run.rows = filling_->count;
    run.memory = filling_;
    runs_.push_back(std::move(run));
  }
  // The runs read through windows sharing one buffer's worth of memory (the
  // spare buffer's, freed above), so the merge needs no more memory however
  // many runs there are.
  window_rows_ = std::max<size_t>(1, capacity_ / std::max<size_t>(1, runs_.size()));
  heap_.clear();
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (!Advance(&runs_[i])) return false;
    heap_.push_back(i);
  }
  for (size_t i = heap_.size() / 2; i-- > 0;) SiftDown(i);
  for (Block& b : blocks_) b.rows.resize(kBlockRows * row_bytes_);
  reading_ = &blocks_[0];
  Produce(reading_);
  if (!reading_->ok) return false;
  read_at_ = 0;
  current_ = reading_->count > 0 ? reading_->rows.data() : nullptr;
  ProduceAhead();
  return true;
}

// Merges the next rows into the block.
void LoadSorter::Produce(Block* b) {
  b->count = 0;
  b->ok = true;
  try {
    for (; b->count < kBlockRows && !heap_.empty(); ++b->count) {
      std::memcpy(b->rows.data() + b->count * row_bytes_, runs_[heap_[0]].row, row_bytes_);
      if (!PopHeap()) {
        b->ok = false;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    // A run's window that could not grow: the merge fails, never ends early.
    b->ok = false;
  }
  b->more = !heap_.empty();
}

// The block not being read is filled on a worker thread while the caller
// takes the rows of the other.
void LoadSorter::ProduceAhead() {
  if (!reading_->more) return;
  Block* other = reading_ == &blocks_[0] ? &blocks_[1] : &blocks_[0];
  try {
    ahead_ = std::async(std::launch::async, [this, other] { Produce(other); });
  } catch (...) {
    // No thread (or no memory for one): merged here.
    Produce(other);
  }
}

bool LoadSorter::Next() {
  if (current_ == nullptr) return true;
  if (++read_at_ < reading_->count) {
    current_ += row_bytes_;
    return true;
  }
  current_ = nullptr;
  if (!reading_->more) return true;
  if (ahead_.valid()) ahead_.wait();
  reading_ = reading_ == &blocks_[0] ? &blocks_[1] : &blocks_[0];
  if (!reading_->ok) return false;
  read_at_ = 0;
  if (reading_->count > 0) current_ = reading_->rows.data();
  ProduceAhead();
  return true;
}

// Makes the run's next row its current one (row = nullptr at its end).
bool LoadSorter::Advance(Run* r) {
  if (r->next == r->rows) {
    r->row = nullptr;
    return true;
  }
  if (r->memory != nullptr) {
    r->row = r->memory->rows.data() + r->memory->order[r->next].index * row_bytes_;
  } else {
    if (r->window_at == r->window_rows) {
      const size_t per = window_rows_;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(per, r->rows - r->next));
      r->window.resize(take * row_bytes_);
      if (int error = ReadAll(fd_, r->window.data(), r->window.size(),
                              r->offset + r->next * row_bytes_);
          error != 0) {
        NoteFailure(folder_, error, true);
        failed_ = true;
        return false;
      }
      r->window_at = 0;
      r->window_rows = take;
    }
    r->row = r->window.data() + r->window_at * row_bytes_;
    ++r->window_at;
  }
  r->prefix = Prefix(r->row);
  ++r->next;
  return true;
}

// Runs hold increasing positions, so between equal forms the earlier run
// comes first.
bool LoadSorter::Less(size_t a, size_t b) const {
  const Run& x = runs_[a];
  const Run& y = runs_[b];
  if (x.prefix != y.prefix) return x.prefix < y.prefix;
  const int c = CompareRest(x.row, y.row);
  return c != 0 ? c < 0 : a < b;
}

void LoadSorter::SiftDown(size_t at) {
  const size_t n = heap_.size();
  for (;;) {
    size_t least = at;
    const size_t l = 2 * at + 1, r = l + 1;
    if (l < n && Less(heap_[l], heap_[least])) least = l;
    if (r < n && Less(heap_[r], heap_[least])) least = r;
    if (least == at) return;
    std::swap(heap_[at], heap_[least]);
    at = least;
  }
}

// Takes the smallest row off its run.
bool LoadSorter::PopHeap() {
  Run& top = runs_[heap_[0]];
  if (!Advance(&top)) return false;
  if (top.row == nullptr) {
    heap_[0] = heap_.back();
    heap_.pop_back();
  }
  if (!heap_.empty()) SiftDown(0);
  return true;
}

}  // namespace recmgr::store
