// The PCX files must open in a reader we did not write: netpbm's pcxtoppm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "converters_support.h"

namespace convtest {
namespace {

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Decodes a binary PPM (P6, maxval 255) into its RGB bytes.
bool ReadPpm(const std::string& ppm, int* width, int* height, std::string* rgb) {
  std::istringstream in(ppm);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic >> *width >> *height >> maxval) || magic != "P6" || maxval != 255) {
    return false;
  }
  in.get();  // the one whitespace byte before the raster
  rgb->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

TEST(Pcxtoppm, ReadsEveryConverterOutput) {
  const std::string pcxtoppm = FindOnPath("pcxtoppm");
  if (pcxtoppm.empty()) GTEST_SKIP() << "pcxtoppm (netpbm) is not installed";

  e2e::ScratchDir dir;
  const Bytes palette = Palette(55);
  e2e::WriteFile(dir / "palette.lmp", palette);
  e2e::MakeDirs(dir / "textures");
  const Image pic = TestImage(67, 5, 1), tex = TestImage(33, 9, 2), wal = TestImage(1, 130, 3);
  e2e::WriteFile(dir / "pic.lmp", PicLump(pic.width, pic.height, pic.pixels));
  e2e::WriteFile(dir / "x.wad", Wad({{"tex", MiptexLump(33, 9, tex.pixels)}}));
  e2e::WriteFile(dir / "wal.wal", WalFile(1, 130, wal.pixels));
  ASSERT_EQ(e2e::Run(PICSNAP_BIN, {"pic"}, dir.path()).exit_code, 0);
  ASSERT_EQ(e2e::Run(MIPSNAP_BIN, {"x.wad"}, dir.path()).exit_code, 0);
  ASSERT_EQ(e2e::Run(TEXSNAP_BIN, {}, dir.path()).exit_code, 0);

  const std::pair<std::string, const Image*> outputs[] = {
      {"pic.pcx", &pic}, {"textures/tex.pcx", &tex}, {"textures/wal.pcx", &wal}};
  for (const auto& [file, image] : outputs) {
    const auto r = e2e::Run(pcxtoppm, {file}, dir.path());
    ASSERT_EQ(r.exit_code, 0) << file << ": " << r.err;
    int width = 0, height = 0;
    std::string rgb;
    ASSERT_TRUE(ReadPpm(r.out, &width, &height, &rgb)) << file;
    ASSERT_EQ(width, image->width) << file;
    ASSERT_EQ(height, image->height) << file;
    ASSERT_EQ(rgb.size(), image->pixels.size() * 3) << file;
    for (size_t i = 0; i < image->pixels.size(); ++i) {
      for (size_t c = 0; c < 3; ++c) {
        ASSERT_EQ(static_cast<uint8_t>(rgb[3 * i + c]), palette[image->pixels[i] * 3 + c])
            << file << " pixel " << i << " channel " << c;
      }
    }
  }
}

}  // namespace
}  // namespace convtest
