// BrowseList: the framed list that F4 opens on a form field. It reads a data
// file lazily in key order within the key range the module gives, turns each
// record into a display line through the module's line builder, caches the
// lines in "Browse.tmp" in the temporary folder so the user can scroll back,
// page by page and sideways, without re-reading the data file, and on Enter
// makes the chosen record the data file's current record again.
//
// Single-threaded. The hooks are installed once by the driver and live for
// the whole process; the cache file exists only while a list is open.
//
// Cache file "Browse.tmp" (1-based byte positions, one entry per shown
// record, in reading order, nothing before the first entry):
//   offset  size  content
//   0       4     back link: int32 LE, position of the previous entry's
//                 first byte; 0 in the first entry
//   4       4     record position: int32 LE, the record's physical position
//                 as RecordFileCurrentPosition reports it
//   8       2     line length: int16 LE
//   10      n     the display line, trailing blanks removed
// Another process may leave a damaged file behind (a list without a data
// file shows whatever the file holds), so every entry is checked by
// DecodeBrowseEntry before it is used.
#ifndef TELVORAN_CONSOLE_BROWSE_LIST_H_
#define TELVORAN_CONSOLE_BROWSE_LIST_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace console {

// Browse list attribute numbers. Must match the form file's order of items.
enum BrowseAttribute : int {
  kBrowseFile = 0,  // data file number; 0 = show the cache as it is
  kBrowseKey = 1,   // key number the file is read by
  kBrowseTop = 2,   // window rectangle, absolute, frame included
  kBrowseLeft = 3,
  kBrowseBottom = 4,
  kBrowseRight = 5,
  kBrowseFilterForm = 6,  // form run before the list opens; 0 = none
  kBrowseLinkedList = 7,  // list opened with F4 from inside; 0 = none
};

// The module's side of a browse list, installed by the driver (the kit does
// not link the module).
struct BrowseHooks {
  // The key range of a list: the lowest key to start from, the highest key
  // to stop after (empty: no upper bound), and a status; not 0 keeps the
  // list closed and becomes its result. Not installed: the whole file.
  std::function<int16_t(int16_t list, std::string& lowest, std::string& highest)> start_key;
  // The display line of the data file's current record; an empty line skips
  // the record. Not installed: every record is skipped.
  std::function<std::string(int16_t list)> line;
  // The module's browse transfer, called with form 0 and field 0 after a
  // record was chosen in a linked list (F4 inside a list).
  std::function<int16_t(int16_t list, int16_t form, int16_t field)> transfer;
};
void SetBrowseHooks(BrowseHooks hooks);

// Result values besides the data layer's statuses.
inline constexpr int16_t kBrowseResultChosen = 0;
inline constexpr int16_t kBrowseResultLeft = -1;

// Runs browse list `list` of Forms().lists. result: 0 when a record was
// chosen (with a data file it is then the file's current record), -1 when
// the user left without choosing (or the list cannot be shown: undefined
// list, window outside the screen, a cache file that cannot be created or
// written, which a message window says until a key is pressed), or a
// non-zero status from the data layer or the key-range hook.
void BrowseList(int16_t& list, int16_t& result);

// The cache file's path: temporary folder + "Browse.tmp".
std::string BrowseCachePath();

// What the terminal's signal handlers run while a list is open: the cache
// goes, as it would on closing. Async-signal-safe; callable
// directly in tests.
void RemoveBrowseCacheAfterSignal();

// One cache entry.
inline constexpr int kBrowseEntryHeaderSize = 10;
inline constexpr int32_t kBrowseMaxLineLength = 32767;
struct BrowseEntry {
  int32_t back_link = 0;
  int32_t record_position = 0;
  std::string line;
  bool operator==(const BrowseEntry&) const = default;
};

// The bytes of an entry: header and line. REQUIRES: the line is at most
// kBrowseMaxLineLength bytes.
std::string EncodeBrowseEntry(const BrowseEntry& entry);

// Decodes the entry at 1-based cache position `position` from `bytes`, the
// cache's bytes from that position on (bytes after the entry are ignored).
// Fails (nullopt) for a damaged entry: fewer bytes than the header and the
// line need, a negative line length, a back link that is negative or does
// not point at least a header's length before the entry, or a position that
// is not positive. Never reads outside `bytes`.
std::optional<BrowseEntry> DecodeBrowseEntry(std::string_view bytes, int32_t position);

}  // namespace console

#endif  // TELVORAN_CONSOLE_BROWSE_LIST_H_
