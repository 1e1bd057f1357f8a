// The AVX-512 kernels (BW, VBMI, VBMI2, with BMI2): 64 bytes a step. The
// encoder finds run ends with one compare, run piece lengths with a prefix
// maximum over byte permutes, and writes its units with two byte
// compressions; the decoder and the size scan take their count-byte mask
// from one compare.
#include <immintrin.h>

#include "rle/kernels.h"

namespace rle::kernel {

namespace {

// How far ahead of the decoder the stream is fetched: the hardware
// prefetcher alone falls behind once the data has left the L2 cache.
constexpr size_t kPrefetchAhead = 2048;

// Byte j of `v` moved to byte j + shift, zeros shifted in.
inline __m512i ShiftUp(__m512i v, __m512i index, int shift) {
  const __m512i from = _mm512_sub_epi8(index, _mm512_set1_epi8(static_cast<char>(shift)));
  return _mm512_maskz_permutexvar_epi8(~uint64_t{0} << shift, from, v);
}

EncodeProgress Encode(const uint8_t* p, size_t n, uint8_t* out) {
  uint8_t* o = out;
  size_t i = 0;
  int pending = 0;
  alignas(64) uint8_t lanes[64];
  alignas(64) uint8_t pair_lo[64];
  alignas(64) uint8_t pair_hi[64];
  for (int j = 0; j < 64; ++j) {
    lanes[j] = static_cast<uint8_t>(j);
    // Count byte j and data byte j side by side (data from the second table).
    pair_lo[j] = static_cast<uint8_t>(j / 2 + (j % 2) * 64);
    pair_hi[j] = static_cast<uint8_t>(32 + j / 2 + (j % 2) * 64);
  }
  const __m512i index = _mm512_load_si512(lanes);
  const __m512i lo_order = _mm512_load_si512(pair_lo);
  const __m512i hi_order = _mm512_load_si512(pair_hi);
  // Byte j as a run start is j + 64 (see kernels_sse.h); byte 0 is a
  // start only through the maximum with the start before the block.
  const __m512i start_at = _mm512_maskz_add_epi8(~uint64_t{1}, index, _mm512_set1_epi8(64));
  const __m512i end_at = _mm512_add_epi8(index, _mm512_set1_epi8(65));
  const __m512i count_base = _mm512_set1_epi8(static_cast<char>(kRunBase));
  constexpr uint64_t kEven = 0x5555555555555555ull;
  for (; i + 65 <= n; i += 64) {
    const __m512i x = _mm512_loadu_si512(p + i);
    const uint64_t ends = _mm512_cmpneq_epi8_mask(x, _mm512_loadu_si512(p + i + 1));
    if (ends == 0) {
      o = ExtendPending(o, p[i], 64, &pending);
      continue;
    }
    __m512i start = _mm512_maskz_mov_epi8(ends << 1, start_at);
    for (int shift = 1; shift < 64; shift *= 2) {
      start = _mm512_max_epu8(start, ShiftUp(start, index, shift));
    }
    start = _mm512_max_epu8(start, _mm512_set1_epi8(static_cast<char>(64 - pending)));
    const __m512i length = _mm512_sub_epi8(end_at, start);  // 1 to 126
    if (_mm512_cmpgt_epu8_mask(length, _mm512_set1_epi8(kLongestRun - 1)) != 0) {
      o = EncodeBytes(p + i, 64, o, &pending);
      continue;
    }
    const uint64_t counted = (_mm512_cmpgt_epu8_mask(length, _mm512_set1_epi8(1)) |
                              _mm512_cmpge_epu8_mask(x, count_base)) &
                             ends;
    const __m512i count = _mm512_or_si512(length, count_base);
    const uint64_t keep_lo = _pdep_u64(counted, kEven) | _pdep_u64(ends, ~kEven);
    const uint64_t keep_hi = _pdep_u64(counted >> 32, kEven) | _pdep_u64(ends >> 32, ~kEven);
    _mm512_storeu_si512(
        o, _mm512_maskz_compress_epi8(keep_lo, _mm512_permutex2var_epi8(count, lo_order, x)));
    o += Popcount(keep_lo);
    _mm512_storeu_si512(
        o, _mm512_maskz_compress_epi8(keep_hi, _mm512_permutex2var_epi8(count, hi_order, x)));
    o += Popcount(keep_hi);
    pending = PendingAfter(ends, 64, pending);
  }
  return {i, static_cast<size_t>(o - out), pending};
}

inline uint64_t HighBits64(const uint8_t* q) {
  return _mm512_cmpge_epu8_mask(_mm512_loadu_si512(q),
                                _mm512_set1_epi8(static_cast<char>(kRunBase)));
}

// Both write 64 bytes whatever the length: no literal stretch or run in a
// block is longer, so the walk has no branch but the one per unit.
inline uint8_t* CopyLiterals(uint8_t* o, const uint8_t* s, size_t len) {
  _mm512_storeu_si512(o, _mm512_loadu_si512(s));
  return o + len;
}

inline uint8_t* PutRun(uint8_t* o, uint8_t byte, int count) {
  _mm512_storeu_si512(o, _mm512_set1_epi8(static_cast<char>(byte)));
  return o + count;
}

// Decodes the units of one block that decodes to at most 255 bytes
// without a loop over its units: the units' lengths and bytes are packed
// to the front, a prefix sum gives each unit's first output byte, and each
// output byte finds its unit by a binary search over those offsets, six
// permutes for 64 bytes. Returns the count written (64 bytes may be
// written beyond it), or -1 and nothing written when the block is longer.
// The count is summed from the count bytes' bit planes in integer
// registers rather than read from the prefix sum: the next block's output
// address waits for it, and while the stores' addresses are unknown the
// processor may hold later loads behind them.
inline int DecodeShortBlock(const uint8_t* q, uint64_t counts, uint64_t literals, __m512i index,
                            uint8_t* o) {
  const __m512i x = _mm512_loadu_si512(q);
  int total = Popcount(literals);
  for (int bit = 0; bit < 6; ++bit) {
    total +=
        Popcount(counts & _mm512_test_epi8_mask(x, _mm512_set1_epi8(static_cast<char>(1 << bit))))
        << bit;
  }
  if (total > 255) return -1;
  __m512i length = _mm512_maskz_mov_epi8(counts, _mm512_and_si512(x, _mm512_set1_epi8(0x3F)));
  length = _mm512_mask_mov_epi8(length, literals, _mm512_set1_epi8(1));
  const __m512i next = _mm512_loadu_si512(q + 1);
  const __m512i bytes =
      _mm512_mask_blend_epi8(counts, x, next);  // a run repeats the byte after its count
  const uint64_t units = counts | literals;
  const __m512i unit_length = _mm512_maskz_compress_epi8(units, length);
  const __m512i unit_byte = _mm512_maskz_compress_epi8(units, bytes);
  __m512i sum = unit_length;
  for (int shift = 1; shift < 64; shift *= 2) {
    sum = _mm512_add_epi8(sum, ShiftUp(sum, index, shift));
  }
  const __m512i offset =
      _mm512_sub_epi8(sum, unit_length);  // ascending; units past the last at `total`
  for (int w = 0; w < total; w += 64) {
    const __m512i at = _mm512_add_epi8(index, _mm512_set1_epi8(static_cast<char>(w)));
    __m512i unit = _mm512_setzero_si512();
    for (int step = 32; step > 0; step /= 2) {
      const __m512i probe = _mm512_add_epi8(unit, _mm512_set1_epi8(static_cast<char>(step)));
      const uint64_t before =
          _mm512_cmple_epu8_mask(_mm512_maskz_permutexvar_epi8(~uint64_t{0}, probe, offset), at);
      unit = _mm512_mask_mov_epi8(unit, before, probe);
    }
    _mm512_storeu_si512(o + w, _mm512_maskz_permutexvar_epi8(~uint64_t{0}, unit, unit_byte));
  }
  return total;
}

// Blocks of long runs take the walk of the SSE2 decoder (see
// kernels_sse.h), one unit a turn. A step reads and writes up to 64
// bytes beyond its block and its output.
size_t Decode(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed) {
  uint8_t* o = out;
  const uint8_t* const end = out + room;
  uint64_t carry = 0;
  size_t i = 0;
  alignas(64) uint8_t lanes[64];
  for (int j = 0; j < 64; ++j) lanes[j] = static_cast<uint8_t>(j);
  const __m512i index = _mm512_load_si512(lanes);
  for (; i + 128 <= n; i += 64) {
    const uint8_t* q = p + i;
    _mm_prefetch(reinterpret_cast<const char*>(q + kPrefetchAhead), _MM_HINT_T0);
    const uint64_t high = HighBits64(q);
    if ((high | carry) == 0) {
      if (end - o < 64) break;
      _mm512_storeu_si512(o, _mm512_loadu_si512(q));
      o += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    const uint64_t literals = Literals(counts, carry);
    if (static_cast<size_t>(end - o) < MostDecoded(counts, literals) + 128) break;
    const int written = DecodeShortBlock(q, counts, literals, index, o);
    size_t j = carry;
    carry = counts >> 63;
    if (written >= 0) {
      o += written;
      continue;
    }
    o = WalkUnits<CopyLiterals, PutRun>(q, counts, j, o);
  }
  *consumed = i + carry;
  return static_cast<size_t>(o - out);
}

uint64_t Scan(const uint8_t* p, size_t n, size_t* consumed) {
  uint64_t total = 0;
  uint64_t carry = 0;
  size_t i = 0;
  __m512i sums = _mm512_setzero_si512();
  const __m512i low_six = _mm512_set1_epi8(0x3F);
  for (; i + 65 <= n; i += 64) {
    const __m512i x = _mm512_loadu_si512(p + i);
    const uint64_t high = _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(static_cast<char>(kRunBase)));
    if ((high | carry) == 0) {
      total += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    total += static_cast<uint64_t>(Popcount(Literals(counts, carry)));
    sums = _mm512_add_epi64(
        sums, _mm512_sad_epu8(_mm512_and_si512(_mm512_maskz_mov_epi8(counts, x), low_six),
                              _mm512_setzero_si512()));
    carry = counts >> 63;
  }
  alignas(64) uint64_t lanes[8];
  _mm512_store_si512(lanes, sums);
  for (const uint64_t lane : lanes) total += lane;
  *consumed = i + carry;
  return total;
}

}  // namespace

const Kernels kAvx512Kernels = {"avx512", Encode, Decode, Scan};

}  // namespace rle::kernel
