#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/corpus_data.h"
#include "bench/corpus_files.h"
#include "bench/out_file.h"
#include "formats/miptex.h"
#include "formats/wad.h"
#include "formats/wal.h"

namespace bench {

namespace {

constexpr size_t kPaletteSize = 768;

// One texture with its mip levels, each level a quarter of the one before.
struct Texture {
  std::string name;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> levels;  // all levels back to back, full size first
};

uint32_t PickSide(Rng& rng) {
  const uint32_t pick = rng.Below(100);
  if (pick < 30) return 64;
  if (pick < 65) return 128;
  if (pick < 90) return 256;
  return 512;
}

Texture MakeTexture(int index, uint64_t seed) {
  Rng rng(seed + 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(index + 1));
  Texture tex;
  char name[16];
  // Liquids are named with a leading star, as in the games' own WAD files.
  std::snprintf(name, sizeof name, index % 25 == 0 ? "*t%04d" : "t%04d", index);
  tex.name = name;
  tex.width = PickSide(rng);
  tex.height = PickSide(rng);
  const size_t full = size_t{tex.width} * tex.height;
  tex.levels.resize(full + full / 4 + full / 16 + full / 64);
  FillImage(rng, tex.levels.data(), full);
  size_t offset = full;
  for (int level = 1; level < formats::kMipLevels; ++level) {
    const uint32_t w = tex.width >> level;
    const uint32_t h = tex.height >> level;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        tex.levels[offset++] = tex.levels[(size_t{y} << level) * tex.width + (x << level)];
      }
    }
  }
  return tex;
}

}  // namespace

void WriteTextures(const std::string& wad_dir, const std::string& wal_dir, int count,
                   uint64_t seed) {
  MakeFolder(wad_dir);
  MakeFolder(wal_dir);
  uint8_t palette[kPaletteSize];
  MakePalette(palette);
  WriteWholeFile(wad_dir + "/palette.lmp", palette, sizeof palette);
  WriteWholeFile(wal_dir + "/palette.lmp", palette, sizeof palette);

  OutFile wad(wad_dir + "/gfx.wad");
  std::vector<uint8_t> directory;
  uint32_t position = formats::kWadInfoSize;
  const std::array<uint8_t, formats::kWadInfoSize> zeros{};  // until the directory's place is known
  wad.Write(zeros.data(), zeros.size());
  for (int i = 0; i < count; ++i) {
    const Texture tex = MakeTexture(i, seed);
    // Names are at most 6 characters and sides at most 512: every header fits.
    std::vector<uint8_t> header;
    formats::AppendMiptexHeader(tex.name, static_cast<int>(tex.width), static_cast<int>(tex.height),
                                &header);
    const auto lump_size = static_cast<uint32_t>(header.size() + tex.levels.size());
    wad.Write(header.data(), header.size());
    wad.Write(tex.levels.data(), tex.levels.size());
    formats::AppendLumpInfo(position, lump_size, formats::kLumpTypeTexture, tex.name, &directory);
    position += lump_size;

    header.clear();
    formats::AppendWalHeader("bench/" + tex.name, static_cast<int>(tex.width),
                             static_cast<int>(tex.height), &header);
    OutFile wal_file(wal_dir + "/" + tex.name + ".wal");
    wal_file.Write(header.data(), header.size());
    wal_file.Write(tex.levels.data(), tex.levels.size());
    wal_file.Close();
  }
  wad.Write(directory.data(), directory.size());
  const auto info = formats::WadInfoBytes(static_cast<uint32_t>(count), position);
  wad.WriteAt(0, info.data(), info.size());
  wad.Close();
}

}  // namespace bench
