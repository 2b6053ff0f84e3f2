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
  int fd = ::open(side.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || (st.st_size < kPageSize && ::ftruncate(fd, kPageSize) != 0)) {
    ::close(fd);
    return nullptr;
  }
  void* page = ::mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (page == MAP_FAILED) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<LockFile>(new LockFile(fd, static_cast<uint8_t*>(page)));
}

LockFile::~LockFile() {
  if (exclusive_)
    __atomic_store_n(reinterpret_cast<uint32_t*>(page_ + kFlagOffset), 0u, __ATOMIC_RELEASE);
  ::munmap(page_, kPageSize);
  ::close(fd_);  // drops every lock of this open file description
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
  bool conflict = false;
  if (!SetLock(0, F_WRLCK, &conflict)) return false;
  exclusive_ = true;
  __atomic_store_n(reinterpret_cast<uint32_t*>(page_ + kFlagOffset), 1u, __ATOMIC_RELEASE);
  return true;
}

bool LockFile::FileLockedByOther() {
  if (exclusive_) return false;
  uint32_t* flag = reinterpret_cast<uint32_t*>(page_ + kFlagOffset);
  if (__atomic_load_n(flag, __ATOMIC_ACQUIRE) == 0) return false;
  if (LockedByOther(0)) return true;
  // A holder died with the flag set: clear it under the lock so that a new
  // holder's flag is never wiped.
  bool conflict = false;
  if (!SetLock(0, F_WRLCK, &conflict)) return conflict;
  __atomic_store_n(flag, 0u, __ATOMIC_RELEASE);
  SetLock(0, F_UNLCK, &conflict);
  return false;
}

bool LockFile::TryLockRecord(uint32_t position) {
  bool conflict = false;
  return SetLock(kRecordLockBase + position, F_WRLCK, &conflict);
}

void LockFile::UnlockRecord(uint32_t position) {
  bool conflict = false;
  SetLock(kRecordLockBase + position, F_UNLCK, &conflict);
}

uint64_t LockFile::ChangeCounter() const {
  return __atomic_load_n(reinterpret_cast<const uint64_t*>(page_ + kCounterOffset),
                         __ATOMIC_ACQUIRE);
}

void LockFile::NoteChange() {
  __atomic_add_fetch(reinterpret_cast<uint64_t*>(page_ + kCounterOffset), 1u, __ATOMIC_ACQ_REL);
}

}  // namespace recmgr
