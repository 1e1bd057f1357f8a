// PNG images in memory, decoded and encoded through the system's PNG
// library. Decoding takes every colour type, bit depth and interlacing; the
// encoder writes the one form the tools produce: 8-bit indexed with the
// whole 256-colour palette.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pngio {

// A decoded image. A palette image keeps its indices (bit depths below 8
// unpacked to one byte per pixel) and its palette, with the alpha of each
// entry from tRNS (255 where tRNS says nothing). An 8-bit RGB image without
// tRNS stays 8-bit RGB. Every other colour type becomes 8-bit RGBA: grey is
// spread to three channels, 16-bit channels keep their high byte, a tRNS
// colour key becomes alpha 0.
struct PngImage {
  int width = 0;
  int height = 0;
  bool indexed = false;
  int channels = 1;                    // bytes per pixel: 1 (indexed), 3 (RGB) or 4 (RGBA)
  std::vector<uint8_t> pixels;         // width * height * channels
  std::vector<uint8_t> palette;        // indexed: 3 bytes per entry, up to 256 entries
  std::vector<uint8_t> palette_alpha;  // indexed: 1 byte per palette entry
};

inline constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// True when the bytes begin with the PNG signature.
bool LooksLikePng(const uint8_t* data, size_t size);

// The number of first bytes that hold a PNG file's size: the signature and
// the IHDR chunk's length, type, width and height.
inline constexpr size_t kSizeBytes = 24;

// Reads the width and height from a file's first kSizeBytes bytes; false
// when they do not begin a PNG file with its IHDR chunk.
bool ReadPngSize(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height);

// Decodes a whole PNG file held in memory. Images wider or higher than
// `max_side` are refused from their header, before any pixel memory is
// taken. False, with the reason in *error, for anything that is not a
// complete valid PNG (a bad checksum included).
bool ReadPng(const uint8_t* data, size_t size, int max_side, PngImage* out, std::string* error);

// Receives the encoded bytes in order; returns false when they could not
// be kept (a failed write), which ends the encoding.
using Sink = std::function<bool(const uint8_t* data, size_t n)>;

// Encodes an 8-bit indexed PNG with the 768-byte palette as its 256-entry
// PLTE a row at a time, so memory does not grow with the image.
class IndexedPngWriter {
 public:
  IndexedPngWriter();
  ~IndexedPngWriter();
  IndexedPngWriter(const IndexedPngWriter&) = delete;
  IndexedPngWriter& operator=(const IndexedPngWriter&) = delete;

  // Writes the signature and the header chunks.
  // REQUIRES: 1 <= width, height <= 65535; Begin once per writer.
  bool Begin(int width, int height, const uint8_t* palette, Sink sink);
  // Takes the next row, `width` indices; the last row also ends the file.
  bool Row(const uint8_t* row);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Appends to *out a PNG of width x height palette indices (rows from the
// top, no padding). False only when the library fails.
bool WriteIndexedPng(const uint8_t* indices, int width, int height, const uint8_t* palette,
                     std::vector<uint8_t>* out);

}  // namespace pngio
