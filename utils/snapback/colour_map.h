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

// An image as read from a file: palette indices with the file's own palette
// and per-entry alpha, or RGBA.
struct SourceImage {
  int width = 0;
  int height = 0;
  bool indexed = false;
  std::vector<uint8_t> pixels;         // width * height indices, or 4 bytes per pixel
  std::vector<uint8_t> palette;        // indexed: 3 bytes per entry
  std::vector<uint8_t> palette_alpha;  // indexed: 1 byte per entry
};

class ColourMap {
 public:
  // `palette`: the tool palette, 768 bytes. `fullbright`: the first index
  // kept for exact matches, 1 to 255, or kNoFullbright.
  ColourMap(const uint8_t* palette, int fullbright);

  // The nearest index to a colour, channels 0 to 255.
  uint8_t Nearest(int r, int g, int b);
  const uint8_t* palette() const { return palette_.data(); }

 private:
  uint8_t Search(int r, int g, int b);
  // The indices below the fullbright ones that can be nearest to some
  // colour of the cell, ascending, built on first use.
  void BuildCell(size_t cell);

  std::array<uint8_t, 768> palette_;
  int fullbright_;
  // The colour cube in cells of kCellSide^3 colours.
  std::vector<int32_t> cell_start_;  // -1: not built yet
  std::vector<uint16_t> cell_count_;
  std::vector<uint8_t> candidates_;
  // Colours of the fullbright indices (rgb << 8 | index), sorted, the lowest
  // index of a colour first.
  std::vector<uint32_t> exact_;
  // Direct-mapped memory of recent answers: game art reuses few colours.
  // A key is 1 << 24 | rgb once its slot holds an answer.
  std::vector<uint32_t> cache_keys_;
  std::vector<uint8_t> cache_answers_;
};

// The full-size indices of `image` by the rule above. `*kept` tells whether
// step 2 applied.
std::vector<uint8_t> MapImage(const SourceImage& image, ColourMap& map, bool dither, bool* kept);

}  // namespace snapback
