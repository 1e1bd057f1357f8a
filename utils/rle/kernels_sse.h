// The 128-bit kernels, compiled once per instruction set by the file that
// includes this one (run_length_sse2.cc, run_length_ssse3.cc); everything
// here has internal linkage. The encoder works on 16 bytes a step: the run
// ends come from one compare with the next byte, the length of each run
// piece from a prefix maximum of run starts, and SSSE3 packs the units out
// through shuffle tables where SSE2 writes them one by one. The decoder and
// the size scan work on 64 bytes a step from a mask of count bytes; SSSE3
// packs a block's literal and escaped bytes through the same tables, so
// its decoder walks only the real runs.
#pragma once

#include <emmintrin.h>
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif

#include <cstring>

#include "rle/kernels.h"

namespace rle::kernel {

namespace {

inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Bit j set when byte j is 0xC0 or more.
inline uint32_t HighBits(__m128i v) {
  return static_cast<uint32_t>(_mm_movemask_epi8(v) & _mm_movemask_epi8(_mm_add_epi8(v, v)));
}

inline uint64_t HighBits64(const uint8_t* p) {
  return uint64_t{HighBits(Load(p))} | uint64_t{HighBits(Load(p + 16))} << 16 |
         uint64_t{HighBits(Load(p + 32))} << 32 | uint64_t{HighBits(Load(p + 48))} << 48;
}

#if defined(__SSSE3__)
// Bit j set when byte j of p[0..64) is `byte`.
inline uint64_t EqualBits64(const uint8_t* p, uint8_t byte) {
  const __m128i b = _mm_set1_epi8(static_cast<char>(byte));
  uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    bits |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load(p + 16 * k), b)))}
            << (16 * k);
  }
  return bits;
}
#endif

// 0xFF in byte j when bit j of the low 16 bits of `bits` is set.
inline __m128i ByteMask(uint32_t bits) {
  __m128i v = _mm_cvtsi32_si128(static_cast<int>(bits));
  v = _mm_unpacklo_epi8(v, v);
  v = _mm_unpacklo_epi16(v, v);
  v = _mm_unpacklo_epi32(v, v);
  const __m128i pick = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  return _mm_cmpeq_epi8(_mm_and_si128(v, pick), pick);
}

#if defined(__SSSE3__)
// Writes the bytes of the low half of `v` whose bits are set in `keep`.
inline uint8_t* Pack8(uint8_t* o, __m128i v, uint32_t keep) {
  const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.index[keep]));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(v, order));
  return o + kPack.count[keep];
}
#endif

EncodeProgress Encode(const uint8_t* p, size_t n, uint8_t* out) {
  uint8_t* o = out;
  size_t i = 0;
  int pending = 0;
  // Byte j as a run start is j + 64, so that the maximum with a start
  // before the block (64 - pending) stays in unsigned bytes; byte 0 is a
  // start only through that maximum.
  const __m128i start_at =
      _mm_setr_epi8(0, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79);
  const __m128i end_at =
      _mm_setr_epi8(65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i longest = _mm_set1_epi8(kLongestRun - 1);
  const __m128i count_base = _mm_set1_epi8(static_cast<char>(kRunBase));
  for (; i + 17 <= n; i += 16) {
    const __m128i x = Load(p + i);
    const __m128i same = _mm_cmpeq_epi8(x, Load(p + i + 1));
    const uint32_t ends = ~static_cast<uint32_t>(_mm_movemask_epi8(same)) & 0xFFFF;
    if (ends == 0) {
      o = ExtendPending(o, p[i], 16, &pending);
      continue;
    }
    // Byte j starts a run when byte j - 1 ends one; the bytes before the
    // first start continue the pending run, which started `pending` bytes
    // before the block. The prefix maximum carries each start to the right.
    __m128i start = _mm_andnot_si128(_mm_slli_si128(same, 1), start_at);
    start = _mm_max_epu8(start, _mm_slli_si128(start, 1));
    start = _mm_max_epu8(start, _mm_slli_si128(start, 2));
    start = _mm_max_epu8(start, _mm_slli_si128(start, 4));
    start = _mm_max_epu8(start, _mm_slli_si128(start, 8));
    start = _mm_max_epu8(start, _mm_set1_epi8(static_cast<char>(64 - pending)));
    const __m128i length = _mm_sub_epi8(end_at, start);  // 1 to 78
    if (_mm_movemask_epi8(_mm_cmpgt_epi8(length, longest)) != 0) {
      o = EncodeBytes(p + i, 16, o, &pending);
      continue;
    }
    const __m128i counted = _mm_or_si128(_mm_cmpgt_epi8(length, one),
                                         _mm_cmpeq_epi8(_mm_and_si128(x, count_base), count_base));
    const __m128i count = _mm_or_si128(length, count_base);
#if defined(__SSSE3__)
    // Count and data byte of every position side by side; the units keep
    // the data byte of each run end and its count byte where one is due.
    const __m128i is_end = _mm_xor_si128(same, _mm_cmpeq_epi8(same, same));
    const __m128i keep_count = _mm_and_si128(counted, is_end);
    const __m128i lo = _mm_unpacklo_epi8(count, x);
    const __m128i hi = _mm_unpackhi_epi8(count, x);
    const auto keep_lo =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpacklo_epi8(keep_count, is_end)));
    const auto keep_hi =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpackhi_epi8(keep_count, is_end)));
    o = Pack8(o, lo, keep_lo & 0xFF);
    o = Pack8(o, _mm_srli_si128(lo, 8), keep_lo >> 8);
    o = Pack8(o, hi, keep_hi & 0xFF);
    o = Pack8(o, _mm_srli_si128(hi, 8), keep_hi >> 8);
