// The side file "<data file>-lck" that carries the cross-process state of one
// data file: open-file-description byte-range locks (so two handles in one
// process exclude each other like two processes, and every lock vanishes
// when its holder closes or dies) and a small shared page mapped by every
// handle:
//
//   | offset | size | field                                              |
//   |      8 |    4 | exclusive flag: 1 while a handle may hold byte 0   |
//   |     16 |    8 | change counter, raised after every committed write |
//
// The flag lets readers skip the lock query on every read; a flag left by a
// killed holder is verified against the real lock and cleared. Lock bytes:
// byte 0 is the file lock, kRecordLockBase + position a record lock.
#ifndef TELVORAN_RECMGR_LOCK_FILE_H_
#define TELVORAN_RECMGR_LOCK_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

namespace recmgr {

class LockFile {
 public:
  // Opens (creating if needed) the side file of the data file at host_path.
  // Returns nullptr when it cannot be created or mapped.
  static std::unique_ptr<LockFile> Open(const std::string& host_path);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Takes the file lock without waiting; false when someone else holds it.
  bool TryLockFile();
  // True when another handle holds the file lock.
  bool FileLockedByOther();

  bool TryLockRecord(uint32_t position);
  void UnlockRecord(uint32_t position);

  uint64_t ChangeCounter() const;
  void NoteChange();

 private:
  LockFile(int fd, uint8_t* page) : fd_(fd), page_(page) {}
  bool SetLock(int64_t offset, short type, bool* conflict);
  bool LockedByOther(int64_t offset);

  int fd_;
  uint8_t* page_;
  bool exclusive_ = false;
};

}  // namespace recmgr

#endif  // TELVORAN_RECMGR_LOCK_FILE_H_
