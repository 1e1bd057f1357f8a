#include <gtest/gtest.h>

#include <vector>

#include "host/byteorder.h"
#include "picsnap/pic.h"

namespace picsnap {
namespace {

std::vector<uint8_t> Lump(int32_t width, int32_t height, size_t pixel_bytes) {
  std::vector<uint8_t> lump(kPicHeaderSize + pixel_bytes, 0x5A);
  host::PutLE32s(lump.data(), width);
  host::PutLE32s(lump.data() + 4, height);
  return lump;
}

TEST(PicRule, SizeBounds) {
  struct Case {
    int32_t width, height;
    bool valid;
  };
  const Case cases[] = {
      {1, 1, true},        {1024, 1, true},     {1, 1024, true},   {1024, 1024, true},
      {1025, 1, false},    {1, 1025, false},    {0, 1, false},     {1, 0, false},
      {-1, 5, false},      {5, -1, false},      {INT32_MIN, 1, false},
      {INT32_MAX, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PicSizeValid(c.width, c.height), c.valid) << c.width << " x " << c.height;
    // Where the rule holds, a lump holding every pixel reads as a picture.
    const size_t pixels = c.valid ? static_cast<size_t>(c.width) * static_cast<size_t>(c.height) : 16;
    const auto lump = Lump(c.width, c.height, pixels);
    EXPECT_EQ(ReadPic(lump.data(), lump.size()).has_value(), c.valid)
        << c.width << " x " << c.height;
  }
}

TEST(PicRule, LumpMustHoldHeaderAndPixels) {
  const auto exact = Lump(3, 2, 6);
  const auto pic = ReadPic(exact.data(), exact.size());
  ASSERT_TRUE(pic.has_value());
  EXPECT_EQ(pic->width, 3);
  EXPECT_EQ(pic->height, 2);
  EXPECT_EQ(pic->data, exact.data() + 8);

  const auto longer = Lump(3, 2, 40);
  EXPECT_TRUE(ReadPic(longer.data(), longer.size()).has_value());

  const auto one_short = Lump(3, 2, 5);
  EXPECT_FALSE(ReadPic(one_short.data(), one_short.size()).has_value());

  const auto header_only = Lump(1, 1, 0);
  EXPECT_FALSE(ReadPic(header_only.data(), header_only.size()).has_value());
  for (size_t size = 0; size < kPicHeaderSize; ++size) {
    EXPECT_FALSE(ReadPic(header_only.data(), size).has_value()) << size << " bytes";
  }
}

}  // namespace
}  // namespace picsnap
