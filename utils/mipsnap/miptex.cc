#include "mipsnap/miptex.h"

#include "host/byteorder.h"
#include "mipsnap/wad_format.h"

namespace mipsnap {

bool MiptexSizeValid(uint32_t width, uint32_t height) {
  return width != 0 && height != 0 && width <= kMiptexMaxDimension &&
         height <= kMiptexMaxDimension;
}

std::optional<miptex_t> ReadMiptex(const uint8_t* lump, size_t size) {
  if (size < kMiptexHeaderSize) return std::nullopt;
  miptex_t mip;
  mip.width = host::GetLE32(lump + kMiptexWidthOffset);
  mip.height = host::GetLE32(lump + kMiptexHeightOffset);
  mip.image_offset = host::GetLE32(lump + kMiptexImageOffsetOffset);
  if (!MiptexSizeValid(mip.width, mip.height)) return std::nullopt;
  const int64_t pixels = int64_t{mip.width} * mip.height;
  if (!host::RangeInside(mip.image_offset, pixels, static_cast<int64_t>(size))) {
    return std::nullopt;
  }
  mip.image = lump + mip.image_offset;
  return mip;
}

}  // namespace mipsnap
