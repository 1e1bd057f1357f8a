// The run-length kernels behind run_length.h: one table of functions per
// instruction set. Each set's kernels live in their own file, compiled with
// only that set's flags; everything they share is defined below with
// internal linkage, so the linker can never merge a copy compiled for a
// wider set into code that runs on a narrower one. For the same reason the
// kernel files use no templates or inline functions of external linkage:
// the ones below live in the unnamed namespace too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rle/scheme.h"

namespace rle::kernel {

// Where an encoding kernel stopped. Every byte before `in` - `pending` is
// encoded into the first `out` bytes; the `pending` bytes before `in` (0 to
// 62, all equal) are a run not written yet, and p[in] may continue it.
struct EncodeProgress {
  size_t in = 0;
  size_t out = 0;
  int pending = 0;
};

struct Kernels {
  const char* name;
  // Encodes a prefix of p[0..n) greedily, the first run starting at p[0],
  // into `out` (room for 2 * n bytes); stops before the last byte.
  EncodeProgress (*encode)(const uint8_t* p, size_t n, uint8_t* out);
  // Decodes whole units of the stream p[0..n), which starts at a unit
  // boundary, into `out` without writing past out + room; returns the count
  // written and sets `*consumed` to the unit boundary where it stopped.
  size_t (*decode)(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed);
  // The decoded length of whole units from p[0], as decode would give it.
  uint64_t (*scan)(const uint8_t* p, size_t n, size_t* consumed);
};

extern const Kernels kScalarKernels;
#if defined(__x86_64__)
extern const Kernels kSse2Kernels;
extern const Kernels kSsse3Kernels;
extern const Kernels kAvx2Kernels;
extern const Kernels kAvx512Kernels;
#endif

namespace {

inline int Popcount(uint64_t v) {
#if defined(__POPCNT__)
  return __builtin_popcountll(v);
#else
  v -= (v >> 1) & 0x5555555555555555ull;
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((v * 0x0101010101010101ull) >> 56);
#endif
}

// Row m: the indices of the bits set in m, in order, then zeros; `upper`
// the same plus 8, for the high half of a 16-byte register. The byte
// shuffles of the SIMD kernels pack a register's kept bytes through it.
struct PackTable {
  uint8_t index[256][8];
  uint8_t upper[256][8];
  uint8_t count[256];
};

constexpr PackTable MakePackTable() {
  PackTable t{};
  for (int m = 0; m < 256; ++m) {
    int k = 0;
    for (int b = 0; b < 8; ++b) {
      if (m & (1 << b)) {
        t.index[m][k] = static_cast<uint8_t>(b);
        t.upper[m][k++] = static_cast<uint8_t>(b + 8);
      }
    }
    t.count[m] = static_cast<uint8_t>(k);
  }
  return t;
}

constexpr PackTable kPack = MakePackTable();

inline int LowestBit(uint64_t v) { return __builtin_ctzll(v); }

// The count bytes among 64 stream bytes. `high` flags the bytes of 0xC0 or
// more; `data_first` is 1 when byte 0 is the data byte of a count byte in
// front of the block. A high byte is a count byte unless it is the data
// byte of the count byte before it, so in a stretch of high bytes count and
// data bytes alternate from the stretch's first byte: adding the stretch's
// first bit carries through exactly the stretches that start on an even
// bit, which tells the two parities apart without a loop.
inline uint64_t CountBytes(uint64_t high, uint64_t data_first) {
  constexpr uint64_t kEven = 0x5555555555555555ull;
  const uint64_t h = high & ~data_first;
  const uint64_t starts = h & ~(h << 1);
  const uint64_t from_even = h & ~(h + (starts & kEven));
  return (from_even & kEven) | (h & ~from_even & ~kEven);
}

// The literal bytes of a block whose count bytes are `counts`: neither a
// count byte nor the data byte of one.
inline uint64_t Literals(uint64_t counts, uint64_t data_first) {
  return ~(counts | counts << 1 | data_first);
}

// The most the units of a block can decode to: every count byte taken as a
// run of the longest length.
inline size_t MostDecoded(uint64_t counts, uint64_t literals) {
  return static_cast<size_t>(Popcount(literals) + kLongestRun * Popcount(counts));
}

// Decodes the units of a block of kWidth stream bytes one at a time, from byte
// `j` on, through the instruction set's own stores for literal stretches
// (Copy) and runs (Run), each of which may write beyond what it is asked to.
// A template here, in the unnamed namespace, so each kernel file gets its
// own copy built from its own stores.
template <uint8_t* (*Copy)(uint8_t*, const uint8_t*, size_t),
          uint8_t* (*Run)(uint8_t*, uint8_t, int), size_t kWidth = 64>
inline uint8_t* WalkUnits(const uint8_t* q, uint64_t counts, size_t j, uint8_t* o) {
  for (uint64_t m = counts; m != 0; m &= m - 1) {
    const auto k = static_cast<size_t>(LowestBit(m));
    o = Copy(o, q + j, k - j);
    o = Run(o, q[k + 1], q[k] - kRunBase);
    j = k + 2;
  }
  if (j < kWidth) o = Copy(o, q + j, kWidth - j);
  return o;
}

// Writes one run piece of `length` (1 to 63) bytes `byte`.
inline uint8_t* PutPiece(uint8_t* o, uint8_t byte, int length) {
  *o = static_cast<uint8_t>(kRunBase | length);
  o += length > 1 || byte >= kRunBase;
  *o++ = byte;
  return o;
}

// Encodes q[0..len) one byte at a time, `*pending` bytes equal to q[0]
// standing before it; q[len] must be readable. For the blocks where a run
// piece reaches the limit.
inline uint8_t* EncodeBytes(const uint8_t* q, size_t len, uint8_t* o, int* pending) {
  int c = *pending;
  for (size_t j = 0; j < len; ++j) {
    ++c;
    if (q[j] != q[j + 1] || c == kLongestRun) {
      o = PutPiece(o, q[j], c);
      c = 0;
    }
  }
  *pending = c;
  return o;
}

// The bytes pending after a block of `width` bytes whose run ends are
// `ends` (bit j: byte j ends a run), given `pending` before it, when no
// run piece in the block reaches the limit.
inline int PendingAfter(uint64_t ends, int width, int pending) {
  const uint64_t top = uint64_t{1} << (width - 1);
  if (ends & top) return 0;
  if (ends == 0) return pending + width;
  return width - 1 - (63 - __builtin_clzll(ends));
}

// A block that lies wholly inside one run (`byte`, equal to what is
// pending): pieces of the limit are written from the front.
inline uint8_t* ExtendPending(uint8_t* o, uint8_t byte, int width, int* pending) {
  int c = *pending + width;
  while (c >= kLongestRun) {
    o = PutPiece(o, byte, kLongestRun);
    c -= kLongestRun;
  }
  *pending = c;
  return o;
}

}  // namespace

}  // namespace rle::kernel
