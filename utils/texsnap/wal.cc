#include "texsnap/wal.h"

#include "host/byteorder.h"
#include "pcx/pcx_format.h"

namespace texsnap {

WalCheck ReadWalHeader(const uint8_t* head, size_t head_length, int64_t total, miptex_s* mip) {
  *mip = miptex_s{};
  if (total < static_cast<int64_t>(kWalHeaderSize) || head_length < kWalHeaderSize) {
    return WalCheck::kShortHeader;
  }
  mip->width = host::GetLE32s(head + kWalWidthOffset);
  mip->height = host::GetLE32s(head + kWalHeightOffset);
  mip->image_offset = host::GetLE32s(head + kWalImageOffsetOffset);
  if (mip->width < 1 || mip->height < 1 || mip->width > pcx::kMaxDimension ||
      mip->height > pcx::kMaxDimension) {
    return WalCheck::kBadSize;
  }
  const int64_t pixels = int64_t{mip->width} * mip->height;
  if (!host::RangeInside(mip->image_offset, pixels, total)) return WalCheck::kOutside;
  return WalCheck::kOk;
}

}  // namespace texsnap
