#include "snapback/colour_map.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace snapback {

namespace {

constexpr size_t kCacheBits = 16;
constexpr int kCellSide = 8;
constexpr size_t kCells = 256 / kCellSide;
constexpr uint32_t kValid = 1u << 24;

uint32_t Key(int r, int g, int b) {
  return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

bool Transparent(const SourceImage& image, size_t i) {
  if (image.indexed) return image.palette_alpha[image.pixels[i]] < kOpaqueFrom;
  return image.pixels[4 * i + 3] < kOpaqueFrom;
}

// Step 2: every opaque pixel's index exists in the tool palette with the
// same colour.
bool PaletteMatches(const SourceImage& image, const uint8_t* palette) {
  if (!image.indexed) return false;
  std::array<bool, 256> used{};
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    if (!Transparent(image, i)) used[image.pixels[i]] = true;
  }
  for (size_t index = 0; index < used.size(); ++index) {
    if (used[index] && (3 * index + 3 > image.palette.size() ||
                        std::memcmp(&image.palette[3 * index], palette + 3 * index, 3) != 0)) {
      return false;
    }
  }
  return true;
}

const uint8_t* Colour(const SourceImage& image, size_t i) {
  return image.indexed ? &image.palette[3 * size_t{image.pixels[i]}] : &image.pixels[4 * i];
}

// Floyd-Steinberg: the error of each pixel goes 7/16 right, 3/16 down-left,
// 5/16 down, 1/16 down-right. Transparent pixels neither take nor pass on
// error.
void Dither(const SourceImage& image, ColourMap& map, std::vector<uint8_t>* out) {
  const size_t w = static_cast<size_t>(image.width);
  // Two rows of errors in sixteenths, one spare pixel on each side.
  std::vector<int> here(3 * (w + 2)), next(3 * (w + 2));
  for (size_t y = 0; y < static_cast<size_t>(image.height); ++y) {
    std::fill(next.begin(), next.end(), 0);
    for (size_t x = 0; x < w; ++x) {
      const size_t i = y * w + x;
      if (Transparent(image, i)) {
        (*out)[i] = kTransparentIndex;
        continue;
      }
      const uint8_t* c = Colour(image, i);
      int want[3];
      for (int k = 0; k < 3; ++k) {
        // Rounded to nearest, halves away from zero.
        const int e = here[3 * (x + 1) + k];
        want[k] = std::clamp(c[k] + (e >= 0 ? e + 8 : e - 8) / 16, 0, 255);
      }
      const uint8_t index = map.Nearest(want[0], want[1], want[2]);
      (*out)[i] = index;
      for (int k = 0; k < 3; ++k) {
        const int e = want[k] - map.palette()[3 * index + k];
        here[3 * (x + 2) + k] += 7 * e;
        next[3 * x + k] += 3 * e;
        next[3 * (x + 1) + k] += 5 * e;
        next[3 * (x + 2) + k] += e;
      }
    }
    here.swap(next);
  }
}

}  // namespace

ColourMap::ColourMap(const uint8_t* palette, int fullbright)
    : fullbright_(fullbright),
      cell_start_(kCells * kCells * kCells, -1),
      cell_count_(kCells * kCells * kCells, 0),
      cache_keys_(size_t{1} << kCacheBits, 0),
      cache_answers_(size_t{1} << kCacheBits, 0) {
  std::memcpy(palette_.data(), palette, palette_.size());
  for (int i = fullbright_; i < 256; ++i) {
    const uint8_t* c = &palette_[3 * static_cast<size_t>(i)];
    exact_.push_back(Key(c[0], c[1], c[2]) << 8 | static_cast<uint32_t>(i));
  }
  std::sort(exact_.begin(), exact_.end());
}

