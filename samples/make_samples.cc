// Writes the demo's game data, drawn so that a person can tell what each
// image shows, and makes the demo's "paint program" edit:
//
//   krf_make_samples DIR               palette, picture lumps, a WAD2, WAL files
//   krf_make_samples edit IN OUT.png   IN.png with a frame and "EDITED" drawn on it
//
// Every byte comes from the code below: the repository holds no image.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/miptex.h"
#include "formats/pic.h"
#include "formats/wad.h"
#include "formats/wal.h"
#include "host/file.h"
#include "pngio/png_io.h"
#include "snapback/colour_map.h"
#include "snapback/mip_levels.h"

namespace {

// 16 ramps of 16 shades, darkest first; the last two ramps are the bright
// colours that games draw without shading.
constexpr uint8_t kRamps[16][3] = {
    {255, 255, 255}, {150, 100, 60},  {190, 70, 50},   {80, 170, 70},
    {70, 110, 220},  {240, 200, 60},  {150, 80, 190},  {240, 130, 40},
    {60, 180, 180},  {230, 170, 140}, {40, 110, 50},   {120, 150, 180},
    {240, 120, 170}, {140, 140, 60},  {255, 220, 120}, {140, 240, 255}};
enum Ramp {
  kGrey,
  kBrown,
  kBrick,
  kGreen,
  kBlue,
  kGold,
  kPurple,
  kOrange,
  kTeal,
  kSkin,
  kDarkGreen,
  kSteel,
  kPink,
  kOlive,
  kGlowWarm,
  kGlowCool
};

uint8_t Colour(int ramp, int shade) { return static_cast<uint8_t>(ramp * 16 + shade); }

std::vector<uint8_t> MakePalette() {
  std::vector<uint8_t> palette(768);
  for (int i = 0; i < 256; ++i) {
    const int ramp = i / 16;
    const int shade = i % 16;
    for (int c = 0; c < 3; ++c) {
      palette[static_cast<size_t>(i * 3 + c)] =
          static_cast<uint8_t>(kRamps[ramp][c] * (shade + 1) / 16);
    }
  }
  return palette;
}

// A 5 x 7 font of the letters and digits the images spell.
struct Glyph {
  char letter;
  const char* rows[7];
};
constexpr Glyph kFont[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
};

struct Image {
  std::string name;
  int width;
  int height;
  std::vector<uint8_t> pixels;
  Image(std::string n, int w, int h)
      : name(std::move(n)), width(w), height(h), pixels(static_cast<size_t>(w * h)) {}
  uint8_t& at(int x, int y) { return pixels[static_cast<size_t>(y * width + x)]; }
  void Put(int x, int y, uint8_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) at(x, y) = c;
  }
};

// Draws `text` with its top left corner at (x, y), each font pixel a
// `scale` x `scale` square, with a one-pixel shadow.
void DrawText(Image* img, int x, int y, int scale, const std::string& text, uint8_t ink,
              uint8_t shadow) {
  for (int pass = 0; pass < 2; ++pass) {
    const int d = pass == 0 ? 1 : 0;
    const uint8_t c = pass == 0 ? shadow : ink;
    int cx = x;
    for (const char ch : text) {
      for (const Glyph& g : kFont) {
        if (g.letter != ch) continue;
        for (int r = 0; r < 7; ++r) {
          for (int k = 0; k < 5; ++k) {
            if (g.rows[r][k] != '#') continue;
            for (int s = 0; s < scale * scale; ++s) {
              img->Put(cx + k * scale + s % scale + d, y + r * scale + s / scale + d, c);
            }
          }
        }
      }
      cx += 6 * scale;
    }
  }
}

int TextWidth(const std::string& text, int scale) {
  return static_cast<int>(text.size()) * 6 * scale - scale;
}

Image Logo() {
  Image img("logo", 160, 48);
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) img.at(x, y) = Colour(kBlue, 2 + 12 * y / img.height);
  }
  const std::string text = "KRF TOOLS";
  DrawText(&img, (img.width - TextWidth(text, 2)) / 2, 17, 2, text, Colour(kGold, 15),
           Colour(kGrey, 1));
  return img;
}

