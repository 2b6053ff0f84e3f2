// The sequential load reader of the data tool over arbitrary bytes. Records
// it accepts lie inside the text, and writing them again in the format
// reads back as the same records. The streaming reader, fed a few bytes at
// a time through a pipe, accepts and refuses exactly what the whole-text
// reader does, with the same records.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
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

  // The same text read in chunks of 1 to 8 bytes (from the first byte) by
  // the streaming reader, with a writer on the other end of a pipe.
  int fds[2];
  FUZZ_CHECK(::pipe(fds) == 0);
  const size_t limit = 60000;  // stays below a pipe's buffer: no writer thread
  const size_t fed = std::min(size, limit);
  FUZZ_CHECK(::write(fds[1], data, fed) == static_cast<ssize_t>(fed));
  ::close(fds[1]);
  recmgr_tool::SequentialReader reader(fds[0], 1 + (size > 0 ? data[0] % 8 : 0));
  std::vector<std::string> streamed;
  std::vector<std::string_view> batch;
  bool stream_ok = true;
  for (;;) {
    if (!reader.Next(&batch)) {
      stream_ok = false;
      break;
    }
    if (batch.empty()) break;
    for (std::string_view r : batch) streamed.emplace_back(r);
  }
  ::close(fds[0]);
  if (size <= limit) {
    FUZZ_CHECK(stream_ok == ok);
    if (ok) FUZZ_CHECK(streamed == std::vector<std::string>(records.begin(), records.end()));
  }
  return 0;
}
