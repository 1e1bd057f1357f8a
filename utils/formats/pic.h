// The picture lump `pic_t`, stored alone in a .lmp file or as a lump of a
// WAD2 file: two signed 32-bit little-endian sizes, then width x height
// palette indices, rows from the top, no padding. Nothing else marks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace formats {

struct pic_t {
  int32_t width = 0;
  int32_t height = 0;  // the pixels follow the header
};

inline constexpr size_t kPicWidthOffset = 0;
inline constexpr size_t kPicHeightOffset = 4;
inline constexpr size_t kPicHeaderSize = 8;
inline constexpr int32_t kPicMaxDimension = 1024;

// The validity rule: 1 <= width, height <= 1024, compared as signed values.
bool PicSizeValid(int32_t width, int32_t height);

// The picture of a lump of `total` bytes whose first `head_length` bytes
// (at least min(total, 8)) are at `head`, or nothing when the rule fails or
// the lump is too short for its header or its pixels. Bytes after the
// pixels are ignored.
std::optional<pic_t> ReadPicHeader(const uint8_t* head, size_t head_length, int64_t total);

// Appends a picture lump: width, height, then the width x height `pixels`.
void AppendPicture(const uint8_t* pixels, int width, int height, std::vector<uint8_t>* out);

}  // namespace formats
