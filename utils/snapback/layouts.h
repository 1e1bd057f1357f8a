// The files snapback writes: a picture lump, a WAL texture and a WAD2 file
// of picture and texture lumps. The fields the converters read come from
// their own format headers; the rest of each record is spelled here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mipsnap/wad_format.h"
#include "picsnap/pic.h"
#include "texsnap/wal.h"

namespace snapback {

inline constexpr int kMipLevels = 4;  // the full-size image and three smaller ones

// WAL: name[32], width, height, four level offsets, animation name[32],
// flags, contents, value; the levels follow from byte 100.
inline constexpr size_t kWalNameSize = 32;
inline constexpr size_t kWalOffsetsOffset = texsnap::kWalImageOffsetOffset;
inline constexpr size_t kWalAnimNameOffset = kWalOffsetsOffset + 4 * kMipLevels;
inline constexpr size_t kWalFlagsOffset = kWalAnimNameOffset + 32;
inline constexpr size_t kWalHeaderSize = kWalFlagsOffset + 3 * 4;
static_assert(kWalHeaderSize == 100);

// WAD2 texture lump: name[16], width, height, four offsets from the lump's
// start; the levels follow from byte 40.
inline constexpr size_t kMiptexNameSize = 16;
inline constexpr size_t kMiptexOffsetsOffset = mipsnap::kMiptexImageOffsetOffset;
inline constexpr size_t kMiptexFullHeaderSize = kMiptexOffsetsOffset + 4 * kMipLevels;
static_assert(kMiptexFullHeaderSize == 40);

// WAD2 directory entry fields the converters skip.
inline constexpr size_t kLumpSizeOffset = 8;
inline constexpr size_t kLumpTypeOffset = 12;
inline constexpr size_t kLumpCompressionOffset = 13;
inline constexpr uint8_t kLumpTypePicture = 0x42;
inline constexpr uint8_t kLumpTypeTexture = 0x44;

// Longest names that leave room for the terminating NUL.
inline constexpr size_t kMaxLumpName = mipsnap::kLumpNameSize - 1;
inline constexpr size_t kMaxWalName = kWalNameSize - 1;

// Pixels of the full-size image and the three levels of a w x h texture.
size_t MipTotal(int width, int height);

// Appends a picture lump: width, height, pixels.
void AppendPicture(const uint8_t* pixels, int width, int height, std::vector<uint8_t>* out);
// Appends the 100-byte WAL header for a texture whose levels follow it.
// False, appending nothing, when the level offsets do not fit their 32-bit
// fields.
bool AppendWalHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out);
// Appends the 40-byte header of a WAD2 texture lump whose levels follow it;
// false as AppendWalHeader.
bool AppendMiptexHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out);
// Appends one 32-byte WAD2 directory entry.
void AppendLumpInfo(uint32_t position, uint32_t size, uint8_t type, const std::string& name,
                    std::vector<uint8_t>* out);

}  // namespace snapback
