#include "snapback/colour_map.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace snapback {

namespace {

#if defined(__SSE2__)
template <typename T>
__m128i Load(const T* lanes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
}

// The lesser of each pair of lanes, as signed 32-bit numbers (SSE2 has no
// minimum of its own for them).
__m128i Least(__m128i a, __m128i b) {
  const __m128i less = _mm_cmplt_epi32(b, a);
  return _mm_or_si128(_mm_and_si128(less, b), _mm_andnot_si128(less, a));
}
#endif

// Colours looked up at a time: those in waiting stay in the fastest cache.
constexpr size_t kPiece = 4096;

constexpr int kCellSide = 8;
constexpr size_t kCells = 256 / kCellSide;

uint32_t Key(int r, int g, int b) { return static_cast<uint32_t>(r << 16 | g << 8 | b); }

// Step 2: every opaque pixel's index exists in the tool palette with the
// same colour.
bool PaletteMatches(const uint8_t* pixels, size_t n, const std::vector<uint8_t>& palette,
                    const std::vector<uint8_t>& alpha, const uint8_t* tool) {
  std::array<bool, 256> used{};
  for (size_t i = 0; i < n; ++i) used[pixels[i]] = true;
  for (size_t index = 0; index < used.size(); ++index) {
    const bool opaque = index >= alpha.size() || alpha[index] >= kOpaqueFrom;
    if (used[index] && opaque &&
        (3 * index + 3 > palette.size() ||
         std::memcmp(&palette[3 * index], tool + 3 * index, 3) != 0)) {
      return false;
    }
  }
  return true;
}

}  // namespace

ColourMap::ColourMap(const uint8_t* palette, int fullbright)
    : fullbright_(fullbright),
      cell_start_(kCells * kCells * kCells, -1),
      cell_count_(kCells * kCells * kCells, 0),
      cache_(size_t{1} << kCacheBits) {
  std::memcpy(palette_.data(), palette, palette_.size());
  for (int i = fullbright_; i < 256; ++i) {
    const uint8_t* c = &palette_[3 * static_cast<size_t>(i)];
    exact_.push_back(Key(c[0], c[1], c[2]) << 8 | static_cast<uint32_t>(i));
  }
  std::sort(exact_.begin(), exact_.end());
}

uint8_t ColourMap::Miss(uint32_t key) {
  const uint8_t index = Search(static_cast<int>(key >> 16 & 0xFF),
                               static_cast<int>(key >> 8 & 0xFF), static_cast<int>(key & 0xFF));
  cache_[Slot(key)] = {key, index};
  return index;
}

void ColourMap::NearestMany(const uint32_t* rgb, size_t n, uint8_t* out) {
  // In pieces, so that the positions in waiting take a few kilobytes
  // however many colours are asked for (a texture's first mip level asks
  // for a quarter of its pixels at once).
  misses_.resize(std::min(n, kPiece));
  for (size_t at = 0; at < n; at += kPiece) {
    const size_t count = std::min(kPiece, n - at);
    size_t missed = 0;
    for (size_t i = at; i < at + count; ++i) {
      const uint32_t key = kCacheValid | rgb[i];
      const CacheEntry& entry = cache_[Slot(key)];
      out[i] = entry.answer;
      misses_[missed] = static_cast<uint32_t>(i);
      missed += entry.key != key;
    }
    // A colour missed twice is searched once: the first search leaves its
    // answer behind.
    for (size_t m = 0; m < missed; ++m) {
      const uint32_t i = misses_[m];
      out[i] = Nearest(static_cast<int>(rgb[i] >> 16), static_cast<int>(rgb[i] >> 8 & 0xFF),
                       static_cast<int>(rgb[i] & 0xFF));
    }
  }
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
  std::array<uint8_t, 256> chosen;
  size_t n = 0;
  for (int i = 0; i < fullbright_; ++i) {
    if (nearest_approach[static_cast<size_t>(i)] <= bound) chosen[n++] = static_cast<uint8_t>(i);
  }
  cell_start_[cell] = static_cast<int32_t>(groups_.size());
  for (size_t first = 0; first < n; first += 4) {
    Group& group = groups_.emplace_back();
    for (size_t lane = 0; lane < 4; ++lane) {
      const uint8_t index = chosen[std::min(first + lane, n - 1)];
      const uint8_t* c = &palette_[3 * size_t{index}];
      group.red_green[2 * lane] = c[0];
      group.red_green[2 * lane + 1] = c[1];
      group.blue_zero[2 * lane] = c[2];
      group.blue_zero[2 * lane + 1] = 0;
      group.index[lane] = index;
    }
  }
  cell_count_[cell] =
      static_cast<uint16_t>(groups_.size() - static_cast<size_t>(cell_start_[cell]));
}

uint8_t ColourMap::Search(int r, int g, int b) {
  const size_t cell =
      (static_cast<size_t>(r / kCellSide) * kCells + static_cast<size_t>(g / kCellSide)) * kCells +
      static_cast<size_t>(b / kCellSide);
  if (cell_start_[cell] < 0) BuildCell(cell);
  const Group* groups = groups_.data() + cell_start_[cell];
  const size_t count = cell_count_[cell];
  // The distance above the index: the smallest key is the nearest colour,
  // the lowest index among equals, and no branch depends on the data. A
  // distance is at most 3 * 255^2, which leaves the key room in 31 bits.
#if defined(__SSE2__)
  const __m128i red_green = _mm_set1_epi32(g << 16 | r);
  const __m128i blue_zero = _mm_set1_epi32(b);
  __m128i least = _mm_set1_epi32(INT32_MAX);
  for (size_t k = 0; k < count; ++k) {
    const Group& group = groups[k];
    const __m128i drg = _mm_sub_epi16(red_green, Load(group.red_green));
    const __m128i db = _mm_sub_epi16(blue_zero, Load(group.blue_zero));
    const __m128i d = _mm_add_epi32(_mm_madd_epi16(drg, drg), _mm_madd_epi16(db, db));
    const __m128i key = _mm_or_si128(_mm_slli_epi32(d, 8), Load(group.index));
    least = Least(least, key);
  }
  least = Least(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(1, 0, 3, 2)));
  least = Least(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(2, 3, 0, 1)));
  const auto best = static_cast<uint32_t>(_mm_cvtsi128_si32(least));
