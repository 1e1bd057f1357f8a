// The texture files the corpus generator writes, as game tools lay them out:
// a WAD2 file of `miptex_t` lumps and loose `.wal` files, each holding the
// full-size image and three smaller mip levels. The fields the converters
// read come from their own format headers; the rest, which they skip, is
// spelled here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mipsnap/wad_format.h"
#include "texsnap/wal.h"

namespace bench {

inline constexpr int kMipLevels = 4;  // full size, 1/2, 1/4, 1/8

// WAD2 directory entry fields after file_pos and disk_size.
inline constexpr size_t kLumpSizeOffset = 8;
inline constexpr size_t kLumpTypeOffset = 12;
inline constexpr size_t kLumpCompressionOffset = 13;
inline constexpr uint8_t kLumpTypeMiptex = 0x44;                        // 'D'
static_assert(kLumpCompressionOffset + 3 == mipsnap::kLumpNameOffset);  // two pad bytes

// miptex_t: a 16-byte name, width, height and four mip offsets from the
// start of the lump; the first offset is the full-size image's.
inline constexpr size_t kMiptexNameSize = 16;
inline constexpr size_t kMiptexOffsetsOffset = mipsnap::kMiptexImageOffsetOffset;
inline constexpr size_t kMiptexSize = kMiptexOffsetsOffset + 4 * kMipLevels;
static_assert(kMiptexSize == 40);

// A WAL file: a 32-byte name, width, height, four mip offsets from the start
// of the file, the 32-byte name of the next animation frame, then flags,
// contents and value; the mip levels follow.
inline constexpr size_t kWalNameSize = 32;
inline constexpr size_t kWalOffsetsOffset = texsnap::kWalImageOffsetOffset;
inline constexpr size_t kWalAnimNameOffset = kWalOffsetsOffset + 4 * kMipLevels;
inline constexpr size_t kWalFlagsOffset = kWalAnimNameOffset + 32;
inline constexpr size_t kWalContentsOffset = kWalFlagsOffset + 4;
inline constexpr size_t kWalValueOffset = kWalContentsOffset + 4;
inline constexpr size_t kWalSize = kWalValueOffset + 4;
static_assert(kWalSize == 100);

inline constexpr size_t kPaletteSize = 768;

}  // namespace bench
