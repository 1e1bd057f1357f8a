// The AVX2 kernels (with POPCNT). The encoder takes 32 bytes a
// step as the 128-bit one takes 16: run ends from one compare, run piece
// lengths from a prefix maximum of run starts, the units packed out through
// shuffle tables, 16 bytes of count and data pairs at a time. The decoder
// has no loop over the units of most blocks: each 16-byte lane of the
// stream gets the prefix sum of its units' lengths, and every output byte
// finds its unit by a binary search over those offsets, four byte shuffles
// for 16 bytes per lane (AVX2 shuffles bytes only within 16-byte lanes).
// Blocks holding long runs take the walk over their units instead.
#include <immintrin.h>

#include <algorithm>

#include "rle/kernels.h"

namespace rle::kernel {

namespace {

inline __m256i Load(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void Store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

inline __m256i Bytes(int b) { return _mm256_set1_epi8(static_cast<char>(b)); }

// Bit j set when byte j is 0xC0 or more.
inline uint32_t HighBits(__m256i v) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(v, _mm256_add_epi8(v, v))));
}

// 0xFF in byte j when bit j of `bits` is set.
inline __m256i ByteMask(uint32_t bits) {
  const __m256i spread =
      _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bits)),
                          _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                           2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
  const __m256i pick = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  return _mm256_cmpeq_epi8(_mm256_and_si256(spread, pick), pick);
}

// Byte j of `v` moved to byte j + 1 across the whole register, zero in.
inline __m256i ShiftUpOne(__m256i v) {
  return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
}

// Byte 15 of the low lane in every byte of the high lane, zeros in the low.
inline __m256i LowLaneLast(__m256i v) {
  return _mm256_shuffle_epi8(_mm256_permute2x128_si256(v, v, 0x08), Bytes(15));
}

// Writes the bytes of `v` whose bits are set in `keep` (16 bits), packed.
inline uint8_t* Pack16(uint8_t* o, __m128i v, uint32_t keep) {
  const uint32_t lo = keep & 0xFF;
  const uint32_t hi = (keep >> 8) & 0xFF;
  // 64-bit integer loads and stores: `o` has any alignment, and a store
  // through a double would claim eight.
  const __m128i order =
      _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.index[lo])),
                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.upper[hi])));
  const __m128i packed = _mm_shuffle_epi8(v, order);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o), packed);
  o += kPack.count[lo];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_unpackhi_epi64(packed, packed));
  return o + kPack.count[hi];
}

EncodeProgress Encode(const uint8_t* p, size_t n, uint8_t* out) {
  uint8_t* o = out;
  size_t i = 0;
  int pending = 0;
  alignas(32) uint8_t starts[32];
  alignas(32) uint8_t ends_at[32];
  for (int j = 0; j < 32; ++j) {
    // Byte j as a run start is j + 64 (see kernels_sse.h); byte 0 is a
    // start only through the maximum with the start before the block.
    starts[j] = static_cast<uint8_t>(j == 0 ? 0 : j + 64);
    ends_at[j] = static_cast<uint8_t>(j + 65);
  }
  const __m256i start_at = _mm256_load_si256(reinterpret_cast<const __m256i*>(starts));
  const __m256i end_at = _mm256_load_si256(reinterpret_cast<const __m256i*>(ends_at));
  const __m256i count_base = Bytes(kRunBase);
  for (; i + 33 <= n; i += 32) {
    const __m256i x = Load(p + i);
    const __m256i same = _mm256_cmpeq_epi8(x, Load(p + i + 1));
    const auto ends = ~static_cast<uint32_t>(_mm256_movemask_epi8(same));
    if (ends == 0) {
      o = ExtendPending(o, p[i], 32, &pending);
      continue;
    }
    __m256i start = _mm256_andnot_si256(ShiftUpOne(same), start_at);
    start = _mm256_max_epu8(start, _mm256_slli_si256(start, 1));
    start = _mm256_max_epu8(start, _mm256_slli_si256(start, 2));
    start = _mm256_max_epu8(start, _mm256_slli_si256(start, 4));
    start = _mm256_max_epu8(start, _mm256_slli_si256(start, 8));
    start = _mm256_max_epu8(start, LowLaneLast(start));
    start = _mm256_max_epu8(start, Bytes(64 - pending));
    __m256i length = _mm256_sub_epi8(end_at, start);  // 1 to 94
    __m256i is_end = _mm256_xor_si256(same, _mm256_cmpeq_epi8(same, same));
    const __m256i over = _mm256_cmpgt_epi8(length, Bytes(kLongestRun - 1));
    if (!_mm256_testz_si256(over, over)) {
      // Only the run going on from before the block can be this long, and
      // it is shorter than two pieces: its first 63 bytes are one, and
      // where the rest is empty its end writes nothing.
      o = PutPiece(o, p[i], kLongestRun);
      length = _mm256_sub_epi8(length, _mm256_and_si256(over, Bytes(kLongestRun)));
      is_end = _mm256_andnot_si256(_mm256_cmpeq_epi8(length, _mm256_setzero_si256()), is_end);
    }
    const __m256i counted =
        _mm256_or_si256(_mm256_cmpgt_epi8(length, Bytes(1)),
                        _mm256_cmpeq_epi8(_mm256_min_epu8(x, count_base), count_base));
    const __m256i count = _mm256_or_si256(length, count_base);
    // Count and data byte of every position side by side; the units keep
    // the data byte of each run end and its count byte where one is due.
    const __m256i keep_count = _mm256_and_si256(counted, is_end);
    const __m256i lo = _mm256_unpacklo_epi8(count, x);  // bytes 0-7 and 16-23
    const __m256i hi = _mm256_unpackhi_epi8(count, x);  // bytes 8-15 and 24-31
    const auto keep_lo =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_unpacklo_epi8(keep_count, is_end)));
    const auto keep_hi =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_unpackhi_epi8(keep_count, is_end)));
    // Each group's place from the counts of the ones before it, so the four
    // stores wait for no other, and the next block's for one sum.
    uint8_t* const second = o + Popcount(keep_lo & 0xFFFF);
    uint8_t* const third = second + Popcount(keep_hi & 0xFFFF);
    uint8_t* const fourth = third + Popcount(keep_lo >> 16);
    Pack16(o, _mm256_castsi256_si128(lo), keep_lo);
    Pack16(second, _mm256_castsi256_si128(hi), keep_hi);
    Pack16(third, _mm256_extracti128_si256(lo, 1), keep_lo >> 16);
    Pack16(fourth, _mm256_extracti128_si256(hi, 1), keep_hi >> 16);
    o += Popcount(keep_lo) + Popcount(keep_hi);
    pending = PendingAfter(ends, 32, pending);
  }
  return {i, static_cast<size_t>(o - out), pending};
}

