#include "formats/wal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "host/byteorder.h"

namespace formats {
namespace {

// texsnap's limit: what a PCX header holds.
constexpr int32_t kMaxSide = 65535;

// The 44 bytes read of a WAL file; the name in front of the sizes is zero.
std::array<uint8_t, kWalReadSize> WalHead(int32_t width, int32_t height, int32_t offset) {
  std::array<uint8_t, kWalReadSize> head{};
  host::PutLE32s(head.data() + kWalWidthOffset, width);
  host::PutLE32s(head.data() + kWalHeightOffset, height);
  host::PutLE32s(head.data() + kWalImageOffsetOffset, offset);
  return head;
}

TEST(WalHeader, Checks) {
  const struct {
    const char* what;
    int32_t width, height, image_offset;
    int64_t size;
    WalCheck expected;
  } cases[] = {
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
  for (const auto& c : cases) {
    const auto head = WalHead(c.width, c.height, c.image_offset);
    miptex_s mip;
    EXPECT_EQ(ReadWalHeader(head.data(), head.size(), c.size, kMaxSide, &mip), c.expected)
        << c.what;
    if (c.expected != WalCheck::kShortHeader) {
      EXPECT_EQ(mip.width, c.width) << c.what;
      EXPECT_EQ(mip.height, c.height) << c.what;
      EXPECT_EQ(mip.image_offset, c.image_offset) << c.what;
    }
  }
}

TEST(WalHeader, ShortFiles) {
  const auto head = WalHead(1, 1, 0);
  miptex_s mip;
  EXPECT_EQ(ReadWalHeader(head.data(), head.size(), kWalReadSize, kMaxSide, &mip), WalCheck::kOk);
  for (size_t size = 0; size < kWalReadSize; ++size) {
    const auto total = static_cast<int64_t>(size);
    EXPECT_EQ(ReadWalHeader(head.data(), size, total, kMaxSide, &mip), WalCheck::kShortHeader)
        << size;
    // A head shorter than the header is refused whatever the file's length.
    EXPECT_EQ(ReadWalHeader(head.data(), size, 100, kMaxSide, &mip), WalCheck::kShortHeader)
        << size;
  }
}

TEST(WalHeader, WrittenBytes) {
  std::vector<uint8_t> wal;
  ASSERT_TRUE(AppendWalHeader("*lava", 16, 8, &wal));
  ASSERT_EQ(wal.size(), 100u);
  std::vector<uint8_t> expected(100, 0);
  const uint8_t fields[] = {16,  0, 0, 0, 8, 0, 0, 0, 100, 0, 0, 0,
                            228, 0, 0, 0, 4, 1, 0, 0, 12,  1, 0, 0};  // 100 + 128, + 32, + 8
  std::copy(std::begin(fields), std::end(fields), expected.begin() + 32);
  std::copy_n("*lava", 5, expected.begin());
  EXPECT_EQ(wal, expected);

  // Level offsets counted wide: the last level of 65528 x 49938 starts
  // just below 2^32, one row more past it.
  std::vector<uint8_t> edge;
  ASSERT_TRUE(AppendWalHeader("edge", 65528, 49938, &edge));
  EXPECT_EQ(host::GetLE32(edge.data() + kWalImageOffsetOffset + 12), 4294934568u);
  std::vector<uint8_t> huge;
  EXPECT_FALSE(AppendWalHeader("huge", 65528, 49939, &huge));
  EXPECT_TRUE(huge.empty());
}

}  // namespace
}  // namespace formats
