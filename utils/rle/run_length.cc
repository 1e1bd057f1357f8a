#include "rle/run_length.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <iterator>

#include "rle/internal.h"
#include "rle/kernels.h"

namespace rle {

namespace {

// Widest first.
const kernel::Kernels* const kAllKernels[] = {
#if defined(__x86_64__)
    &kernel::kAvx512Kernels, &kernel::kAvx2Kernels, &kernel::kSsse3Kernels, &kernel::kSse2Kernels,
#endif
    &kernel::kScalarKernels,
};

bool Runs(const kernel::Kernels& k) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (&k == &kernel::kAvx512Kernels) {
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
  }
  if (&k == &kernel::kAvx2Kernels) {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  }
  if (&k == &kernel::kSsse3Kernels) {
    return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
  }
#endif
  (void)k;
  return true;
}

std::atomic<const kernel::Kernels*> active_kernels{nullptr};

const kernel::Kernels& Active() {
  const kernel::Kernels* k = active_kernels.load(std::memory_order_relaxed);
  if (k == nullptr) {
    k = *std::find_if(std::begin(kAllKernels), std::end(kAllKernels),
                      [](const kernel::Kernels* c) { return Runs(*c); });
    active_kernels.store(k, std::memory_order_relaxed);
  }
  return *k;
}

using words::FirstByte;
using words::Load64;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Index of the first byte at or after `i` (below `limit`, which must leave
// one byte of look-ahead) that equals its right neighbour, or `limit`.
size_t RunStart(const uint8_t* p, size_t i, size_t limit) {
  if constexpr (kLittleEndian) {
    while (i + 8 <= limit) {
      const uint64_t m = words::ZeroBytes(Load64(p + i) ^ Load64(p + i + 1));
      if (m != 0) return i + FirstByte(m);
      i += 8;
    }
  }
  while (i < limit && p[i] != p[i + 1]) ++i;
  return i;
}

// Writes single bytes, each byte of 0xC0 or more behind its escape 0xC1,
// without a branch per byte.
uint8_t* PutLiterals(uint8_t* o, const uint8_t* p, size_t n) {
  size_t i = 0;
  if constexpr (kLittleEndian) {
    for (; i + 8 <= n; i += 8) {
      if (words::CountBytes(Load64(p + i)) == 0) {
        std::memcpy(o, p + i, 8);
        o += 8;
        continue;
      }
      for (size_t k = i; k < i + 8; ++k) {
        *o = kRunBase | 1;
        o += p[k] >= kRunBase;
        *o++ = p[k];
      }
    }
  }
  for (; i < n; ++i) {
    *o = kRunBase | 1;
    o += p[i] >= kRunBase;
    *o++ = p[i];
  }
  return o;
}

// The index of the first byte at or after `i` (below `limit`) that is not
// `byte`, or `limit`.
inline size_t RunEnd(const uint8_t* p, size_t i, size_t limit, uint8_t byte) {
  if constexpr (kLittleEndian) {
    const uint64_t pattern = words::kOnes * byte;
    while (i + 8 <= limit) {
      const uint64_t diff = Load64(p + i) ^ pattern;
      if (diff != 0) return i + (static_cast<size_t>(__builtin_ctzll(diff)) >> 3);
      i += 8;
    }
  }
  while (i < limit && p[i] == byte) ++i;
  return i;
}

// Extends a run of `byte` that has `*length` bytes and continues at `i`,
// up to kLongestRun bytes or `n`; returns the index behind it.
size_t ExtendRun(const uint8_t* p, size_t i, size_t n, int byte, int* length) {
  const size_t end = RunEnd(p, i, std::min(n, i + static_cast<size_t>(kLongestRun - *length)),
                            static_cast<uint8_t>(byte));
  *length += static_cast<int>(end - i);
  return end;
}

// Writes one run (a single byte below 0xC0 as itself); returns the end.
uint8_t* PutRun(uint8_t* o, int byte, int length) {
  if (length > 1 || byte >= kRunBase) *o++ = static_cast<uint8_t>(kRunBase | length);
  *o++ = static_cast<uint8_t>(byte);
  return o;
}

// A run not written yet because the input may go on.
struct OpenRun {
  int byte = 0;
  int length = 0;  // 0: none
};

// Encodes `n` bytes at `p` into `out` (room for 2 * n bytes) and returns the
// count written. With `open` null every run is written; otherwise a last
// run shorter than kLongestRun is not written but left in `*open`, since
// the next piece of a longer input may continue it.
size_t EncodeRuns(const uint8_t* p, size_t n, uint8_t* out, OpenRun* open) {
  const kernel::EncodeProgress done = Active().encode(p, n, out);
  uint8_t* o = out + done.out;
  size_t i = done.in;
  if (done.pending > 0) {
    // The kernel stopped inside a run, which p[i] continues.
    int length = done.pending;
    const auto byte = p[i];
    i = ExtendRun(p, i, n, byte, &length);
    if (open != nullptr && i == n && length < kLongestRun) {
      *open = {byte, length};
      return static_cast<size_t>(o - out);
    }
    o = PutRun(o, byte, length);
  }
  while (i < n) {
    // The last byte always starts a run: its right neighbour is not here.
    const size_t end = RunStart(p, i, n - 1);
    o = PutLiterals(o, p + i, end - i);
    i = end;
    const uint8_t byte = p[i];
    const size_t run_end = RunEnd(p, i + 1, std::min(n, i + kLongestRun), byte);
    const int length = static_cast<int>(run_end - i);
    i = run_end;
    if (open != nullptr && i == n && length < kLongestRun) {
      *open = {byte, length};
      break;
    }
    o = PutRun(o, byte, length);
  }
  return static_cast<size_t>(o - out);
}

}  // namespace

size_t Encode(const uint8_t* p, size_t n, uint8_t* out) { return EncodeRuns(p, n, out, nullptr); }

size_t Encoder::Feed(const uint8_t* p, size_t n, uint8_t* out) {
  if (n == 0) return 0;
  uint8_t* o = out;
  size_t i = 0;
  if (open_length_ > 0) {
    i = ExtendRun(p, 0, n, open_byte_, &open_length_);
    if (i == n && open_length_ < kLongestRun) return 0;
    o = PutRun(o, open_byte_, open_length_);
    open_length_ = 0;
  }
  OpenRun open;
  o += EncodeRuns(p + i, n - i, o, &open);
  open_byte_ = open.byte;
  open_length_ = open.length;
  return static_cast<size_t>(o - out);
}

size_t Encoder::Finish(uint8_t* out) {
  if (open_length_ == 0) return 0;
  const uint8_t* end = PutRun(out, open_byte_, open_length_);
  open_length_ = 0;
  return static_cast<size_t>(end - out);
}

size_t DecodeUnits(const uint8_t* p, size_t n, uint8_t* out, size_t room, size_t* consumed) {
  return Active().decode(p, n, out, room, consumed);
}

uint64_t ScanUnits(const uint8_t* p, size_t n, size_t* consumed) {
  return Active().scan(p, n, consumed);
}

std::vector<std::string> RunLengthPaths() {
  std::vector<std::string> paths;
  for (const kernel::Kernels* k : kAllKernels) {
    if (Runs(*k)) paths.emplace_back(k->name);
  }
  return paths;
}

std::string RunLengthPath() { return Active().name; }

bool UseRunLengthPath(std::string_view path) {
  for (const kernel::Kernels* k : kAllKernels) {
    if (k->name == path && Runs(*k)) {
      active_kernels.store(k, std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

}  // namespace rle
