// Helpers for tests that drive the real engine: file definitions built from
// segment lists and a small wrapper around one position block (scratch
// folders come from testsupport/scratch_dir.h).
#ifndef TELVORAN_RECMGR_TESTING_ENGINE_TEST_UTIL_H_
#define TELVORAN_RECMGR_TESTING_ENGINE_TEST_UTIL_H_

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

namespace recmgr::testing {

struct SegmentSpec {
  uint16_t position;
  uint16_t length;
  uint16_t flags = 0;
};

// The Create buffer for record_length and keys (the chain flag is set here).
inline std::string Definition(uint16_t record_length,
                              const std::vector<std::vector<SegmentSpec>>& keys,
                              const uint8_t* alternate_table = nullptr) {
  std::string out(kFileSpecSize, '\0');
  auto put16 = [&out](size_t at, uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
  };
  put16(0, record_length);
  put16(2, 4096);
  put16(4, static_cast<uint16_t>(keys.size()));
  for (const auto& key : keys) {
    for (size_t i = 0; i < key.size(); ++i) {
      size_t at = out.size();
      out.append(kSegmentSpecSize, '\0');
      put16(at, key[i].position);
      put16(at + 2, key[i].length);
      put16(at + 4, static_cast<uint16_t>(key[i].flags | (i + 1 < key.size() ? kSegContinued : 0)));
    }
  }
  if (alternate_table != nullptr) {
    out.append("UPPER    ", kAltIdentSize);
    out.append(reinterpret_cast<const char*>(alternate_table), kAltTableSize);
  }
  return out;
}

// One position block on one file.
class EngineFile {
 public:
  EngineFile() { std::memset(block_, 0, sizeof(block_)); }
  ~EngineFile() { Close(); }
  EngineFile(const EngineFile&) = delete;
  EngineFile& operator=(const EngineFile&) = delete;

  static Status Create(const std::string& path, const std::string& definition,
                       int8_t mode = kCreateNoReplace) {
    std::string data = definition;
    std::string key = path;
    uint32_t length = static_cast<uint32_t>(data.size());
    return RecordManagerCall(kOpCreate, nullptr, data.data(), &length, key.data(),
                             static_cast<uint8_t>(key.size()), mode);
  }

  Status Open(const std::string& path, const std::string& owner = "", int8_t mode = kOpenNormal) {
    std::string data = owner;
    data.push_back('\0');
    std::string key = path;
    key.push_back('\0');
    uint32_t length = static_cast<uint32_t>(data.size());
    return RecordManagerCall(kOpOpen, block_, data.data(), &length, key.data(),
                             static_cast<uint8_t>(path.size()), mode);
  }

  Status Close() {
    uint32_t length = 0;
    return RecordManagerCall(kOpClose, block_, nullptr, &length, nullptr, 0, 0);
  }

  Status Insert(const std::string& record, int8_t key = 0) {
    std::string data = record;
    uint32_t length = static_cast<uint32_t>(data.size());
    char k[256] = {};
    return RecordManagerCall(kOpInsert, block_, data.data(), &length, k, 255, key);
  }

  Status Update(const std::string& record) {
    std::string data = record;
    uint32_t length = static_cast<uint32_t>(data.size());
    char k[256] = {};
    return RecordManagerCall(kOpUpdate, block_, data.data(), &length, k, 255, 0);
  }

  Status Delete() {
    uint32_t length = 0;
    return RecordManagerCall(kOpDelete, block_, nullptr, &length, nullptr, 0, 0);
  }

  // A read; key_value goes in (for the searches) and the key found comes
  // back in *key_out.
  Status Get(uint16_t op, int8_t key, const std::string& key_value = "",
             std::string* record = nullptr, std::string* key_out = nullptr,
             uint32_t buffer = kMaxRecordLength) {
    std::string data(buffer, '\0');
    uint32_t length = buffer;
    char k[256] = {};
    std::memcpy(k, key_value.data(), std::min<size_t>(key_value.size(), 255));
    Status s = RecordManagerCall(op, block_, data.data(), &length, k,
                                 static_cast<uint8_t>(key_value.size()), key);
    if (record) *record = data.substr(0, length);
    if (key_out) *key_out = std::string(k, 255);
    return s;
  }

  Status Direct(uint32_t position, int8_t key, std::string* record = nullptr,
                uint16_t op = kOpGetDirect) {
    std::string data(kMaxRecordLength, ' ');
    for (int i = 0; i < 4; ++i) data[i] = static_cast<char>(position >> (8 * i));
    uint32_t length = kMaxRecordLength;
    char k[256] = {};
    Status s = RecordManagerCall(op, block_, data.data(), &length, k, 0, key);
    if (record) *record = data.substr(0, length);
    return s;
  }

  uint32_t Position() {
    std::string data(4, '\0');
    uint32_t length = 4;
    if (RecordManagerCall(kOpGetPosition, block_, data.data(), &length, nullptr, 0, 0) != kOk) {
      return 0;
    }
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i)
      p |= static_cast<uint32_t>(static_cast<uint8_t>(data[i])) << (8 * i);
    return p;
  }

  Status Stat(std::string* out) {
    std::string data(kMaxRecordLength, '\0');
    uint32_t length = kMaxRecordLength;
    char k[256];
    std::memset(k, ' ', sizeof(k));
    Status s = RecordManagerCall(kOpStat, block_, data.data(), &length, k, 255, 0);
    *out = data.substr(0, length);
    return s;
  }

  uint8_t* block() { return block_; }

 private:
  uint8_t block_[kPositionBlockSize];
};

}  // namespace recmgr::testing

#endif  // TELVORAN_RECMGR_TESTING_ENGINE_TEST_UTIL_H_
