// Reproducible content for the benchmark corpora and the codec benchmark:
// a seeded generator and fillers for the kinds of data resource archives
// hold. The same seed always gives the same bytes, on any host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// xoshiro256** seeded through splitmix64: fast, and the stream depends on
// nothing but the seed.
class Rng {
 public:
  explicit Rng(uint64_t seed);
  uint64_t Next();
  // A value in [0, n); n must be at least 1.
  uint32_t Below(uint32_t n) {
    return static_cast<uint32_t>(((Next() >> 32) * static_cast<uint64_t>(n)) >> 32);
  }
  // A value in [lo, hi].
  uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }

 private:
  uint64_t s_[4];
};

enum class DataKind {
  kRunny,   // long runs of one byte: what RLE is for
  kRandom,  // uniform bytes: RLE cannot shorten them
  kImage,   // palettised art: flat areas, dithered ramps and noisy texture
  kText,    // configuration and script text
};

const char* KindName(DataKind kind);

// Each filler writes exactly `n` bytes at `out`, drawn from `rng`.
void FillRunny(Rng& rng, uint8_t* out, size_t n);
void FillRandom(Rng& rng, uint8_t* out, size_t n);
void FillImage(Rng& rng, uint8_t* out, size_t n);
void FillText(Rng& rng, uint8_t* out, size_t n);
void Fill(DataKind kind, Rng& rng, uint8_t* out, size_t n);

// A 256-colour palette, 768 bytes of red, green and blue: sixteen ramps of
// sixteen shades, the way game palettes are laid out.
void MakePalette(uint8_t* out);

}  // namespace bench
