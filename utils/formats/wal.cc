#include "formats/wal.h"

#include "host/byteorder.h"

namespace formats {

WalCheck ReadWalHeader(const uint8_t* head, size_t head_length, int64_t total, int32_t max_side,
                       miptex_s* mip) {
  *mip = miptex_s{};
  if (total < static_cast<int64_t>(kWalReadSize) || head_length < kWalReadSize) {
    return WalCheck::kShortHeader;
  }
  mip->width = host::GetLE32s(head + kWalWidthOffset);
  mip->height = host::GetLE32s(head + kWalHeightOffset);
  mip->image_offset = host::GetLE32s(head + kWalImageOffsetOffset);
  if (mip->width < 1 || mip->height < 1 || mip->width > max_side || mip->height > max_side) {
    return WalCheck::kBadSize;
  }
  const int64_t pixels = int64_t{mip->width} * mip->height;
  if (!host::RangeInside(mip->image_offset, pixels, total)) return WalCheck::kOutside;
  return WalCheck::kOk;
}

bool AppendWalHeader(const std::string& name, int width, int height, std::vector<uint8_t>* out) {
  return AppendTextureHeader(
      {kWalHeaderSize, kWalNameSize, kWalWidthOffset, kWalHeightOffset, kWalImageOffsetOffset},
      name, width, height, out);
}

}  // namespace formats
