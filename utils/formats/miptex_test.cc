#include "formats/miptex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/byteorder.h"

namespace formats {
namespace {

// The rule on a lump of `total` bytes of which `head_length` are at hand;
// the name in front of the sizes is not read.
std::optional<miptex_t> Read(uint32_t width, uint32_t height, uint32_t image_offset, int64_t total,
                             size_t head_length = kMiptexReadSize) {
  uint8_t head[kMiptexReadSize] = {'n'};
  host::PutLE32(head + kMiptexWidthOffset, width);
  host::PutLE32(head + kMiptexHeightOffset, height);
  host::PutLE32(head + kMiptexImageOffsetOffset, image_offset);
  return ReadMiptexHeader(head, head_length, total);
}

// Sizes are compared as unsigned values, and the image (the mip levels
// behind it are never read) must lie inside the lump.
TEST(MiptexRule, SizeAndPlace) {
  constexpr int64_t kAt = 40;  // where the image starts, but for one row
  const struct {
    const char* what;
    uint32_t width, height;
    int64_t size;
    bool valid;
    uint32_t image_offset = kAt;
  } cases[] = {
      {"1 x 1", 1, 1, kAt + 1, true},
      {"1024 x 1", 1024, 1, kAt + 1024, true},
      {"1 x 1024", 1, 1024, kAt + 1024, true},
      {"1024 x 1024", 1024, 1024, kAt + 1024 * 1024, true},
      {"1025 wide", 1025, 64, kAt + 1025 * 64, false},
      {"1025 high", 64, 1025, kAt + 1025 * 64, false},
      {"zero width", 0, 1, kAt + 16, false},
      {"zero height", 1, 0, kAt + 16, false},
      {"-1 wide when read as signed", 0xFFFFFFFF, 1, kAt + 16, false},
      {"2^31 high", 1, 0x80000000, kAt + 16, false},
      {"mip levels behind the image", 64, 8, kAt + 64 * 8 + 32 * 4, true},
      {"image one byte short", 64, 8, kAt + 64 * 8 - 1, false},
      {"image in the header area", 64, 8, 64 * 8, true, 0},
      {"offset past the end", 64, 8, 1000, false, 0xFFFFFFF0},
      {"offset wraps a 32-bit sum", 64, 8, kAt + 64 * 8, false, 0xFFFFFF00},
  };
  // Too large to fit any lump, so the size check alone must refuse them.
  EXPECT_FALSE(MiptexSizeValid(0xFFFFFFFF, 1));
  EXPECT_FALSE(MiptexSizeValid(1, 0x80000000));
  for (const auto& c : cases) {
    const auto mip = Read(c.width, c.height, c.image_offset, c.size);
    ASSERT_EQ(mip.has_value(), c.valid) << c.what;
    if (mip) {
      EXPECT_EQ(mip->width, c.width) << c.what;
      EXPECT_EQ(mip->height, c.height) << c.what;
      EXPECT_EQ(mip->image_offset, c.image_offset) << c.what;
    }
  }
}

TEST(MiptexRule, ShortLumpsAreNotTextures) {
  EXPECT_TRUE(Read(1, 1, 0, kMiptexReadSize).has_value());
  for (size_t size = 0; size < kMiptexReadSize; ++size) {
    EXPECT_FALSE(Read(1, 1, 0, static_cast<int64_t>(size), size).has_value()) << size;
    // Fewer bytes at hand than the rule reads: refused whatever the lump's length.
    EXPECT_FALSE(Read(1, 1, 0, 100, size).has_value()) << size << " of 100 bytes";
  }
}

TEST(MiptexHeader, WrittenBytes) {
  std::vector<uint8_t> tex;
  ASSERT_TRUE(AppendMiptexHeader("0123456789abcde", 8, 8, &tex));
  ASSERT_EQ(tex.size(), 40u);
  EXPECT_EQ(std::string(tex.begin(), tex.begin() + 16), std::string("0123456789abcde\0", 16));
  const uint8_t fields[] = {8,   0, 0, 0, 8,   0, 0, 0, 40,  0, 0, 0,
                            104, 0, 0, 0, 120, 0, 0, 0, 124, 0, 0, 0};
  EXPECT_TRUE(std::equal(std::begin(fields), std::end(fields), tex.begin() + 16));
}

}  // namespace
}  // namespace formats
