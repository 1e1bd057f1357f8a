// The streaming encoder and decoder. Both move literal stretches in bulk:
// eight bytes at a time are tested for "a byte of 0xC0 or more, or a byte
// equal to its right neighbour" (encoder) or "a count byte" (decoder), and
// the bytes before the first hit are copied at once.
#include <bit>
#include <cstring>

#include "mixed/mixed.h"

namespace mixed {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // little-endian hosts: byte 0 is the lowest
}

// High bit set in each byte of `v` that is zero; exact for the lowest such
// byte, which is all the callers look at.
uint64_t ZeroBytes(uint64_t v) { return (v - kOnes) & ~v & kHighs; }

// High bit set in each byte that is 0xC0 or above (both top bits set).
uint64_t CountBytes(uint64_t v) { return v & (v << 1) & kHighs; }

// Index of the first byte at or after `i` (below `limit`, which must leave
// one byte of look-ahead) that needs more than a literal copy: a byte of
// 0xC0 or more, or the start of a run.
size_t LiteralEnd(const uint8_t* p, size_t i, size_t limit) {
  if constexpr (std::endian::native == std::endian::little) {
    while (i + 8 <= limit) {
      const uint64_t x = Load64(p + i);
      const uint64_t m = ZeroBytes(x ^ Load64(p + i + 1)) | CountBytes(x);
      if (m != 0) return i + (static_cast<size_t>(__builtin_ctzll(m)) >> 3);
      i += 8;
    }
  }
  while (i < limit && p[i] < kCountBase && p[i] != p[i + 1]) ++i;
  return i;
}

uint8_t* PutRun(uint8_t* o, int byte, int length) {
  if (length > 1 || byte >= kCountBase) *o++ = static_cast<uint8_t>(kCountBase | length);
  *o++ = static_cast<uint8_t>(byte);
  return o;
}

}  // namespace

void RleEncoder::Feed(const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  if (n == 0) return;
  const size_t base = out->size();
  out->resize(base + 2 * n + 2);
  uint8_t* const start = out->data() + base;
  uint8_t* o = start;
  size_t i = 0;
  if (run_length_ > 0) {
    while (i < n && p[i] == run_byte_ && run_length_ < kMaxRun) {
      ++run_length_;
      ++i;
    }
    if (i == n && run_length_ < kMaxRun) {
      out->resize(base);
      return;
    }
    o = PutRun(o, run_byte_, run_length_);
    run_length_ = 0;
  }
  while (i < n) {
    // The last byte of the piece always opens a run: its neighbour is unknown.
    const size_t end = LiteralEnd(p, i, n - 1);
    std::memcpy(o, p + i, end - i);
    o += end - i;
    i = end;
    const int byte = p[i];
    int length = 1;
    ++i;
    while (i < n && p[i] == byte && length < kMaxRun) {
      ++length;
      ++i;
    }
    if (i == n && length < kMaxRun) {
      run_byte_ = byte;
      run_length_ = length;
      break;
    }
    o = PutRun(o, byte, length);
  }
  out->resize(base + static_cast<size_t>(o - start));
}

void RleEncoder::Finish(std::vector<uint8_t>* out) {
  if (run_length_ == 0) return;
  uint8_t unit[2];
  const uint8_t* end = PutRun(unit, run_byte_, run_length_);
  out->insert(out->end(), static_cast<const uint8_t*>(unit), end);
  run_length_ = 0;
}

void RleDecoder::Feed(const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  if (n == 0) return;
  const size_t base = out->size();
  out->resize(base + static_cast<size_t>(kMaxRun) * n / 2 + n + kMaxRun);
  uint8_t* const start = out->data() + base;
  uint8_t* o = start;
  size_t i = 0;
  if (pending_) {
    std::memset(o, p[i++], static_cast<size_t>(pending_count_));
    o += pending_count_;
    pending_ = false;
  }
  while (i < n) {
    size_t end = i;
    if constexpr (std::endian::native == std::endian::little) {
      while (end + 8 <= n) {
        const uint64_t m = CountBytes(Load64(p + end));
        if (m != 0) {
          end += static_cast<size_t>(__builtin_ctzll(m)) >> 3;
          break;
        }
        end += 8;
      }
    }
    while (end < n && p[end] < kCountBase) ++end;
    std::memcpy(o, p + i, end - i);
    o += end - i;
    i = end;
    if (i == n) break;
    const int count = p[i] - kCountBase;
    if (i + 1 == n) {
      pending_ = true;
      pending_count_ = count;
      break;
    }
    std::memset(o, p[i + 1], static_cast<size_t>(count));
    o += count;
    i += 2;
  }
  out->resize(base + static_cast<size_t>(o - start));
}

}  // namespace mixed
