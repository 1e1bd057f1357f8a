#include "picsnap/pic.h"

#include "host/byteorder.h"

namespace picsnap {

bool PicSizeValid(int32_t width, int32_t height) {
  return width >= 1 && height >= 1 && width <= kPicMaxDimension &&
         height <= kPicMaxDimension;
}

std::optional<pic_t> ReadPic(const uint8_t* lump, size_t size) {
  if (size < kPicHeaderSize) return std::nullopt;
  pic_t pic;
  pic.width = host::GetLE32s(lump + kPicWidthOffset);
  pic.height = host::GetLE32s(lump + kPicHeightOffset);
  if (!PicSizeValid(pic.width, pic.height)) return std::nullopt;
  const int64_t pixels = int64_t{pic.width} * pic.height;
  if (!host::RangeInside(kPicHeaderSize, pixels, static_cast<int64_t>(size))) {
    return std::nullopt;
  }
  pic.data = lump + kPicHeaderSize;
  return pic;
}

bool ConvertPicture(pcxframe::Frame& frame, const uint8_t* lump, size_t size,
                    std::string output_name) {
  const std::optional<pic_t> pic = ReadPic(lump, size);
  if (!pic) return false;
  frame.out() << ", picture: width " << pic->width << ", height " << pic->height;
  frame.savePCX(pic->width, pic->height, pic->data, output_name);
  return true;
}

}  // namespace picsnap
