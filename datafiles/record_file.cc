// The record file layer. Division of this file:
//   1. state: the slot table, the lock mode stack, the working buffers
//   2. slot lookup, name resolution, key information
//   3. the common operation and the lock wait
//   4. the calls offered to the program
#include "datafiles/record_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "config/settings.h"
#include "datafiles/file_messages.h"
#include "platform/env.h"
#include "platform/little_endian.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

#ifndef TELVORAN_OWNER_NAME
#define TELVORAN_OWNER_NAME "4839"
#endif

namespace datafiles {
namespace {

// --- 1. State ---------------------------------------------------------------

constexpr char kOwnerName[] = TELVORAN_OWNER_NAME;
static_assert(sizeof(kOwnerName) == 5, "the owner name is four characters");
static_assert(kOwnerName[0] >= '0' && kOwnerName[0] <= '9' && kOwnerName[1] >= '0' &&
                  kOwnerName[1] <= '9' && kOwnerName[2] >= '0' && kOwnerName[2] <= '9' &&
                  kOwnerName[3] >= '0' && kOwnerName[3] <= '9',
              "the owner name is four decimal digits");
// Kept as four separate constants so the name never sits whole in the binary.
constexpr char kOwner1 = kOwnerName[0];
constexpr char kOwner2 = kOwnerName[1];
constexpr char kOwner3 = kOwnerName[2];
constexpr char kOwner4 = kOwnerName[3];

using platform::LoadLe16;
using recmgr::kOpClose;
using recmgr::kOpCreate;
using recmgr::kOpGetDirect;
using recmgr::kOpGetEqual;
using recmgr::kOpGetGreater;
using recmgr::kOpGetGreaterOrEqual;
using recmgr::kOpGetLess;
using recmgr::kOpGetLessOrEqual;
using recmgr::kOpGetNext;
using recmgr::kOpGetPosition;
using recmgr::kOpGetPrevious;
using recmgr::kOpOpen;
using recmgr::kOpReset;
using recmgr::kOpStat;

// Where the Stat buffer's segment specifications start.
constexpr int kStatFirstSegment = recmgr::kFileSpecSize;

struct Slot {
  int16_t file_number = 0;
  std::array<uint8_t, recmgr::kPositionBlockSize> position_block{};
  uint8_t* record = nullptr;
  int32_t record_length = 0;
  int16_t key_number = 0;
  std::string key_value;
  int16_t lock_mode = kLockNone;
  // The length of every key of the file, from the last Stat (working
  // storage kept to spare an allocation per seek).
  std::vector<int16_t> key_lengths;

