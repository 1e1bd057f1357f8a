// Textures with mip levels: the WAD2 texture lump `miptex_t` here, the WAL
// file in wal.h. Both keep four levels, the full-size image and three
// smaller ones, level k being (width >> k) x (height >> k) pixels, each
// found through its own offset in the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace formats {

inline constexpr int kMipLevels = 4;

// miptex_t: name[16], width, height, then the four level offsets counted
// from the start of the lump; writers put the levels from byte 40 on.
inline constexpr size_t kMiptexNameSize = 16;
inline constexpr size_t kMiptexWidthOffset = 16;
inline constexpr size_t kMiptexHeightOffset = 20;
inline constexpr size_t kMiptexImageOffsetOffset = 24;  // the first level offset
inline constexpr size_t kMiptexReadSize = 28;           // the part the texture rule reads
inline constexpr size_t kMiptexHeaderSize = kMiptexImageOffsetOffset + 4 * kMipLevels;
static_assert(kMiptexHeaderSize == 40);
inline constexpr uint32_t kMiptexMaxDimension = 1024;

// The texture rule reads the full-size image only; the smaller levels
// behind it are never read.
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

// Appends the 40-byte header of a texture lump whose levels follow it.
// False, appending nothing, when the level offsets do not fit their 32-bit
// fields.
bool AppendMiptexHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out);

// Where a texture header keeps its fields; its levels follow it directly.
struct TextureFields {
  size_t header_size;
  size_t name_size;
  size_t width_offset;
  size_t height_offset;
  size_t offsets_offset;  // of the four level offsets
};

// Appends such a header, the level offsets counted from its start; false
// as AppendMiptexHeader.
bool AppendTextureHeader(const TextureFields& fields, const std::string& name, int width,
                         int height, std::vector<uint8_t>* out);

}  // namespace formats
