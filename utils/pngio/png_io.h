// PNG images decoded and encoded through the system's PNG library.
// Decoding takes every colour type, bit depth and interlacing; the encoder
// writes the one form the tools produce: 8-bit indexed with the whole
// 256-colour palette.
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

// Fills dest[0..n) with the file's bytes from `offset`; false when they
// cannot all be had.
using ByteSource = std::function<bool(uint64_t offset, uint8_t* dest, size_t n)>;

// The bytes data[0..size) as a source; they must outlive it.
ByteSource MemorySource(const uint8_t* data, size_t size);

// Pixels x0, x0 + step, x0 + 2 * step, ... of row y, `count` of them,
// laid out as PngImage's pixels.
struct PngSpan {
  int y = 0;
  int x0 = 0;
  int step = 1;
  int count = 0;
  const uint8_t* pixels = nullptr;
};

// Reads a PNG file a scan line at a time from its source, so memory holds
// a few lines and a bounded read buffer, whatever the size of the image
// or of the file. The pixels come as PngImage describes them.
class PngReader {
 public:
  PngReader();
  ~PngReader();
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  // Reads the header chunks of a file of `size` bytes. Sides above
  // `max_side`, and more rows than `size` bytes can inflate to, are
  // refused before any pixel is decoded.
  bool Open(ByteSource source, uint64_t size, int max_side, std::string* error);
  // The image as PngImage describes it, all but its pixels.
  const PngImage& info() const { return info_; }

  // Hands every pixel to `take` once, in spans in the file's order: whole
  // rows top to bottom, or an interlaced image's seven passes, each a grid
  // of its own. An index beyond the palette, a bad checksum or data cut
  // short end the reading with false and the reason.
  bool ReadSpans(const std::function<void(const PngSpan&)>& take, std::string* error);
  // Hands every row whole to `take`, top to bottom. An interlaced image
  // completes no row before its last pass, so it is read again for each
  // band of rows that fits `budget` bytes.
  bool ReadRows(size_t budget, const std::function<void(int y, const uint8_t* row)>& take,
                std::string* error);

 private:
  struct Decoder;
  bool Start(std::unique_ptr<Decoder>* decoder, std::string* error);

  ByteSource source_;
  uint64_t size_ = 0;
  int max_side_ = 0;
  PngImage info_;
  int depth_ = 8;
  bool interlaced_ = false;
  std::unique_ptr<Decoder> opened_;  // the decoder Open used, until a read takes it
};

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
