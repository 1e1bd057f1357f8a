#include <gtest/gtest.h>

#include <vector>

#include "host/byteorder.h"
#include "texsnap/wal.h"

namespace texsnap {
namespace {

std::vector<uint8_t> Wal(int32_t width, int32_t height, int32_t image_offset, size_t size) {
  std::vector<uint8_t> file(size, 0x22);
  host::PutLE32s(file.data() + kWalWidthOffset, width);
  host::PutLE32s(file.data() + kWalHeightOffset, height);
  host::PutLE32s(file.data() + kWalImageOffsetOffset, image_offset);
  return file;
}

TEST(WalHeader, Checks) {
  struct Case {
    const char* what;
    int32_t width, height, image_offset;
    size_t size;
    WalCheck expected;
  };
  const Case cases[] = {
      {"64 x 64 with mip levels", 64, 64, 100, 100 + 4096 + 1024 + 256 + 64, WalCheck::kOk},
      {"1 x 1 at the very end", 1, 1, 44, 45, WalCheck::kOk},
      {"wider than 1024 is fine", 1025, 1, 44, 44 + 1025, WalCheck::kOk},
      {"65535 wide", 65535, 1, 44, 44 + 65535, WalCheck::kOk},
      {"65536 wide", 65536, 1, 44, 44 + 65536, WalCheck::kBadSize},
      {"65536 high", 1, 65536, 44, 44 + 65536, WalCheck::kBadSize},
      {"zero width", 0, 4, 44, 100, WalCheck::kBadSize},
      {"zero height", 4, 0, 44, 100, WalCheck::kBadSize},
      {"negative width", -4, 4, 44, 100, WalCheck::kBadSize},
      {"negative height", 4, INT32_MIN, 44, 100, WalCheck::kBadSize},
      {"image one byte past the end", 8, 8, 44, 44 + 63, WalCheck::kOutside},
      {"negative image offset", 2, 2, -1, 100, WalCheck::kOutside},
      {"huge image offset", 2, 2, INT32_MAX, 100, WalCheck::kOutside},
      {"huge image", 65535, 65535, 44, 1000, WalCheck::kOutside},
  };
  for (const Case& c : cases) {
    const auto file = Wal(c.width, c.height, c.image_offset, c.size);
    miptex_s mip;
    EXPECT_EQ(ReadWal(file.data(), file.size(), &mip), c.expected) << c.what;
    if (c.expected == WalCheck::kOk) {
      EXPECT_EQ(mip.image, file.data() + c.image_offset) << c.what;
    } else {
      EXPECT_EQ(mip.image, nullptr) << c.what;
    }
  }
}

TEST(WalHeader, ShortFiles) {
  const auto file = Wal(1, 1, 0, kWalHeaderSize);
  miptex_s mip;
  EXPECT_EQ(ReadWal(file.data(), file.size(), &mip), WalCheck::kOk);
  for (size_t size = 0; size < kWalHeaderSize; ++size) {
    EXPECT_EQ(ReadWal(file.data(), size, &mip), WalCheck::kShortHeader) << size << " bytes";
  }
}

}  // namespace
}  // namespace texsnap
