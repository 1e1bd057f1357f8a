// The run-length encoder, decoder and size scan of the scheme in
// rle/scheme.h, on whole buffers; the per-instruction-set kernels behind
// them are chosen once, at the first call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// Decodes whole units from the start of the stream p[0..n), which must be a
// unit boundary, into `out` without writing past out + room. Returns the
// count written and sets `*consumed` to the unit boundary where it stopped:
// it may stop early (near the end of the input or of the room), and the
// caller decodes the rest one unit at a time.
size_t DecodeUnits(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed);

// The decoded length of the whole units from the start of p[0..n), under
// the same contract as DecodeUnits.
uint64_t ScanUnits(const uint8_t* p, size_t n, size_t* consumed);

// The encoder, the decoder and the size scan run on the widest instruction
// set the processor has ("avx512", "avx2", "ssse3", "sse2"), else on "scalar"
// code; every path gives the same bytes. The choice is made at the first
// call.

// The paths this processor can run, widest first; "scalar" is always last.
std::vector<std::string> RunLengthPaths();
// The path in use.
std::string RunLengthPath();
// Makes every later call use `path`, for tests and measurements; false
// (nothing changed) when the processor cannot run it.
bool UseRunLengthPath(std::string_view path);

}  // namespace rle
