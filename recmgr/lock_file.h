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
//
// A reader that may not write the side file (a read-only folder, another
// user's files) still opens it for reading: it sees the others' locks and
// the change counter, and the locks it asks for are granted to it alone
// when nobody else holds them (the others never see them). Without a side
// file at all (none there and none can be made) there are no cross-process
// locks, and the change counter moves at every look unless the data cannot
// change under the reader (SetUnchanging).
#ifndef TELVORAN_RECMGR_LOCK_FILE_H_
#define TELVORAN_RECMGR_LOCK_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

namespace recmgr {

class LockFile {
 public:
  enum class Mode {
    kShared,    // read and written: locks are taken and seen by all
    kReadOnly,  // read only: others' locks are seen, ours are local
    kNone,      // no side file: no cross-process locks
  };

  // Opens (creating if needed) the side file of the data file at host_path,
  // never through a symbolic link; one that is not a regular file with a
  // single name is refused. Falls back to kReadOnly and then kNone as
  // described above. Returns nullptr when the side file is refused or cannot
  // be used (an I/O error, a full disk).
  static std::unique_ptr<LockFile> Open(const std::string& host_path);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  Mode mode() const { return mode_; }

  // Takes the file lock without waiting; false when someone else holds it.
  bool TryLockFile();
  // True when another handle holds the file lock.
  bool FileLockedByOther();

  bool TryLockRecord(uint32_t position);
  void UnlockRecord(uint32_t position);

  uint64_t ChangeCounter() const;
  void NoteChange();
  // Without a shared page: the reader's data cannot change under it (an
  // immutable open), so the counter may stand still.
  void SetUnchanging() { unchanging_ = true; }

 private:
  LockFile(int fd, uint8_t* page, Mode mode) : fd_(fd), page_(page), mode_(mode) {}
  bool SetLock(int64_t offset, short type, bool* conflict);
  bool LockedByOther(int64_t offset);

  int fd_;         // -1 in kNone
  uint8_t* page_;  // null when there is no shared page to read
  Mode mode_;
  bool exclusive_ = false;
  bool unchanging_ = false;
  mutable uint64_t ticks_ = 0;  // the counter without a shared page
};

}  // namespace recmgr

#endif  // TELVORAN_RECMGR_LOCK_FILE_H_
