// The WAL texture file (`miptex_s`) as texsnap reads it: a 32-byte name it
// ignores, then width, height and the full-size image's offset as signed
// 32-bit little-endian values. Mip levels and everything else are not read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace texsnap {

inline constexpr size_t kWalWidthOffset = 32;
inline constexpr size_t kWalHeightOffset = 36;
inline constexpr size_t kWalImageOffsetOffset = 40;
inline constexpr size_t kWalHeaderSize = 44;  // the part that is read

struct miptex_s {
  int32_t width = 0;
  int32_t height = 0;
  int32_t image_offset = 0;  // of the full-size image, from the start of the file
};

enum class WalCheck {
  kOk,
  kShortHeader,  // fewer than 44 bytes
  kBadSize,      // width or height outside what a PCX can hold
  kOutside,      // the image does not lie inside the file
};

// Decodes the header of a WAL file of `total` bytes whose first
// `head_length` bytes (at least min(total, 44)) are at `head`. Sizes above
// the 1024 that WAD2 textures allow are fine; only the 16-bit limit of the
// PCX header applies. Width and height are filled in from kBadSize on.
WalCheck ReadWalHeader(const uint8_t* head, size_t head_length, int64_t total, miptex_s* mip);

}  // namespace texsnap
