// The browse list's cache reader ("Browse.tmp") over arbitrary bytes: the
// first four input bytes are the 1-based position of the entry, the rest the
// cache's bytes from there on. A decoded entry encodes back to the bytes it
// was read from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "console/browse_list.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int32_t position;
  std::memcpy(&position, data, sizeof(position));
  // The bytes in a buffer of exactly their length, so that ASan sees any
  // read past them.
  const std::string bytes(reinterpret_cast<const char*>(data) + 4, size - 4);
  const std::optional<console::BrowseEntry> entry =
      console::DecodeBrowseEntry(std::string_view(bytes), position);
  if (!entry) return 0;
  FUZZ_CHECK(position > 0);
  FUZZ_CHECK(entry->line.size() <= static_cast<size_t>(console::kBrowseMaxLineLength));
  const std::string encoded = console::EncodeBrowseEntry(*entry);
  FUZZ_CHECK(bytes.compare(0, encoded.size(), encoded) == 0);
  return 0;
}
