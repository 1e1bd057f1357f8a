// The AVX-512 kernels (BW, VBMI, VBMI2, with BMI2): 64 bytes a step. The
// encoder finds run ends with one compare, run piece lengths with a prefix
// maximum over byte permutes, and writes its units with two byte
// compressions; the decoder and the size scan take their count-byte mask
// from one compare.
#include <immintrin.h>

#include "host/run_length_kernels.h"

namespace host::rle {

namespace {

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
  // Byte j as a run start is j + 64 (see run_length_sse.h); byte 0 is a
  // start only through the maximum with the start before the block.
  const __m512i start_at = _mm512_maskz_add_epi8(~uint64_t{1}, index, _mm512_set1_epi8(64));
  const __m512i end_at = _mm512_add_epi8(index, _mm512_set1_epi8(65));
  const __m512i count_base = _mm512_set1_epi8(static_cast<char>(kCount));
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
    if (_mm512_cmpgt_epu8_mask(length, _mm512_set1_epi8(kRunLimit - 1)) != 0) {
      o = EncodeBytes(p + i, 64, o, &pending);
      continue;
    }
    const uint64_t counted =
        (_mm512_cmpgt_epu8_mask(length, _mm512_set1_epi8(1)) |
         _mm512_cmpge_epu8_mask(x, count_base)) & ends;
    const __m512i count = _mm512_or_si512(length, count_base);
    const uint64_t keep_lo = _pdep_u64(counted, kEven) | _pdep_u64(ends, ~kEven);
    const uint64_t keep_hi = _pdep_u64(counted >> 32, kEven) | _pdep_u64(ends >> 32, ~kEven);
    _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(keep_lo, _mm512_permutex2var_epi8(count, lo_order, x)));
    o += Popcount(keep_lo);
    _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(keep_hi, _mm512_permutex2var_epi8(count, hi_order, x)));
    o += Popcount(keep_hi);
    pending = PendingAfter(ends, 64, pending);
  }
  return {i, static_cast<size_t>(o - out), pending};
}

inline uint64_t HighBits64(const uint8_t* q) {
  return _mm512_cmpge_epu8_mask(_mm512_loadu_si512(q), _mm512_set1_epi8(static_cast<char>(kCount)));
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

// The same walk as the SSE2 decoder (see run_length_sse.h); a step reads
// and writes up to 64 bytes beyond its block and its output.
size_t Decode(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed) {
  uint8_t* o = out;
  const uint8_t* const end = out + room;
  uint64_t carry = 0;
  size_t i = 0;
  for (; i + 128 <= n; i += 64) {
    const uint8_t* q = p + i;
    const uint64_t high = HighBits64(q);
    if ((high | carry) == 0) {
      if (end - o < 64) break;
      _mm512_storeu_si512(o, _mm512_loadu_si512(q));
      o += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    const uint64_t literals = ~(counts | counts << 1 | carry);
    if (static_cast<size_t>(end - o) < static_cast<size_t>(Popcount(literals) + 63 * Popcount(counts) + 64)) {
      break;
    }
    size_t j = carry;
    for (uint64_t m = counts; m != 0; m &= m - 1) {
      const auto k = static_cast<size_t>(LowestBit(m));
      o = CopyLiterals(o, q + j, k - j);
      o = PutRun(o, q[k + 1], q[k] - kCount);
      j = k + 2;
    }
    if (j < 64) o = CopyLiterals(o, q + j, 64 - j);
    carry = counts >> 63;
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
    const uint64_t high = _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(static_cast<char>(kCount)));
    if ((high | carry) == 0) {
      total += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    total += static_cast<uint64_t>(Popcount(~(counts | counts << 1 | carry)));
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

}  // namespace host::rle
