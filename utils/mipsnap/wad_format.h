// Layout of a WAD2 file as mipsnap reads it: a 12-byte header `wadinfo_t`
// (magic "WAD2", lump count, directory offset), a directory of 32-byte
// `lumpinfo_t` entries, and the lumps. Texture lumps are `miptex_t`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mipsnap {

inline constexpr std::string_view kWadMagic = "WAD2";  // case-sensitive, no terminator

inline constexpr size_t kWadInfoSize = 12;
inline constexpr size_t kWadMagicOffset = 0;
inline constexpr size_t kWadLumpCountOffset = 4;
inline constexpr size_t kWadDirOffsetOffset = 8;

inline constexpr size_t kLumpInfoSize = 32;
inline constexpr size_t kLumpFilePosOffset = 0;
inline constexpr size_t kLumpDiskSizeOffset = 4;
inline constexpr size_t kLumpNameOffset = 16;
inline constexpr size_t kLumpNameSize = 16;
static_assert(kLumpNameOffset + kLumpNameSize == kLumpInfoSize);

inline constexpr size_t kMiptexWidthOffset = 16;
inline constexpr size_t kMiptexHeightOffset = 20;
inline constexpr size_t kMiptexImageOffsetOffset = 24;
inline constexpr size_t kMiptexHeaderSize = 28;  // the part the texture rule reads
inline constexpr uint32_t kMiptexMaxDimension = 1024;

}  // namespace mipsnap
