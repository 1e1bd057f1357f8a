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
  image->channels = 3;
  image->pixels = std::move(pcx.pixels);
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
    image->channels = png.channels;
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
