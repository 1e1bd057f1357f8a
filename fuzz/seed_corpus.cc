// Writes the seed corpus of every fuzz target into OUT/<target>/: archives
// packed by xkrf itself from generated files, RLE streams from the codec,
// and WAD2, picture and WAL files from the end-to-end tests' generators.
// Usage: krf_fuzz_seeds OUT
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "converters_support.h"
#include "e2e_support.h"
#include "mixed/mixed.h"
#include "pcx/pcx_format.h"
#include "pcx/pcx_writer.h"
#include "pngio/png_io.h"
#include "xkrf/xkrf.h"

namespace {

namespace fs = std::filesystem;
using e2e::Bytes;

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::FILE* f = std::fopen((dir / name).c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
    std::exit(1);
  }
}

Bytes Load(const fs::path& path) {
  Bytes out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  int c;
  while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return out;
}

// Bytes with runs long and short, high bytes that need the escape, and
// stretches of noise: every kind of unit the codec writes.
Bytes Mixed(size_t n, uint32_t seed) {
  Bytes b = e2e::RandomBytes(n, seed);
  for (size_t i = 0; i < n; ++i) {
    if ((i / 50) % 3 == 0) b[i] = static_cast<uint8_t>(0xC0 + (i / 150) % 64);
    if ((i / 50) % 3 == 1) b[i] = b[i - i % 50];
  }
  return b;
}

int Xkrf(std::vector<const char*> args) {
  args.insert(args.begin(), "xkrf");
  std::FILE* sink = std::fopen("/dev/null", "w");
  const int status = xkrf::RunXkrf(static_cast<int>(args.size()), args.data(), sink);
  std::fclose(sink);
  return status;
}

// Archives as the tool writes them, built in a scratch folder.
void ArchiveSeeds(const fs::path& out) {
  e2e::ScratchDir scratch;
  const fs::path home = fs::current_path();
  // The files live in src/, the archives beside it, so no archive packs another.
  fs::current_path(scratch.path());
  e2e::WriteFile("src/a.txt", "A short text file that does not shrink.\n");
  e2e::WriteFile("src/runs.bin", Bytes(300, 'r'));
  e2e::WriteFile("src/d1.bin", Mixed(700, 1));
  e2e::WriteFile("src/noise.bin", e2e::RandomBytes(90, 2));
  e2e::WriteFile("src/sub/deep/d2.bin", Mixed(400, 3));
  e2e::WriteFile("src/sub/x.txt", "x");
  fs::current_path("src");
  int failures = 0;
  failures += Xkrf({"../rle", "*.*"}) != 0;
  failures += Xkrf({"../none", "*.*", "-none"}) != 0;
  failures += Xkrf({"../tree", "*.*", "-subs"}) != 0;
  failures += Xkrf({"../empty", "none.zzz"}) != 0;  // adding nothing makes an empty archive
  // A replaced entry and a deletion: the layouts compaction leaves.
  failures += Xkrf({"../changed", "*.bin"}) != 0;
  e2e::WriteFile("d1.bin", Mixed(900, 4));
  failures += Xkrf({"../changed", "*.bin"}) != 0;
  failures += Xkrf({"../changed", "runs.bin", "-del"}) != 0;
  fs::current_path(home);
  if (failures != 0) {
    std::fprintf(stderr, "xkrf failed while packing the archive seeds\n");
    std::exit(1);
  }
  for (const char* name : {"rle", "none", "tree", "empty", "changed"}) {
    Save(out, std::string(name) + ".krf", Load(scratch.path() + "/" + name + ".krf"));
  }
}

void RleSeeds(const fs::path& out) {
  const std::vector<std::pair<std::string, Bytes>> raw = {
      {"runs", Bytes(200, 7)},
      {"mixed", Mixed(600, 5)},
      {"noise", e2e::RandomBytes(64, 6)},
      {"image", convtest::TestImage(17, 9, 3).pixels},
  };
  for (const auto& [name, bytes] : raw) {
    Bytes encoded;
    mixed_EncodeRLE(bytes.data(), bytes.size(), &encoded);
    Save(out, name + ".rle", encoded);
    Save(out, name + ".raw", bytes);
  }
}

void WadSeeds(const fs::path& out) {
  const convtest::Image pic = convtest::TestImage(13, 7, 1);
  const convtest::Image tex = convtest::TestImage(16, 8, 2);
  const convtest::Image small = convtest::TestImage(1, 1, 3);
  Save(out, "mixed.wad",
       convtest::Wad({{"conback", convtest::PicLump(pic.width, pic.height, pic.pixels)},
                      {"*water1", convtest::MiptexLump(16, 8, tex.pixels)},
                      {"palette", convtest::Palette(4)},
                      {"dot", convtest::PicLump(1, 1, small.pixels)}}));
  Save(out, "empty.wad", convtest::Wad({}));
  Save(out, "picture.lmp", convtest::PicLump(pic.width, pic.height, pic.pixels));
  Save(out, "texture.mip", convtest::MiptexLump(16, 8, tex.pixels));
}

void WalSeeds(const fs::path& out) {
  const convtest::Image odd = convtest::TestImage(9, 5, 4);
  const convtest::Image wide = convtest::TestImage(1030, 2, 5);
  Save(out, "odd.wal", convtest::WalFile(odd.width, odd.height, odd.pixels));
  Save(out, "wide.wal", convtest::WalFile(wide.width, wide.height, wide.pixels));
  Save(out, "dot.wal", convtest::WalFile(1, 1, Bytes{0xC5}));
}

// The images snapback reads: PCX files as the converters write them and
// indexed PNG files, one of a texture's size and one of odd sides.
void ImageSeeds(const fs::path& out) {
  const Bytes palette = convtest::Palette();
  for (const convtest::Image& img : {convtest::TestImage(8, 8, 6), convtest::TestImage(9, 5, 7)}) {
    const std::string name = std::to_string(img.width) + "x" + std::to_string(img.height);
    Bytes pcx(pcx::kHeaderSize);
    pcx::BuildPcxHeader(pcx.data(), img.width, img.height);
    for (int y = 0; y < img.height; ++y) {
      pcx::pcxWriteLine(&pcx, img.pixels.data() + y * img.width, img.width);
    }
    pcx.push_back(pcx::kPaletteMarker);
    pcx.insert(pcx.end(), palette.begin(), palette.end());
    Save(out, name + ".pcx", pcx);
    Bytes png;
    if (!pngio::WriteIndexedPng(img.pixels.data(), img.width, img.height, palette.data(), &png)) {
      std::fprintf(stderr, "cannot encode a PNG seed\n");
      std::exit(1);
    }
    Save(out, name + ".png", png);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  ArchiveSeeds(out / "archive");
  RleSeeds(out / "rle");
  WadSeeds(out / "wad");
  WalSeeds(out / "wal");
  ImageSeeds(out / "image");
  return 0;
}