  void Free() { *this = Slot(); }
};

struct Layer {
  std::vector<Slot> slots;  // 0 is the scratch entry; created on first use
  std::string lock_stack;   // pairs (slot number, saved lock mode)
  RecordManagerFunction manager;
  std::array<uint8_t, kDataBufferSize> data{};
  std::array<uint8_t, kKeyBufferSize> key{};
  // data[data_blank_from..] are known to be blanks, so that a read fills
  // only what the last call may have written past its record.
  size_t data_blank_from = kDataBufferSize;
  // The slot FindSlot found last; checked against the table before use.
  int last_slot = 0;
};

// Made on first use and never destroyed: the slots outlive every static
// object that may still close a file. A plain pointer rather than a local
// static, as every record read asks for it several times.
Layer* g_layer = nullptr;

inline Layer& State() {
  if (g_layer == nullptr) g_layer = new Layer();
  return *g_layer;
}

void EnsureTable() {
  Layer& l = State();
  if (l.slots.empty()) l.slots.resize(kFileSlots + 1);
}

Status Call(uint16_t op, uint8_t* block, void* data, uint32_t* length, void* key,
            uint8_t key_length, int8_t key_number) {
  Layer& l = State();
  // Every call but a record read may leave anything in the data buffer.
  if (data == l.data.data()) l.data_blank_from = kDataBufferSize;
  if (l.manager) return l.manager(op, block, data, length, key, key_length, key_number);
  return recmgr::RecordManagerCall(op, block, data, length, key, key_length, key_number);
}

// --- 2. Slot lookup, names, key information ---------------------------------

// The slot holding file_number (> 0), else 0 with *free_slot the highest
// free slot (0 when none). File number 0 marks free slots and so names no
// file.
int FindSlot(int16_t file_number, int* free_slot) {
  EnsureTable();
  Layer& l = State();
  // A file number is open in one slot at most, and the report asks for the
  // same few files over and over.
  if (free_slot == nullptr && file_number != 0 && l.slots[l.last_slot].file_number == file_number) {
    return l.last_slot;
  }
  int free = 0;
  for (int i = 1; i <= kFileSlots; ++i) {
    if (l.slots[i].file_number == 0) {
      free = i;
    } else if (l.slots[i].file_number == file_number) {
      if (free_slot) *free_slot = free;
      l.last_slot = i;
      return i;
    }
  }
  if (free_slot) *free_slot = free;
  return 0;
}

Slot* OpenSlot(int16_t file_number) {
  if (file_number == 0) return nullptr;
  Layer& l = State();
  if (!l.slots.empty() && l.slots[l.last_slot].file_number == file_number) {
    return &l.slots[l.last_slot];
  }
  int slot = FindSlot(file_number, nullptr);
  return slot == 0 ? nullptr : &State().slots[slot];
}

// Stat into the working data buffer. The buffer is cleared first so that a
// failed Stat reads as a file without keys. Returns the Stat's status.
Status StatInto(Slot& s) {
  Layer& l = State();
  l.data.fill(0);
  l.key.fill(' ');
  uint32_t length = kDataBufferSize;
  return Call(kOpStat, s.position_block.data(), l.data.data(), &length, l.key.data(),
              kMaxKeyLength, 0);
}

// The record length and the length of every key of the file in s, from a
// Stat; a failed Stat reads as a file without keys. Keys whose segments run
// past the buffer are left out, with those after them.
Status ReadKeyInfo(Slot& s, int32_t& record_length, std::vector<int16_t>& key_lengths) {
  key_lengths.clear();
  const Status stat = StatInto(s);
  const uint8_t* d = State().data.data();
  record_length = LoadLe16(d + recmgr::kSpecRecordLength);
  const int keys = LoadLe16(d + recmgr::kSpecKeyCount);
  int at = kStatFirstSegment;
  for (int k = 0; k < keys; ++k) {
    int sum = 0;
    for (;;) {
      if (at + recmgr::kSegmentSpecSize > kDataBufferSize) return stat;
      sum += LoadLe16(d + at + recmgr::kSegLength);
      const uint16_t flags = LoadLe16(d + at + recmgr::kSegFlags);
      at += recmgr::kSegmentSpecSize;
      if ((flags & recmgr::kSegContinued) == 0) break;
    }
    key_lengths.push_back(static_cast<int16_t>(std::min(sum, 0x7FFF)));
  }
  return stat;
}

// Key length of key_number in the open file s, asked of the record manager
// each time (another program may have rebuilt the file with other keys);
// 0 for a key it does not have. *stat gets the Stat's status: a Stat that
// failed (an I/O error) is that failure, not a key the file lacks.
int16_t KeyLength(Slot& s, int16_t key_number, Status* stat) {
  int32_t record_length = 0;
  *stat = ReadKeyInfo(s, record_length, s.key_lengths);
  if (key_number < 0 || static_cast<size_t>(key_number) >= s.key_lengths.size()) return 0;
  return s.key_lengths[static_cast<size_t>(key_number)];
}

// The bytes the record manager wrote into the key buffer, at most max_length
// of them. The whole key is taken, zero bytes included: binary key parts
// hold zeros, and cutting there would lose the rest of the key.
void TakeReturnedKey(Slot& s) {
  const size_t n = s.key_value.size();
  s.key_value.assign(reinterpret_cast<const char*>(State().key.data()), n);
}

// --- 3. Common operation and lock wait --------------------------------------

// One round of the lock wait after a locked answer. The message appears
// only when the second attempt is refused as well, so a lock that goes away
// during the first pause shows nothing; it is shown once per operation.
void LockWaitStep(int& attempts, bool& shown) {
  platform::Env& env = platform::CurrentEnv();
  if (attempts >= 1 && !shown) {
    CurrentDataFileUi().show_message(kLockWaitRow, LockWaitText(config::ModuleSettings().language));
    shown = true;
  }
  const int ms = static_cast<int>(std::lround(env.RandomFraction() * 10000.0 + 1.0));
  env.SleepMs(ms);
  if (attempts < 2) ++attempts;
}

void RecordFileOperate(Slot& s, uint16_t op, Status& status) {
  Layer& l = State();
  if (s.lock_mode != kLockNone && recmgr::IsReadOperation(op)) {
    op = static_cast<uint16_t>(op + recmgr::kLockNoWaitBias);
  }
  const size_t record_length = static_cast<size_t>(s.record_length);
  const size_t key_length = s.key_value.size();
  // The key buffer past the key: lowest bytes for a search from below,
  // highest for one from above. Decided on the operation as sent, so a
  // locking read (biased) gets blanks.
  uint8_t fill = ' ';
  if (op == kOpGetGreater || op == kOpGetGreaterOrEqual) fill = 0x00;
  if (op == kOpGetLess || op == kOpGetLessOrEqual) fill = 0xFF;
  // The engine reads neither the data buffer of a read nor the key buffer
  // past the key, and writes no more of a record than it is offered (nothing
  // when the read fails): its reads go straight into the caller's record,
  // without the blanks and the fill. A record manager put in its place
  // (SetRecordManager) is offered the buffers described above.
  const bool engine = !l.manager;
  int attempts = 0;
  bool shown = false;
  for (;;) {
    uint32_t length = static_cast<uint32_t>(record_length);
    std::memcpy(l.key.data(), s.key_value.data(), key_length);
    if (engine) {
      status = recmgr::RecordManagerCall(op, s.position_block.data(), s.record, &length,
                                         l.key.data(), static_cast<uint8_t>(key_length),
                                         static_cast<int8_t>(s.key_number));
    } else {
      // The record manager sees the caller's record followed by blanks.
      std::memcpy(l.data.data(), s.record, record_length);
      if (l.data_blank_from > record_length) {
        std::memset(l.data.data() + record_length, ' ', l.data_blank_from - record_length);
      }
      std::memset(l.key.data() + key_length, fill, kKeyBufferSize - key_length);
      status = Call(op, s.position_block.data(), l.data.data(), &length, l.key.data(),
                    static_cast<uint8_t>(key_length), static_cast<int8_t>(s.key_number));
      // It was offered record_length bytes; a length past them says it may
      // have written further.
      l.data_blank_from = length <= record_length ? record_length : kDataBufferSize;
      std::memcpy(s.record, l.data.data(), std::min<size_t>(length, record_length));
    }
    std::memcpy(s.key_value.data(), l.key.data(), key_length);  // the same length
    if ((status == kStatusRecordLocked || status == kStatusFileLocked) &&
        s.lock_mode == kLockWait) {
      LockWaitStep(attempts, shown);
      continue;
    }
    break;
  }
  if (shown) CurrentDataFileUi().remove_message();
}

// The open failure path: message, reset, end of the program.
void OpenFailure(const std::string& logical_name, Status status) {
  const DataFileUi& ui = CurrentDataFileUi();
  // The server's reason, when the file lives there, follows the status.
  const std::string reason = ServerFailureText(status);
  ui.open_failure(OpenFailureMessage(config::ModuleSettings().language, logical_name, status) +
                  (reason.empty() ? "" : ": " + reason));
  Status reset = 0;
  RecordFilesReset(reset);
  ui.end_program();
}

// Creates the file from its definition file. A missing definition is not
// created; a short one or one the record manager refuses fails the create.
Status CreateFromDefinition(Slot& s, const std::string& path, const std::string& base) {
  Layer& l = State();
  const std::string definition = config::ModuleSettings().root_dir + "ddf\\" + base + ".xdf";
  std::unique_ptr<platform::RandomAccessFile> file =
      platform::CurrentEnv().OpenForReading(definition);
  if (!file) return kStatusFileNotFound;
  std::string bytes;
  if (!file->Read(0, 2, &bytes) || bytes.size() < 2) return recmgr::kInvalidDefinition;
  const size_t count = LoadLe16(reinterpret_cast<const uint8_t*>(bytes.data()));
  if (count > static_cast<size_t>(kDataBufferSize)) return recmgr::kInvalidDefinition;
  if (!file->Read(2, count, &bytes) || bytes.size() < count) return recmgr::kInvalidDefinition;
  l.data.fill(' ');
  std::memcpy(l.data.data(), bytes.data(), count);
  uint32_t length = kDataBufferSize;
  std::string key = path;
  return Call(kOpCreate, s.position_block.data(), l.data.data(), &length, key.data(),
              static_cast<uint8_t>(key.size()), recmgr::kCreateNoReplace);
}

}  // namespace

// --- 4. Calls ---------------------------------------------------------------

std::string ResolveRecordFileName(const std::string& logical_name) {
  bool has_extension = false;
  for (size_t i = logical_name.size(); i > 0; --i) {
    const char c = logical_name[i - 1];
    if (c == ':' || c == '\\' || c == '/') break;
    if (c == '.') has_extension = true;
  }
  return has_extension ? logical_name : logical_name + ".dat";
}

std::string RecordFileBaseName(const std::string& logical_name) {
  size_t start = logical_name.find_last_of(":\\/");
  start = start == std::string::npos ? 0 : start + 1;
  const std::string last = logical_name.substr(start);
  return last.substr(0, last.find('.'));
}

std::string RecordFileOwnerName() {
  return std::string{kOwner1, kOwner2, kOwner3, kOwner4};
}

void SetRecordManager(RecordManagerFunction function) {
  State().manager = std::move(function);
}

void RecordFilesReset(Status& status) {
  EnsureTable();
  Layer& l = State();
  Slot& scratch = l.slots[0];
  scratch.position_block.fill(' ');
  uint8_t data[4] = {0, 0, 0, 0};
  uint8_t key[4] = {0, 0, 0, 0};
  uint32_t length = 0;
  status = Call(kOpReset, scratch.position_block.data(), data, &length, key, 0, 0);
  scratch.position_block.fill(0);
  if (status != 0) return;
  for (int i = 1; i <= kFileSlots; ++i) l.slots[i].Free();
}

void RecordFileOpen(int16_t file_number, const std::string& logical_name, void* record_buffer,
                    Status& status) {
  int free_slot = 0;
  // File number 0 is what marks a free slot, so it reads as already open
  // while any slot is free, and as no free slot once all are taken.
  if (FindSlot(file_number, &free_slot) != 0 || (file_number == 0 && free_slot != 0)) {
    status = kStatusAlreadyOpen;
    return;
  }
  if (free_slot == 0) {
    status = kStatusNoFreeSlot;
    return;
  }
  Layer& l = State();
  Slot& s = l.slots[free_slot];
  s.Free();
  s.file_number = file_number;
  s.record = static_cast<uint8_t*>(record_buffer);

  const std::string path = ResolveRecordFileName(logical_name);
  std::string key = path;
  key.push_back('\0');
  char owner[5] = {kOwner1, kOwner2, kOwner3, kOwner4, '\0'};
  Status st = 0;
  if (path.size() > static_cast<size_t>(kMaxPathLength)) {
    st = kStatusFileNotFound;  // a name the record manager cannot take
  } else {
    bool created = false;
    for (;;) {
      uint32_t length = sizeof(owner);
      st = Call(kOpOpen, s.position_block.data(), owner, &length, key.data(),
                static_cast<uint8_t>(path.size()), 0);
      if (st == kStatusFileLocked) {
        platform::CurrentEnv().SleepMs(kOpenRetryMs);
        continue;
      }
      // One create only: a file that is still missing after it will not
      // appear by creating it again.
      if (st == kStatusFileNotFound && !created) {
        created = true;
        st = CreateFromDefinition(s, path, RecordFileBaseName(logical_name));
        if (st == 0) continue;
      }
      break;
    }
  }
  if (st == 0) {
    int32_t record_length = 0;
    const Status stat = ReadKeyInfo(s, record_length, s.key_lengths);
    const int16_t key_length = s.key_lengths.empty() ? 0 : s.key_lengths[0];
    if (stat != 0) {
      st = stat;  // the file could not be asked, which is no bad definition
    } else if (record_length <= 0 || record_length > kDataBufferSize) {
      st = recmgr::kInvalidRecordLength;
    } else if (key_length <= 0 || key_length > kMaxKeyLength) {
      st = recmgr::kInvalidKeyLength;
    } else {
      s.record_length = record_length;
      s.key_value.assign(static_cast<size_t>(key_length), '\0');
      status = 0;
      return;
    }
    uint32_t length = 0;
    Call(kOpClose, s.position_block.data(), l.data.data(), &length, l.key.data(), 0, 0);
  }
  s.Free();
  status = st;
  OpenFailure(logical_name, st);
}

void RecordFileSeek(int16_t file_number, int16_t key_number, const std::string& key_value,
                    int16_t direction, Status& status) {
  Slot* s = OpenSlot(file_number);
  if (s == nullptr) {
    status = kStatusFileNotOpen;
    return;
  }
  Status stat = 0;
  const int16_t key_length = KeyLength(*s, key_number, &stat);
  if (key_length <= 0 || key_length > kMaxKeyLength) {
    status = stat != 0 ? stat : kStatusKeyNotDefined;
    return;
  }
  s->key_number = key_number;
  s->key_value = key_value;
  s->key_value.resize(static_cast<size_t>(key_length), '\0');
  const uint16_t op = direction == 0  ? kOpGetEqual
                      : direction > 0 ? kOpGetGreaterOrEqual
                                      : kOpGetLessOrEqual;
  status = 0;
  RecordFileOperate(*s, op, status);
  if (status == kStatusDataBufferShort) status = 0;
}

void RecordFileSkip(int16_t file_number, int16_t count, Status& status) {
  Slot* s = OpenSlot(file_number);
  if (s == nullptr) {
    status = kStatusFileNotOpen;
    return;
  }
  Layer& l = State();
  const uint16_t op = count >= 0 ? kOpGetNext : kOpGetPrevious;
  int n = std::abs(static_cast<int>(count));
  status = 0;
  while (n > 1 && status == 0) {
    uint32_t length = kDataBufferSize;
    l.key.fill(0);
    status = Call(op, s->position_block.data(), l.data.data(), &length, l.key.data(), 0,
                  static_cast<int8_t>(s->key_number));
    if (status == 0 || status == kStatusDataBufferShort) TakeReturnedKey(*s);
    if (status == kStatusDataBufferShort) status = 0;
    --n;
  }
  if (n != 0 && status == 0) RecordFileOperate(*s, op, status);
  if (status == kStatusDataBufferShort) status = 0;
}

int32_t RecordFileCurrentPosition(int16_t file_number) {
  Slot* s = OpenSlot(file_number);
  if (s == nullptr) return 0;
  Layer& l = State();
  l.key.fill(0);
  uint32_t length = kDataBufferSize;
  Status st =
      Call(kOpGetPosition, s->position_block.data(), l.data.data(), &length, l.key.data(), 0, 0);
  if (st != 0) return 0;
  return static_cast<int32_t>(platform::LoadLe32(l.data.data()));
}

PositionOrStatus RecordFilePosition(int16_t file_number, int32_t position) {
  return position == 0 ? RecordFileCurrentPosition(file_number)
                       : RecordFileReadAt(file_number, position);
}

Status RecordFileReadAt(int16_t file_number, int32_t position) {
  Slot* s = OpenSlot(file_number);
  if (s == nullptr) return kStatusFileNotOpen;
  Layer& l = State();
  l.key.fill(0);
  uint32_t length = kDataBufferSize;
  l.data.fill(' ');
  platform::StoreLe32(l.data.data(), static_cast<uint32_t>(position));
  Status st = Call(kOpGetDirect, s->position_block.data(), l.data.data(), &length, l.key.data(), 0,
                   static_cast<int8_t>(s->key_number));
  if (st == 0 || st == kStatusDataBufferShort) TakeReturnedKey(*s);
  if (st == kStatusDataBufferShort) st = 0;
  if (st == 0) {
    std::memcpy(s->record, l.data.data(),
                std::min<size_t>(length, static_cast<size_t>(s->record_length)));
  }
  return st;
}

std::string RecordFileKeyForm(const std::string& key_value, int16_t file_number) {
  Slot* s = OpenSlot(file_number);
  if (s == nullptr) return key_value;
  StatInto(*s);
  const uint8_t* d = State().data.data();
  const int keys = LoadLe16(d + recmgr::kSpecKeyCount);
  // The segment list, with the start of each key, bounded by the buffer.
  int at = kStatFirstSegment;
  int first_of_current = -1;
  int segments_of_current = 0;
  for (int k = 0; k < keys; ++k) {
    if (k == s->key_number) first_of_current = at;
    for (;;) {
      if (at + recmgr::kSegmentSpecSize > kDataBufferSize) return key_value;
      const uint16_t flags = LoadLe16(d + at + recmgr::kSegFlags);
      at += recmgr::kSegmentSpecSize;
      if (k == s->key_number) ++segments_of_current;
      if ((flags & recmgr::kSegContinued) == 0) break;
    }
  }
  if (first_of_current < 0) return key_value;
  const int table = at + recmgr::kAltIdentSize;
  const bool table_fits = table + recmgr::kAltTableSize <= kDataBufferSize;
  std::string value = key_value;
  size_t p = 1;
  for (int i = 0; i < segments_of_current; ++i) {
    const uint8_t* seg = d + first_of_current + i * recmgr::kSegmentSpecSize;
    const size_t length = LoadLe16(seg + recmgr::kSegLength);
    const uint16_t flags = LoadLe16(seg + recmgr::kSegFlags);
    if (flags & recmgr::kSegBinary) {
      if (value.size() < p + length - 1) value.resize(p + length - 1, '\0');
      std::reverse(value.begin() + static_cast<std::ptrdiff_t>(p - 1),
                   value.begin() + static_cast<std::ptrdiff_t>(p - 1 + length));
    } else if ((flags & recmgr::kSegAlternate) && table_fits) {
      for (size_t j = p - 1; j < p - 1 + length && j < value.size(); ++j) {
        value[j] = static_cast<char>(d[table + static_cast<uint8_t>(value[j])]);
      }
    }
    p += length;
  }
  return value;
}

std::string RecordFileCurrentKeyForm(int16_t file_number) {
  Slot* s = OpenSlot(file_number);
  if (s == nullptr) return std::string();
  return RecordFileKeyForm(s->key_value, file_number);
}

void RecordFileSetLockMode(int16_t file_number, const std::string& mode_letters, Status& status) {
  const int slot = file_number == 0 ? 0 : FindSlot(file_number, nullptr);
  if (slot == 0) {
    status = kStatusFileNotOpen;
    return;
  }
  Layer& l = State();
  Slot& s = l.slots[slot];
  for (char c : mode_letters) {
    switch (platform::UpperAnsiCopy(std::string(1, c))[0]) {
      case 'D':
        s.lock_mode = kLockNone;
        break;
      case 'A':
        s.lock_mode = kLockWait;
        break;
      case 'B':
        s.lock_mode = kLockNoWait;
        break;
      case '+':
        l.lock_stack.push_back(static_cast<char>(slot));
        l.lock_stack.push_back(static_cast<char>(s.lock_mode));
        break;
      case '-':
        for (size_t i = l.lock_stack.size(); i >= 2; i -= 2) {
          if (static_cast<uint8_t>(l.lock_stack[i - 2]) == slot) {
            s.lock_mode = static_cast<int16_t>(static_cast<uint8_t>(l.lock_stack[i - 1]));
            l.lock_stack.erase(i - 2, 2);
            break;
          }
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace datafiles
