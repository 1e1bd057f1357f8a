// What the run-length library's own source files share and nobody else
// sees: the word-at-a-time tests and the bulk of the decoder and the size
// scan as the chosen kernels give it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rle/scheme.h"

namespace rle {

// Word-at-a-time helpers: eight bytes are tested together where possible.
namespace words {

inline constexpr uint64_t kOnes = 0x0101010101010101ull;
inline constexpr uint64_t kHighs = 0x8080808080808080ull;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// High bit set in each byte of `v` that is zero; exact for the lowest such
// byte, which is all callers look at.
inline uint64_t ZeroBytes(uint64_t v) { return (v - kOnes) & ~v & kHighs; }

// High bit set in each byte that is 0xC0 or above (both top bits set).
inline uint64_t CountBytes(uint64_t v) { return v & (v << 1) & kHighs; }

// The index of the lowest byte flagged in a non-zero mask.
inline size_t FirstByte(uint64_t mask) { return static_cast<size_t>(__builtin_ctzll(mask)) >> 3; }

}  // namespace words

// Decodes whole units from the start of the stream p[0..n), which must be a
// unit boundary, into `out` without writing past out + room. Returns the
// count written and sets `*consumed` to the unit boundary where it stopped:
// it may stop early (near the end of the input or of the room), and the
// caller decodes the rest one unit at a time.
size_t DecodeUnits(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed);

// The decoded length of the whole units from the start of p[0..n), under
// the same contract as DecodeUnits.
uint64_t ScanUnits(const uint8_t* p, size_t n, size_t* consumed);

}  // namespace rle
