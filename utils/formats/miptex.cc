#include "formats/miptex.h"

#include "formats/record.h"
#include "host/byteorder.h"

namespace formats {

bool MiptexSizeValid(uint32_t width, uint32_t height) {
  return width != 0 && height != 0 && width <= kMiptexMaxDimension && height <= kMiptexMaxDimension;
}

std::optional<miptex_t> ReadMiptexHeader(const uint8_t* head, size_t head_length, int64_t total) {
  if (total < static_cast<int64_t>(kMiptexReadSize) || head_length < kMiptexReadSize) {
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

bool AppendTextureHeader(const TextureFields& fields, const std::string& name, int width,
                         int height, std::vector<uint8_t>* out) {
  // Counted wide, so a texture whose last level lies beyond 4 GiB is
  // refused instead of getting offsets that wrapped.
  uint64_t offsets[kMipLevels];
  uint64_t at = fields.header_size;
  for (int k = 0; k < kMipLevels; ++k) {
    offsets[k] = at;
    at += static_cast<uint64_t>(width >> k) * static_cast<uint64_t>(height >> k);
  }
  if (offsets[kMipLevels - 1] > UINT32_MAX) return false;
  uint8_t* p = Grow(out, fields.header_size);
  PutName(p, name, fields.name_size);
  host::PutLE32s(p + fields.width_offset, width);
  host::PutLE32s(p + fields.height_offset, height);
  for (int k = 0; k < kMipLevels; ++k) {
    host::PutLE32(p + fields.offsets_offset + 4 * static_cast<size_t>(k),
                  static_cast<uint32_t>(offsets[k]));
  }
  return true;
}

bool AppendMiptexHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out) {
  return AppendTextureHeader({kMiptexHeaderSize, kMiptexNameSize, kMiptexWidthOffset,
                              kMiptexHeightOffset, kMiptexImageOffsetOffset},
                             name, width, height, out);
}

}  // namespace formats
