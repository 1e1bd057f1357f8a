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

// An interlaced PNG dithered is read again for each band of rows: a band
// takes half the indices' memory, or this much for smaller images.
constexpr size_t kLeastBand = size_t{4} << 20;

bool FromPcx(const uint8_t* data, size_t size, ColourMap& map, bool dither, MappedImage* image,
             std::string* error) {
  pcx::PcxImage pcx;
  if (!pcx::ReadPcxImage(data, size, &pcx, error)) return false;
  image->width = pcx.width;
  image->height = pcx.height;
  const auto w = static_cast<size_t>(pcx.width);
  const auto h = static_cast<size_t>(pcx.height);
  if (pcx.indexed) {
    image->indices = std::move(pcx.pixels);
    MapIndexed(image->indices.data(), w, h, pcx.palette, {}, map, dither);
    return true;
  }
  // Three bytes a pixel: RGB.
  image->indices.resize(w * h);
  if (!dither) {
    MapPixels(map, pcx.pixels.data(), w * h, 3, image->indices.data());
    return true;
  }
  Ditherer ditherer(map, w);
  for (size_t y = 0; y < h; ++y) ditherer.Row(&pcx.pixels[3 * w * y], 3, &image->indices[w * y]);
  return true;
}

// Maps a PNG image's pixels as they are decoded: indices into the image's
// own palette are held until the whole image tells whether they stay;
// colours become indices a line at a time.
bool FromPng(pngio::ByteSource source, uint64_t size, int max_side, ColourMap& map, bool dither,
             MappedImage* image, std::string* error) {
  pngio::PngReader reader;
  if (!reader.Open(std::move(source), size, max_side, error)) return false;
  const pngio::PngImage& info = reader.info();
  image->width = info.width;
  image->height = info.height;
  const auto w = static_cast<size_t>(info.width);
  const auto h = static_cast<size_t>(info.height);
  image->indices.resize(w * h);
  uint8_t* const out = image->indices.data();
  if (info.indexed) {
    const bool read = reader.ReadSpans(
        [out, w](const pngio::PngSpan& span) {
          uint8_t* to = out + static_cast<size_t>(span.y) * w + static_cast<size_t>(span.x0);
          for (int k = 0; k < span.count; ++k, to += span.step) *to = span.pixels[k];
        },
        error);
    if (!read) return false;
    MapIndexed(out, w, h, info.palette, info.palette_alpha, map, dither);
    return true;
  }
  if (dither) {
    Ditherer ditherer(map, w);
    return reader.ReadRows(
        std::max(kLeastBand, w * h / 2),
        [&ditherer, &info, out, w](int y, const uint8_t* row) {
          ditherer.Row(row, info.channels, out + static_cast<size_t>(y) * w);
        },
        error);
  }
  std::vector<uint8_t> mapped(w);
  return reader.ReadSpans(
      [&map, &mapped, &info, out, w](const pngio::PngSpan& span) {
        const auto count = static_cast<size_t>(span.count);
        MapPixels(map, span.pixels, count, info.channels, mapped.data());
        uint8_t* to = out + static_cast<size_t>(span.y) * w + static_cast<size_t>(span.x0);
        for (size_t k = 0; k < count; ++k, to += span.step) *to = mapped[k];
      },
      error);
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
  return errno == host::kNotRegularFile ? "not a regular file" : host::ErrorText(errno);
}

bool DecodeImage(const uint8_t* data, size_t size, int max_side, ColourMap& map, bool dither,
                 MappedImage* image, std::string* error) {
  pcx::PcxHeader header;
  if (!HeaderAllowed(data, size, max_side, &header, error)) return false;
  if (pngio::LooksLikePng(data, size)) {
    return FromPng(pngio::MemorySource(data, size), size, max_side, map, dither, image, error);
  }
  if (pcx::LooksLikePcx(data, size)) return FromPcx(data, size, map, dither, image, error);
  *error = kNoImage;
  return false;
}

bool ReadImageFile(const std::string& path, int max_side, ColourMap& map, bool dither,
                   MappedImage* image, std::string* error) {
  host::File file;
  const int64_t size = file.Open(path, host::File::Mode::kRead) ? file.Size() : -1;
  std::vector<uint8_t> bytes;
  if (size < 0 || !Append(file, 0, std::min<int64_t>(size, kHeadBytes), &bytes)) {
    *error = SystemReason();
    return false;
  }
  pcx::PcxHeader header;
  if (!HeaderAllowed(bytes.data(), bytes.size(), max_side, &header, error)) return false;
  if (pngio::LooksLikePng(bytes.data(), bytes.size())) {
    std::string failed;  // why a read failed
    const auto from_file = [&file, &failed](uint64_t offset, uint8_t* dest, size_t n) {
      if (file.ReadExactAt(static_cast<int64_t>(offset), dest, n)) return true;
      failed = SystemReason();
      return false;
    };
    if (FromPng(from_file, static_cast<uint64_t>(size), max_side, map, dither, image, error)) {
      return true;
    }
    if (!failed.empty()) *error = failed;
    return false;
  }
  if (!pcx::LooksLikePcx(bytes.data(), bytes.size())) {
    *error = kNoImage;
    return false;
  }
  // Scan lines beyond what the image can take are never decoded: of them,
  // only the palette behind is read.
  const auto head = static_cast<int64_t>(bytes.size());
  int64_t lines = size - head;
  int64_t tail = 0;
  const int64_t most = kPcxMaxBytesPerPixelByte * header.decoded_size();
  const int64_t palette = header.indexed() ? kPcxPaletteTail : 0;
  if (lines > most + palette) {
    lines = most;
    tail = palette;
  }
  if (!Append(file, head, lines, &bytes) || !Append(file, size - tail, tail, &bytes)) {
    *error = SystemReason();
    return false;
  }
  return FromPcx(bytes.data(), bytes.size(), map, dither, image, error);
}

}  // namespace snapback
