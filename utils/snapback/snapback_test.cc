#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "png_builder.h"
#include "snapback/colour_map.h"
#include "snapback/image_file.h"
#include "snapback/mip_levels.h"
#include "snapback/options.h"
#include "snapback/ordered_work.h"

namespace snapback {
namespace {

std::vector<uint8_t> RandomPalette(uint32_t seed) {
  std::vector<uint8_t> p(768);
  for (uint8_t& b : p) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return p;
}

// The rule written out as plainly as possible.
uint8_t ReferenceNearest(const std::vector<uint8_t>& p, int r, int g, int b, int fullbright) {
  int best = -1, best_d = 0;
  for (int i = 0; i < 256; ++i) {
    const int dr = r - p[3 * i], dg = g - p[3 * i + 1], db = b - p[3 * i + 2];
    const int d = dr * dr + dg * dg + db * db;
    if (i >= fullbright && d != 0) continue;
    if (best < 0 || d < best_d) best = i, best_d = d;
  }
  return static_cast<uint8_t>(best);
}

TEST(ColourMap, NearestAgreesWithTheRule) {
  for (int fullbright : {kNoFullbright, 224, 1}) {
    std::vector<uint8_t> p = RandomPalette(static_cast<uint32_t>(fullbright));
    // Duplicates on both sides of N: ties go to the lowest index.
    p[3 * 10] = p[3 * 200] = p[3 * 250] = 9;
    p[3 * 10 + 1] = p[3 * 200 + 1] = p[3 * 250 + 1] = 99;
    p[3 * 10 + 2] = p[3 * 200 + 2] = p[3 * 250 + 2] = 199;
    ColourMap map(p.data(), fullbright);
    uint32_t seed = 1;
    for (int n = 0; n < 20000; ++n) {
      seed = seed * 1664525u + 1013904223u;
      int r = static_cast<int>(seed >> 24), g = static_cast<int>(seed >> 16 & 255),
          b = static_cast<int>(seed >> 8 & 255);
      if (n % 3 == 0) {  // exact palette colours, fullbright ones included
        const int i = static_cast<int>(seed % 256);
        r = p[3 * i], g = p[3 * i + 1], b = p[3 * i + 2];
      }
      ASSERT_EQ(map.Nearest(r, g, b), ReferenceNearest(p, r, g, b, fullbright))
          << r << "," << g << "," << b << " fullbright " << fullbright;
    }
  }
  // An exact tie between two indices, the lower one farther out in its
  // cell: the search may prune neither.
  std::vector<uint8_t> tie(768, 255);
  tie[0] = tie[1] = tie[2] = 14;
  tie[3] = tie[4] = tie[5] = 0;
  EXPECT_EQ(ColourMap(tie.data(), kNoFullbright).Nearest(7, 7, 7), 0);
}

// A row of indices into the image's own palette, mapped by the whole rule.
std::vector<uint8_t> MapOwn(std::vector<uint8_t> pixels, const std::vector<uint8_t>& palette,
                            ColourMap& map, bool* kept,
                            const std::vector<uint8_t>& alpha = std::vector<uint8_t>(256, 255)) {
  *kept = MapIndexed(pixels.data(), pixels.size(), 1, palette, alpha, map, false);
  return pixels;
}

TEST(ColourMap, KeepsIndicesOnlyWhenTheUsedColoursMatch) {
  const std::vector<uint8_t> tool = RandomPalette(3);
  ColourMap map(tool.data(), kNoFullbright);
  bool kept = false;
  // Index 7 duplicates index 2's colour: kept as 7, not moved to 2.
  std::vector<uint8_t> tool_dup = tool;
  for (int k = 0; k < 3; ++k) tool_dup[21 + k] = tool[6 + k];
  ColourMap dup_map(tool_dup.data(), kNoFullbright);
  EXPECT_EQ(MapOwn({7, 2, 255}, tool_dup, dup_map, &kept), (std::vector<uint8_t>{7, 2, 255}));
  EXPECT_TRUE(kept);
  // A transparent pixel's colour does not count: 9 differs, yet 7 stays.
  std::vector<uint8_t> nine_differs = tool_dup;
  nine_differs[27] ^= 0xFF;
  std::vector<uint8_t> nine_clear(256, 255);
  nine_clear[9] = 0;
  EXPECT_EQ(MapOwn({7, 9}, nine_differs, dup_map, &kept, nine_clear),
            (std::vector<uint8_t>{7, 255}));
  EXPECT_TRUE(kept);
  // An unused index may differ; a used one that differs maps every pixel.
  std::vector<uint8_t> own = tool;
  own[3 * 40] ^= 1;
  EXPECT_EQ(MapOwn({5, 6}, own, map, &kept), (std::vector<uint8_t>{5, 6}));
  EXPECT_TRUE(kept);
  std::vector<uint8_t> moved(768, 0);
  for (int k = 0; k < 3; ++k) moved[k] = tool[27 + k];  // own index 0 shows tool colour 9
  const auto mapped = MapOwn({0}, moved, map, &kept);
  EXPECT_FALSE(kept);
  EXPECT_EQ(mapped[0], ReferenceNearest(tool, tool[27], tool[28], tool[29], kNoFullbright));
}

// The same colours as RGB, as opaque RGBA and as a palette image of their
// own palette, with runs and single pixels: each pixel gets the rule's index.
TEST(ColourMap, EveryPixelLayoutMapsByTheRule) {
  const std::vector<uint8_t> tool = RandomPalette(5);
  const std::vector<uint8_t> own = RandomPalette(6);
  ColourMap map(tool.data(), 240);
  std::vector<uint8_t> indices;
  for (uint32_t i = 0, seed = 7; indices.size() < 5000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    indices.insert(indices.end(), seed >> 29, static_cast<uint8_t>(seed >> 8));
  }
  std::vector<uint8_t> rgb, rgba, want;
  for (uint8_t index : indices) {
    const uint8_t* c = &own[3 * index];
    rgb.insert(rgb.end(), c, c + 3);
    rgba.insert(rgba.end(), {c[0], c[1], c[2], 255});
    want.push_back(ReferenceNearest(tool, c[0], c[1], c[2], 240));
  }
  for (const auto& [pixels, channels] : {std::pair{&rgb, 3}, {&rgba, 4}}) {
    std::vector<uint8_t> out(indices.size());
    MapPixels(map, pixels->data(), out.size(), channels, out.data());
    EXPECT_EQ(out, want) << channels;
  }
  bool kept = true;
  EXPECT_EQ(MapOwn(indices, own, map, &kept), want);
  EXPECT_FALSE(kept);
}

TEST(ColourMap, AlphaBelowHalfBecomesIndex255) {
  const std::vector<uint8_t> tool = RandomPalette(4);
  ColourMap map(tool.data(), kNoFullbright);
  const std::vector<uint8_t> rgba = {tool[0], tool[1], tool[2], 127, tool[0], tool[1],
                                     tool[2], 128,     1,       2,   3,       0};
  std::vector<uint8_t> out(3);
  MapPixels(map, rgba.data(), 3, 4, out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{255, ReferenceNearest(tool, tool[0], tool[1], tool[2], 256),
                                       255}));
  std::vector<uint8_t> two_clear(256, 255);
  two_clear[2] = 0;
  bool kept = false;
  EXPECT_EQ(MapOwn({1, 2}, tool, map, &kept, two_clear), (std::vector<uint8_t>{1, 255}));
  EXPECT_TRUE(kept);
}

TEST(ColourMap, DitherSpreadsTheError) {
  // Black and white only: a flat mid grey dithers to a mix of both.
  std::vector<uint8_t> p(768, 0);
  for (int i = 1; i < 256; ++i) p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = 255;
  ColourMap map(p.data(), kNoFullbright);
  const std::vector<uint8_t> grey(16 * 4 * 4, 128);
  std::vector<uint8_t> nearest(64), dithered(64);
  MapPixels(map, grey.data(), 64, 4, nearest.data());
  Ditherer ditherer(map, 16);
  for (size_t y = 0; y < 4; ++y) ditherer.Row(&grey[16 * 4 * y], 4, &dithered[16 * y]);
  EXPECT_EQ(std::count(nearest.begin(), nearest.end(), 1), 64);
  const auto white = std::count(dithered.begin(), dithered.end(), 1);
  EXPECT_GT(white, 24);
  EXPECT_LT(white, 40);
  EXPECT_EQ(std::count(dithered.begin(), dithered.end(), 0), 64 - white);
  // The same grey as an image of its own palette dithers the same way.
  std::vector<uint8_t> own(768, 128), indexed(64, 3);
  EXPECT_FALSE(MapIndexed(indexed.data(), 16, 4, own, std::vector<uint8_t>(256, 255), map, true));
  EXPECT_EQ(indexed, dithered);
}

// A PNG's indices do not depend on how the file stores its pixels: 8-bit
// RGB or 16-bit RGBA, in order or interlaced (large enough for a dithered
// interlaced image to be read in two bands), nearest colour or dithered.
TEST(ImageFile, PngIndicesDoNotDependOnTheStorage) {
  constexpr uint32_t kW = 1280, kH = 1280;
  constexpr size_t kPixels = size_t{kW} * kH;
  std::vector<uint8_t> rgb(3 * kPixels), rgba16;
  uint32_t seed = 9;
  for (size_t i = 0; i < kPixels; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const uint8_t c[3] = {static_cast<uint8_t>(i % kW / 5), static_cast<uint8_t>(i / kW / 5),
                          static_cast<uint8_t>(seed >> 26 << 4)};
    std::copy(c, c + 3, &rgb[3 * i]);
    rgba16.insert(rgba16.end(), {c[0], c[0], c[1], c[1], c[2], c[2], 255, 255});
  }
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  for (const bool interlaced : {false, true}) {
    for (const bool sixteen : {false, true}) {
      const auto rows =
          pngtest::ScanLines(sixteen ? rgba16 : rgb, kW, kH, sixteen ? 8 : 3, interlaced);
      files.emplace_back(
          std::string(sixteen ? "16-bit RGBA" : "RGB") + (interlaced ? " interlaced" : ""),
          pngtest::StoredPng(kW, kH, sixteen ? 16 : 8, sixteen ? 6 : 2, rows, {}, {}, interlaced));
    }
  }
  const std::vector<uint8_t> tool = RandomPalette(8);
  ColourMap map(tool.data(), 240);
  for (const bool dither : {false, true}) {
    std::vector<uint8_t> want(kPixels);
    if (dither) {
      Ditherer ditherer(map, kW);
      for (size_t y = 0; y < kH; ++y) ditherer.Row(&rgb[3 * kW * y], 3, &want[kW * y]);
    } else {
      MapPixels(map, rgb.data(), kPixels, 3, want.data());
    }
    for (const auto& [what, png] : files) {
      MappedImage image;
      std::string error;
      ASSERT_TRUE(DecodeImage(png.data(), png.size(), 65535, map, dither, &image, &error))
          << what << ": " << error;
      EXPECT_TRUE(image.indices == want) << what << (dither ? ", dithered" : "");
    }
  }
}

TEST(MipLevels, MeansOfBlocksRoundedHalfUp) {
  // Grey palette: index i is (i, i, i), so the nearest index is the mean.
  std::vector<uint8_t> p(768);
  for (int i = 0; i < 256; ++i) p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = static_cast<uint8_t>(i);
  ColourMap map(p.data(), kNoFullbright);
  std::vector<uint8_t> full(16 * 8);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i % 16 * 3 + i / 16);
  full[0] = 1;  // block (0,0) of level 1: 1, 3, 1+... sums
  std::vector<uint8_t> out;
  AppendMipLevels(full.data(), 16, 8, map, &out);
  ASSERT_EQ(out.size(), size_t{8 * 4 + 4 * 2 + 2 * 1});
  auto mean = [&](int x0, int y0, int side) {
    unsigned sum = 0, n = static_cast<unsigned>(side * side);
    for (int y = y0; y < y0 + side; ++y)
      for (int x = x0; x < x0 + side; ++x) sum += full[static_cast<size_t>(y * 16 + x)];
    return static_cast<uint8_t>((sum + n / 2) / n);
  };
  size_t at = 0;
  for (int k = 1; k <= 3; ++k) {
    const int side = 1 << k;
    for (int y = 0; y < (8 >> k); ++y)
      for (int x = 0; x < (16 >> k); ++x) EXPECT_EQ(out[at++], mean(x * side, y * side, side)) << k;
  }
}

