#include "pngio/png_io.h"

#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "png_builder.h"

namespace pngio {
namespace {

using Bytes = std::vector<uint8_t>;

using pngtest::StoredPng;

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
       StoredPng(3, 1, 2, 3, {0, 0b00011000}, plte, {255, 0}),
       1,
       {0, 1, 2},
       {255, 0, 255}},
      {"8-bit grey", StoredPng(2, 1, 8, 0, {0, 7, 200}), 4, {7, 7, 7, 255, 200, 200, 200, 255}, {}},
      // 16-bit grey with alpha: the high byte of each channel.
      {"16-bit grey+alpha",
       StoredPng(1, 1, 16, 4, {0, 0x80, 0xFF, 0x01, 0x02}),
       4,
       {0x80, 0x80, 0x80, 0x01},
       {}},
      // An RGB colour key (tRNS) makes its pixels transparent.
      {"RGB key",
       StoredPng(2, 1, 8, 2, {0, 1, 2, 3, 4, 5, 6}, {}, {0, 4, 0, 5, 0, 6}),
       4,
       {1, 2, 3, 255, 4, 5, 6, 0},
       {}},
      // Opaque 8-bit RGB keeps its three bytes a pixel.
      {"RGB", StoredPng(2, 1, 8, 2, {0, 1, 2, 3, 4, 5, 6}), 3, {1, 2, 3, 4, 5, 6}, {}},
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

// An image of the given form encoded by libspng, its raw rows random.
Bytes EncodedPng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colour, bool interlaced,
                 bool trns) {
  spng_ctx* c = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(c, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr = {w, h, depth, colour, 0, 0, static_cast<uint8_t>(interlaced)};
  spng_set_ihdr(c, &ihdr);
  const int samples[] = {1, 0, 3, 1, 2, 0, 4};
  const size_t row = (w * depth * static_cast<size_t>(samples[colour]) + 7) / 8;
  Bytes raw(row * h);
  uint32_t seed = w * 31 + depth * 7 + colour;
  for (uint8_t& b : raw) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  if (colour == SPNG_COLOR_TYPE_INDEXED) {
    spng_plte plte{};
    plte.n_entries = 1u << depth;
    for (uint32_t i = 0; i < plte.n_entries; ++i) {
      plte.entries[i] = {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i * 5),
                         static_cast<uint8_t>(255 - i), 255};
    }
    spng_set_plte(c, &plte);
  }
  if (trns) {
    spng_trns t{};
    if (colour == SPNG_COLOR_TYPE_INDEXED) {
      t.n_type3_entries = 2;
      t.type3_alpha[1] = 100;
    } else {
      // The colour of the first pixel (of 8-bit samples) turns transparent.
      t.gray = raw[0];
      t.red = raw[0], t.green = raw[1], t.blue = raw[2];
    }
    spng_set_trns(c, &t);
  }
  EXPECT_EQ(spng_encode_image(c, raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0);
  size_t size = 0;
  int error = 0;
  auto* data = static_cast<uint8_t*>(spng_get_png_buffer(c, &size, &error));
  Bytes png(data, data + size);
  std::free(data);
  spng_ctx_free(c);
  return png;
}

// Each pixel as RGBA, as libspng decodes the whole image at once.
Bytes WholeRgba(const Bytes& png) {
  spng_ctx* c = spng_ctx_new(0);
  spng_set_png_buffer(c, png.data(), png.size());
  size_t size = 0;
  spng_decoded_image_size(c, SPNG_FMT_RGBA8, &size);
  Bytes out(size);
  EXPECT_EQ(spng_decode_image(c, out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS), 0);
  spng_ctx_free(c);
  return out;
}

Bytes AsRgba(const PngImage& image, const Bytes& pixels) {
  Bytes out;
  for (size_t i = 0; i < pixels.size(); i += static_cast<size_t>(image.channels)) {
    if (image.indexed) {
      const uint8_t* c = &image.palette[3 * size_t{pixels[i]}];
      out.insert(out.end(), {c[0], c[1], c[2], image.palette_alpha[pixels[i]]});
    } else {
      out.insert(out.end(), {pixels[i], pixels[i + 1], pixels[i + 2],
                             image.channels == 4 ? pixels[i + 3] : uint8_t{255}});
    }
  }
  return out;
}

// Every colour type and depth, plain and interlaced, read a scan line at a
// time from a source that hands out a few bytes at a call: the same pixels
// as libspng's whole-image decoding, whether taken as spans or as whole
// rows (an interlaced image read again for each band of three rows).
TEST(Png, ReaderMatchesWholeImageDecoding) {
  const std::pair<uint8_t, uint8_t> forms[] = {{3, 1},  {3, 2},  {3, 4}, {3, 8},  {0, 1},
                                               {0, 8},  {0, 16}, {2, 8}, {2, 16}, {4, 8},
                                               {4, 16}, {6, 8},  {6, 16}};
  for (const auto& [colour, depth] : forms) {
    for (const bool interlaced : {false, true}) {
      for (const bool trns : {false, true}) {
        if (trns && (colour == 4 || colour == 6 || depth != 8)) continue;
        const std::string what = "colour " + std::to_string(colour) + " depth " +
                                 std::to_string(depth) + (interlaced ? " interlaced" : "") +
                                 (trns ? " tRNS" : "");
        const Bytes png = EncodedPng(13, 11, depth, colour, interlaced, trns);
        const Bytes want = WholeRgba(png);
        size_t most = 0;
        const auto source = [&png, &most](uint64_t offset, uint8_t* dest, size_t n) {
          most = std::max(most, n);
          if (offset > png.size() || n > png.size() - offset) return false;
          std::memcpy(dest, png.data() + offset, n);
          return true;
        };
        PngReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(source, png.size(), 1024, &error)) << what << error;
        const PngImage& image = reader.info();
        const auto channels = static_cast<size_t>(image.channels);
        Bytes spans(13 * 11 * channels), rows(13 * 11 * channels);
        std::vector<int> seen(13 * 11, 0);
        ASSERT_TRUE(reader.ReadSpans(
            [&](const PngSpan& span) {
              for (int k = 0; k < span.count; ++k) {
                const size_t at = static_cast<size_t>(span.y * 13 + span.x0 + k * span.step);
                ++seen[at];
                std::memcpy(&spans[at * channels], span.pixels + k * channels, channels);
              }
            },
            &error))
            << what << error;
        EXPECT_EQ(seen, std::vector<int>(13 * 11, 1)) << what;
        EXPECT_EQ(AsRgba(image, spans), want) << what;
        int next = 0;
        ASSERT_TRUE(reader.ReadRows(
            3 * 13 * channels,
            [&](int y, const uint8_t* row) {
              EXPECT_EQ(y, next++) << what;
              std::memcpy(&rows[static_cast<size_t>(y) * 13 * channels], row, 13 * channels);
            },
            &error))
            << what << error;
        EXPECT_EQ(next, 11) << what;
        EXPECT_EQ(rows, spans) << what;
        EXPECT_LE(most, size_t{1} << 16) << what;
      }
    }
  }
}

TEST(Png, RefusesDamage) {
  const Bytes good = StoredPng(2, 2, 8, 0, {0, 1, 2, 0, 3, 4});
  struct Case {
    const char* what;
    Bytes file;
    int max_side;
  };
  Bytes bad_crc = good;
  bad_crc[30] ^= 1;  // inside IHDR's checksummed bytes
  Bytes cut(good.begin(), good.end() - 20);
  const Bytes out_of_palette = StoredPng(1, 1, 8, 3, {0, 5}, {1, 2, 3});
  const Bytes just_past_palette = StoredPng(1, 1, 8, 3, {0, 1}, {1, 2, 3});
  // Claims 60000 x 60000 in a file of a hundred bytes.
  const Bytes huge = StoredPng(60000, 60000, 8, 0, {0, 1});
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
