// The WAL texture file (`miptex_s`): name[32], then width, height and the
// four level offsets as signed 32-bit little-endian values counted from
// the start of the file, the 32-byte name of the next animation frame,
// flags, contents and value; writers put the levels from byte 100 on. The
// reader takes the sizes and the full-size image's offset alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/miptex.h"

namespace formats {

inline constexpr size_t kWalNameSize = 32;
inline constexpr size_t kWalWidthOffset = 32;
inline constexpr size_t kWalHeightOffset = 36;
inline constexpr size_t kWalImageOffsetOffset = 40;  // the first level offset
inline constexpr size_t kWalReadSize = 44;           // the part that is read
inline constexpr size_t kWalAnimNameOffset = kWalImageOffsetOffset + 4 * kMipLevels;
inline constexpr size_t kWalFlagsOffset = kWalAnimNameOffset + 32;
inline constexpr size_t kWalHeaderSize = kWalFlagsOffset + 3 * 4;
static_assert(kWalHeaderSize == 100);
// The longest name written, which leaves room for the terminating NUL.
inline constexpr size_t kMaxWalName = kWalNameSize - 1;

struct miptex_s {
  int32_t width = 0;
  int32_t height = 0;
  int32_t image_offset = 0;  // of the full-size image, from the start of the file
};

enum class WalCheck {
  kOk,
  kShortHeader,  // fewer than 44 bytes
  kBadSize,      // width or height outside 1..max_side
  kOutside,      // the image does not lie inside the file
};

// Decodes the header of a WAL file of `total` bytes whose first
// `head_length` bytes (at least min(total, 44)) are at `head`. The format
// itself bounds the sizes by nothing but their 32 bits; `max_side` is the
// reader's own limit. Width and height are filled in from kBadSize on.
WalCheck ReadWalHeader(const uint8_t* head, size_t head_length, int64_t total, int32_t max_side,
                       miptex_s* mip);

// Appends the 100-byte header of a WAL file whose levels follow it. False,
// appending nothing, when the level offsets do not fit their 32-bit fields.
bool AppendWalHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out);

}  // namespace formats
