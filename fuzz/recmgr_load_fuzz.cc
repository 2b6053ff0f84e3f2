// The sequential load reader of the data tool over arbitrary bytes. Records
// it accepts lie inside the text, and writing them again in the format
// reads back as the same records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/recmgr/sequential_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> records;
  std::string error;
  const bool ok = recmgr_tool::ParseSequentialRecords(text, &records, &error);
  FUZZ_CHECK(ok == error.empty());

  std::string again;
  for (std::string_view r : records) {
    FUZZ_CHECK(r.data() >= text.data() && r.data() + r.size() <= text.data() + text.size());
    again += std::to_string(r.size()) + "," + std::string(r) + "\r\n";
  }
  again += '\x1A';
  std::vector<std::string_view> reread;
  FUZZ_CHECK(recmgr_tool::ParseSequentialRecords(again, &reread, &error));
  FUZZ_CHECK(reread == records);
  return 0;
}
