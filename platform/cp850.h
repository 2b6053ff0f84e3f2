// The suite's code page 850 and its conversion to Unicode. Texts stay CP850
// bytes everywhere inside the system; they become Unicode only where
// they leave it, as PDF text or UTF-8 text output. The suite's variant puts
// the euro sign at 0xD5 (the plain code page has a dotless i there).
#ifndef TELVORAN_PLATFORM_CP850_H_
#define TELVORAN_PLATFORM_CP850_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The Unicode code point of one CP850 byte. Bytes 0x00-0x1F and 0x7F map to
// the control code points of the same value.
char32_t Cp850CodePoint(uint8_t byte);

// Appends the UTF-8 encoding of one code point.
void AppendUtf8(char32_t code_point, std::string* out);

// The UTF-8 bytes of one CP850 byte (1 to 3 bytes), from a table built once.
std::string_view Cp850ByteToUtf8(uint8_t byte);

// A whole CP850 text as UTF-8.
std::string Cp850ToUtf8(std::string_view text);

// A UTF-8 text (another program's words) as CP850: each character the code
// page has becomes its byte, any other character (or a broken sequence) one
// "?". Cp850ToUtf8's output comes back byte for byte.
std::string Utf8ToCp850(std::string_view text);

// True when the text holds at least one character beyond ASCII and every
// byte belongs to a well-formed UTF-8 sequence (shortest form, no
// surrogates, up to U+10FFFF). A code page 850 text with accents almost
// never is one: its accented letters are single bytes 0x80-0xFF.
bool IsUtf8Text(std::string_view text);

// True for the bytes that print nothing and are not a blank either: the
// control bytes 0x00-0x1F, 0x7F and the no-break space 0xFF, which the print
// channel never writes inside a text.
inline bool IsCp850Control(uint8_t byte) {
  return byte < 0x20 || byte == 0x7F || byte == 0xFF;
}

}  // namespace platform

#endif  // TELVORAN_PLATFORM_CP850_H_
