#include <gtest/gtest.h>

#include <vector>

#include "host/byteorder.h"
#include "mipsnap/miptex.h"
#include "mipsnap/wad_format.h"

namespace mipsnap {
namespace {

std::vector<uint8_t> Lump(uint32_t width, uint32_t height, uint32_t image_offset,
                          size_t size) {
  std::vector<uint8_t> lump(size, 0x11);
  host::PutLE32(lump.data() + kMiptexWidthOffset, width);
  host::PutLE32(lump.data() + kMiptexHeightOffset, height);
  host::PutLE32(lump.data() + kMiptexImageOffsetOffset, image_offset);
  return lump;
}

TEST(MiptexRule, SizeBoundsAreUnsigned) {
  struct Case {
    uint32_t width, height;
    bool valid;
  };
  const Case cases[] = {
      {1, 1, true},         {1024, 1, true},       {1, 1024, true},  {1024, 1024, true},
      {1025, 64, false},    {64, 1025, false},     {0, 1, false},    {1, 0, false},
      {0xFFFFFFFF, 1, false},  // -1 when read as signed: must not pass as small
      {1, 0x80000000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MiptexSizeValid(c.width, c.height), c.valid) << c.width << " x " << c.height;
    const size_t image = c.valid ? size_t{c.width} * c.height : 16;
    const auto lump = Lump(c.width, c.height, 40, 40 + image);
    EXPECT_EQ(ReadMiptex(lump.data(), lump.size()).has_value(), c.valid)
        << c.width << " x " << c.height;
  }
}

TEST(MiptexRule, ImageMustLieInsideTheLump) {
  struct Case {
    const char* what;
    uint32_t image_offset;
    size_t size;
    bool valid;
  };
  const Case cases[] = {
      {"image ends at the lump's end", 40, 40 + 64 * 8, true},
      {"mip levels behind the image", 40, 40 + 64 * 8 + 32 * 4, true},
      {"image in the header area", 0, 64 * 8, true},
      {"one byte short", 40, 40 + 64 * 8 - 1, false},
      {"offset past the end", 0xFFFFFFF0, 1000, false},
      {"offset wraps a 32-bit sum", 0xFFFFFF00, 40 + 64 * 8, false},
  };
  for (const Case& c : cases) {
    const auto lump = Lump(64, 8, c.image_offset, c.size);
    const auto mip = ReadMiptex(lump.data(), lump.size());
    ASSERT_EQ(mip.has_value(), c.valid) << c.what;
    if (mip) {
      EXPECT_EQ(mip->image, lump.data() + c.image_offset) << c.what;
    }
  }
}

TEST(MiptexRule, ShortLumpsAreNotTextures) {
  const auto lump = Lump(1, 1, 0, kMiptexHeaderSize);
  EXPECT_TRUE(ReadMiptex(lump.data(), lump.size()).has_value());
  for (size_t size = 0; size < kMiptexHeaderSize; ++size) {
    EXPECT_FALSE(ReadMiptex(lump.data(), size).has_value()) << size << " bytes";
  }
}

}  // namespace
}  // namespace mipsnap