Image Face() {
  Image img("face", 64, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const double dx = x - 31.5, dy = y - 31.5, r = std::sqrt(dx * dx + dy * dy);
      uint8_t c = Colour(kTeal, 3);
      if (r < 28) c = Colour(kGold, static_cast<int>(15 - r / 3));
      if (r >= 28 && r < 30) c = Colour(kOrange, 6);
      const double ex = std::fabs(dx) - 10, ey = dy + 8;
      if (ex * ex + ey * ey < 16) c = Colour(kGrey, 1);       // eyes
      if (r > 13 && r < 17 && dy > 6) c = Colour(kBrick, 8);  // smile
      img.at(x, y) = c;
    }
  }
  return img;
}

// 37 wide: an odd width, so a flipped row or a padded line shows.
Image Bar() {
  Image img("bar", 37, 9);
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      img.at(x, y) = y == 0 || y == 8 ? Colour(kGrey, 15) : Colour(kGreen, x * 15 / 36);
    }
  }
  return img;
}

Image Brick() {
  Image img("brick", 64, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const int row = y / 16;
      const int bx = (x + (row % 2) * 16) % 32;
      const bool mortar = y % 16 == 0 || bx == 0;
      img.at(x, y) = mortar ? Colour(kGrey, 6) : Colour(kBrick, 6 + (x * 7 + y * 13) % 5);
    }
  }
  return img;
}

Image Water() {
  Image img("*water1", 64, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const double wave = std::sin((x + 8 * std::sin(y / 6.0)) / 5.0);
      img.at(x, y) = Colour(kBlue, 7 + static_cast<int>(wave * 4));
    }
  }
  return img;
}

Image Sign() {
  Image img("exitsign", 64, 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x) {
      const bool edge = x < 2 || y < 2 || x > 61 || y > 29;
      img.at(x, y) = edge ? Colour(kGrey, 9) : Colour(kGreen, 3);
    }
  }
  DrawText(&img, (64 - TextWidth("EXIT", 2)) / 2, 9, 2, "EXIT", Colour(kGlowCool, 15),
           Colour(kGrey, 0));
  return img;
}

Image Checker() {
  Image img("checker", 128, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 128; ++x) {
      img.at(x, y) = ((x / 16 + y / 16) % 2 != 0) ? Colour(kPurple, 12) : Colour(kGrey, 13);
    }
  }
  return img;
}

Image Metal() {
  Image img("metal1", 64, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint8_t c = Colour(kSteel, 5 + (x + y) % 64 / 8);
      const int rx = x % 32 - 5, ry = y % 32 - 5;
      if (rx * rx + ry * ry < 5) c = Colour(kSteel, 14);  // rivets
      if (x % 32 == 0 || y % 32 == 0) c = Colour(kGrey, 2);
      img.at(x, y) = c;
    }
  }
  return img;
}

Image Grass() {
  Image img("grass", 32, 32);
  uint32_t seed = 12345;
  for (uint8_t& p : img.pixels) {
    seed = seed * 1664525u + 1013904223u;
    p = Colour(seed >> 31 ? kGreen : kDarkGreen, 6 + static_cast<int>(seed >> 24) % 6);
  }
  return img;
}