#else
  uint32_t best = UINT32_MAX;
  for (size_t k = 0; k < count; ++k) {
    for (size_t lane = 0; lane < 4; ++lane) {
      const int dr = r - groups[k].red_green[2 * lane];
      const int dg = g - groups[k].red_green[2 * lane + 1];
      const int db = b - groups[k].blue_zero[2 * lane];
      const auto d = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
      best = std::min(best, d << 8 | static_cast<uint32_t>(groups[k].index[lane]));
    }
  }
#endif
  // fullbright_ is at least 1, so every cell has a candidate.
  if (best >> 8 == 0) return static_cast<uint8_t>(best);
  // The fullbright indices take only their own colour.
  const uint32_t key = Key(r, g, b);
  const auto it = std::lower_bound(exact_.begin(), exact_.end(), key << 8);
  if (it != exact_.end() && (*it >> 8) == key) return static_cast<uint8_t>(*it & 0xFF);
  return static_cast<uint8_t>(best);
}

void MapPixels(ColourMap& map, const uint8_t* pixels, size_t n, int channels, uint8_t* out) {
  const auto step = static_cast<size_t>(channels);
  uint32_t colours[kPiece];
  for (size_t at = 0; at < n; at += kPiece) {
    const size_t count = std::min(kPiece, n - at);
    const uint8_t* px = pixels + at * step;
    for (size_t i = 0; i < count; ++i, px += step) {
      colours[i] = uint32_t{px[0]} << 16 | uint32_t{px[1]} << 8 | px[2];
    }
    map.NearestMany(colours, count, out + at);
    if (channels == 4) {
      px = pixels + at * step;
      for (size_t i = 0; i < count; ++i, px += 4) {
        if (px[3] < kOpaqueFrom) out[at + i] = kTransparentIndex;
      }
    }
  }
}

Ditherer::Ditherer(ColourMap& map, size_t width)
    : map_(map), width_(width), here_(3 * (width + 2)), next_(3 * (width + 2)) {}

// Floyd-Steinberg: the error of each pixel goes 7/16 right, 3/16 down-left,
// 5/16 down, 1/16 down-right. Transparent pixels neither take nor pass on
// error.
void Ditherer::Row(const uint8_t* pixels, int channels, uint8_t* out) {
  std::fill(next_.begin(), next_.end(), 0);
  const auto step = static_cast<size_t>(channels);
  for (size_t x = 0; x < width_; ++x) {
    const uint8_t* c = pixels + x * step;
    if (channels == 4 && c[3] < kOpaqueFrom) {
      out[x] = kTransparentIndex;
      continue;
    }
    int want[3];
    for (size_t k = 0; k < 3; ++k) {
      // Rounded to nearest, halves away from zero.
      const int e = here_[3 * (x + 1) + k];
      want[k] = std::clamp(c[k] + (e >= 0 ? e + 8 : e - 8) / 16, 0, 255);
    }
    const uint8_t index = map_.Nearest(want[0], want[1], want[2]);
    out[x] = index;
    for (size_t k = 0; k < 3; ++k) {
      const int e = want[k] - map_.palette()[3 * index + k];
      here_[3 * (x + 2) + k] += 7 * e;
      next_[3 * x + k] += 3 * e;
      next_[3 * (x + 1) + k] += 5 * e;
      next_[3 * (x + 2) + k] += e;
    }
  }
  here_.swap(next_);
}

bool MapIndexed(uint8_t* pixels, size_t width, size_t height, const std::vector<uint8_t>& palette,
                const std::vector<uint8_t>& alpha, ColourMap& map, bool dither) {
  const size_t n = width * height;
  // Each entry as the readers give true-colour pixels: RGBA. The readers
  // let no pixel past the file's palette; one there would be black.
  std::array<uint8_t, 4 * 256> rgba{};
  for (size_t i = 0; i < 256; ++i) {
    if (3 * i + 3 <= palette.size()) std::memcpy(&rgba[4 * i], &palette[3 * i], 3);
    rgba[4 * i + 3] = i < alpha.size() ? alpha[i] : 255;
  }
  std::array<uint8_t, 256> to_tool;
  const bool kept = PaletteMatches(pixels, n, palette, alpha, map.palette());
  if (kept || !dither) {
    // Each of the file's colours is looked up once.
    for (size_t i = 0; i < 256; ++i) {
      to_tool[i] = rgba[4 * i + 3] < kOpaqueFrom ? kTransparentIndex
                   : kept                        ? static_cast<uint8_t>(i)
                          : map.Nearest(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
    }
    for (size_t i = 0; i < n; ++i) pixels[i] = to_tool[pixels[i]];
    return kept;
  }
  Ditherer ditherer(map, width);
  std::vector<uint8_t> row(4 * width);
  for (uint8_t* line = pixels; line < pixels + n; line += width) {
    for (size_t x = 0; x < width; ++x) std::memcpy(&row[4 * x], &rgba[4 * size_t{line[x]}], 4);
    ditherer.Row(row.data(), 4, line);
  }
  return false;
}

}  // namespace snapback
