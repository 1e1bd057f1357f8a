#include "picsnap/pic.h"

#include "host/byteorder.h"

namespace picsnap {

bool PicSizeValid(int32_t width, int32_t height) {
  return width >= 1 && height >= 1 && width <= kPicMaxDimension && height <= kPicMaxDimension;
}

std::optional<pic_t> ReadPicHeader(const uint8_t* head, size_t head_length, int64_t total) {
  if (total < static_cast<int64_t>(kPicHeaderSize) || head_length < kPicHeaderSize) {
    return std::nullopt;
  }
  const pic_t pic = {host::GetLE32s(head + kPicWidthOffset),
                     host::GetLE32s(head + kPicHeightOffset)};
  if (!PicSizeValid(pic.width, pic.height)) return std::nullopt;
  const int64_t pixels = int64_t{pic.width} * pic.height;
  if (!host::RangeInside(kPicHeaderSize, pixels, total)) return std::nullopt;
  return pic;
}

bool ConvertPicture(pcxframe::Frame& frame, const pcxframe::Region& lump, std::string output_name,
                    std::string_view source) {
  const std::optional<pic_t> pic = ReadPicHeader(lump.head.data(), lump.head.size(), lump.size);
  if (!pic) return false;
  frame.out() << ", picture: width " << pic->width << ", height " << pic->height;
  frame.savePCX(pic->width, pic->height,
                pcxframe::RegionRows(lump, kPicHeaderSize, pic->width, pic->height), output_name,
                source);
  return true;
}

}  // namespace picsnap
