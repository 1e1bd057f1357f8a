#include "texsnap/wal.h"

#include "host/byteorder.h"
#include "pcxframe/pcx_format.h"

namespace texsnap {

WalCheck ReadWal(const uint8_t* file, size_t size, miptex_s* mip) {
  *mip = miptex_s{};
  if (size < kWalHeaderSize) return WalCheck::kShortHeader;
  mip->width = host::GetLE32s(file + kWalWidthOffset);
  mip->height = host::GetLE32s(file + kWalHeightOffset);
  mip->image_offset = host::GetLE32s(file + kWalImageOffsetOffset);
  if (mip->width < 1 || mip->height < 1 || mip->width > pcx::kMaxDimension ||
      mip->height > pcx::kMaxDimension) {
    return WalCheck::kBadSize;
  }
  const int64_t pixels = int64_t{mip->width} * mip->height;
  if (!host::RangeInside(mip->image_offset, pixels, static_cast<int64_t>(size))) {
    return WalCheck::kOutside;
  }
  mip->image = file + mip->image_offset;
  return WalCheck::kOk;
}

}  // namespace texsnap