// Both write 32 or 64 bytes, never less: no literal stretch or run in a
// block is longer than 64.
inline uint8_t* CopyLiterals(uint8_t* o, const uint8_t* s, size_t len) {
  Store(o, Load(s));
  if (len > 32) Store(o + 32, Load(s + 32));
  return o + len;
}

inline uint8_t* PutRun(uint8_t* o, uint8_t byte, int count) {
  const __m256i v = Bytes(byte);
  Store(o, v);
  if (count > 32) Store(o + 32, v);
  return o + count;
}

// The units of 32 stream bytes, each 16-byte lane on its own: every byte's
// output length (a literal 1, a count byte its run, a run's data byte 0),
// the byte it writes, and the lengths' running sum within the lane.
struct Half {
  __m256i value;
  // Where each byte's output starts within its lane's, less 0x80.
  __m256i biased_offset;
  int total[2];  // each lane's output; 255 or more when it did not fit
};

inline Half Prepare(const uint8_t* q, uint32_t counts, uint32_t data) {
  const __m256i x = Load(q);
  const __m256i is_count = ByteMask(counts);
  Half h;
  h.value = _mm256_blendv_epi8(x, Load(q + 1), is_count);
  const __m256i length = _mm256_blendv_epi8(_mm256_andnot_si256(ByteMask(data), Bytes(1)),
                                            _mm256_and_si256(x, Bytes(kLongestRun)), is_count);
  // Saturated: a lane past 255 bytes shows 255 and is not decoded here.
  __m256i sum = _mm256_adds_epu8(length, _mm256_slli_si256(length, 1));
  sum = _mm256_adds_epu8(sum, _mm256_slli_si256(sum, 2));
  sum = _mm256_adds_epu8(sum, _mm256_slli_si256(sum, 4));
  sum = _mm256_adds_epu8(sum, _mm256_slli_si256(sum, 8));
  h.biased_offset = _mm256_sub_epi8(_mm256_sub_epi8(sum, length), Bytes(0x80));
  h.total[0] = _mm256_extract_epi8(sum, 15);
  h.total[1] = _mm256_extract_epi8(sum, 31);
  return h;
}

// Output bytes 16 * round to 16 * round + 15 of each lane of `h`.
inline __m256i Round(const Half& h, int round) {
  // Both sides biased by 0x80, so that a signed compare orders them as
  // unsigned bytes.
  const __m256i at =
      _mm256_add_epi8(_mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1,
                                       2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                      Bytes(16 * round - 0x80));
  // The last byte whose output starts at or before `at`: a byte of no
  // output shares its offset with the unit after it, which the search
  // prefers, so it is never chosen.
  __m256i unit = _mm256_setzero_si256();
  for (int step = 8; step > 0; step /= 2) {
    const __m256i probe = _mm256_or_si256(unit, Bytes(step));
    const __m256i after = _mm256_cmpgt_epi8(_mm256_shuffle_epi8(h.biased_offset, probe), at);
    unit = _mm256_blendv_epi8(probe, unit, after);
  }
  return _mm256_shuffle_epi8(h.value, unit);
}

