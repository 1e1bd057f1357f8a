// Little-endian field access for on-disk records. Every record of every
// format the tools read or write goes through these; nothing casts raw bytes
// to structs, so the layout is the same on any host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

inline uint16_t GetLE16(const uint8_t* p) {
  return static_cast<uint16_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8));
}

inline uint32_t GetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline int32_t GetLE32s(const uint8_t* p) { return static_cast<int32_t>(GetLE32(p)); }

// PNG's fields are big-endian.
inline uint32_t GetBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void PutLE32s(uint8_t* p, int32_t v) { PutLE32(p, static_cast<uint32_t>(v)); }

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
// All arguments are widened first, so no combination of values overflows.
inline bool RangeInside(int64_t offset, int64_t length, int64_t size) {
  return offset >= 0 && length >= 0 && offset <= size && length <= size - offset;
}

}  // namespace host
