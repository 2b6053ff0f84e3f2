// WrapText over an arbitrary text: two bytes of indent, two of width, one
// alignment letter, then the text. Words are never lost: the wrapped text
// holds the same non-blank bytes in the same order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "format/codes.h"
#include "fuzz/fuzz_support.h"

namespace {

// The bytes other than the blank and the "-" fill, in order.
std::string Ink(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '-') out.push_back(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5 || size > 4096) return 0;
  const int16_t indent = static_cast<int16_t>(data[0] | (data[1] << 8));
  // Widths up to 1023 keep the padded result small.
  const int16_t width = static_cast<int16_t>((data[2] | (data[3] << 8)) % 1024 - 8);
  const char align = static_cast<char>(data[4]);
  const std::string original(reinterpret_cast<const char*>(data) + 5, size - 5);

  std::string text = original;
  format::WrapText(&text, indent, width, align);
  FUZZ_CHECK(Ink(text) == Ink(original));
  return 0;
}
