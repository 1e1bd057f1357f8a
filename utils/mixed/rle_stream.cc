// The streaming encoder, decoder and size scanner. The encoder hands whole
// pieces to the shared run encoder and only carries a run across pieces;
// the decoder and the scanner work on eight bytes at a time where they can,
// passing over the bytes before the next count byte at once, and the
// decoder writes runs with word stores.
#include <algorithm>
#include <bit>
#include <cstring>

#include "host/run_length.h"
#include "mixed/mixed.h"

namespace mixed {

namespace {

using host::words::CountBytes;
using host::words::FirstByte;
using host::words::kOnes;
using host::words::Load64;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Index of the first count byte at or after `i`, or `n`.
size_t CountByteAt(const uint8_t* p, size_t i, size_t n) {
  if constexpr (kLittleEndian) {
    while (i + 8 <= n) {
      const uint64_t m = CountBytes(Load64(p + i));
      if (m != 0) return i + FirstByte(m);
      i += 8;
    }
  }
  while (i < n && p[i] < kCountBase) ++i;
  return i;
}

}  // namespace

size_t RleEncoder::Feed(const uint8_t* p, size_t n, uint8_t* out) {
  if (n == 0) return 0;
  uint8_t* o = out;
  size_t i = 0;
  if (open_.length > 0) {
    i = host::ExtendRun(p, 0, n, open_.byte, &open_.length);
    if (i == n && open_.length < kMaxRun) return 0;
    o = host::PutRun(o, open_.byte, open_.length);
    open_ = {};
  }
  return static_cast<size_t>(o - out) + host::EncodeRuns(p + i, n - i, o, &open_);
}

size_t RleEncoder::Finish(uint8_t* out) {
  if (open_.length == 0) return 0;
  const uint8_t* end = host::PutRun(out, open_.byte, open_.length);
  open_ = {};
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
      const size_t k = FirstByte(m);
      o += k;
      i += k;
      if (i + 1 >= n) break;
      const uint64_t pattern = kOnes * p[i + 1];
      const int count = p[i] - kCountBase;
      std::memcpy(o, &pattern, 8);
      if (count > 8) {
        for (int w = 8; w < 64; w += 8) std::memcpy(o + w, &pattern, 8);
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
      const size_t k = FirstByte(m);
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
