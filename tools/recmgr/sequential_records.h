// The reader of the sequential format that "recmgr load" takes: per record
// its length in decimal (1 to 6 digits), ",", the bytes, CR LF; the file
// ends with Ctrl-Z, followed by nothing but an optional line end (LF or
// CR LF).
#ifndef TELVORAN_TOOLS_RECMGR_SEQUENTIAL_RECORDS_H_
#define TELVORAN_TOOLS_RECMGR_SEQUENTIAL_RECORDS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace recmgr_tool {

// What one step over the text at a place found.
enum class Step { kRecord, kEnd, kNeedMore, kBadLength, kBadEnding };

// Reads the record that starts at text[at]: kRecord with *record (a view
// into text) and *next, kEnd at the Ctrl-Z, kNeedMore when the text stops
// before either is whole (more text may complete it), or the fault.
Step NextSequentialRecord(std::string_view text, size_t at, std::string_view* record,
                          size_t* next);

// Splits text into its records, views into text (which must outlive them).
// Returns false at the first malformed record, with *error naming it (a
// bad length or a bad record ending), when the text ends without its
// Ctrl-Z, or when more than a line end follows the Ctrl-Z (the message
// names its offset); the records before are in *records then. The messages are code
// page 850 in the installation's language, through the locale file.
bool ParseSequentialRecords(std::string_view text, std::vector<std::string_view>* records,
                            std::string* error);

// The records of a sequential file read from a descriptor in batches, so
// that memory stays flat whatever the file's size.
class SequentialReader {
 public:
  // chunk: the bytes read at a time (small ones for tests of records that
  // straddle reads).
  explicit SequentialReader(int fd, size_t chunk = 1 << 20) : fd_(fd), chunk_(chunk) {}
  // Replaces *batch with the next records (views valid until the next
  // call); an empty batch after the Ctrl-Z. False on a malformed record, a
  // read error, a file without its Ctrl-Z or with more than a line end
  // after it, with error() saying which.
  bool Next(std::vector<std::string_view>* batch);
  const std::string& error() const { return error_; }

 private:
  bool Fill();
  int fd_;
  size_t chunk_;
  std::string buf_;
  size_t at_ = 0;
  bool eof_ = false;
  bool ended_ = false;
  int64_t records_ = 0;
  uint64_t consumed_ = 0;  // bytes of the file before buf_
  std::string error_;
};

}  // namespace recmgr_tool

#endif  // TELVORAN_TOOLS_RECMGR_SEQUENTIAL_RECORDS_H_
