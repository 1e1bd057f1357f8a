// Shared pieces of the converter end-to-end tests: generated inputs (palette,
// picture lumps, WAD2 files, textures, WAL files), the expected console
// texts, and a PCX reader of its own, written from the file format and
// independent of the converters' writer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace convtest {

using e2e::Bytes;

inline void Put32(Bytes* out, size_t at, uint32_t v) {
  if (out->size() < at + 4) out->resize(at + 4);
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline Bytes Palette(uint32_t seed = 7) { return e2e::RandomBytes(768, seed); }

struct Image {
  int width = 0;
  int height = 0;
  Bytes pixels;
};

// Pixels that use high bytes (which need a count byte), runs longer than 63
// and runs that reach the end of a row.
inline Image TestImage(int width, int height, uint32_t seed) {
  Image img{width, height, e2e::RandomBytes(static_cast<size_t>(width) * height, seed)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if ((y + seed) % 3 == 0) img.pixels[y * width + x] = static_cast<uint8_t>(0xC0 + y % 64);
    }
  }
  return img;
}

inline Bytes PicLump(int32_t width, int32_t height, const Bytes& pixels) {
  Bytes out;
  Put32(&out, 0, static_cast<uint32_t>(width));
  Put32(&out, 4, static_cast<uint32_t>(height));
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// A texture lump with its full-size image at 40 and three mip levels of
// filler behind it, which must never reach a PCX file.
inline Bytes MiptexLump(uint32_t width, uint32_t height, const Bytes& pixels) {
  Bytes out(40, 0);
  out[0] = 'n';
  Put32(&out, 16, width);
  Put32(&out, 20, height);
  Put32(&out, 24, 40);
  out.insert(out.end(), pixels.begin(), pixels.end());
  out.insert(out.end(), pixels.size() / 4 + pixels.size() / 16 + pixels.size() / 64, 0xEE);
  return out;
}

// A WAL file: 32-byte name, width, height, image offset; image at 100.
inline Bytes WalFile(int32_t width, int32_t height, const Bytes& pixels) {
  Bytes out(100 + pixels.size() + pixels.size() / 4, 0xEE);
  std::fill(out.begin(), out.begin() + 100, 0);
  Put32(&out, 32, static_cast<uint32_t>(width));
  Put32(&out, 36, static_cast<uint32_t>(height));
  Put32(&out, 40, 100);
  std::copy(pixels.begin(), pixels.end(), out.begin() + 100);
  return out;
}

struct Lump {
  std::string name;
  Bytes data;
};

// A WAD2 file: header, lumps, directory at the end.
inline Bytes Wad(const std::vector<Lump>& lumps, const std::string& magic = "WAD2") {
  Bytes out(magic.begin(), magic.end());
  out.resize(12);
  Bytes dir;
  for (const Lump& l : lumps) {
    const size_t entry = dir.size();
    Put32(&dir, entry, static_cast<uint32_t>(out.size()));
    Put32(&dir, entry + 4, static_cast<uint32_t>(l.data.size()));
    Put32(&dir, entry + 8, static_cast<uint32_t>(l.data.size()));
    dir.resize(entry + 32, 0);
    dir[entry + 12] = 0x44;
    std::copy(l.name.begin(), l.name.end(), dir.begin() + static_cast<long>(entry) + 16);
    out.insert(out.end(), l.data.begin(), l.data.end());
  }
  Put32(&out, 4, static_cast<uint32_t>(lumps.size()));
  Put32(&out, 8, static_cast<uint32_t>(out.size()));
  out.insert(out.end(), dir.begin(), dir.end());
  return out;
}

inline std::string Banner(const std::string& tool) {
  return tool + " Converter Utility " + e2e::kEditionNotice + "\n\n";
}

inline std::string Fatal(const std::string& tool, const std::string& message) {
  return "\nError: " + message + "\n\n\nThank's for using " + tool +
         " !\nVisit https://krftools.example.org/ for news and updates.\n"
         "Write to krftools@example.org with bugs and wishes.\n";
}

inline const std::string kRw = "Fatal Read/Write error !\n";

struct Pcx {
  Image image;
  Bytes palette;
};

inline unsigned Le16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }

