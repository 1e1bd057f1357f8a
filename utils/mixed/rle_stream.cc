// The streaming encoder, decoder and size scanner. They work on eight bytes
// at a time where they can: the encoder looks for the next byte equal to its
// right neighbour and copies the single bytes before it, escaping those of
// 0xC0 or more without a branch; the decoder and the scanner pass over the
// bytes before the next count byte at once, and the decoder writes short
// runs with two word stores.
#include <algorithm>
#include <bit>
#include <cstring>

#include "mixed/mixed.h"

namespace mixed {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // on little-endian hosts byte 0 is the lowest
}

// High bit set in each byte of `v` that is zero; exact for the lowest such
// byte, which is all the callers look at.
uint64_t ZeroBytes(uint64_t v) { return (v - kOnes) & ~v & kHighs; }

// High bit set in each byte that is 0xC0 or above (both top bits set).
uint64_t CountBytes(uint64_t v) { return v & (v << 1) & kHighs; }

size_t FirstFlagged(uint64_t mask) { return static_cast<size_t>(__builtin_ctzll(mask)) >> 3; }

// Index of the first byte at or after `i` (below `limit`, which must leave
// one byte of look-ahead) that equals its right neighbour, or `limit`.
size_t RunStart(const uint8_t* p, size_t i, size_t limit) {
  if constexpr (kLittleEndian) {
    while (i + 8 <= limit) {
      const uint64_t m = ZeroBytes(Load64(p + i) ^ Load64(p + i + 1));
      if (m != 0) return i + FirstFlagged(m);
      i += 8;
    }
  }
  while (i < limit && p[i] != p[i + 1]) ++i;
  return i;
}

// Index of the first count byte at or after `i`, or `n`.
size_t CountByteAt(const uint8_t* p, size_t i, size_t n) {
  if constexpr (kLittleEndian) {
    while (i + 8 <= n) {
      const uint64_t m = CountBytes(Load64(p + i));
      if (m != 0) return i + FirstFlagged(m);
      i += 8;
    }
  }
  while (i < n && p[i] < kCountBase) ++i;
  return i;
}

// Writes single bytes, each byte of 0xC0 or more behind its escape 0xC1.
uint8_t* PutLiterals(uint8_t* o, const uint8_t* p, size_t n) {
  size_t i = 0;
  if constexpr (kLittleEndian) {
    for (; i + 8 <= n; i += 8) {
      if (CountBytes(Load64(p + i)) == 0) {
        std::memcpy(o, p + i, 8);
        o += 8;
        continue;
      }
      for (size_t k = i; k < i + 8; ++k) {
        *o = kCountBase | 1;
        o += p[k] >= kCountBase;
        *o++ = p[k];
      }
    }
  }
  for (; i < n; ++i) {
    *o = kCountBase | 1;
    o += p[i] >= kCountBase;
    *o++ = p[i];
  }
  return o;
}

// Extends a run of `byte` that has `*length` bytes and continues at `i`,
// up to kMaxRun bytes or the end of the piece; returns the index behind it.
size_t ExtendRun(const uint8_t* p, size_t i, size_t n, int byte, int* length) {
  if constexpr (kLittleEndian) {
    const uint64_t pattern = kOnes * static_cast<uint8_t>(byte);
    while (*length < kMaxRun && i + 8 <= n) {
      const uint64_t diff = Load64(p + i) ^ pattern;
      const size_t same = diff == 0 ? 8 : static_cast<size_t>(__builtin_ctzll(diff)) >> 3;
      const size_t take = std::min<size_t>(same, static_cast<size_t>(kMaxRun - *length));
      *length += static_cast<int>(take);
      i += take;
      if (take < 8) return i;
    }
  }
  while (i < n && p[i] == byte && *length < kMaxRun) {
    ++*length;
    ++i;
  }
  return i;
}

uint8_t* PutRun(uint8_t* o, int byte, int length) {
  if (length > 1 || byte >= kCountBase) *o++ = static_cast<uint8_t>(kCountBase | length);
  *o++ = static_cast<uint8_t>(byte);
  return o;
}

}  // namespace

