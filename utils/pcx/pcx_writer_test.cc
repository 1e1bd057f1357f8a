#include "pcx/pcx_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/byteorder.h"
#include "pcx/pcx_format.h"

namespace pcx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& line) {
  Bytes out;
  pcxWriteLine(&out, line.data(), static_cast<int>(line.size()));
  return out;
}

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

TEST(PcxWriteLine, EncodesRunsAndHighBytes) {
  struct Case {
    const char* what;
    Bytes line;
    Bytes encoded;
  };
  const Case cases[] = {
      {"64 x 0x10: run of 63, then a lone byte", Repeat(0x10, 64), {0xFF, 0x10, 0x10}},
      {"130 x 0x20", Repeat(0x20, 130), {0xFF, 0x20, 0xFF, 0x20, 0xC4, 0x20}},
      {"lone 0xC0 needs a count", {0xC0}, {0xC1, 0xC0}},
      {"lone 0xBF stands alone", {0xBF}, {0xBF}},
      {"two equal bytes", {0x07, 0x07}, {0xC2, 0x07}},
      {"four equal bytes", {0x33, 0x33, 0x33, 0x33}, {0xC4, 0x33}},
      {"lone 0xFF needs a count", {0xFF}, {0xC1, 0xFF}},
      {"run of exactly 63", Repeat(0x01, 63), {0xFF, 0x01}},
      {"mixed", {1, 2, 2, 0xC8, 3}, {1, 0xC2, 2, 0xC1, 0xC8, 3}},
      {"empty line", {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(c.line), c.encoded) << c.what;
  }
}

TEST(PcxWriteLine, NeverWritesAZeroCount) {
  const Bytes encoded = Encode(Repeat(0xC0, 63 * 3));
  EXPECT_EQ(encoded, (Bytes{0xFF, 0xC0, 0xFF, 0xC0, 0xFF, 0xC0}));
}

TEST(PcxHeader, FieldsForAnOddWidth) {
  uint8_t header[pcx::kHeaderSize];
  std::memset(header, 0xAA, sizeof header);
  BuildPcxHeader(header, 3, 2);
  struct Field {
    size_t offset;
    int bytes;
    unsigned value;
  };
  const Field fields[] = {
      {0, 1, 0x0A}, {1, 1, 5},  {2, 1, 1},  {3, 1, 8},  {4, 2, 0},  {6, 2, 0},  {8, 2, 2},
      {10, 2, 1},   {12, 2, 3}, {14, 2, 2}, {64, 1, 0}, {65, 1, 1}, {66, 2, 3}, {68, 2, 2},
  };
  for (const Field& f : fields) {
    const unsigned got = f.bytes == 1 ? header[f.offset] : host::GetLE16(header + f.offset);
    EXPECT_EQ(got, f.value) << "field at offset " << f.offset;
  }
  for (size_t i = 16; i < 64; ++i) EXPECT_EQ(header[i], 0) << "16-colour palette byte " << i;
  for (size_t i = 70; i < 128; ++i) EXPECT_EQ(header[i], 0) << "filler byte " << i;
}

TEST(PcxHeader, LargestSizeFitsSixteenBits) {
  uint8_t header[pcx::kHeaderSize];
  BuildPcxHeader(header, 65535, 1);
  EXPECT_EQ(host::GetLE16(header + 8), 65534);
  EXPECT_EQ(host::GetLE16(header + 12), 65535);
  EXPECT_EQ(host::GetLE16(header + 66), 65535);
  EXPECT_EQ(host::GetLE16(header + 10), 0);
}

}  // namespace
}  // namespace pcx
