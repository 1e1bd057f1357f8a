// The run-length scheme shared by the archive's RLE stream and PCX scan
// lines: a byte below 0xC0 stands for itself; 0xC0 + N (N = 1..63) repeats
// the byte after it N times; a single byte of 0xC0 or more is written as
// 0xC1 and the byte. Runs are cut at 63 bytes, greedily from the front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace host {

inline constexpr uint8_t kRunBase = 0xC0;
inline constexpr int kLongestRun = 63;

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

// A run the encoder has not written yet because the data may go on.
struct OpenRun {
  int byte = 0;
  int length = 0;  // 0: none
};

// Extends a run of `byte` that has `*length` bytes and continues at `i`,
// up to kLongestRun bytes or `n`; returns the index behind it.
size_t ExtendRun(const uint8_t* p, size_t i, size_t n, int byte, int* length);

// Writes one run (a single byte below 0xC0 as itself); returns the end.
inline uint8_t* PutRun(uint8_t* o, int byte, int length) {
  if (length > 1 || byte >= kRunBase) *o++ = static_cast<uint8_t>(kRunBase | length);
  *o++ = static_cast<uint8_t>(byte);
  return o;
}

// Encodes `n` bytes at `p` into `out` (room for 2 * n bytes) and returns the
// count written. With `open` null every run is written; otherwise a last
// run shorter than kLongestRun is not written but left in `*open`, since
// the next piece of a longer input may continue it.
size_t EncodeRuns(const uint8_t* p, size_t n, uint8_t* out, OpenRun* open);

}  // namespace host
