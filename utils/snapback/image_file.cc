#include "snapback/image_file.h"

#include "pcxframe/pcx_reader.h"
#include "pngio/png_io.h"

namespace snapback {

namespace {

bool FromPcx(const uint8_t* data, size_t size, int max_side, SourceImage* image,
             std::string* error) {
  pcxframe::PcxImage pcx;
  if (!pcxframe::ReadPcxImage(data, size, &pcx, error)) return false;
  if (pcx.width > max_side || pcx.height > max_side) {
    *error = "image too large";
    return false;
  }
  image->width = pcx.width;
  image->height = pcx.height;
  image->indexed = pcx.indexed;
  if (pcx.indexed) {
    image->pixels = std::move(pcx.pixels);
    image->palette = std::move(pcx.palette);
    image->palette_alpha.assign(256, 255);
    return true;
  }
  const size_t n = static_cast<size_t>(pcx.width) * static_cast<size_t>(pcx.height);
  image->pixels.resize(4 * n);
  for (size_t i = 0; i < n; ++i) {
    for (size_t c = 0; c < 3; ++c) image->pixels[4 * i + c] = pcx.pixels[3 * i + c];
    image->pixels[4 * i + 3] = 255;
  }
  return true;
}

}  // namespace

bool DecodeImage(const uint8_t* data, size_t size, int max_side, SourceImage* image,
                 std::string* error) {
  if (pngio::LooksLikePng(data, size)) {
    pngio::PngImage png;
    if (!pngio::ReadPng(data, size, max_side, &png, error)) return false;
    image->width = png.width;
    image->height = png.height;
    image->indexed = png.indexed;
    image->pixels = std::move(png.pixels);
    image->palette = std::move(png.palette);
    image->palette_alpha = std::move(png.palette_alpha);
    return true;
  }
  if (pcxframe::LooksLikePcx(data, size)) return FromPcx(data, size, max_side, image, error);
  *error = "neither a PCX nor a PNG image";
  return false;
}

}  // namespace snapback