TEST(MipLevels, BlocksOfOneIndexTakeTheLowestIndexOfItsColour) {
  std::vector<uint8_t> p(768);
  for (int i = 0; i < 256; ++i) p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = static_cast<uint8_t>(i);
  p[3 * 7] = p[3 * 7 + 1] = p[3 * 7 + 2] = 3;
  ColourMap map(p.data(), 200);
  for (const auto& [index, want] : {std::pair<uint8_t, uint8_t>{7, 3}, {250, 250}}) {
    const std::vector<uint8_t> flat(64, index);
    std::vector<uint8_t> out;
    AppendMipLevels(flat.data(), 8, 8, map, &out);
    EXPECT_EQ(out, std::vector<uint8_t>(16 + 4 + 1, want)) << int{index};
  }
}

// Results come in job order whatever the threads, a job's exception at its
// turn, and no more than twice the threads' results wait at a time beside
// the one the taker holds.
TEST(OrderedWork, TakesResultsInOrderWithinTheWindow) {
  for (size_t threads : {1, 3}) {
    std::atomic<int> waiting{0}, most{0};
    OrderedWork<size_t> work(300, threads, [&](size_t job, size_t worker) {
      EXPECT_LT(worker, threads);
      if (job == 150) throw std::runtime_error("job 150");
      volatile size_t spin = 0;
      for (size_t i = 0; i < (job * 7919) % 20000; ++i) spin = spin + i;
      const int now = ++waiting;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      return job * job;
    });
    for (size_t job = 0; job < 300; ++job) {
      if (job == 150) {
        EXPECT_THROW(work.TakeNext(), std::runtime_error);
        continue;
      }
      EXPECT_EQ(work.TakeNext(), job * job) << threads;
      --waiting;
    }
    EXPECT_LE(most, static_cast<int>(threads == 1 ? 1 : 2 * threads + 1)) << threads;
  }
}

