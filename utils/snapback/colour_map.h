// The colour rule that turns any image into palette indices:
//   1. A pixel with alpha below 128 gets index 255.
//   2. An indexed image whose colours equal the tool palette's at every
//      index it uses keeps its indices, so converting out and back is
//      lossless.
//   3. Otherwise each pixel gets the nearest palette index: the smallest
//      dr^2 + dg^2 + db^2, ties to the lowest index; the fullbright indices
//      (N..255 when set) only for a colour they hold exactly.
// Dithering replaces step 3 for the full-size image with Floyd-Steinberg
// error diffusion, left to right, top to bottom.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace snapback {

// The first fullbright index when none is kept back for exact matches.
inline constexpr int kNoFullbright = 256;
inline constexpr uint8_t kTransparentIndex = 255;
inline constexpr int kOpaqueFrom = 128;

class ColourMap {
 public:
  // `palette`: the tool palette, 768 bytes. `fullbright`: the first index
  // kept for exact matches, 1 to 255, or kNoFullbright.
  ColourMap(const uint8_t* palette, int fullbright);

  // The nearest index to a colour, channels 0 to 255.
  uint8_t Nearest(int r, int g, int b) {
    const uint32_t key = kCacheValid | static_cast<uint32_t>(r << 16 | g << 8 | b);
    const CacheEntry& entry = cache_[Slot(key)];
    return entry.key == key ? entry.answer : Miss(key);
  }
  // Nearest() of each of `n` colours given as 0xRRGGBB, into out[0..n):
  // the memory of answers is read for all of them first, so that no
  // unpredictable branch stands between one read and the next.
  void NearestMany(const uint32_t* rgb, size_t n, uint8_t* out);
  const uint8_t* palette() const { return palette_.data(); }

 private:
  static constexpr int kCacheBits = 16;
  static constexpr uint32_t kCacheValid = 1u << 24;
  struct CacheEntry {
    uint32_t key = 0;  // kCacheValid | rgb once the entry holds an answer
    uint8_t answer = 0;
  };

  // Where a key's answer is kept: a multiplicative hash of it.
  static size_t Slot(uint32_t key) { return (key * 2654435761u) >> (32 - kCacheBits); }
  uint8_t Miss(uint32_t key);
  uint8_t Search(int r, int g, int b);
  // The indices below the fullbright ones that can be nearest to some
  // colour of the cell, ascending, built on first use.
  void BuildCell(size_t cell);

  std::array<uint8_t, 768> palette_;
  int fullbright_;
  // The colour cube in cells of kCellSide^3 colours.
  std::vector<int32_t> cell_start_;   // first group; -1: not built yet
  std::vector<uint16_t> cell_count_;  // groups
  // Four candidates laid out for one step of 16-bit multiply-adds: red and
  // green side by side, blue beside a zero, and the index. A cell's last
  // group is filled up with copies of its last candidate.
  struct Group {
    int16_t red_green[8];
    int16_t blue_zero[8];
    int32_t index[4];
  };
  std::vector<Group> groups_;
  // Colours of the fullbright indices (rgb << 8 | index), sorted, the lowest
  // index of a colour first.
  std::vector<uint32_t> exact_;
  std::vector<uint32_t> misses_;  // NearestMany's positions without an answer yet
  // Direct-mapped memory of recent answers: game art reuses few colours.
  std::vector<CacheEntry> cache_;
};

// Steps 1 and 3 for `n` pixels of `channels` bytes each (3: RGB, opaque;
// 4: RGBA), into out[0..n). Each pixel's index is its own alone, so an
// image may be mapped in pieces in any order.
void MapPixels(ColourMap& map, const uint8_t* pixels, size_t n, int channels, uint8_t* out);

// Dithering in place of step 3, for the rows of an image given top to
// bottom: the error a row leaves is carried to the next.
class Ditherer {
 public:
  Ditherer(ColourMap& map, size_t width);
  // The indices of the next row: `width` pixels of `channels` bytes, as
  // MapPixels takes them.
  void Row(const uint8_t* pixels, int channels, uint8_t* out);

 private:
  ColourMap& map_;
  size_t width_;
  // Two rows of errors in sixteenths, one spare pixel on each side.
  std::vector<int> here_, next_;
};

// The whole rule, dithering included, for a width x height image of
// indices into its own palette (`palette`: 3 bytes an entry, `alpha`: 1),
// mapped in place. True when step 2 kept the indices.
bool MapIndexed(uint8_t* pixels, size_t width, size_t height, const std::vector<uint8_t>& palette,
                const std::vector<uint8_t>& alpha, ColourMap& map, bool dither);

}  // namespace snapback