uint8_t ColourMap::Nearest(int r, int g, int b) {
  const uint32_t key = Key(r, g, b);
  const size_t slot = (key * 2654435761u) >> (32 - kCacheBits);
  if (cache_keys_[slot] == (kValid | key)) return cache_answers_[slot];
  const uint8_t index = Search(r, g, b);
  cache_keys_[slot] = kValid | key;
  cache_answers_[slot] = index;
  return index;
}

void ColourMap::BuildCell(size_t cell) {
  const int lo[3] = {static_cast<int>(cell / (kCells * kCells)) * kCellSide,
                     static_cast<int>(cell / kCells % kCells) * kCellSide,
                     static_cast<int>(cell % kCells) * kCellSide};
  // An index whose nearest approach to the cell is farther than some
  // index's farthest point of it is never the nearest for a colour there.
  std::array<int, 256> nearest_approach{};
  int bound = INT32_MAX;
  for (int i = 0; i < fullbright_; ++i) {
    int near = 0, far = 0;
    for (int k = 0; k < 3; ++k) {
      const int v = palette_[3 * static_cast<size_t>(i) + static_cast<size_t>(k)];
      const int hi = lo[k] + kCellSide - 1;
      const int dn = v < lo[k] ? lo[k] - v : v > hi ? v - hi : 0;
      const int df = std::max(v - lo[k], hi - v);
      near += dn * dn;
      far += df * df;
    }
    nearest_approach[static_cast<size_t>(i)] = near;
    bound = std::min(bound, far);
  }
  cell_start_[cell] = static_cast<int32_t>(candidates_.size());
  for (int i = 0; i < fullbright_; ++i) {
    if (nearest_approach[static_cast<size_t>(i)] <= bound) {
      candidates_.push_back(static_cast<uint8_t>(i));
    }
  }
  cell_count_[cell] = static_cast<uint16_t>(candidates_.size() - static_cast<size_t>(cell_start_[cell]));
}

uint8_t ColourMap::Search(int r, int g, int b) {
  // fullbright_ is at least 1, so some index is always found.
  int best = 0;
  int best_distance = INT32_MAX;
  {
    const size_t cell = (static_cast<size_t>(r / kCellSide) * kCells +
                         static_cast<size_t>(g / kCellSide)) * kCells +
                        static_cast<size_t>(b / kCellSide);
    if (cell_start_[cell] < 0) BuildCell(cell);
    const uint8_t* list = candidates_.data() + cell_start_[cell];
    // Ascending indices and a strict comparison: ties go to the lowest.
    for (size_t n = 0; n < cell_count_[cell]; ++n) {
      const size_t i = list[n];
      const int dr = r - palette_[3 * i];
      const int dg = g - palette_[3 * i + 1];
      const int db = b - palette_[3 * i + 2];
      const int d = dr * dr + dg * dg + db * db;
      if (d < best_distance) {
        best_distance = d;
        best = static_cast<int>(i);
      }
    }
  }
  if (best_distance == 0) return static_cast<uint8_t>(best);
  // The fullbright indices take only their own colour.
  const uint32_t key = Key(r, g, b);
  const auto it = std::lower_bound(exact_.begin(), exact_.end(), key << 8);
  if (it != exact_.end() && (*it >> 8) == key) return static_cast<uint8_t>(*it & 0xFF);
  return static_cast<uint8_t>(best);
}

std::vector<uint8_t> MapImage(const SourceImage& image, ColourMap& map, bool dither, bool* kept) {
  const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  std::vector<uint8_t> out(n);
  *kept = PaletteMatches(image, map.palette());
  if (*kept) {
    for (size_t i = 0; i < n; ++i) out[i] = Transparent(image, i) ? kTransparentIndex : image.pixels[i];
    return out;
  }
  if (dither) {
    Dither(image, map, &out);
    return out;
  }
  for (size_t i = 0; i < n; ++i) {
    if (Transparent(image, i)) {
      out[i] = kTransparentIndex;
      continue;
    }
    const uint8_t* c = Colour(image, i);
    out[i] = map.Nearest(c[0], c[1], c[2]);
  }
  return out;
}

}  // namespace snapback
