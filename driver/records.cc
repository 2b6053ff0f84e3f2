#include "driver/records.h"

#include "platform/little_endian.h"

namespace driver {

// The report reads these on every record: a field inside the buffer is
// taken whole, and only a short buffer goes byte by byte.
std::string FieldText(const std::string& buffer, size_t offset, size_t width) {
  if (offset <= buffer.size() && width <= buffer.size() - offset) {
    return buffer.substr(offset, width);
  }
  std::string out(width, ' ');
  for (size_t i = 0; i < width && offset + i < buffer.size(); ++i) out[i] = buffer[offset + i];
  return out;
}

namespace {

uint8_t ByteAt(const std::string& b, size_t i) {
  return i < b.size() ? static_cast<uint8_t>(b[i]) : 0;
}

void PutByte(std::string& b, size_t i, uint8_t v) {
  if (i < b.size()) b[i] = static_cast<char>(v);
}

}  // namespace

int16_t FieldI16(const std::string& b, size_t offset) {
  if (offset <= b.size() && b.size() - offset >= 2) {
    return static_cast<int16_t>(platform::LoadLe16(b, offset));
  }
  return static_cast<int16_t>(
      static_cast<uint16_t>(ByteAt(b, offset) | (ByteAt(b, offset + 1) << 8)));
}

int32_t FieldI32(const std::string& b, size_t offset) {
  if (offset <= b.size() && b.size() - offset >= 4) {
    return static_cast<int32_t>(platform::LoadLe32(b, offset));
  }
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(ByteAt(b, offset + i)) << (8 * i);
  return static_cast<int32_t>(v);
}

void SetFieldText(std::string& b, size_t offset, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i)
    PutByte(b, offset + i, i < text.size() ? static_cast<uint8_t>(text[i]) : ' ');
}

void SetFieldI16(std::string& b, size_t offset, int16_t value) {
  uint16_t u = static_cast<uint16_t>(value);
  PutByte(b, offset, static_cast<uint8_t>(u & 0xFF));
  PutByte(b, offset + 1, static_cast<uint8_t>(u >> 8));
}

void SetFieldI32(std::string& b, size_t offset, int32_t value) {
  uint32_t u = static_cast<uint32_t>(value);
  for (size_t i = 0; i < 4; ++i)
    PutByte(b, offset + i, static_cast<uint8_t>((u >> (8 * i)) & 0xFF));
}

}  // namespace driver
