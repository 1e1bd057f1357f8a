#include "pcx/pcx_writer.h"

#include <cstring>

#include "host/byteorder.h"
#include "pcx/pcx_format.h"
#include "rle/run_length.h"

namespace pcx {

void pcxWriteLine(std::vector<uint8_t>* out, const uint8_t* line, int length) {
  const size_t start = out->size();
  const auto n = static_cast<size_t>(length);
  out->resize(start + 2 * n);
  // A line is encoded on its own: no run is carried into the next line.
  out->resize(start + rle::Encode(line, n, out->data() + start));
}

void BuildPcxHeader(uint8_t* header, int width, int height) {
  std::memset(header, 0, pcx::kHeaderSize);
  header[pcx::kManufacturerOffset] = pcx::kManufacturer;
  header[pcx::kVersionOffset] = pcx::kVersion;
  header[pcx::kEncodingOffset] = pcx::kEncodingRle;
  header[pcx::kBitsPerPixelOffset] = pcx::kBitsPerPixel;
  const auto w = static_cast<uint16_t>(width);
  const auto h = static_cast<uint16_t>(height);
  host::PutLE16(header + pcx::kXMaxOffset, static_cast<uint16_t>(w - 1));
  host::PutLE16(header + pcx::kYMaxOffset, static_cast<uint16_t>(h - 1));
  // The resolution fields carry the image size, not dots per inch; existing
  // files look like this and readers do not rely on them.
  host::PutLE16(header + pcx::kHorizontalResOffset, w);
  host::PutLE16(header + pcx::kVerticalResOffset, h);
  header[pcx::kPlanesOffset] = pcx::kPlanes;
  // Not rounded up to even: each encoded line holds exactly `width` bytes.
  host::PutLE16(header + pcx::kBytesPerLineOffset, w);
  host::PutLE16(header + pcx::kPaletteInfoOffset, pcx::kPaletteInfo);
}

}  // namespace pcx
