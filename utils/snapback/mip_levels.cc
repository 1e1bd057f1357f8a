#include "snapback/mip_levels.h"

#include "formats/miptex.h"

namespace snapback {

void AppendMipLevels(const uint8_t* full, int width, int height, ColourMap& map,
                     std::vector<uint8_t>* out) {
  const uint8_t* palette = map.palette();
  size_t w = static_cast<size_t>(width) / 2;
  size_t h = static_cast<size_t>(height) / 2;
  const size_t start = out->size();
  out->resize(start + w * h + w * h / 4 + w * h / 16);
  uint8_t* level = out->data() + start;
  // Channel sums of each block of the current level, 3 per pixel; each
  // level's sums are the sums of 2 x 2 sums of the level above, so no
  // rounded mean is ever averaged again. A block of level 3 holds 64
  // pixels, whose sums (at most 64 * 255) fit 16 bits.
  std::vector<uint16_t> sums(w * h * 3);
  // The rounded means of the level, 0xRRGGBB, looked up all at once.
  std::vector<uint32_t> means(w * h);
  const auto mean = [](uint32_t r, uint32_t g, uint32_t b, uint32_t n) {
    return (r + n / 2) / n << 16 | (g + n / 2) / n << 8 | (b + n / 2) / n;
  };
  for (size_t y = 0; y < h; ++y) {
    const uint8_t* top = full + 2 * y * static_cast<size_t>(width);
    const uint8_t* bottom = top + width;
    for (size_t x = 0; x < w; ++x) {
      const uint8_t* a = palette + 3 * top[2 * x];
      const uint8_t* b = palette + 3 * top[2 * x + 1];
      const uint8_t* c = palette + 3 * bottom[2 * x];
      const uint8_t* d = palette + 3 * bottom[2 * x + 1];
      uint16_t* s = &sums[(y * w + x) * 3];
      for (size_t k = 0; k < 3; ++k) s[k] = static_cast<uint16_t>(a[k] + b[k] + c[k] + d[k]);
      means[y * w + x] = mean(s[0], s[1], s[2], 4);
    }
  }
  map.NearestMany(means.data(), w * h, level);
  level += w * h;
  uint32_t n = 4;
  for (int k = 2; k < formats::kMipLevels; ++k) {
    const size_t half_w = w / 2;
    const size_t half_h = h / 2;
    n *= 4;
    for (size_t y = 0; y < half_h; ++y) {
      for (size_t x = 0; x < half_w; ++x) {
        const uint16_t* top = &sums[(2 * y * w + 2 * x) * 3];
        const uint16_t* bottom = top + w * 3;
        uint32_t s[3];
        for (size_t c = 0; c < 3; ++c) s[c] = top[c] + top[3 + c] + bottom[c] + bottom[3 + c];
        // Written over entries this loop has already read.
        uint16_t* into = &sums[(y * half_w + x) * 3];
        for (size_t c = 0; c < 3; ++c) into[c] = static_cast<uint16_t>(s[c]);
        means[y * half_w + x] = mean(s[0], s[1], s[2], n);
      }
    }
    map.NearestMany(means.data(), half_w * half_h, level);
    level += half_w * half_h;
    w = half_w;
    h = half_h;
  }
}

}  // namespace snapback
