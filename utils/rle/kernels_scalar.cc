// The portable kernels: eight bytes at a time in plain integers on
// little-endian hosts, nothing on others (the byte loops of decoder.cc and
// run_length.cc then do all the work). The encoder's word-at-a-time code is run_length.cc itself.
#include <bit>
#include <cstring>

#include "rle/internal.h"
#include "rle/kernels.h"

namespace rle::kernel {

namespace {

using words::FirstByte;
using words::Load64;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

EncodeProgress Encode(const uint8_t*, size_t, uint8_t*) { return {}; }

// One unit per turn: the single bytes before the next count byte, then its
// run. Stores go in whole words (a run as 64 bytes, the longest there is),
// and only while that much room and input remain.
size_t Decode(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed) {
  uint8_t* o = out;
  uint8_t* const end = out + room;
  size_t i = 0;
  if constexpr (kLittleEndian) {
    while (i + 9 <= n && end - o >= 72) {
      const uint64_t x = Load64(p + i);
      const uint64_t m = words::CountBytes(x);
      std::memcpy(o, &x, 8);
      if (m == 0) {
        o += 8;
        i += 8;
        continue;
      }
      const size_t k = FirstByte(m);
      o += k;
      i += k;
      const uint64_t pattern = words::kOnes * p[i + 1];
      const int count = p[i] - kRunBase;
      std::memcpy(o, &pattern, 8);
      if (count > 8) {
        for (int w = 8; w < 64; w += 8) std::memcpy(o + w, &pattern, 8);
      }
      o += count;
      i += 2;
    }
  }
  *consumed = i;
  return static_cast<size_t>(o - out);
}

uint64_t Scan(const uint8_t* p, size_t n, size_t* consumed) {
  uint64_t total = 0;
  size_t i = 0;
  if constexpr (kLittleEndian) {
    while (i + 9 <= n) {
      const uint64_t m = words::CountBytes(Load64(p + i));
      if (m == 0) {
        total += 8;
        i += 8;
        continue;
      }
      const size_t k = FirstByte(m);
      total += k + static_cast<uint64_t>(p[i + k] - kRunBase);
      i += k + 2;
    }
  }
  *consumed = i;
  return total;
}

}  // namespace

const Kernels kScalarKernels = {"scalar", Encode, Decode, Scan};

}  // namespace rle::kernel
