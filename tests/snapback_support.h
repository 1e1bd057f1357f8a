// Shared pieces of snapback's end-to-end tests: the four tools' paths, and
// readers of the files snapback writes, spelled out from the formats
// themselves rather than taken from the tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "converters_support.h"

namespace snaptest {

using convtest::Bytes;
using convtest::Image;

inline uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The NUL-terminated text of a fixed field.
inline std::string Field(const Bytes& b, size_t at, size_t size) {
  std::string s(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + size));
  return s.substr(0, s.find('\0'));
}

// The nearest palette index to a colour, ties to the lowest, by brute force.
inline uint8_t Nearest(const Bytes& palette, unsigned r, unsigned g, unsigned b) {
  int best = 0;
  long best_d = -1;
  for (int i = 0; i < 256; ++i) {
    const long dr = static_cast<long>(r) - palette[3 * i],
               dg = static_cast<long>(g) - palette[3 * i + 1],
               db = static_cast<long>(b) - palette[3 * i + 2];
    const long d = dr * dr + dg * dg + db * db;
    if (best_d < 0 || d < best_d) best = i, best_d = d;
  }
  return static_cast<uint8_t>(best);
}

// Level k of a texture: each pixel the nearest index to its block's mean
// colour, rounded half up.
inline Bytes MipLevel(const Image& full, const Bytes& palette, int k) {
  const int side = 1 << k;
  Bytes out;
  for (int y = 0; y < (full.height >> k); ++y) {
    for (int x = 0; x < (full.width >> k); ++x) {
      unsigned sum[3] = {0, 0, 0};
      for (int dy = 0; dy < side; ++dy)
        for (int dx = 0; dx < side; ++dx)
          for (int c = 0; c < 3; ++c)
            sum[c] += palette[3 * full.pixels[static_cast<size_t>((y * side + dy) * full.width +
                                                                  x * side + dx)] +
                              c];
      const unsigned n = static_cast<unsigned>(side * side);
      out.push_back(
          Nearest(palette, (sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n));
    }
  }
  return out;
}

// Checks the four levels that start at `at` in `file` against `full`,
// with the offsets at `offsets` counted from `base`.
inline void ExpectLevels(const Bytes& file, size_t base, size_t offsets, const Image& full,
                         const Bytes& palette) {
  uint32_t expected_offset = Le32(file, offsets);
  for (int k = 0; k < 4; ++k) {
    const uint32_t offset = Le32(file, offsets + 4 * static_cast<size_t>(k));
    EXPECT_EQ(offset, expected_offset) << "level " << k;
    const size_t n = static_cast<size_t>(full.width >> k) * static_cast<size_t>(full.height >> k);
    ASSERT_LE(base + offset + n, file.size()) << "level " << k;
    const Bytes level(file.begin() + static_cast<long>(base + offset),
                      file.begin() + static_cast<long>(base + offset + n));
    EXPECT_EQ(level, k == 0 ? full.pixels : MipLevel(full, palette, k)) << "level " << k;
    expected_offset = offset + static_cast<uint32_t>(n);
  }
}

struct WadLump {
  std::string name;
  uint8_t type = 0;
  Bytes data;
};

// Reads a WAD2 file, checking the header and every directory field.
inline std::vector<WadLump> ReadWad(const Bytes& file) {
  std::vector<WadLump> lumps;
  EXPECT_GE(file.size(), 12u);
  if (file.size() < 12) return lumps;
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "WAD2");
  const uint32_t count = Le32(file, 4), dir = Le32(file, 8);
  EXPECT_EQ(size_t{dir} + 32 * size_t{count}, file.size()) << "the directory ends the file";
  size_t expected_pos = 12;
  for (uint32_t i = 0; i < count && dir + 32 * (i + 1) <= file.size(); ++i) {
    const size_t e = dir + 32 * size_t{i};
    WadLump lump;
    const uint32_t pos = Le32(file, e), disk = Le32(file, e + 4), size = Le32(file, e + 8);
    EXPECT_EQ(pos, expected_pos) << "lumps back to back";
    EXPECT_EQ(disk, size);
    lump.type = file[e + 12];
    EXPECT_EQ(file[e + 13], 0) << "compression";
    EXPECT_EQ(file[e + 14] | file[e + 15], 0) << "padding";
    lump.name = Field(file, e + 16, 16);
    for (size_t k = e + 16 + lump.name.size(); k < e + 32; ++k) EXPECT_EQ(file[k], 0) << "name pad";
    if (pos + size_t{disk} > dir) {
      ADD_FAILURE() << "lump " << i << " runs into the directory";
      break;
    }
    lump.data.assign(file.begin() + pos, file.begin() + pos + disk);
    expected_pos = pos + disk;
    lumps.push_back(std::move(lump));
  }
  EXPECT_EQ(expected_pos, dir);
  return lumps;
}

// Runs snapback with the palette and tools of a converter test.
class SnapbackTest : public convtest::ConverterTest {
 protected:
  SnapbackTest() : ConverterTest(SNAPBACK_BIN, 11) {}
  e2e::RunResult Tool(const std::string& binary, const std::vector<std::string>& args,
                      const std::string& cwd = "") {
    return convtest::RunWithin(binary, args, cwd.empty() ? dir_.path() : cwd,
                               std::chrono::milliseconds(60000));
  }
};

}  // namespace snaptest
