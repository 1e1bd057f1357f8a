#include "snapback/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/file.h"
#include "pcx/pcx_format.h"
#include "pcx/pcx_reader.h"
#include "pngio/png_io.h"

namespace snapback {

namespace {

// The bytes read before anything else: a PCX header holds more than the
// first bytes of a PNG file that give its size.
constexpr size_t kHeadBytes = pcx::kHeaderSize;
static_assert(kHeadBytes >= pngio::kSizeBytes);
// The palette behind an indexed PCX image: its marker and 768 colours.
constexpr int64_t kPcxPaletteTail = 1 + pcx::kPaletteSize;
// A scan-line byte takes at most a count byte and a value byte.
constexpr int64_t kPcxMaxBytesPerPixelByte = 2;

bool SizeAllowed(int64_t width, int64_t height, int max_side, std::string* error) {
  if (width > max_side || height > max_side) {
    *error = "image too large";
    return false;
  }
  if (width * height > kMaxPixels) {
    *error = "an image of " + std::to_string(width) + "x" + std::to_string(height) +
             " pixels is more than 2^28 pixels";
    return false;
  }
  return true;
}

// Judges the size an image's first bytes give before a pixel is decoded;
// `pcx` receives the header of a PCX image. Bytes of neither kind pass, for
// the caller to refuse.
bool HeaderAllowed(const uint8_t* data, size_t size, int max_side, pcx::PcxHeader* pcx,
                   std::string* error) {
  if (pngio::LooksLikePng(data, size)) {
    uint32_t width = 0, height = 0;
    return !pngio::ReadPngSize(data, size, &width, &height) ||
           SizeAllowed(width, height, max_side, error);
  }
  if (pcx::LooksLikePcx(data, size)) {
    return pcx::ReadPcxHeader(data, size, pcx, error) &&
           SizeAllowed(pcx->width, pcx->height, max_side, error);
  }
  return true;
}

bool FromPcx(const uint8_t* data, size_t size, SourceImage* image, std::string* error) {
  pcx::PcxImage pcx;
  if (!pcx::ReadPcxImage(data, size, &pcx, error)) return false;
  image->width = pcx.width;
  image->height = pcx.height;
  image->indexed = pcx.indexed;
  if (pcx.indexed) {
    image->pixels = std::move(pcx.pixels);
    image->palette = std::move(pcx.palette);
    image->palette_alpha.assign(256, 255);
    return true;
  }
  image->channels = 3;
  image->pixels = std::move(pcx.pixels);
  return true;
}

bool FromPng(const uint8_t* data, size_t size, int max_side, SourceImage* image,
             std::string* error) {
  pngio::PngImage png;
  if (!pngio::ReadPng(data, size, max_side, &png, error)) return false;
  image->width = png.width;
  image->height = png.height;
  image->indexed = png.indexed;
  image->channels = png.channels;
  image->pixels = std::move(png.pixels);
  image->palette = std::move(png.palette);
  image->palette_alpha = std::move(png.palette_alpha);
  return true;
}

// Appends bytes [offset, offset + n) of the file; false (errno set) when
// they cannot all be read.
bool Append(const host::File& file, int64_t offset, int64_t n, std::vector<uint8_t>* out) {
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(n));
  return file.ReadExactAt(offset, out->data() + at, static_cast<size_t>(n));
}

constexpr char kNoImage[] = "neither a PCX nor a PNG image";

}  // namespace

std::string SystemReason() {
  return errno == host::kNotRegularFile ? "not a regular file" : std::strerror(errno);
}

bool DecodeImage(const uint8_t* data, size_t size, int max_side, SourceImage* image,
                 std::string* error) {
  pcx::PcxHeader header;
  if (!HeaderAllowed(data, size, max_side, &header, error)) return false;
  if (pngio::LooksLikePng(data, size)) return FromPng(data, size, max_side, image, error);
  if (pcx::LooksLikePcx(data, size)) return FromPcx(data, size, image, error);
  *error = kNoImage;
  return false;
}

bool ReadImageFile(const std::string& path, int max_side, SourceImage* image, std::string* error) {
  host::File file;
  const int64_t size = file.Open(path, host::File::Mode::kRead) ? file.Size() : -1;
  std::vector<uint8_t> bytes;
  if (size < 0 || !Append(file, 0, std::min<int64_t>(size, kHeadBytes), &bytes)) {
    *error = SystemReason();
    return false;
  }
  const auto head = static_cast<int64_t>(bytes.size());
  int64_t lines = size - head;  // what follows the first bytes, read whole
  int64_t tail = 0;
  pcx::PcxHeader header;
  if (!HeaderAllowed(bytes.data(), bytes.size(), max_side, &header, error)) return false;
  if (pcx::LooksLikePcx(bytes.data(), bytes.size())) {
    // Scan lines beyond what the image can take are never decoded: of them,
    // only the palette behind is read.
    const int64_t most = kPcxMaxBytesPerPixelByte * header.decoded_size();
    const int64_t palette = header.indexed() ? kPcxPaletteTail : 0;
    if (lines > most + palette) {
      lines = most;
      tail = palette;
    }
  } else if (!pngio::LooksLikePng(bytes.data(), bytes.size())) {
    *error = kNoImage;
    return false;
  }
  if (!Append(file, head, lines, &bytes) || !Append(file, size - tail, tail, &bytes)) {
    *error = SystemReason();
    return false;
  }
  return DecodeImage(bytes.data(), bytes.size(), max_side, image, error);
}

}  // namespace snapback
