// Reading an image file of either kind: PCX or PNG, told apart by their
// first bytes, never by the file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "snapback/colour_map.h"

namespace snapback {

// The most pixels an image may have: its size is refused from its header,
// before memory is taken for it, as image libraries refuse decompression
// bombs (a PNG of a few hundred kilobytes can claim 65528 x 65528).
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

// An image read from a file, its pixels already the tool palette's
// indices by the colour rule.
struct MappedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> indices;  // width * height, rows from the top
};

// Decodes a whole file held in memory into *image, each pixel mapped
// through `map` (dithered when `dither`). Sides above `max_side` and more
// than kMaxPixels pixels are refused before the pixels are decoded. False,
// with the reason in *error, for anything else than a PCX or PNG this tool
// reads.
bool DecodeImage(const uint8_t* data, size_t size, int max_side, ColourMap& map, bool dither,
                 MappedImage* image, std::string* error);

// Reads and decodes the image file `path` the same way. Its first bytes
// are read first: a file that is no image, or an image too large, costs no
// more than them; of a PCX file only what its header says the image can
// take is read. A PNG file is read from the file as it is decoded, and its
// pixels are mapped as they come: memory holds the indices, a few lines of
// the image and a bounded read buffer, whatever the file's size.
bool ReadImageFile(const std::string& path, int max_side, ColourMap& map, bool dither,
                   MappedImage* image, std::string* error);

// Why the last file operation failed, from errno.
std::string SystemReason();

}  // namespace snapback
