// krf_corpus: writes one of the benchmark corpora. run.sh calls it once per
// corpus; every corpus has its own fixed seed, so each run measures the
// same bytes.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bench/corpus_files.h"

namespace {

constexpr char kUsage[] =
    "usage: krf_corpus many-small ROOT FILES DIRS\n"
    "       krf_corpus tiny ROOT FILES DIRS\n"
    "       krf_corpus few-large ROOT\n"
    "       krf_corpus large FILE MIB\n"
    "       krf_corpus textures WAD_DIR WAL_DIR COUNT\n";

constexpr uint64_t kManySmallSeed = 1001;
constexpr uint64_t kTinySeed = 1002;
constexpr uint64_t kFewLargeSeed = 1003;
constexpr uint64_t kLargeSeed = 1004;
constexpr uint64_t kTexturesSeed = 1005;

int Number(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > 1 << 20) {
    throw std::invalid_argument(std::string("not a count: ") + text);
  }
  return static_cast<int>(value);
}

int Run(int argc, char** argv) {
  const std::string_view what = argc > 1 ? argv[1] : "";
  if (what == "many-small" && argc == 5) {
    bench::WriteManySmall(argv[2], Number(argv[3]), Number(argv[4]), kManySmallSeed);
  } else if (what == "tiny" && argc == 5) {
    bench::WriteTiny(argv[2], Number(argv[3]), Number(argv[4]), kTinySeed);
  } else if (what == "few-large" && argc == 3) {
    bench::WriteFewLarge(argv[2], kFewLargeSeed);
  } else if (what == "large" && argc == 4) {
    bench::WriteLarge(argv[2], int64_t{Number(argv[3])} << 20, kLargeSeed);
  } else if (what == "textures" && argc == 5) {
    bench::WriteTextures(argv[2], argv[3], Number(argv[4]), kTexturesSeed);
  } else {
    std::fputs(kUsage, stderr);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "krf_corpus: %s\n", e.what());
    return 1;
  }
}
