#include "pcx/pcx_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/byteorder.h"
#include "pcx/pcx_format.h"
#include "pcx/pcx_writer.h"
#include "rle/scheme.h"

namespace pcx {
namespace {

using Bytes = std::vector<uint8_t>;

// What the converters write: header, encoded lines, marker, palette.
Bytes Indexed(int w, int h, const Bytes& pixels, const Bytes& palette) {
  Bytes file(pcx::kHeaderSize);
  BuildPcxHeader(file.data(), w, h);
  for (int y = 0; y < h; ++y) pcxWriteLine(&file, pixels.data() + y * w, w);
  file.push_back(pcx::kPaletteMarker);
  file.insert(file.end(), palette.begin(), palette.end());
  return file;
}

TEST(PcxReader, ReadsWhatTheWriterWrites) {
  Bytes palette(768);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i ^ 0x5A);
  for (const auto& [w, h] : {std::pair{1, 1}, {5, 3}, {200, 2}}) {
    Bytes pixels(static_cast<size_t>(w * h));
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = i % 9 < 5 ? 0xC7 : static_cast<uint8_t>(i);
    const Bytes file = Indexed(w, h, pixels, palette);
    PcxImage image;
    std::string error;
    ASSERT_TRUE(ReadPcxImage(file.data(), file.size(), &image, &error)) << error;
    EXPECT_TRUE(image.indexed);
    EXPECT_EQ(image.width, w);
    EXPECT_EQ(image.height, h);
    EXPECT_EQ(image.pixels, pixels);
    EXPECT_EQ(image.palette, palette);
  }
}

TEST(PcxReader, ThreePlanesWithPaddedLinesAndRunsAcrossThem) {
  // 3 x 2, 4 bytes per line and plane; one run spans the end of a plane.
  Bytes file(pcx::kHeaderSize, 0);
  file[0] = pcx::kManufacturer;
  file[2] = 1;
  file[3] = 8;
  host::PutLE16(&file[pcx::kXMaxOffset], 2);
  host::PutLE16(&file[pcx::kYMaxOffset], 1);
  file[pcx::kPlanesOffset] = 3;
  host::PutLE16(&file[pcx::kBytesPerLineOffset], 4);
  const Bytes line0 = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  file.insert(file.end(), line0.begin(), line0.end());
  file.insert(file.end(), {0xC0 | 20, 0xEE});  // the whole second line, cut at its end
  PcxImage image;
  std::string error;
  ASSERT_TRUE(ReadPcxImage(file.data(), file.size(), &image, &error)) << error;
  EXPECT_FALSE(image.indexed);
  EXPECT_EQ(image.pixels, (Bytes{1, 4, 7, 2, 5, 8, 3, 6, 9, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                                 0xEE, 0xEE, 0xEE}));
}

TEST(PcxReader, RefusesDamageOnePlaceAtATime) {
  const Bytes good = Indexed(4, 4, Bytes(16, 3), Bytes(768, 1));
  struct Case {
    const char* what;
    size_t at;
    int value;  // -1: cut the file at `at`
  };
  const Case cases[] = {
      {"header cut", 100, -1},
      {"manufacturer", pcx::kManufacturerOffset, 0x0B},
      {"encoding", pcx::kEncodingOffset, 0},
      {"depth", pcx::kBitsPerPixelOffset, 4},
      {"planes", pcx::kPlanesOffset, 2},
      {"window", pcx::kXMinOffset, 9},
      {"bytes per line", pcx::kBytesPerLineOffset, 3},
      {"palette marker", good.size() - 769, 0x0D},
      {"no room for palette", pcx::kHeaderSize + 700, -1},
      {"height beyond the data", pcx::kYMaxOffset + 1, 0x7F},
  };
  for (const Case& c : cases) {
    Bytes file = good;
    if (c.value < 0) {
      file.resize(c.at);
    } else {
      file[c.at] = static_cast<uint8_t>(c.value);
    }
    PcxImage image;
    std::string error;
    EXPECT_FALSE(ReadPcxImage(file.data(), file.size(), &image, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  // A count byte that ends the image data has no value byte: the palette
  // marker behind it is not one.
  Bytes dangling(good.begin(), good.begin() + pcx::kHeaderSize);
  dangling.push_back(rle::kRunBase | 16);
  dangling.push_back(pcx::kPaletteMarker);
  dangling.insert(dangling.end(), 768, 1);
  PcxImage image;
  std::string error;
  EXPECT_FALSE(ReadPcxImage(dangling.data(), dangling.size(), &image, &error));
  EXPECT_TRUE(ReadPcxImage(good.data(), good.size(), &image, &error)) << error;
}

}  // namespace
}  // namespace pcx
