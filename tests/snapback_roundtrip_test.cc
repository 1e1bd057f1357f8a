// Out and back: every picture lump, WAL and WAD2 the converters read comes
// back from their PCX or PNG images with the same full-size pixels, names
// and sizes, byte for byte; and what snapback writes converts out again to
// the same images.
#include <gtest/gtest.h>

#include "snapback_support.h"

namespace snaptest {
namespace {

using convtest::TestImage;

const char* const kFormats[] = {"pcx", "png"};

std::vector<std::string> Out(std::vector<std::string> args, const std::string& format) {
  if (format == "png") args.insert(args.begin(), "-png");  // any position will do
  return args;
}

class RoundTrip : public SnapbackTest {};

TEST_F(RoundTrip, PictureLumpsComeBackByteForByte) {
  const std::pair<int, int> sizes[] = {{1, 1}, {7, 5}, {1023, 3}, {1, 1024}, {1024, 1024}};
  for (const char* format : kFormats) {
    for (const auto& [w, h] : sizes) {
      const std::string name = "p" + std::to_string(w) + "x" + std::to_string(h);
      const Bytes lump = convtest::PicLump(w, h, TestImage(w, h, 3).pixels);
      e2e::WriteFile(dir_ / (name + ".lmp"), lump);
      ASSERT_EQ(Tool(PICSNAP_BIN, Out({name}, format)).exit_code, 0) << name << format;
      const std::string image = name + "." + format;
      ASSERT_TRUE(e2e::Exists(dir_ / image)) << image;
      e2e::WriteFile(dir_ / (name + ".lmp"), Bytes{});
      const auto r = Tool(SNAPBACK_BIN, {"lmp", image});
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.out, image + " -> " + name + ".lmp (" + std::to_string(w) + "x" +
                           std::to_string(h) + ")\n");
      EXPECT_TRUE(e2e::ReadFile(dir_ / (name + ".lmp")) == lump) << image;
    }
  }
}

TEST_F(RoundTrip, WalTexturesComeBackAndConvertOutTheSame) {
  const std::pair<int, int> sizes[] = {{8, 8}, {24, 40}, {1024, 8}, {64, 64}};
  for (const char* format : kFormats) {
    e2e::MakeDirs(dir_ / "textures");
    e2e::MakeDirs(dir_ / "back/textures");
    e2e::WriteFile(dir_ / "back/palette.lmp", palette_);
    std::vector<std::string> images;
    std::vector<Image> fulls;
    for (const auto& [w, h] : sizes) {
      const std::string name = "Wall" + std::to_string(w) + "x" + std::to_string(h);
      fulls.push_back(TestImage(w, h, 9));
      e2e::WriteFile(dir_ / (name + ".wal"), convtest::WalFile(w, h, fulls.back().pixels));
      images.push_back("textures/" + name + "." + format);
    }
    ASSERT_EQ(Tool(TEXSNAP_BIN, Out({}, format)).exit_code, 0);
    std::vector<std::string> args = {"wal", "-q", "-o", "back"};
    args.insert(args.end(), images.begin(), images.end());
    const auto r = Tool(SNAPBACK_BIN, args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    for (size_t i = 0; i < images.size(); ++i) {
      const std::string name = images[i].substr(9, images[i].size() - 13);
      const Bytes wal = e2e::ReadFile(dir_ / ("back/" + name + ".wal"));
      const Image& full = fulls[i];
      ASSERT_GE(wal.size(), 100u);
      EXPECT_EQ(Field(wal, 0, 32), name);
      EXPECT_EQ(Le32(wal, 32), static_cast<uint32_t>(full.width));
      EXPECT_EQ(Le32(wal, 36), static_cast<uint32_t>(full.height));
      EXPECT_EQ(Le32(wal, 40), 100u);
      EXPECT_TRUE(std::all_of(wal.begin() + 56, wal.begin() + 100, [](uint8_t b) {
        return b == 0;
      })) << "animation name, flags, contents, value";
      const size_t n = full.pixels.size();
      EXPECT_EQ(wal.size(), 100 + n + n / 4 + n / 16 + n / 64);
      ExpectLevels(wal, 0, 40, full, palette_);
    }
    // What snapback wrote converts out to the very same files.
    ASSERT_EQ(Tool(TEXSNAP_BIN, Out({}, format), dir_ / "back").exit_code, 0);
    for (const std::string& image : images) {
      EXPECT_TRUE(e2e::ReadFile(dir_ / image) == e2e::ReadFile(dir_ / ("back/" + image))) << image;
    }
    for (const auto& [w, h] : sizes) {
      std::remove((dir_ / ("Wall" + std::to_string(w) + "x" + std::to_string(h) + ".wal")).c_str());
    }
  }
}

TEST_F(RoundTrip, WadLumpsComeBackWithTheirNames) {
  struct Tex {
    std::string name;
    int width, height;
  };
  const Tex textures[] = {{"*lava1", 16, 8}, {"0123456789abcde", 8, 64}, {"wall", 1024, 1024}};
  for (const char* format : kFormats) {
    std::vector<convtest::Lump> lumps;
    std::vector<Image> fulls;
    std::vector<std::string> args = {"wad", "new.wad", "-q"};
    for (const Tex& t : textures) {
      fulls.push_back(TestImage(t.width, t.height, 4));
      lumps.push_back(
          {t.name, convtest::MiptexLump(static_cast<uint32_t>(t.width),
                                        static_cast<uint32_t>(t.height), fulls.back().pixels)});
      std::string file = t.name;
      std::replace(file.begin(), file.end(), '*', '~');
      args.push_back("out/textures/" + file + "." + format);
    }
    e2e::WriteFile(dir_ / "gfx.wad", convtest::Wad(lumps));
    e2e::MakeDirs(dir_ / "out/textures");
    e2e::MakeDirs(dir_ / "again/textures");
    ASSERT_EQ(Tool(MIPSNAP_BIN, Out({"gfx.wad", "out/"}, format)).exit_code, 0);
    const auto r = Tool(SNAPBACK_BIN, args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<WadLump> got = ReadWad(e2e::ReadFile(dir_ / "new.wad"));
    ASSERT_EQ(got.size(), std::size(textures));
    for (size_t i = 0; i < got.size(); ++i) {
      const Tex& t = textures[i];
      EXPECT_EQ(got[i].name, t.name) << "a '~' turns back into '*'";
      EXPECT_EQ(got[i].type, 0x44);
      ASSERT_GE(got[i].data.size(), 40u);
      EXPECT_EQ(Field(got[i].data, 0, 16), t.name);
      EXPECT_EQ(Le32(got[i].data, 16), static_cast<uint32_t>(t.width));
      EXPECT_EQ(Le32(got[i].data, 20), static_cast<uint32_t>(t.height));
      EXPECT_EQ(Le32(got[i].data, 24), 40u);
      const size_t n = fulls[i].pixels.size();
      EXPECT_EQ(got[i].data.size(), 40 + n + n / 4 + n / 16 + n / 64);
      ExpectLevels(got[i].data, 0, 24, fulls[i], palette_);
    }
    ASSERT_EQ(Tool(MIPSNAP_BIN, Out({"new.wad", "again/"}, format)).exit_code, 0);
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "-q") continue;
      const std::string again = "again/" + args[i].substr(4);
      EXPECT_TRUE(e2e::ReadFile(dir_ / args[i]) == e2e::ReadFile(dir_ / again)) << again;
    }
  }
}

TEST_F(RoundTrip, WadPicturesComeBackByteForByte) {
  const Image a = TestImage(1, 1, 2), b = TestImage(1024, 3, 2);
  e2e::WriteFile(dir_ / "gfx.wad",
                 convtest::Wad({{"conback", convtest::PicLump(1, 1, a.pixels)},
                                {"ranking", convtest::PicLump(1024, 3, b.pixels)}}));
  e2e::MakeDirs(dir_ / "textures");
  ASSERT_EQ(Tool(MIPSNAP_BIN, {"gfx.wad", "-png"}).exit_code, 0);
  const auto r = Tool(SNAPBACK_BIN,
                      {"wad", "--pic", "pics.wad", "textures/conback.png", "textures/ranking.png"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<WadLump> got = ReadWad(e2e::ReadFile(dir_ / "pics.wad"));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].type, 0x42);
  EXPECT_EQ(got[0].name, "conback");
  EXPECT_TRUE(got[0].data == convtest::PicLump(1, 1, a.pixels));
  EXPECT_TRUE(got[1].data == convtest::PicLump(1024, 3, b.pixels));
}

}  // namespace
}  // namespace snaptest
