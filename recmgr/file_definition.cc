#include "recmgr/file_definition.h"

#include <cstring>

#include "platform/little_endian.h"
#include "recmgr/record_manager.h"

namespace recmgr {
namespace {

using platform::LoadLe16;

void Put16(std::string* s, size_t at, uint16_t v) {
  platform::StoreLe16(s->data() + at, v);
}

void Put32(std::string* s, size_t at, uint32_t v) {
  platform::StoreLe32(s->data() + at, v);
}

}  // namespace

int FileDefinition::SegmentCount() const {
  int n = 0;
  for (const Key& k : keys) n += static_cast<int>(k.segments.size());
  return n;
}

size_t FileDefinition::EncodedSize() const {
  size_t n = kFileSpecSize + kSegmentSpecSize * static_cast<size_t>(SegmentCount());
  if (has_alternate) n += kAltIdentSize + kAltTableSize;
  return n;
}

platform::Status DecodeDefinition(const uint8_t* data, size_t length, FileDefinition* out) {
  if (data == nullptr || length < kFileSpecSize) return kInvalidDefinition;
  FileDefinition def;
  def.record_length = LoadLe16(data + kSpecRecordLength);
  def.page_size = LoadLe16(data + kSpecPageSize);
  const int key_count = LoadLe16(data + kSpecKeyCount);
  if (def.record_length == 0 || def.record_length > kMaxRecordLength) {
    return kInvalidRecordLength;
  }
  if (key_count == 0 || key_count > kMaxKeys) return kInvalidDefinition;
  size_t at = kFileSpecSize;
  for (int k = 0; k < key_count; ++k) {
    Key key;
    for (;;) {
      if (at + kSegmentSpecSize > length) return kInvalidDefinition;
      Segment seg;
      seg.position = LoadLe16(data + at + kSegPosition);
      seg.length = LoadLe16(data + at + kSegLength);
      seg.flags = LoadLe16(data + at + kSegFlags);
      seg.null_value = data[at + kSegNullValue];
      at += kSegmentSpecSize;
      if (seg.position == 0 || seg.length == 0 ||
          static_cast<int>(seg.position) + seg.length - 1 > def.record_length) {
        return kInvalidKeyPosition;
      }
      if (key.segments.empty()) {
        key.duplicates = (seg.flags & kSegDuplicates) != 0;
        key.modifiable = (seg.flags & kSegModifiable) != 0;
      }
      if (seg.flags & kSegAlternate) def.has_alternate = true;
      key.length += seg.length;
      if (key.length > kMaxKeyLength) return kInvalidKeyLength;
      key.segments.push_back(seg);
      if ((seg.flags & kSegContinued) == 0) break;
    }
    def.keys.push_back(std::move(key));
  }
  if (def.has_alternate) {
    if (at + kAltIdentSize + kAltTableSize > length) return kInvalidDefinition;
    std::memcpy(def.alternate_ident.data(), data + at, kAltIdentSize);
    std::memcpy(def.alternate_table.data(), data + at + kAltIdentSize, kAltTableSize);
  }
  *out = std::move(def);
  return kOk;
}

std::string EncodeDefinition(const FileDefinition& def, uint32_t record_count,
                             const std::vector<uint32_t>& distinct) {
  std::string s(def.EncodedSize(), '\0');
  Put16(&s, kSpecRecordLength, def.record_length);
  Put16(&s, kSpecPageSize, def.page_size);
  Put16(&s, kSpecKeyCount, static_cast<uint16_t>(def.keys.size()));
  Put32(&s, kSpecRecordCount, record_count);
  size_t at = kFileSpecSize;
  for (size_t k = 0; k < def.keys.size(); ++k) {
    const uint32_t d = k < distinct.size() ? distinct[k] : 0;
    const Key& key = def.keys[k];
    for (size_t i = 0; i < key.segments.size(); ++i) {
      const Segment& seg = key.segments[i];
      uint16_t flags = seg.flags;
      // The chain marker follows the layout, whatever the caller wrote.
      if (i + 1 < key.segments.size()) {
        flags |= kSegContinued;
      } else {
        flags &= static_cast<uint16_t>(~kSegContinued);
      }
      Put16(&s, at + kSegPosition, seg.position);
      Put16(&s, at + kSegLength, seg.length);
      Put16(&s, at + kSegFlags, flags);
      Put32(&s, at + kSegDistinct, d);
      s[at + kSegNullValue] = static_cast<char>(seg.null_value);
      at += kSegmentSpecSize;
    }
  }
  if (def.has_alternate) {
    std::memcpy(s.data() + at, def.alternate_ident.data(), kAltIdentSize);
    std::memcpy(s.data() + at + kAltIdentSize, def.alternate_table.data(), kAltTableSize);
  }
  return s;
}

namespace {

// Copies n bytes. A key's spans are short: fixed-size copies of the two
// overlapping ends compile to plain moves, where a memcpy call of a
// variable length costs more than the copy itself.
inline void CopyShort(uint8_t* out, const uint8_t* from, size_t n) {
  if (n <= 3) {
    if (n == 0) return;
    out[0] = from[0];
    out[n - 1] = from[n - 1];
    out[n / 2] = from[n / 2];
  } else if (n <= 8) {
    std::memcpy(out, from, 4);
    std::memcpy(out + n - 4, from + n - 4, 4);
  } else if (n <= 16) {
    std::memcpy(out, from, 8);
    std::memcpy(out + n - 8, from + n - 8, 8);
  } else {
    std::memcpy(out, from, n);
  }
}

}  // namespace

void ExtractKey(const Key& key, const uint8_t* record, uint8_t* out) {
  for (const Segment& seg : key.segments) {
    CopyShort(out, record + seg.position - 1, seg.length);
    out += seg.length;
  }
}

std::vector<KeySpan> KeySpans(const Key& key) {
  std::vector<KeySpan> spans;
  for (const Segment& seg : key.segments) {
    const uint16_t offset = static_cast<uint16_t>(seg.position - 1);
    if (!spans.empty() && spans.back().offset + spans.back().length == offset) {
      spans.back().length = static_cast<uint16_t>(spans.back().length + seg.length);
    } else {
      spans.push_back(KeySpan{offset, seg.length});
    }
  }
  return spans;
}

void ExtractSpans(const std::vector<KeySpan>& spans, const uint8_t* record, uint8_t* out) {
  for (const KeySpan& span : spans) {
    CopyShort(out, record + span.offset, span.length);
    out += span.length;
  }
}

void ComparableForm(const FileDefinition& def, const Key& key, const uint8_t* raw,
                    std::string* out) {
  out->resize(static_cast<size_t>(key.length));
  uint8_t* o = reinterpret_cast<uint8_t*>(out->data());
  for (const Segment& seg : key.segments) {
    if (seg.flags & kSegBinary) {
      for (int i = 0; i < seg.length; ++i) o[i] = raw[seg.length - 1 - i];
    } else if (seg.flags & kSegAlternate) {
      for (int i = 0; i < seg.length; ++i) o[i] = def.alternate_table[raw[i]];
    } else {
      std::memcpy(o, raw, seg.length);
    }
    if (seg.flags & kSegDescending) {
      for (int i = 0; i < seg.length; ++i) o[i] = static_cast<uint8_t>(~o[i]);
    }
    o += seg.length;
    raw += seg.length;
  }
}

}  // namespace recmgr
