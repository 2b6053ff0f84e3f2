#include "recmgr/lock_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace recmgr {
namespace {

constexpr int64_t kPageSize = 4096;
constexpr int64_t kRecordLockBase = 4096;
constexpr size_t kFlagOffset = 8;
constexpr size_t kCounterOffset = 16;

}  // namespace

std::unique_ptr<LockFile> LockFile::Open(const std::string& host_path) {
  const std::string side = host_path + "-lck";
  // O_NONBLOCK: a FIFO planted here must not hang the open; it is refused
  // below like any other file that is not a regular one.
  int fd = ::open(side.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  struct stat st;
  if (fd >= 0) {
    // Written through the mapping: never a file that is also somebody
    // else's under another name.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
      ::close(fd);
      return nullptr;
    }
    // Blocks are reserved now, so a full disk fails here and not as a
    // SIGBUS at the first write through the mapping.
    if (st.st_size < kPageSize && ::posix_fallocate(fd, 0, kPageSize) != 0) {
      ::close(fd);
      return nullptr;
    }
    void* page = ::mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (page == MAP_FAILED) {
      ::close(fd);
      return nullptr;
    }
    return std::unique_ptr<LockFile>(new LockFile(fd, static_cast<uint8_t*>(page), Mode::kShared));
  }
  if (errno != EACCES && errno != EROFS && errno != EPERM) return nullptr;

  // May not be written (or made): read the one that is there.
  fd = ::open(side.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return nullptr;
    return std::unique_ptr<LockFile>(new LockFile(-1, nullptr, Mode::kNone));
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // A side file shorter than the page was never set up by a writer: there
  // is no counter to read (and reading past its end would fault).
  uint8_t* page = nullptr;
  if (st.st_size >= kPageSize) {
    void* p = ::mmap(nullptr, kPageSize, PROT_READ, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) page = static_cast<uint8_t*>(p);
  }
  return std::unique_ptr<LockFile>(new LockFile(fd, page, Mode::kReadOnly));
}

LockFile::~LockFile() {
  if (exclusive_)
    __atomic_store_n(reinterpret_cast<uint32_t*>(page_ + kFlagOffset), 0u, __ATOMIC_RELEASE);
  if (page_ != nullptr) ::munmap(page_, kPageSize);
  if (fd_ >= 0) ::close(fd_);  // drops every lock of this open file description
}

bool LockFile::SetLock(int64_t offset, short type, bool* conflict) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    *conflict = errno == EAGAIN || errno == EACCES;
    return false;
  }
}

bool LockFile::LockedByOther(int64_t offset) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool LockFile::TryLockFile() {
  if (mode_ == Mode::kNone) return true;
  // A reader that cannot lock is granted the lock for itself when nobody
  // holds it: it never writes, so the lock has nothing to protect.
  if (mode_ == Mode::kReadOnly) return !LockedByOther(0);
  bool conflict = false;
  if (!SetLock(0, F_WRLCK, &conflict)) return false;
  exclusive_ = true;
  __atomic_store_n(reinterpret_cast<uint32_t*>(page_ + kFlagOffset), 1u, __ATOMIC_RELEASE);
  return true;
}

bool LockFile::FileLockedByOther() {
  if (exclusive_ || mode_ == Mode::kNone) return false;
  if (page_ == nullptr) return LockedByOther(0);
  uint32_t* flag = reinterpret_cast<uint32_t*>(page_ + kFlagOffset);
  if (__atomic_load_n(flag, __ATOMIC_ACQUIRE) == 0) return false;
  if (LockedByOther(0)) return true;
  // A holder died with the flag set: clear it under the lock so that a new
  // holder's flag is never wiped. A read-only reader leaves it to others.
  if (mode_ == Mode::kReadOnly) return false;
  bool conflict = false;
  if (!SetLock(0, F_WRLCK, &conflict)) return conflict;
  __atomic_store_n(flag, 0u, __ATOMIC_RELEASE);
  SetLock(0, F_UNLCK, &conflict);
  return false;
}

bool LockFile::TryLockRecord(uint32_t position) {
  if (mode_ == Mode::kNone) return true;
  if (mode_ == Mode::kReadOnly) return !LockedByOther(kRecordLockBase + position);
  bool conflict = false;
  return SetLock(kRecordLockBase + position, F_WRLCK, &conflict);
}

void LockFile::UnlockRecord(uint32_t position) {
  if (mode_ != Mode::kShared) return;
  bool conflict = false;
  SetLock(kRecordLockBase + position, F_UNLCK, &conflict);
}

uint64_t LockFile::ChangeCounter() const {
  if (page_ == nullptr) {
    // Nothing tells when others write: every look is a change, so no
    // snapshot, scan or cached count outlives a call.
    return unchanging_ ? 0 : ++ticks_;
  }
  return __atomic_load_n(reinterpret_cast<const uint64_t*>(page_ + kCounterOffset),
                         __ATOMIC_ACQUIRE);
}

void LockFile::NoteChange() {
  if (mode_ != Mode::kShared) return;
  __atomic_add_fetch(reinterpret_cast<uint64_t*>(page_ + kCounterOffset), 1u, __ATOMIC_ACQ_REL);
}

}  // namespace recmgr
