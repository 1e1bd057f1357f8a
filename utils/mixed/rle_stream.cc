// The streaming encoder, decoder and size scanner. The encoder hands whole
// pieces to the shared run encoder and only carries a run across pieces;
// the decoder and the scanner hand the bulk of each piece to the shared
// kernels and finish its last units here, where a count byte may wait for
// its data byte in the next piece.
#include <algorithm>
#include <bit>
#include <cstring>

#include "mixed/mixed.h"
#include "rle/run_length.h"

namespace mixed {

namespace {

using rle::words::CountBytes;
using rle::words::FirstByte;
using rle::words::Load64;

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
  while (i < n && p[i] < rle::kRunBase) ++i;
  return i;
}

}  // namespace

size_t RleEncoder::Feed(const uint8_t* p, size_t n, uint8_t* out) {
  if (n == 0) return 0;
  uint8_t* o = out;
  size_t i = 0;
  if (open_.length > 0) {
    i = rle::ExtendRun(p, 0, n, open_.byte, &open_.length);
    if (i == n && open_.length < rle::kLongestRun) return 0;
    o = rle::PutRun(o, open_.byte, open_.length);
    open_ = {};
  }
  return static_cast<size_t>(o - out) + rle::EncodeRuns(p + i, n - i, o, &open_);
}

size_t RleEncoder::Finish(uint8_t* out) {
  if (open_.length == 0) return 0;
  const uint8_t* end = rle::PutRun(out, open_.byte, open_.length);
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
  size_t done = 0;
  o += rle::DecodeUnits(p + i, n - i, o, static_cast<size_t>(end - o), &done);
  i += done;
  while (i < n) {
    const uint8_t in = p[i];
    if (in < rle::kRunBase) {
      if (o == end) {
        overflowed_ = true;
        break;
      }
      *o++ = in;
      ++i;
      continue;
    }
    const size_t count = in - rle::kRunBase;
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
  size_t done = 0;
  decoded_ += static_cast<int64_t>(rle::ScanUnits(p + i, n - i, &done));
  i += done;
  while (i < n) {
    const size_t literal_end = CountByteAt(p, i, n);
    decoded_ += static_cast<int64_t>(literal_end - i);
    i = literal_end;
    if (i == n) break;
    if (i + 1 == n) {
      pending_ = true;
      pending_count_ = p[i] - rle::kRunBase;
      break;
    }
    decoded_ += p[i] - rle::kRunBase;
    i += 2;
  }
}

}  // namespace mixed
