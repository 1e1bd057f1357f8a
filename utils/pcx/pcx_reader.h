// The PCX reader: what paint programs and the converters write, back into
// memory. Two kinds are taken: 8 bits per pixel in one plane with the
// 256-colour palette behind the image, and 8 bits per pixel in three planes
// (red, green, blue) without one. Codecs only: the caller reads the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pcx {

struct PcxImage {
  int width = 0;
  int height = 0;
  bool indexed = false;          // one plane with a palette, else three planes
  std::vector<uint8_t> pixels;   // width * height indices, or 3 bytes (RGB) per pixel
  std::vector<uint8_t> palette;  // indexed: the 768 bytes behind the image
};

// True when the bytes could be a PCX file (its manufacturer byte).
bool LooksLikePcx(const uint8_t* data, size_t size);

// What the 128-byte header of a PCX file this reader takes says.
struct PcxHeader {
  int width = 0;
  int height = 0;
  int planes = 0;
  int bytes_per_line = 0;
  bool indexed() const { return planes == 1; }
  // The decoded bytes of all scan lines, pad bytes included.
  int64_t decoded_size() const { return int64_t{bytes_per_line} * planes * height; }
};

// Checks the header alone (manufacturer, run-length encoding, depth,
// planes, window, bytes per line against the width), so that an image's
// size can be judged before any of its data is read. False, with the
// reason in *error, when the bytes begin no such PCX file.
bool ReadPcxHeader(const uint8_t* data, size_t size, PcxHeader* header, std::string* error);

// Decodes a whole PCX file held in memory. The header is checked first
// (manufacturer, run-length encoding, depth, planes, window, bytes per line
// against the width) and the decoded size against what the scan-line bytes
// can hold at most, so no memory is taken for an image the file cannot
// carry. Runs may cross the ends of planes and lines, as some writers let
// them; pad bytes beyond the width are dropped. False, with the reason in
// *error, when the file is not such a PCX or is cut short.
bool ReadPcxImage(const uint8_t* data, size_t size, PcxImage* out, std::string* error);

}  // namespace pcx
