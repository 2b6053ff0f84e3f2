#include "recmgr/file_definition.h"

#include <cstring>

#include "recmgr/record_manager.h"

namespace recmgr {
namespace {

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void Put16(std::string* s, size_t at, uint16_t v) {
  (*s)[at] = static_cast<char>(v & 0xFF);
  (*s)[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
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
  def.record_length = Get16(data);
  def.page_size = Get16(data + 2);
  const int key_count = Get16(data + 4);
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
      seg.position = Get16(data + at);
      seg.length = Get16(data + at + 2);
      seg.flags = Get16(data + at + 4);
      seg.null_value = data[at + 11];
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
  Put16(&s, 0, def.record_length);
  Put16(&s, 2, def.page_size);
  Put16(&s, 4, static_cast<uint16_t>(def.keys.size()));
  Put32(&s, 6, record_count);
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
      Put16(&s, at, seg.position);
      Put16(&s, at + 2, seg.length);
      Put16(&s, at + 4, flags);
      Put32(&s, at + 6, d);
      s[at + 11] = static_cast<char>(seg.null_value);
      at += kSegmentSpecSize;
    }
  }
  if (def.has_alternate) {
    std::memcpy(s.data() + at, def.alternate_ident.data(), kAltIdentSize);
    std::memcpy(s.data() + at + kAltIdentSize, def.alternate_table.data(), kAltTableSize);
  }
  return s;
}

void ExtractKey(const Key& key, const uint8_t* record, uint8_t* out) {
  for (const Segment& seg : key.segments) {
    std::memcpy(out, record + seg.position - 1, seg.length);
    out += seg.length;
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
