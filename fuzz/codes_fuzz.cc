// TextToCode, CodeToText and DisplayName over arbitrary bytes, read both as
// a typed text and as a stored (packed) code or name. The text of a code is
// digits and points only, and one whose first group has at most four digits
// reads back as the same code (wider first groups are read by the text's
// length, as typed codes are, so they need not come back).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "format/codes.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  format::CodeToText(bytes);
  format::DisplayName(bytes);

  const std::string code = format::TextToCode(bytes);
  const std::string text = format::CodeToText(code);
  FUZZ_CHECK(text.find_first_not_of("0123456789.") == std::string::npos);
  if (std::min(text.find('.'), text.size()) <= 4 && text.size() != 6 && text.size() != 11) {
    FUZZ_CHECK(format::CodeToText(format::TextToCode(text)) == text);
  }
  return 0;
}
