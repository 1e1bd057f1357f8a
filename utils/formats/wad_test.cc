#include "formats/wad.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

namespace formats {
namespace {

TEST(LumpInfo, WrittenBytes) {
  std::vector<uint8_t> entry;
  AppendLumpInfo(0x01020304, 0x1234, kLumpTypeTexture, "*w", &entry);
  const uint8_t want[32] = {4,    3, 2, 1,    0x34, 0x12, 0, 0,   0x34,
                            0x12, 0, 0, 0x44, 0,    0,    0, '*', 'w'};
  EXPECT_EQ(entry, std::vector<uint8_t>(std::begin(want), std::end(want)));
}

}  // namespace
}  // namespace formats
