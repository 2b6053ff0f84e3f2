// Little-endian integers in byte buffers: the byte order of every binary
// layout of the system (the record manager's buffers and definition files,
// the window stack file, the list cache, the key images).
//
// The pointer forms take any byte buffer (char or uint8_t); the caller
// guarantees the 2 or 4 bytes are there.
#ifndef TELVORAN_PLATFORM_LITTLE_ENDIAN_H_
#define TELVORAN_PLATFORM_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline uint16_t LoadLe16(const void* bytes) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadLe32(const void* bytes) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// REQUIRES: at + 2 (at + 4) <= bytes.size().
inline uint16_t LoadLe16(std::string_view bytes, size_t at) {
  return LoadLe16(bytes.data() + at);
}
inline uint32_t LoadLe32(std::string_view bytes, size_t at) {
  return LoadLe32(bytes.data() + at);
}

inline void StoreLe16(void* bytes, uint16_t v) {
  auto* p = static_cast<unsigned char*>(bytes);
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

inline void StoreLe32(void* bytes, uint32_t v) {
  auto* p = static_cast<unsigned char*>(bytes);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

inline void AppendLe16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

inline void AppendLe32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace platform

#endif  // TELVORAN_PLATFORM_LITTLE_ENDIAN_H_
