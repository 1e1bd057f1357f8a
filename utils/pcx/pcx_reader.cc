#include "pcx/pcx_reader.h"

#include <cstring>

#include "host/byteorder.h"
#include "pcx/pcx_format.h"
#include "rle/run_length.h"

namespace pcx {

namespace {

constexpr uint8_t kRgbPlanes = 3;
// The longest run one count byte and its data byte can stand for.
constexpr int64_t kMaxExpansion = rle::kLongestRun / 2 + 1;

bool Fail(std::string* error, const char* reason) {
  *error = reason;
  return false;
}

}  // namespace

bool LooksLikePcx(const uint8_t* data, size_t size) {
  return size > 0 && data[pcx::kManufacturerOffset] == pcx::kManufacturer;
}

bool ReadPcxHeader(const uint8_t* data, size_t size, PcxHeader* header, std::string* error) {
  if (size < pcx::kHeaderSize) return Fail(error, "too short for a PCX header");
  if (!LooksLikePcx(data, size)) return Fail(error, "not a PCX file");
  if (data[pcx::kEncodingOffset] != pcx::kEncodingRle) {
    return Fail(error, "unsupported PCX encoding (only run-length)");
  }
  if (data[pcx::kBitsPerPixelOffset] != pcx::kBitsPerPixel) {
    return Fail(error, "unsupported PCX depth (only 8 bits per plane)");
  }
  const uint8_t planes = data[pcx::kPlanesOffset];
  if (planes != pcx::kPlanes && planes != kRgbPlanes) {
    return Fail(error, "unsupported PCX planes (only 1 with a palette, or 3)");
  }
  const int xmin = host::GetLE16(data + pcx::kXMinOffset);
  const int ymin = host::GetLE16(data + pcx::kYMinOffset);
  const int xmax = host::GetLE16(data + pcx::kXMaxOffset);
  const int ymax = host::GetLE16(data + pcx::kYMaxOffset);
  const int bytes_per_line = host::GetLE16(data + pcx::kBytesPerLineOffset);
  if (xmax < xmin || ymax < ymin) return Fail(error, "PCX window is empty");
  const int width = xmax - xmin + 1;
  const int height = ymax - ymin + 1;
  if (bytes_per_line < width) return Fail(error, "PCX bytes per line below the width");
  *header = {width, height, planes, bytes_per_line};
  return true;
}

bool ReadPcxImage(const uint8_t* data, size_t size, PcxImage* out, std::string* error) {
  PcxHeader header;
  if (!ReadPcxHeader(data, size, &header, error)) return false;
  const int width = header.width;
  const int height = header.height;
  const int bytes_per_line = header.bytes_per_line;
  const auto planes = static_cast<uint8_t>(header.planes);
  const bool indexed = header.indexed();
  // The palette of an indexed image is the last 769 bytes: marker, colours.
  size_t end = size;
  if (indexed) {
    if (size < pcx::kHeaderSize + 1 + pcx::kPaletteSize ||
        data[size - pcx::kPaletteSize - 1] != pcx::kPaletteMarker) {
      return Fail(error, "PCX has no 256-colour palette behind the image");
    }
    end = size - pcx::kPaletteSize - 1;
  }
  const int64_t line_bytes = int64_t{bytes_per_line} * planes;
  const int64_t total = line_bytes * height;
  if (total > static_cast<int64_t>(end - pcx::kHeaderSize) * kMaxExpansion) {
    return Fail(error, "PCX image data cut short");
  }

  // Decoded as one stream of `total` bytes; a line is then cut into planes.
  // A run past the last line is cut: the bytes would belong to no pixel.
  // The palette marker lies beyond the stream, so a count byte that ends
  // the image data finds no data byte there and the image is short.
  std::vector<uint8_t> raw(static_cast<size_t>(total));
  rle::Decoder decoder;
  if (decoder.Feed(data + pcx::kHeaderSize, end - pcx::kHeaderSize, raw.data(), raw.size()) !=
      raw.size()) {
    return Fail(error, "PCX image data cut short");
  }

  out->width = width;
  out->height = height;
  out->indexed = indexed;
  const size_t w = static_cast<size_t>(width);
  out->pixels.resize(w * static_cast<size_t>(height) * planes);
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    const uint8_t* line = raw.data() + y * static_cast<size_t>(line_bytes);
    uint8_t* row = out->pixels.data() + y * w * planes;
    if (indexed) {
      std::memcpy(row, line, w);
      continue;
    }
    for (size_t x = 0; x < w; ++x) {
      for (size_t c = 0; c < kRgbPlanes; ++c) row[3 * x + c] = line[c * bytes_per_line + x];
    }
  }
  if (indexed) {
    out->palette.assign(data + end + 1, data + size);
  } else {
    out->palette.clear();
  }
  return true;
}

}  // namespace pcx
