// The record manager's Create buffer over arbitrary bytes. The first input
// byte chooses whether the engine itself creates a file from the buffer
// (odd) or only the decoder reads it (even); the rest is the buffer.
//  - DecodeDefinition either refuses the buffer or gives a definition whose
//    Stat layout decodes to the same definition;
//  - the key transforms stay inside the record and the key;
//  - a file the engine created opens, takes a record, states its
//    definition and reads the record back along every key.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "recmgr/file_definition.h"
#include "recmgr/record_manager.h"

namespace {

bool SameDefinition(const recmgr::FileDefinition& a, const recmgr::FileDefinition& b) {
  if (a.record_length != b.record_length || a.page_size != b.page_size ||
      a.keys.size() != b.keys.size() || a.has_alternate != b.has_alternate) {
    return false;
  }
  for (size_t k = 0; k < a.keys.size(); ++k) {
    const recmgr::Key& x = a.keys[k];
    const recmgr::Key& y = b.keys[k];
    if (x.length != y.length || x.duplicates != y.duplicates || x.modifiable != y.modifiable ||
        x.segments.size() != y.segments.size()) {
      return false;
    }
    for (size_t i = 0; i < x.segments.size(); ++i) {
      const recmgr::Segment& s = x.segments[i];
      const recmgr::Segment& t = y.segments[i];
      const uint16_t mask = static_cast<uint16_t>(~recmgr::kSegContinued);
      if (s.position != t.position || s.length != t.length ||
          (s.flags & mask) != (t.flags & mask) || s.null_value != t.null_value) {
        return false;
      }
    }
  }
  return !a.has_alternate ||
         (a.alternate_ident == b.alternate_ident && a.alternate_table == b.alternate_table);
}

void ThroughEngine(const std::string& buffer, const recmgr::FileDefinition& def) {
  static const std::string path = fuzz::ScratchDir() + "create.dat";
  std::string data = buffer;
  uint32_t length = static_cast<uint32_t>(data.size());
  std::string key = path;
  FUZZ_CHECK(recmgr::RecordManagerCall(recmgr::kOpCreate, nullptr, data.data(), &length, key.data(),
                                       static_cast<uint8_t>(key.size()), 0) == recmgr::kOk);

  uint8_t block[recmgr::kPositionBlockSize] = {};
  std::string owner(1, '\0');
  length = static_cast<uint32_t>(owner.size());
  FUZZ_CHECK(recmgr::RecordManagerCall(recmgr::kOpOpen, block, owner.data(), &length, key.data(),
                                       static_cast<uint8_t>(key.size()), 0) == recmgr::kOk);

  std::string record(def.record_length, '\0');
  for (size_t i = 0; i < record.size(); ++i) record[i] = buffer[i % buffer.size()];
  char key_buffer[256] = {};
  length = static_cast<uint32_t>(record.size());
  FUZZ_CHECK(recmgr::RecordManagerCall(recmgr::kOpInsert, block, record.data(), &length, key_buffer,
                                       255, 0) == recmgr::kOk);

  std::string stat(recmgr::kMaxRecordLength * 2, '\0');
  length = static_cast<uint32_t>(stat.size());
  FUZZ_CHECK(recmgr::RecordManagerCall(recmgr::kOpStat, block, stat.data(), &length, key_buffer,
                                       255, 0) == recmgr::kOk);
  recmgr::FileDefinition stated;
  FUZZ_CHECK(recmgr::DecodeDefinition(reinterpret_cast<const uint8_t*>(stat.data()), length,
                                      &stated) == recmgr::kOk);
  FUZZ_CHECK(SameDefinition(def, stated));

  for (size_t k = 0; k < def.keys.size() && k < 128; ++k) {
    for (uint16_t op : {recmgr::kOpGetFirst, recmgr::kOpGetLast}) {
      std::string read(recmgr::kMaxRecordLength, '\0');
      length = static_cast<uint32_t>(read.size());
      FUZZ_CHECK(recmgr::RecordManagerCall(op, block, read.data(), &length, key_buffer, 255,
                                           static_cast<int8_t>(k)) == recmgr::kOk);
      FUZZ_CHECK(read.substr(0, length) == record);
    }
  }
  length = 0;
  recmgr::RecordManagerCall(recmgr::kOpClose, block, nullptr, &length, nullptr, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool engine = (data[0] & 1) != 0;
  const std::string buffer(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());

  recmgr::FileDefinition def;
  if (recmgr::DecodeDefinition(bytes, buffer.size(), &def) != recmgr::kOk) return 0;
  FUZZ_CHECK(!def.keys.empty());
  FUZZ_CHECK(def.record_length >= 1 && def.record_length <= recmgr::kMaxRecordLength);

  const std::string encoded = recmgr::EncodeDefinition(def, 7, {1, 2});
  FUZZ_CHECK(encoded.size() == def.EncodedSize());
  recmgr::FileDefinition again;
  FUZZ_CHECK(recmgr::DecodeDefinition(reinterpret_cast<const uint8_t*>(encoded.data()),
                                      encoded.size(), &again) == recmgr::kOk);
  FUZZ_CHECK(SameDefinition(def, again));

  // The record and key bytes live in buffers of exactly their length, so
  // ASan sees any transform that leaves them.
  std::vector<uint8_t> record(def.record_length);
  for (size_t i = 0; i < record.size(); ++i) record[i] = bytes[i % buffer.size()];
  for (const recmgr::Key& key : def.keys) {
    FUZZ_CHECK(key.length >= 1 && key.length <= recmgr::kMaxKeyLength);
    std::vector<uint8_t> raw(static_cast<size_t>(key.length));
    recmgr::ExtractKey(key, record.data(), raw.data());
    std::string comparable;
    recmgr::ComparableForm(def, key, raw.data(), &comparable);
    FUZZ_CHECK(comparable.size() == static_cast<size_t>(key.length));
  }

  if (engine) ThroughEngine(buffer, def);
  return 0;
}
