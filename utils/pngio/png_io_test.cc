#include "pngio/png_io.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pngio {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Crc(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void Be32(Bytes* out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(Bytes* png, const char* type, const Bytes& data) {
  Be32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), data.begin(), data.end());
  Be32(png, Crc(png->data() + start, png->size() - start));
}

// A PNG built by hand: the filtered rows (filter byte 0 each) in one stored
// deflate block, so the test needs no encoder of its own.
Bytes HandMadePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, const Bytes& rows,
                  const Bytes& plte = {}, const Bytes& trns = {}) {
  Bytes png(std::begin(kSignature), std::end(kSignature));
  Bytes ihdr;
  Be32(&ihdr, w);
  Be32(&ihdr, h);
  ihdr.insert(ihdr.end(), {depth, colour, 0, 0, 0});
  Chunk(&png, "IHDR", ihdr);
  if (!plte.empty()) Chunk(&png, "PLTE", plte);
  if (!trns.empty()) Chunk(&png, "tRNS", trns);
  Bytes z = {0x78,
             0x01,
             0x01,
             static_cast<uint8_t>(rows.size()),
             static_cast<uint8_t>(rows.size() >> 8),
             static_cast<uint8_t>(~rows.size()),
             static_cast<uint8_t>(~rows.size() >> 8)};
  z.insert(z.end(), rows.begin(), rows.end());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : rows) a = (a + byte) % 65521, b = (b + a) % 65521;
  Be32(&z, b << 16 | a);
  Chunk(&png, "IDAT", z);
  Chunk(&png, "IEND", {});
  return png;
}

TEST(Png, IndexedRoundTripKeepsIndicesAndPalette) {
  Bytes palette(768);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 7);
  for (const auto& [w, h] : {std::pair{1, 1}, {7, 5}, {300, 2}}) {
    Bytes indices(static_cast<size_t>(w * h));
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i * 31 + i / 7);
    Bytes file;
    ASSERT_TRUE(WriteIndexedPng(indices.data(), w, h, palette.data(), &file));
    PngImage image;
    std::string error;
    ASSERT_TRUE(ReadPng(file.data(), file.size(), 1024, &image, &error)) << error;
    EXPECT_TRUE(image.indexed);
    EXPECT_EQ(image.width, w);
    EXPECT_EQ(image.height, h);
    EXPECT_EQ(image.pixels, indices);
    EXPECT_EQ(image.palette, palette);
    EXPECT_EQ(image.palette_alpha, Bytes(256, 255));
  }
}

TEST(Png, ReadsEveryKindIntoIndicesRgbOrRgba) {
  struct Case {
    const char* what;
    Bytes file;
    int channels;  // 1: indexed
    Bytes pixels, palette_alpha;
  };
  const Bytes plte = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  const Case cases[] = {
      // 2-bit indices 0, 1, 2 and a padding bit pair; entry 1 transparent.
      {"2-bit palette",
       HandMadePng(3, 1, 2, 3, {0, 0b00011000}, plte, {255, 0}),
       1,
       {0, 1, 2},
       {255, 0, 255}},
      {"8-bit grey",
       HandMadePng(2, 1, 8, 0, {0, 7, 200}),
       4,
       {7, 7, 7, 255, 200, 200, 200, 255},
       {}},
      // 16-bit grey with alpha: the high byte of each channel.
      {"16-bit grey+alpha",
       HandMadePng(1, 1, 16, 4, {0, 0x80, 0xFF, 0x01, 0x02}),
       4,
       {0x80, 0x80, 0x80, 0x01},
       {}},
      // An RGB colour key (tRNS) makes its pixels transparent.
      {"RGB key",
       HandMadePng(2, 1, 8, 2, {0, 1, 2, 3, 4, 5, 6}, {}, {0, 4, 0, 5, 0, 6}),
       4,
       {1, 2, 3, 255, 4, 5, 6, 0},
       {}},
      // Opaque 8-bit RGB keeps its three bytes a pixel.
      {"RGB", HandMadePng(2, 1, 8, 2, {0, 1, 2, 3, 4, 5, 6}), 3, {1, 2, 3, 4, 5, 6}, {}},
  };
  for (const Case& c : cases) {
    PngImage image;
    std::string error;
    ASSERT_TRUE(ReadPng(c.file.data(), c.file.size(), 1024, &image, &error)) << c.what << error;
    EXPECT_EQ(image.indexed, c.channels == 1) << c.what;
    EXPECT_EQ(image.channels, c.channels) << c.what;
    EXPECT_EQ(image.pixels, c.pixels) << c.what;
    EXPECT_EQ(image.palette_alpha, c.palette_alpha) << c.what;
  }
}

TEST(Png, RefusesDamage) {
  const Bytes good = HandMadePng(2, 2, 8, 0, {0, 1, 2, 0, 3, 4});
  struct Case {
    const char* what;
    Bytes file;
    int max_side;
  };
  Bytes bad_crc = good;
  bad_crc[30] ^= 1;  // inside IHDR's checksummed bytes
  Bytes cut(good.begin(), good.end() - 20);
  const Bytes out_of_palette = HandMadePng(1, 1, 8, 3, {0, 5}, {1, 2, 3});
  const Bytes just_past_palette = HandMadePng(1, 1, 8, 3, {0, 1}, {1, 2, 3});
  // Claims 60000 x 60000 in a file of a hundred bytes.
  const Bytes huge = HandMadePng(60000, 60000, 8, 0, {0, 1});
  const Case cases[] = {
      {"checksum", bad_crc, 1024},
      {"cut short", cut, 1024},
      {"too large", good, 1},
      {"index beyond PLTE", out_of_palette, 1024},
      {"index equal to PLTE's size", just_past_palette, 1024},
      {"more rows than data", huge, 65535},
      {"not a PNG", Bytes(good.begin() + 1, good.end()), 1024},
  };
  for (const Case& c : cases) {
    PngImage image;
    std::string error;
    EXPECT_FALSE(ReadPng(c.file.data(), c.file.size(), c.max_side, &image, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  PngImage image;
  std::string error;
  EXPECT_TRUE(ReadPng(good.data(), good.size(), 2, &image, &error)) << error;
}

}  // namespace
}  // namespace pngio
