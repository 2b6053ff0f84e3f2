// Basic value types shared by every layer: 16-bit statuses and the -1/0
// booleans the system's routines return.
#ifndef TELVORAN_PLATFORM_TYPES_H_
#define TELVORAN_PLATFORM_TYPES_H_

#include <cstdint>

namespace platform {

// A 16-bit status; 0 is success. The numbers are the system's own and are
// kept wherever a status crosses a layer.
using Status = int16_t;
inline constexpr Status kStatusOk = 0;

// Boolean results are 16-bit integers: -1 for true, 0 for false.
using Bool16 = int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;

inline constexpr Bool16 ToBool16(bool b) {
  return b ? kTrue : kFalse;
}

}  // namespace platform

#endif  // TELVORAN_PLATFORM_TYPES_H_