Image Arrow() {
  Image img("arrow", 32, 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool head = x >= 16 && x < 28 && std::abs(y - 16) < 28 - x;
      const bool shaft = x >= 4 && x < 16 && y >= 13 && y < 19;
      img.at(x, y) = head || shaft ? Colour(kGlowWarm, 15) : Colour(kBrown, 4);
    }
  }
  return img;
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  host::File f;
  if (!f.Open(path, host::File::Mode::kCreateTruncate) || !f.Write(bytes.data(), bytes.size()) ||
      !f.Close()) {
    std::fprintf(stderr, "krf_make_samples: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

std::vector<uint8_t> Texture(const Image& img, snapback::ColourMap& map, bool wal) {
  std::vector<uint8_t> out;
  if (wal) {
    formats::AppendWalHeader(img.name, img.width, img.height, &out);
  } else {
    formats::AppendMiptexHeader(img.name, img.width, img.height, &out);
  }
  out.insert(out.end(), img.pixels.begin(), img.pixels.end());
  snapback::AppendMipLevels(img.pixels.data(), img.width, img.height, map, &out);
  return out;
}

int WriteGameData(const std::string& dir) {
  const std::vector<uint8_t> palette = MakePalette();
  snapback::ColourMap map(palette.data(), snapback::kNoFullbright);
  bool ok = Save(dir + "/palette.lmp", palette);
  for (const Image& img : {Logo(), Face(), Bar()}) {
    std::vector<uint8_t> lump;
    formats::AppendPicture(img.pixels.data(), img.width, img.height, &lump);
    ok = ok && Save(dir + "/" + img.name + ".lmp", lump);
  }
  // The WAD2: four textures, a picture, and the palette as a lump that is
  // no image (mipsnap passes over it).
  std::vector<uint8_t> wad(formats::kWadInfoSize), directory;
  auto add_lump = [&](const std::vector<uint8_t>& lump, uint8_t type, const std::string& name) {
    formats::AppendLumpInfo(static_cast<uint32_t>(wad.size()), static_cast<uint32_t>(lump.size()),
                            type, name, &directory);
    wad.insert(wad.end(), lump.begin(), lump.end());
  };
  for (const Image& img : {Brick(), Water(), Sign(), Checker()}) {
    add_lump(Texture(img, map, false), formats::kLumpTypeTexture, img.name);
  }
  std::vector<uint8_t> picture;
  const Image logo = Logo();
  formats::AppendPicture(logo.pixels.data(), logo.width, logo.height, &picture);
  add_lump(picture, formats::kLumpTypePicture, "conback");
  add_lump(palette, formats::kLumpTypePalette, "palette");
  const auto info =
      formats::WadInfoBytes(static_cast<uint32_t>(directory.size() / formats::kLumpInfoSize),
                            static_cast<uint32_t>(wad.size()));
  std::copy(info.begin(), info.end(), wad.begin());
  wad.insert(wad.end(), directory.begin(), directory.end());
  ok = ok && Save(dir + "/gfx.wad", wad);
  for (const Image& img : {Metal(), Grass(), Arrow()}) {
    ok = ok && Save(dir + "/" + img.name + ".wal", Texture(img, map, true));
  }
  return ok ? 0 : 1;
}

// What a mod maker does in a paint program: a frame round the image and a
// word across it, in colours of the image's own palette.
int Edit(const std::string& in, const std::string& out) {
  std::vector<uint8_t> bytes;
  pngio::PngImage png;
  std::string error;
  if (!host::ReadWholeFile(in, &bytes) ||
      !pngio::ReadPng(bytes.data(), bytes.size(), 4096, &png, &error) || !png.indexed) {
    std::fprintf(stderr, "krf_make_samples: %s: not an indexed PNG %s\n", in.c_str(),
                 error.c_str());
    return 1;
  }
  Image img("edited", png.width, png.height);
  img.pixels = png.pixels;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      if (x < 3 || y < 3 || x >= img.width - 3 || y >= img.height - 3) {
        img.at(x, y) = Colour(kGold, 14);
      }
    }
  }
  DrawText(&img, 3, img.height / 2 - 4, 1, "EDITED", Colour(kGrey, 15), Colour(kGrey, 0));
  std::vector<uint8_t> palette(png.palette);
  palette.resize(768);
  std::vector<uint8_t> encoded;
  if (!pngio::WriteIndexedPng(img.pixels.data(), img.width, img.height, palette.data(), &encoded)) {
    return 1;
  }
  return Save(out, encoded) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "edit") == 0) return Edit(argv[2], argv[3]);
  if (argc == 2) return WriteGameData(argv[1]);
  std::fputs("usage: krf_make_samples DIR | krf_make_samples edit IN.png OUT.png\n", stderr);
  return 1;
}
