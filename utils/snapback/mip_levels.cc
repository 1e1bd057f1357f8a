#include "snapback/mip_levels.h"

#include "snapback/layouts.h"

namespace snapback {

void AppendMipLevels(const uint8_t* full, int width, int height, ColourMap& map,
                     std::vector<uint8_t>* out) {
  const uint8_t* palette = map.palette();
  // Channel sums of each block of the current level, 3 per pixel; each
  // level's sums are the sums of 2 x 2 sums of the level above, so no
  // rounded mean is ever averaged again.
  std::vector<uint32_t> sums(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    for (int c = 0; c < 3; ++c) sums[3 * i + c] = palette[3 * full[i] + c];
  }
  size_t w = static_cast<size_t>(width);
  size_t h = static_cast<size_t>(height);
  uint32_t n = 1;
  for (int level = 1; level < kMipLevels; ++level) {
    const size_t half_w = w / 2;
    const size_t half_h = h / 2;
    n *= 4;
    for (size_t y = 0; y < half_h; ++y) {
      for (size_t x = 0; x < half_w; ++x) {
        const size_t top = (2 * y * w + 2 * x) * 3;
        const size_t bottom = top + w * 3;
        uint32_t mean[3];
        for (int c = 0; c < 3; ++c) {
          const uint32_t s =
              sums[top + c] + sums[top + 3 + c] + sums[bottom + c] + sums[bottom + 3 + c];
          // Written over entries this loop has already read.
          sums[(y * half_w + x) * 3 + c] = s;
          mean[c] = (s + n / 2) / n;
        }
        out->push_back(map.Nearest(static_cast<int>(mean[0]), static_cast<int>(mean[1]),
                                   static_cast<int>(mean[2])));
      }
    }
    w = half_w;
    h = half_h;
  }
}

}  // namespace snapback
