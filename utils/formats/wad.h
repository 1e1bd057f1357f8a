// A WAD2 file: a 12-byte header `wadinfo_t` (magic "WAD2", lump count,
// directory offset), the lumps, and a directory of 32-byte `lumpinfo_t`
// entries, all little-endian. Picture lumps are `pic_t` (pic.h), texture
// lumps `miptex_t` (miptex.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

inline constexpr std::string_view kWadMagic = "WAD2";  // case-sensitive, no terminator

inline constexpr size_t kWadInfoSize = 12;
inline constexpr size_t kWadMagicOffset = 0;
inline constexpr size_t kWadLumpCountOffset = 4;
inline constexpr size_t kWadDirOffsetOffset = 8;

// file_pos, disk_size, size (uncompressed), type, compression, two pad
// bytes, then the name.
inline constexpr size_t kLumpInfoSize = 32;
inline constexpr size_t kLumpFilePosOffset = 0;
inline constexpr size_t kLumpDiskSizeOffset = 4;
inline constexpr size_t kLumpSizeOffset = 8;
inline constexpr size_t kLumpTypeOffset = 12;
inline constexpr size_t kLumpCompressionOffset = 13;
inline constexpr size_t kLumpNameOffset = 16;
inline constexpr size_t kLumpNameSize = 16;
static_assert(kLumpNameOffset + kLumpNameSize == kLumpInfoSize);
inline constexpr uint8_t kLumpTypePalette = 0x40;  // '@'
inline constexpr uint8_t kLumpTypePicture = 0x42;  // 'B'
inline constexpr uint8_t kLumpTypeTexture = 0x44;  // 'D'
// The longest name written, which leaves room for the terminating NUL.
inline constexpr size_t kMaxLumpName = kLumpNameSize - 1;

struct wadinfo_t {
  char magic[4] = {};
  int32_t lump_count = 0;
  int32_t dir_offset = 0;
  bool magic_ok() const { return std::string_view(magic, sizeof magic) == kWadMagic; }
};

// The directory entry as far as the converters read it: they neither look
// at the type nor decompress.
struct lumpinfo_t {
  int32_t file_pos = 0;
  uint32_t disk_size = 0;
  std::string name;  // up to the first NUL, at most 16 characters
};

// The header at the start of `size` bytes; nothing when they are fewer
// than 12. The magic is taken as it stands, for the caller to judge.
std::optional<wadinfo_t> ReadWadInfo(const uint8_t* data, size_t size);

// The directory entries that `size` bytes at `data` hold in full.
std::vector<lumpinfo_t> ReadLumpInfos(const uint8_t* data, size_t size);

// The 12 header bytes of a WAD2 file.
std::array<uint8_t, kWadInfoSize> WadInfoBytes(uint32_t lump_count, uint32_t dir_offset);

// Appends one directory entry of a lump stored uncompressed.
void AppendLumpInfo(uint32_t position, uint32_t size, uint8_t type, const std::string& name,
                    std::vector<uint8_t>* out);

}  // namespace formats
