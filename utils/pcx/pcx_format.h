// Layout of the 8-bit PCX files the converters write: a 128-byte header,
// run-length encoded scan lines, the palette marker and a 768-byte palette.
// The writer and the tests take every size, offset and fixed value from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pcx {

inline constexpr size_t kHeaderSize = 128;

inline constexpr size_t kManufacturerOffset = 0;
inline constexpr size_t kVersionOffset = 1;
inline constexpr size_t kEncodingOffset = 2;
inline constexpr size_t kBitsPerPixelOffset = 3;
inline constexpr size_t kXMinOffset = 4;            // 16-bit
inline constexpr size_t kYMinOffset = 6;            // 16-bit
inline constexpr size_t kXMaxOffset = 8;            // 16-bit
inline constexpr size_t kYMaxOffset = 10;           // 16-bit
inline constexpr size_t kHorizontalResOffset = 12;  // 16-bit
inline constexpr size_t kVerticalResOffset = 14;    // 16-bit
// Bytes 16-63 (the 16-colour palette), 64 (reserved) and 70-127 (filler)
// are zero.
inline constexpr size_t kPlanesOffset = 65;
inline constexpr size_t kBytesPerLineOffset = 66;  // 16-bit
inline constexpr size_t kPaletteInfoOffset = 68;   // 16-bit

inline constexpr uint8_t kManufacturer = 0x0A;
inline constexpr uint8_t kVersion = 5;
inline constexpr uint8_t kEncodingRle = 1;
inline constexpr uint8_t kBitsPerPixel = 8;
inline constexpr uint8_t kPlanes = 1;
// Paint programs of the format's era read 2 as "greyscale"; the files have
// always carried it and readers ignore it for 256-colour images.
inline constexpr uint16_t kPaletteInfo = 2;

// The scan lines follow the run-length scheme of rle/scheme.h: a count byte
// has both top bits set and carries a run of 1 to 63 in the rest.

inline constexpr uint8_t kPaletteMarker = 0x0C;
inline constexpr size_t kPaletteSize = 768;

// The header keeps width and height in 16-bit fields.
inline constexpr int kMaxDimension = 65535;

}  // namespace pcx
