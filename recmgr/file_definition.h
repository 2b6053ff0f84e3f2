// The file definition: record length, keys and their segments, and the
// alternate collating table, decoded from the Create buffer and encoded back
// as the Stat buffer. Also the two key transforms the engine relies on: the
// raw key taken out of a record and its comparable form, whose plain byte
// order is the key's order.
//
// Create / Stat buffer, all integers little-endian:
//
//   file specification (16 bytes)
//   | offset | size | field                                   |
//   |      0 |    2 | record length (1..1536)                 |
//   |      2 |    2 | page size (informational)               |
//   |      4 |    2 | number of keys                          |
//   |      6 |    4 | record count (Stat only)                |
//   |     10 |    2 | file flags (0)                          |
//   |     12 |    4 | zero                                    |
//   segment specification (16 bytes each, keys in order)
//   |     +0 |    2 | key position, 1-based                   |
//   |     +2 |    2 | segment length                          |
//   |     +4 |    2 | flags (kSeg*)                           |
//   |     +6 |    4 | distinct values of the key (Stat only)  |
//   |    +10 |    1 | extended type (0)                       |
//   |    +11 |    1 | null value                              |
//   |    +12 |    4 | zero                                    |
//   when any segment has kSegAlternate: 9 bytes of identification, then the
//   256-byte translation table.
#ifndef TELVORAN_RECMGR_FILE_DEFINITION_H_
#define TELVORAN_RECMGR_FILE_DEFINITION_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace recmgr {

inline constexpr int kMaxRecordLength = 1536;
inline constexpr int kMaxKeyLength = 255;
// Key numbers travel as signed bytes: keys 0 to 127.
inline constexpr int kMaxKeys = 128;
inline constexpr int kFileSpecSize = 16;
inline constexpr int kSegmentSpecSize = 16;
inline constexpr int kAltIdentSize = 9;
inline constexpr int kAltTableSize = 256;

// Field offsets of the layout above: in the file specification, and in a
// segment specification from its start.
inline constexpr int kSpecRecordLength = 0;
inline constexpr int kSpecPageSize = 2;
inline constexpr int kSpecKeyCount = 4;
inline constexpr int kSpecRecordCount = 6;
inline constexpr int kSegPosition = 0;
inline constexpr int kSegLength = 2;
inline constexpr int kSegFlags = 4;
inline constexpr int kSegDistinct = 6;
inline constexpr int kSegNullValue = 11;

// Segment flags (the record file layer reads them from the Stat buffer).
inline constexpr uint16_t kSegDuplicates = 0x0001;
inline constexpr uint16_t kSegModifiable = 0x0002;
inline constexpr uint16_t kSegBinary = 0x0004;
inline constexpr uint16_t kSegContinued = 0x0010;
inline constexpr uint16_t kSegAlternate = 0x0020;
inline constexpr uint16_t kSegDescending = 0x0040;

struct Segment {
  uint16_t position = 1;  // 1-based offset in the record
  uint16_t length = 0;
  uint16_t flags = 0;
  uint8_t null_value = 0;
};

struct Key {
  std::vector<Segment> segments;
  int length = 0;  // sum of the segment lengths
  bool duplicates = false;
  bool modifiable = false;
};

struct FileDefinition {
  uint16_t record_length = 0;
  uint16_t page_size = 0;
  std::vector<Key> keys;
  bool has_alternate = false;
  std::array<uint8_t, kAltIdentSize> alternate_ident{};
  std::array<uint8_t, kAltTableSize> alternate_table{};

  int SegmentCount() const;
  // Bytes of the Create / Stat layout for this definition.
  size_t EncodedSize() const;
};

// Decodes a Create buffer of length bytes. Refuses a record length of 0 or
// above 1536, no keys, a key longer than 255, a segment outside the record
// and a buffer shorter than the layout it describes; *out is then untouched.
platform::Status DecodeDefinition(const uint8_t* data, size_t length, FileDefinition* out);

// The Stat layout. distinct holds one count per key (missing ones read as 0).
std::string EncodeDefinition(const FileDefinition& def, uint32_t record_count,
                             const std::vector<uint32_t>& distinct);

// REQUIRES: record holds def.record_length bytes; out has key.length bytes.
void ExtractKey(const Key& key, const uint8_t* record, uint8_t* out);

// A key's bytes in the record as runs of segments that follow each other
// there, worked out once for a key that is extracted from many records.
struct KeySpan {
  uint16_t offset = 0;  // 0-based
  uint16_t length = 0;
};
std::vector<KeySpan> KeySpans(const Key& key);

// ExtractKey by the key's spans.
void ExtractSpans(const std::vector<KeySpan>& spans, const uint8_t* record, uint8_t* out);

// The comparable form of a raw key of key.length bytes: binary segments
// reversed, alternate segments translated, descending segments inverted.
void ComparableForm(const FileDefinition& def, const Key& key, const uint8_t* raw,
                    std::string* out);

}  // namespace recmgr

#endif  // TELVORAN_RECMGR_FILE_DEFINITION_H_