size_t RleEncoder::Feed(const uint8_t* p, size_t n, uint8_t* out) {
  uint8_t* o = out;
  size_t i = 0;
  if (n == 0) return 0;
  if (run_length_ > 0) {
    i = ExtendRun(p, i, n, run_byte_, &run_length_);
    if (i == n && run_length_ < kMaxRun) return 0;
    o = PutRun(o, run_byte_, run_length_);
    run_length_ = 0;
  }
  while (i < n) {
    // The last byte of the piece always opens a run: its neighbour is unknown.
    const size_t end = RunStart(p, i, n - 1);
    o = PutLiterals(o, p + i, end - i);
    i = end;
    const int byte = p[i];
    int length = 1;
    i = ExtendRun(p, i + 1, n, byte, &length);
    if (i == n && length < kMaxRun) {
      run_byte_ = byte;
      run_length_ = length;
      break;
    }
    o = PutRun(o, byte, length);
  }
  return static_cast<size_t>(o - out);
}

size_t RleEncoder::Finish(uint8_t* out) {
  if (run_length_ == 0) return 0;
  const uint8_t* end = PutRun(out, run_byte_, run_length_);
  run_length_ = 0;
  return static_cast<size_t>(end - out);
}

size_t RleDecoder::Feed(const uint8_t* p, size_t n, uint8_t* out, size_t room) {
  uint8_t* o = out;
  uint8_t* const end = out + room;
  size_t i = 0;
  if (n == 0) return 0;
  if (pending_) {
    pending_ = false;
    if (static_cast<size_t>(end - o) < static_cast<size_t>(pending_count_)) {
      overflowed_ = true;
      return 0;
    }
    if (pending_count_ > 0) std::memset(o, p[i], static_cast<size_t>(pending_count_));
    ++i;
    o += pending_count_;
  }
  if constexpr (kLittleEndian) {
    // One unit per turn: the single bytes before the next count byte, then
    // its run. Stores go in whole words (a run as 64 bytes, the longest
    // there is), and only while that much room and input remain.
    while (i + 8 <= n && end - o >= 72) {
      const uint64_t x = Load64(p + i);
      const uint64_t m = CountBytes(x);
      std::memcpy(o, &x, 8);
      if (m == 0) {
        o += 8;
        i += 8;
        continue;
      }
      const size_t k = FirstFlagged(m);
      o += k;
      i += k;
      if (i + 1 >= n) break;
      const uint64_t pattern = kOnes * p[i + 1];
      const int count = p[i] - kCountBase;
      std::memcpy(o, &pattern, 8);
      std::memcpy(o + 8, &pattern, 8);
      if (count > 16) {
        for (int w = 16; w < 64; w += 8) std::memcpy(o + w, &pattern, 8);
      }
      o += count;
      i += 2;
    }
  }
  while (i < n) {
    const uint8_t in = p[i];
    if (in < kCountBase) {
      if (o == end) {
        overflowed_ = true;
        break;
      }
      *o++ = in;
      ++i;
      continue;
    }
    const size_t count = in - kCountBase;
    if (i + 1 == n) {
      pending_ = true;
      pending_count_ = static_cast<int>(count);
      break;
    }
    if (static_cast<size_t>(end - o) < count) {
      overflowed_ = true;
      break;
    }
    if (count > 0) std::memset(o, p[i + 1], count);  // `o` may be null when room is 0
    o += count;
    i += 2;
  }
  return static_cast<size_t>(o - out);
}

void RleScanner::Feed(const uint8_t* p, size_t n) {
  size_t i = 0;
  if (pending_ && n > 0) {
    decoded_ += pending_count_;
    pending_ = false;
    i = 1;
  }
  if constexpr (kLittleEndian) {
    // One unit per turn, as in the decoder.
    while (i + 9 <= n) {
      const uint64_t m = CountBytes(Load64(p + i));
      if (m == 0) {
        decoded_ += 8;
        i += 8;
        continue;
      }
      const size_t k = FirstFlagged(m);
      decoded_ += static_cast<int64_t>(k) + (p[i + k] - kCountBase);
      i += k + 2;
    }
  }
  while (i < n) {
    const size_t literal_end = CountByteAt(p, i, n);
    decoded_ += static_cast<int64_t>(literal_end - i);
    i = literal_end;
    if (i == n) break;
    if (i + 1 == n) {
      pending_ = true;
      pending_count_ = p[i] - kCountBase;
      break;
    }
    decoded_ += p[i] - kCountBase;
    i += 2;
  }
}

}  // namespace mixed