// Reads a PCX file as the converters must write it; every deviation from
// the format (header fields, a run crossing a row, bytes after the
// palette) is a test failure.
inline Pcx ReadPcx(const Bytes& file) {
  Pcx pcx;
  EXPECT_GE(file.size(), 128u + 1 + 768) << "too short for a PCX file";
  if (file.size() < 128 + 1 + 768) return pcx;
  EXPECT_EQ(file[0], 0x0A);
  EXPECT_EQ(file[1], 5);
  EXPECT_EQ(file[2], 1);
  EXPECT_EQ(file[3], 8);
  EXPECT_EQ(Le16(file, 4), 0u);
  EXPECT_EQ(Le16(file, 6), 0u);
  EXPECT_EQ(file[65], 1) << "planes";
  EXPECT_EQ(Le16(file, 68), 2u) << "palette info";
  const int width = static_cast<int>(Le16(file, 8)) + 1;
  const int height = static_cast<int>(Le16(file, 10)) + 1;
  EXPECT_EQ(Le16(file, 12), static_cast<unsigned>(width));
  EXPECT_EQ(Le16(file, 14), static_cast<unsigned>(height));
  EXPECT_EQ(Le16(file, 66), static_cast<unsigned>(width)) << "bytes per line";
  pcx.image.width = width;
  pcx.image.height = height;
  const size_t end = file.size() - 769;
  size_t pos = 128;
  for (int y = 0; y < height; ++y) {
    int x = 0;
    while (x < width) {
      if (pos >= end) {
        ADD_FAILURE() << "scan lines end early in row " << y;
        return pcx;
      }
      int count = 1;
      uint8_t value = file[pos++];
      if (value >= 0xC0) {
        count = value & 0x3F;
        EXPECT_GT(count, 0) << "zero-length run";
        value = pos < end ? file[pos++] : 0;
      }
      EXPECT_LE(x + count, width) << "a run crosses the end of row " << y;
      pcx.image.pixels.insert(pcx.image.pixels.end(), static_cast<size_t>(count), value);
      x += count;
    }
  }
  EXPECT_EQ(pos, end) << "bytes between the scan lines and the palette marker";
  EXPECT_EQ(file[end], 0x0C) << "palette marker";
  pcx.palette.assign(file.end() - 768, file.end());
  return pcx;
}

// The file at `path` must be a PCX of exactly `image` with `palette`.
inline void ExpectPcx(const std::string& path, const Image& image, const Bytes& palette) {
  ASSERT_TRUE(e2e::Exists(path)) << path;
  const Pcx pcx = ReadPcx(e2e::ReadFile(path));
  EXPECT_EQ(pcx.image.width, image.width) << path;
  EXPECT_EQ(pcx.image.height, image.height) << path;
  EXPECT_TRUE(pcx.image.pixels == image.pixels) << path << ": pixels differ";
  EXPECT_TRUE(pcx.palette == palette) << path << ": palette differs";
}

using e2e::RunWithin;

// A fresh directory with a palette for each test, and the tool under test.
class ConverterTest : public ::testing::Test {
 protected:
  ConverterTest(std::string binary, uint32_t palette_seed)
      : binary_(std::move(binary)), palette_(Palette(palette_seed)) {}
  void SetUp() override { e2e::WriteFile(dir_ / "palette.lmp", palette_); }
  e2e::RunResult Run(const std::vector<std::string>& args) {
    return e2e::Run(binary_, args, dir_.path());
  }

  std::string binary_;
  e2e::ScratchDir dir_;
  Bytes palette_;
};

}  // namespace convtest
