#include "formats/pic.h"

#include "formats/record.h"
#include "host/byteorder.h"

namespace formats {

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

void AppendPicture(const uint8_t* pixels, int width, int height, std::vector<uint8_t>* out) {
  uint8_t* p = Grow(out, kPicHeaderSize);
  host::PutLE32s(p + kPicWidthOffset, width);
  host::PutLE32s(p + kPicHeightOffset, height);
  out->insert(out->end(), pixels,
              pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace formats
