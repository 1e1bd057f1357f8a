// The texture rule of WAD2 lumps (`miptex_t`): only the full-size image is
// taken; the smaller mip levels behind it are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace mipsnap {

struct miptex_t {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t image_offset = 0;  // of the full-size image, from the start of the lump
};

// 1 <= width, height <= 1024, compared as unsigned values.
bool MiptexSizeValid(uint32_t width, uint32_t height);

// The texture of a lump of `total` bytes whose first `head_length` bytes
// (at least min(total, 28)) are at `head`, or nothing when the rule fails,
// the lump is shorter than the 28 bytes the rule reads, or the image does
// not lie inside it.
std::optional<miptex_t> ReadMiptexHeader(const uint8_t* head, size_t head_length, int64_t total);

}  // namespace mipsnap
