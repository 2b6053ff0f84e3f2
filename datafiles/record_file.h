// The record file layer: the program's only road to its data files. A
// caller opens a file under a file number of its choosing and registers its
// record buffer; every later read copies the record found into that buffer.
// The layer keeps, per file, the record manager's position block, the
// current key number and the current key value, so callers issue searches
// and moves without handling keys or positions.
//
// Single-threaded. The slot table and the registered buffers live until the
// process ends; a registered buffer must stay valid and hold at least the
// file's record length until RecordFilesReset. A failed read leaves the
// bytes the record manager did not write as the caller had them, which the
// report relies on for its default texts.
#ifndef TELVORAN_DATAFILES_RECORD_FILE_H_
#define TELVORAN_DATAFILES_RECORD_FILE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/types.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

namespace datafiles {

using platform::Status;

inline constexpr int kFileSlots = 40;
inline constexpr int kDataBufferSize = recmgr::kMaxRecordLength;  // the longest record
inline constexpr int kMaxKeyLength = recmgr::kMaxKeyLength;
inline constexpr int kKeyBufferSize = kMaxKeyLength + 1;
inline constexpr int kMaxPathLength = 255;

// Statuses the layer produces or relies on: the record manager's, and the
// layer's own from 1002 on.
inline constexpr Status kStatusFileNotOpen = recmgr::kFileNotOpen;
inline constexpr Status kStatusFileNotFound = recmgr::kFileNotFound;
inline constexpr Status kStatusDataBufferShort = recmgr::kDataBufferShort;
inline constexpr Status kStatusRecordLocked = recmgr::kRecordLocked;
inline constexpr Status kStatusFileLocked = recmgr::kFileLocked;
inline constexpr Status kStatusAlreadyOpen = 1002;
inline constexpr Status kStatusNoFreeSlot = 1003;
inline constexpr Status kStatusKeyNotDefined = 1004;

// Lock modes of a slot.
inline constexpr int16_t kLockNone = 0;
inline constexpr int16_t kLockWait = 1;
inline constexpr int16_t kLockNoWait = 2;

// Milliseconds between open attempts on a file locked by another program.
inline constexpr int kOpenRetryMs = 3000;

// Releases everything held in the record manager; on success frees all
// slots (the lock mode stack is kept).
void RecordFilesReset(Status& status);

// Opens logical_name ("DADES\PagamH": ".dat" is added when the last
// component has no extension) under file_number. A missing file is created
// from root + "ddf\" + base name + ".xdf" and opened again. 1002 / 1003 come
// back as statuses; any other failure shows the open failure message, resets
// the layer and calls DataFileUi::end_program; when that returns, status is
// the failure.
void RecordFileOpen(int16_t file_number, const std::string& logical_name, void* record_buffer,
                    Status& status);

// Makes key_number current and reads the record for key_value (padded with
// zero bytes or cut to the key length): direction 0 equal, above 0 the first
// key greater or equal, below 0 the last key less or equal.
void RecordFileSeek(int16_t file_number, int16_t key_number, const std::string& key_value,
                    int16_t direction, Status& status);

// Moves count records along the current key (negative: backwards) and reads
// the record reached; only the last step is copied and locked.
void RecordFileSkip(int16_t file_number, int16_t count, Status& status);

// The physical position of the current record (0 when there is none, or
// the file number is not open).
int32_t RecordFileCurrentPosition(int16_t file_number);
// Reads the record at position (> 0) into the registered buffer and makes it
// current; 3 for a file number that is not open.
Status RecordFileReadAt(int16_t file_number, int32_t position);

// The two above in the one call of the classic interface: position 0 gives
// RecordFileCurrentPosition (a position), any other position gives
// RecordFileReadAt (a status). The type says that it is either.
using PositionOrStatus = int32_t;
PositionOrStatus RecordFilePosition(int16_t file_number, int32_t position);

// The key value in a form whose plain byte order is the file's order along
// the current key (binary segments reversed, alternate-collating segments
// translated). Unchanged for a file number that is not open.
std::string RecordFileKeyForm(const std::string& key_value, int16_t file_number);
// The same form of the current key value; empty when not open.
std::string RecordFileCurrentKeyForm(int16_t file_number);

// Applies the mode letters in order: D no locking, A lock and wait, B lock
// without waiting, + saves the slot's mode on the shared stack, - restores
// the slot's last saved mode. 3 when not open; otherwise status is kept.
void RecordFileSetLockMode(int16_t file_number, const std::string& mode_letters, Status& status);

// The resolved path of a logical name, and its base name (last component
// up to its first dot).
std::string ResolveRecordFileName(const std::string& logical_name);
std::string RecordFileBaseName(const std::string& logical_name);

// The four-digit owner name the layer opens files with.
std::string RecordFileOwnerName();

// The record manager seam. Tests install wrappers (a lock status on the Nth
// call); an empty function restores the engine.
using RecordManagerFunction = std::function<Status(
    uint16_t operation, uint8_t* position_block, void* data_buffer, uint32_t* data_length,
    void* key_buffer, uint8_t key_length, int8_t key_number)>;
void SetRecordManager(RecordManagerFunction function);

}  // namespace datafiles

#endif  // TELVORAN_DATAFILES_RECORD_FILE_H_
