// The stream decoder and size scanner. The chosen kernels take the bulk of
// each piece; the last units, where a count byte may wait for its data byte
// in the next piece or a run meet the end of the room, are finished here.
#include <algorithm>
#include <bit>
#include <cstring>

#include "rle/internal.h"
#include "rle/run_length.h"

namespace rle {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Index of the first count byte at or after `i`, or `n`.
size_t CountByteAt(const uint8_t* p, size_t i, size_t n) {
  if constexpr (kLittleEndian) {
    while (i + 8 <= n) {
      const uint64_t m = words::CountBytes(words::Load64(p + i));
      if (m != 0) return i + words::FirstByte(m);
      i += 8;
    }
  }
  while (i < n && p[i] < kRunBase) ++i;
  return i;
}

}  // namespace

size_t Decoder::Feed(const uint8_t* p, size_t n, uint8_t* out, size_t room) {
  if (n == 0 || overflowed_) return 0;
  uint8_t* o = out;
  size_t left = room;
  size_t i = 0;
  // Writes `count` bytes `byte` as far as the room goes; false when it
  // ran out first.
  const auto put_run = [&](uint8_t byte, size_t count) {
    const size_t fits = std::min(count, left);
    if (fits > 0) std::memset(o, byte, fits);  // `o` may be null when the room is 0
    o += fits;
    left -= fits;
    overflowed_ = fits < count;
    return !overflowed_;
  };
  if (pending_) {
    pending_ = false;
    if (!put_run(p[0], static_cast<size_t>(pending_count_))) return room - left;
    i = 1;
  }
  size_t done = 0;
  const size_t bulk = DecodeUnits(p + i, n - i, o, left, &done);
  o += bulk;
  left -= bulk;
  i += done;
  while (i < n) {
    const uint8_t in = p[i];
    if (in < kRunBase) {
      if (!put_run(in, 1)) break;
      ++i;
      continue;
    }
    if (i + 1 == n) {
      pending_ = true;
      pending_count_ = in - kRunBase;
      break;
    }
    if (!put_run(p[i + 1], in - kRunBase)) break;
    i += 2;
  }
  return room - left;
}

void Scanner::Feed(const uint8_t* p, size_t n) {
  size_t i = 0;
  if (pending_ && n > 0) {
    decoded_ += pending_count_;
    pending_ = false;
    i = 1;
  }
  size_t done = 0;
  decoded_ += static_cast<int64_t>(ScanUnits(p + i, n - i, &done));
  i += done;
  while (i < n) {
    const size_t literal_end = CountByteAt(p, i, n);
    decoded_ += static_cast<int64_t>(literal_end - i);
    i = literal_end;
    if (i == n) break;
    if (i + 1 == n) {
      pending_ = true;
      pending_count_ = p[i] - kRunBase;
      break;
    }
    decoded_ += p[i] - kRunBase;
    i += 2;
  }
}

}  // namespace rle