// Writes both lanes of `h` in `kRounds` rounds of 16 bytes, all of the first
// lane's before the second lane's, so that what the first writes beyond its
// output is overwritten by the second's bytes. The fixed count leaves no
// branch to mispredict between halves of different lengths. Writes up to
// 16 * kRounds bytes beyond the output.
template <int kRounds>
inline uint8_t* WriteHalf(const Half& h, uint8_t* o) {
  __m256i bytes[kRounds];
  for (int r = 0; r < kRounds; ++r) bytes[r] = Round(h, r);
  for (int r = 0; r < kRounds; ++r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * r), _mm256_castsi256_si128(bytes[r]));
  }
  uint8_t* const second = o + h.total[0];
  for (int r = 0; r < kRounds; ++r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(second + 16 * r),
                     _mm256_extracti128_si256(bytes[r], 1));
  }
  return second + h.total[1];
}

// The 32 stream bytes at `q` whose units `h` holds; `counts` flags their
// count bytes, and `data_first` is 1 when q[0] is the data byte of one.
// A lane of more than 64 bytes holds long runs, which the walk writes in a
// few stores, where the search would take a round per 16 bytes.
inline uint8_t* DecodeHalf(const uint8_t* q, const Half& h, uint32_t counts, uint64_t data_first,
                           uint8_t* o) {
  const int most = std::max(h.total[0], h.total[1]);
  if (most <= 32) return WriteHalf<2>(h, o);
  if (most <= 64) return WriteHalf<4>(h, o);
  return WalkUnits<CopyLiterals, PutRun, 32>(q, counts, static_cast<size_t>(data_first), o);
}

// 64 bytes a step. A step writes up to 64 bytes beyond its output and reads
// up to 32 beyond its block; it runs only where both are in bounds.
size_t Decode(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed) {
  uint8_t* o = out;
  const uint8_t* const end = out + room;
  uint64_t carry = 0;
  size_t i = 0;
  for (; i + 96 <= n; i += 64) {
    const uint8_t* q = p + i;
    const uint64_t high = uint64_t{HighBits(Load(q))} | uint64_t{HighBits(Load(q + 32))} << 32;
    if ((high | carry) == 0) {
      if (end - o < 64) break;
      Store(o, Load(q));
      Store(o + 32, Load(q + 32));
      o += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    const uint64_t literals = Literals(counts, carry);
    if (static_cast<size_t>(end - o) < MostDecoded(counts, literals) + 64) break;
    const uint64_t data = counts << 1 | carry;
    const Half first = Prepare(q, static_cast<uint32_t>(counts), static_cast<uint32_t>(data));
    const Half second =
        Prepare(q + 32, static_cast<uint32_t>(counts >> 32), static_cast<uint32_t>(data >> 32));
    o = DecodeHalf(q, first, static_cast<uint32_t>(counts), carry, o);
    o = DecodeHalf(q + 32, second, static_cast<uint32_t>(counts >> 32), (counts >> 31) & 1, o);
    carry = counts >> 63;
  }
  *consumed = i + carry;
  return static_cast<size_t>(o - out);
}

uint64_t Scan(const uint8_t* p, size_t n, size_t* consumed) {
  uint64_t total = 0;
  uint64_t carry = 0;
  size_t i = 0;
  __m256i sums = _mm256_setzero_si256();
  for (; i + 65 <= n; i += 64) {
    const __m256i a = Load(p + i);
    const __m256i b = Load(p + i + 32);
    const uint64_t high = uint64_t{HighBits(a)} | uint64_t{HighBits(b)} << 32;
    if ((high | carry) == 0) {
      total += 64;
      continue;
    }
    const uint64_t counts = CountBytes(high, carry);
    total += static_cast<uint64_t>(Popcount(Literals(counts, carry)));
    const __m256i runs =
        _mm256_add_epi8(_mm256_and_si256(_mm256_and_si256(a, Bytes(kLongestRun)),
                                         ByteMask(static_cast<uint32_t>(counts))),
                        _mm256_and_si256(_mm256_and_si256(b, Bytes(kLongestRun)),
                                         ByteMask(static_cast<uint32_t>(counts >> 32))));
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(runs, _mm256_setzero_si256()));
    carry = counts >> 63;
  }
  alignas(32) uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
  *consumed = i + carry;
  return total + lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

}  // namespace

const Kernels kAvx2Kernels = {"avx2", Encode, Decode, Scan};

}  // namespace rle::kernel
