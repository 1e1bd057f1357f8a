#include "mipsnap/miptex.h"

#include "host/byteorder.h"
#include "mipsnap/wad_format.h"

namespace mipsnap {

bool MiptexSizeValid(uint32_t width, uint32_t height) {
  return width != 0 && height != 0 && width <= kMiptexMaxDimension && height <= kMiptexMaxDimension;
}

std::optional<miptex_t> ReadMiptexHeader(const uint8_t* head, size_t head_length, int64_t total) {
  if (total < static_cast<int64_t>(kMiptexHeaderSize) || head_length < kMiptexHeaderSize) {
    return std::nullopt;
  }
  miptex_t mip;
  mip.width = host::GetLE32(head + kMiptexWidthOffset);
  mip.height = host::GetLE32(head + kMiptexHeightOffset);
  mip.image_offset = host::GetLE32(head + kMiptexImageOffsetOffset);
  if (!MiptexSizeValid(mip.width, mip.height)) return std::nullopt;
  const int64_t pixels = int64_t{mip.width} * mip.height;
  if (!host::RangeInside(mip.image_offset, pixels, total)) return std::nullopt;
  return mip;
}

}  // namespace mipsnap
