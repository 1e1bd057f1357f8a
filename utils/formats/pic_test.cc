#include "formats/pic.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/byteorder.h"

namespace formats {
namespace {

// The rule on a lump of `total` bytes of which `head_length` are at hand.
std::optional<pic_t> Read(int32_t width, int32_t height, int64_t total,
                          size_t head_length = kPicHeaderSize) {
  uint8_t head[kPicHeaderSize];
  host::PutLE32s(head + kPicWidthOffset, width);
  host::PutLE32s(head + kPicHeightOffset, height);
  return ReadPicHeader(head, head_length, total);
}

TEST(PicRule, SizeBounds) {
  const struct {
    int32_t width, height;
    bool valid;
  } cases[] = {
      {1, 1, true},     {1024, 1, true},  {1, 1024, true},       {1024, 1024, true},
      {1025, 1, false}, {1, 1025, false}, {0, 1, false},         {1, 0, false},
      {-1, 5, false},   {5, -1, false},   {INT32_MIN, 1, false}, {INT32_MAX, 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PicSizeValid(c.width, c.height), c.valid) << c.width << " x " << c.height;
    // Where the rule holds, a lump holding every pixel reads as a picture.
    const int64_t pixels = c.valid ? int64_t{c.width} * c.height : 16;
    const auto pic = Read(c.width, c.height, int64_t{kPicHeaderSize} + pixels);
    ASSERT_EQ(pic.has_value(), c.valid) << c.width << " x " << c.height;
    if (pic) {
      EXPECT_EQ(pic->width, c.width);
      EXPECT_EQ(pic->height, c.height);
    }
  }
}

TEST(PicRule, LumpMustHoldHeaderAndPixels) {
  const struct {
    const char* what;
    int32_t width, height;
    int64_t total;
    size_t head_length;
    bool valid;
  } cases[] = {
      {"header and pixels", 3, 2, 8 + 6, 8, true},
      {"bytes behind the pixels", 3, 2, 8 + 40, 8, true},
      {"one pixel short", 3, 2, 8 + 5, 8, false},
      {"header only", 1, 1, 8, 8, false},
      {"7 bytes", 1, 1, 7, 7, false},
      {"empty", 1, 1, 0, 0, false},
      {"7 bytes at hand of a longer lump", 1, 1, 100, 7, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.width, c.height, c.total, c.head_length).has_value(), c.valid) << c.what;
  }
}

TEST(PicLump, WrittenBytes) {
  std::vector<uint8_t> pic;
  const uint8_t pixels[3] = {1, 2, 3};
  AppendPicture(pixels, 3, 1, &pic);
  EXPECT_EQ(pic, (std::vector<uint8_t>{3, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3}));
}

}  // namespace
}  // namespace formats
