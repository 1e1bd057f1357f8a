#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/corpus_data.h"
#include "bench/corpus_files.h"
#include "bench/out_file.h"
#include "bench/texture_format.h"
#include "host/byteorder.h"

namespace bench {

namespace {

// One texture with its mip levels, each level a quarter of the one before.
struct Texture {
  std::string name;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> levels;  // all levels back to back, full size first
  size_t level_offset[kMipLevels] = {};
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
  for (int level = 1; level < kMipLevels; ++level) {
    tex.level_offset[level] = offset;
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

// The header of a texture whose levels follow it directly; `header_size` is
// where the first level starts, the offsets counted from the header's start.
void PutSizeAndOffsets(const Texture& tex, size_t header_size, size_t width_offset,
                       size_t offsets_offset, uint8_t* header) {
  host::PutLE32(header + width_offset, tex.width);
  host::PutLE32(header + width_offset + 4, tex.height);
  for (int level = 0; level < kMipLevels; ++level) {
    host::PutLE32(header + offsets_offset + 4 * static_cast<size_t>(level),
                  static_cast<uint32_t>(header_size + tex.level_offset[level]));
  }
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
  std::vector<uint8_t> directory(static_cast<size_t>(count) * mipsnap::kLumpInfoSize);
  uint32_t position = mipsnap::kWadInfoSize;
  wad.Write(directory.data(), mipsnap::kWadInfoSize);  // zeros until the end
  for (int i = 0; i < count; ++i) {
    const Texture tex = MakeTexture(i, seed);

    uint8_t miptex[kMiptexSize] = {};
    std::memcpy(miptex, tex.name.data(), std::min(tex.name.size(), kMiptexNameSize - 1));
    PutSizeAndOffsets(tex, kMiptexSize, mipsnap::kMiptexWidthOffset, kMiptexOffsetsOffset, miptex);
    const auto lump_size = static_cast<uint32_t>(kMiptexSize + tex.levels.size());
    wad.Write(miptex, sizeof miptex);
    wad.Write(tex.levels.data(), tex.levels.size());

    uint8_t* entry = directory.data() + static_cast<size_t>(i) * mipsnap::kLumpInfoSize;
    host::PutLE32(entry + mipsnap::kLumpFilePosOffset, position);
    host::PutLE32(entry + mipsnap::kLumpDiskSizeOffset, lump_size);
    host::PutLE32(entry + kLumpSizeOffset, lump_size);
    entry[kLumpTypeOffset] = kLumpTypeMiptex;
    std::memcpy(entry + mipsnap::kLumpNameOffset, tex.name.data(),
                std::min(tex.name.size(), mipsnap::kLumpNameSize - 1));
    position += lump_size;

    uint8_t wal[kWalSize] = {};
    std::snprintf(reinterpret_cast<char*>(wal), kWalNameSize, "bench/%s", tex.name.c_str());
    PutSizeAndOffsets(tex, kWalSize, texsnap::kWalWidthOffset, kWalOffsetsOffset, wal);
    OutFile wal_file(wal_dir + "/" + tex.name + ".wal");
    wal_file.Write(wal, sizeof wal);
    wal_file.Write(tex.levels.data(), tex.levels.size());
    wal_file.Close();
  }
  wad.Write(directory.data(), directory.size());
  uint8_t info[mipsnap::kWadInfoSize];
  std::memcpy(info + mipsnap::kWadMagicOffset, mipsnap::kWadMagic.data(), 4);
  host::PutLE32(info + mipsnap::kWadLumpCountOffset, static_cast<uint32_t>(count));
  host::PutLE32(info + mipsnap::kWadDirOffsetOffset, position);
  wad.WriteAt(0, info, sizeof info);
  wad.Close();
}

}  // namespace bench