#else
    alignas(16) uint8_t counts[16];
    Store(counts, count);
    const auto with_count = static_cast<uint32_t>(_mm_movemask_epi8(counted)) & ends;
    for (uint32_t e = ends; e != 0; e &= e - 1) {
      const int j = LowestBit(e);
      *o = counts[j];
      o += (with_count >> j) & 1;
      *o++ = p[i + j];
    }
#endif
    pending = PendingAfter(ends, 16, pending);
  }
  return {i, static_cast<size_t>(o - out), pending};
}

// Both write 32 bytes whatever the length, which covers most literal
// stretches and runs of pictures without a branch that could go wrong.
inline uint8_t* CopyLiterals(uint8_t* o, const uint8_t* s, size_t len) {
  Store(o, Load(s));
  Store(o + 16, Load(s + 16));
  for (size_t k = 32; k < len; k += 16) Store(o + k, Load(s + k));
  return o + len;
}

inline uint8_t* PutRun(uint8_t* o, uint8_t byte, int count) {
  const __m128i v = _mm_set1_epi8(static_cast<char>(byte));
  Store(o, v);
  Store(o + 16, v);
  if (count > 32) {
    Store(o + 32, v);
    Store(o + 48, v);
  }
  return o + count;
}

// 64 bytes a step. A step writes up to 32 bytes beyond its output and reads
// up to 32 beyond its block; it runs only where both are in bounds.
size_t Decode(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed) {
  uint8_t* o = out;
  const uint8_t* const end = out + room;
  uint64_t carry = 0;  // byte 0 of the block is the data byte of a count byte before it
  size_t i = 0;
  for (; i + 96 <= n; i += 64) {
    const uint8_t* q = p + i;
    const uint64_t high = HighBits64(q);
    if ((high | carry) == 0) {
      if (end - o < 64) break;
      for (int k = 0; k < 64; k += 16) Store(o + k, Load(q + k));
      o += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    const uint64_t literals = Literals(counts, carry);
    if (static_cast<size_t>(end - o) < MostDecoded(counts, literals) + 32) break;
#if defined(__SSSE3__)
    // An escape (0xC1 and a byte) is a literal too: the block's literal
    // bytes, escaped ones included, are packed to the front first, so that
    // only the real runs take a turn of the walk. Pictures escape about
    // half of their units. An escape in the last byte keeps its turn, as
    // its byte lies in the next block.
    const uint64_t escapes = counts & EqualBits64(q, kRunBase | 1) & ~(uint64_t{1} << 63);
    const uint64_t runs = counts & ~escapes;
    const uint64_t kept = ~(runs | runs << 1 | escapes | carry);
    alignas(16) uint8_t packed[64 + 32];  // CopyLiterals reads 32 bytes whatever the length
    uint8_t* w = packed;
    for (int k = 0; k < 64; k += 16) {
      const __m128i v = Load(q + k);
      w = Pack8(w, v, static_cast<uint32_t>(kept >> k) & 0xFF);
      w = Pack8(w, _mm_srli_si128(v, 8), static_cast<uint32_t>(kept >> (k + 8)) & 0xFF);
    }
    size_t j = 0;
    for (uint64_t m = runs; m != 0; m &= m - 1) {
      const auto k = static_cast<size_t>(LowestBit(m));
      const auto before = static_cast<size_t>(Popcount(kept & ((uint64_t{1} << k) - 1)));
      o = CopyLiterals(o, packed + j, before - j);
      o = PutRun(o, q[k + 1], q[k] - kRunBase);
      j = before;
    }
    const auto all = static_cast<size_t>(w - packed);
    if (j < all) o = CopyLiterals(o, packed + j, all - j);
#else
    o = WalkUnits<CopyLiterals, PutRun>(q, counts, carry, o);
#endif
    carry = counts >> 63;
  }
  *consumed = i + carry;
  return static_cast<size_t>(o - out);
}

uint64_t Scan(const uint8_t* p, size_t n, size_t* consumed) {
  uint64_t total = 0;
  uint64_t carry = 0;
  size_t i = 0;
  const __m128i low_six = _mm_set1_epi8(0x3F);
  __m128i sums = _mm_setzero_si128();
  for (; i + 65 <= n; i += 64) {
    const uint8_t* q = p + i;
    const uint64_t high = HighBits64(q);
    if ((high | carry) == 0) {
      total += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    total += static_cast<uint64_t>(Popcount(Literals(counts, carry)));
    for (int k = 0; k < 4; ++k) {
      const __m128i n_of = _mm_and_si128(_mm_and_si128(Load(q + 16 * k), low_six),
                                         ByteMask(static_cast<uint32_t>(counts >> (16 * k))));
      sums = _mm_add_epi64(sums, _mm_sad_epu8(n_of, _mm_setzero_si128()));
    }
    carry = counts >> 63;
  }
  alignas(16) uint64_t lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
  *consumed = i + carry;
  return total + lanes[0] + lanes[1];
}

}  // namespace

}  // namespace rle::kernel
