#include "bench/corpus_files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/corpus_data.h"
#include "bench/out_file.h"

namespace bench {

namespace {

constexpr int kMaxDepth = 4;
constexpr uint64_t kFileStride = 0x9E3779B97F4A7C15ull;  // spreads file seeds apart

std::string Numbered(const char* format, int n) {
  char text[32];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

// Folder paths below `root`, each ending in '/', the root itself first.
std::vector<std::string> MakeTree(const std::string& root, int dirs, uint64_t seed) {
  Rng rng(seed);
  std::vector<std::string> paths = {root + "/"};
  std::vector<int> depth = {0};
  for (int k = 1; k < dirs; ++k) {
    int parent = 0;
    do {
      parent = static_cast<int>(rng.Below(static_cast<uint32_t>(k)));
    } while (depth[parent] >= kMaxDepth);
    paths.push_back(paths[parent] + Numbered("d%02d/", k));
    depth.push_back(depth[parent] + 1);
    MakeFolder(paths.back().substr(0, paths.back().size() - 1));
  }
  return paths;
}

}  // namespace

void WriteManySmall(const std::string& root, int files, int dirs, uint64_t seed) {
  MakeFolder(root);
  const std::vector<std::string> tree = MakeTree(root, dirs, seed);
  std::vector<uint8_t> data;
  for (int i = 0; i < files; ++i) {
    Rng rng(seed + kFileStride * static_cast<uint64_t>(i + 1));
    const std::string& folder = tree[rng.Below(static_cast<uint32_t>(tree.size()))];
    data.resize(rng.Between(1024, 16384));
    const uint32_t pick = rng.Below(100);
    DataKind kind = DataKind::kRandom;
    const char* extension = ".dat";
    if (pick < 40) {
      kind = DataKind::kImage;
      extension = ".lmp";
    } else if (pick < 75) {
      kind = DataKind::kText;
      extension = pick < 55 ? ".cfg" : ".txt";
    }
    Fill(kind, rng, data.data(), data.size());
    WriteWholeFile(folder + Numbered("f%05d", i) + extension, data.data(), data.size());
  }
}

void WriteTiny(const std::string& root, int files, int dirs, uint64_t seed) {
  MakeFolder(root);
  std::vector<std::string> folders;
  for (int k = 0; k < dirs; ++k) {
    folders.push_back(root + Numbered("/l%02d", k));
    MakeFolder(folders.back());
  }
  Rng rng(seed);
  uint8_t data[200];
  for (int i = 0; i < files; ++i) {
    const size_t n = rng.Between(32, sizeof data);
    FillText(rng, data, n);
    WriteWholeFile(folders[static_cast<size_t>(i % dirs)] + Numbered("/e%06d.txt", i), data, n);
  }
}

void WriteFewLarge(const std::string& root, uint64_t seed) {
  constexpr int64_t kSize = int64_t{64} << 20;
  MakeFolder(root);
  const DataKind kinds[] = {DataKind::kRunny, DataKind::kRandom, DataKind::kImage,
                            DataKind::kRunny, DataKind::kImage,  DataKind::kRandom,
                            DataKind::kRunny, DataKind::kImage};
  std::vector<uint8_t> data(static_cast<size_t>(kSize));
  int number = 0;
  for (DataKind kind : kinds) {
    Rng rng(seed + kFileStride * static_cast<uint64_t>(++number));
    Fill(kind, rng, data.data(), data.size());
    WriteWholeFile(root + "/" + KindName(kind) + Numbered("%d.dat", number), data.data(),
                   data.size());
  }
}

void WriteLarge(const std::string& path, int64_t bytes, uint64_t seed) {
  constexpr size_t kPiece = size_t{1} << 20;
  Rng rng(seed);
  std::vector<uint8_t> piece(kPiece);
  OutFile out(path);
  for (int64_t left = bytes; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, kPiece));
    FillImage(rng, piece.data(), n);
    out.Write(piece.data(), n);
    left -= static_cast<int64_t>(n);
  }
  out.Close();
}

}  // namespace bench