TEST(Options, RefusesWhatCannotRun) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"tga", "a.png"},
      {"lmp"},
      {"wad", "out.wad"},
      {"wad", "-o", "dir", "out.wad", "a.png"},
      {"lmp", "--pic", "a.png"},
      {"lmp", "--fullbright", "0", "a.png"},
      {"lmp", "--fullbright", "256", "a.png"},
      {"lmp", "--fullbright", "12x", "a.png"},
      {"lmp", "-x", "a.png"},
      {"lmp", "a.png", "-p"},
  };
  for (const auto& words : bad) {
    std::vector<std::string> argv_strings = {"snapback"};
    argv_strings.insert(argv_strings.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& w : argv_strings) argv.push_back(w.data());
    Options options;
    EXPECT_THROW(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), stdout, &options),
                 UsageError)
        << (words.empty() ? "(nothing)" : words[0]) << " " << words.size();
  }
}

TEST(Options, OptionsAnywhereAfterTheCommand) {
  std::vector<std::string> words = {"snapback", "wad",          "out.wad", "a.png", "--pic",  "-q",
                                    "b.pcx",    "--fullbright", "240",     "-p",    "pal.lmp"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  Options o;
  ASSERT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), stdout, &o), Parsed::kRun);
  EXPECT_EQ(o.command, Command::kWad);
  EXPECT_EQ(o.wad_path, "out.wad");
  EXPECT_EQ(o.images, (std::vector<std::string>{"a.png", "b.pcx"}));
  EXPECT_TRUE(o.pictures && o.quiet);
  EXPECT_EQ(o.fullbright, 240);
  EXPECT_EQ(o.palette_path, "pal.lmp");
}

}  // namespace
}  // namespace snapback
