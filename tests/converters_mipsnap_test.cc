#include <gtest/gtest.h>

#include <filesystem>

#include "converters_support.h"

namespace convtest {
namespace {

const std::string kMip = "MIPSNAP";

std::string Announce(const std::string& wad, const std::string& dest) {
  return "Converting all textures from '" + wad + "' into '" + dest + "*.pcx':\n";
}

class Mipsnap : public ConverterTest {
 protected:
  Mipsnap() : ConverterTest(MIPSNAP_BIN, 21) {}
};

// A lump that reads as a texture but whose first eight bytes also make a
// 4 x 2 picture: the picture rule wins.
Bytes TextureThatIsAPicture() {
  Bytes lump = MiptexLump(8, 8, e2e::RandomBytes(64, 9));
  Put32(&lump, 0, 4);
  Put32(&lump, 4, 2);
  return lump;
}

TEST_F(Mipsnap, ConvertsPicturesAndTexturesSkipsTheRest) {
  const Image pic = TestImage(5, 3, 2);
  const Image wall = TestImage(64, 64, 3);
  const Image odd = TestImage(3, 2, 4);
  const Bytes marked = TextureThatIsAPicture();
  Bytes outside = MiptexLump(8, 8, Bytes(64, 1));
  Put32(&outside, 24, 41);  // the image would end one byte past the lump's mip data
  outside.resize(40 + 64);
  Bytes junk(64, 0xFF);
  e2e::WriteFile(dir_ / "data.wad", Wad({{"*star", PicLump(5, 3, pic.pixels)},
                                         {"wall", MiptexLump(64, 64, wall.pixels)},
                                         {"odd", MiptexLump(3, 2, odd.pixels)},
                                         {"marked", marked},
                                         {"big", MiptexLump(1025, 64, Bytes(1025 * 64, 2))},
                                         {"junk", junk},
                                         {"tiny", Bytes{1, 2, 3, 4, 5}},
                                         {"outside", outside},
                                         {"a/b", PicLump(1, 1, {9})},
                                         {"sixteen_chars_xx", PicLump(1, 1, {8})}}));
  e2e::MakeDirs(dir_ / "textures");
  const auto r = Run({"data.wad"});
  EXPECT_EQ(r.out, Banner(kMip) + Announce("data.wad", "textures/") +
                       "   - *star..., picture: width 5, height 3\n"
                       "   - wall..., texture: width 64, height 64\n"
                       "   - odd..., texture: width 3, height 2\n"
                       "   - marked..., picture: width 4, height 2\n"
                       "   - big..., skipping !\n"
                       "   - junk..., skipping !\n"
                       "   - tiny..., skipping !\n"
                       "   - outside..., skipping !\n"
                       "   - a/b..., picture: width 1, height 1\n"
                       "   - sixteen_chars_xx..., picture: width 1, height 1\n");
  EXPECT_EQ(r.exit_code, 0);
  ExpectPcx(dir_ / "textures/~star.pcx", pic, palette_);
  ExpectPcx(dir_ / "textures/wall.pcx", wall, palette_);
  ExpectPcx(dir_ / "textures/odd.pcx", odd, palette_);
  ExpectPcx(dir_ / "textures/marked.pcx",
            Image{4, 2, Bytes(marked.begin() + 8, marked.begin() + 16)}, palette_);
  ExpectPcx(dir_ / "textures/a_b.pcx", Image{1, 1, {9}}, palette_);
  ExpectPcx(dir_ / "textures/sixteen_chars_xx.pcx", Image{1, 1, {8}}, palette_);
  for (const char* skipped : {"big", "junk", "tiny", "outside"}) {
    EXPECT_FALSE(e2e::Exists(dir_ / ("textures/" + std::string(skipped) + ".pcx"))) << skipped;
  }
}

TEST_F(Mipsnap, OutputPrefixAndEmptyDirectory) {
  const Image tex = TestImage(2, 2, 6);
  e2e::WriteFile(dir_ / "one.wad", Wad({{"t", MiptexLump(2, 2, tex.pixels)}}));
  e2e::MakeDirs(dir_ / "out/textures");
  auto r = Run({"one.wad", "out/"});
  EXPECT_EQ(r.out, Banner(kMip) + Announce("one.wad", "out/textures/") +
                       "   - t..., texture: width 2, height 2\n");
  EXPECT_EQ(r.exit_code, 0);
  ExpectPcx(dir_ / "out/textures/t.pcx", tex, palette_);

  e2e::WriteFile(dir_ / "empty.wad", Wad({}));
  r = Run({"empty.wad"});
  EXPECT_EQ(r.out, Banner(kMip) + Announce("empty.wad", "textures/"));
  EXPECT_EQ(r.exit_code, 0);
}

TEST_F(Mipsnap, MissingOutputDirectory) {
  e2e::WriteFile(
      dir_ / "d.wad",
      Wad({{"p", PicLump(1, 1, {1})}, {"j", Bytes(40, 0xFF)}, {"t", MiptexLump(1, 1, {2})}}));
  const auto r = Run({"d.wad"});
  EXPECT_EQ(r.out, Banner(kMip) + Announce("d.wad", "textures/") +
                       "   - p..., picture: width 1, height 1 !! Could not create PCX file !\n"
                       "   - j..., skipping !\n"
                       "   - t..., texture: width 1, height 1 !! Could not create PCX file !\n");
  EXPECT_EQ(r.exit_code, 2);
}

// Lump names that give one output file, and an output that is the input:
// the later image is skipped with both named, never written over the first.
TEST_F(Mipsnap, OutputsThatCollideOrAreInputsAreSkipped) {
  e2e::WriteFile(dir_ / "c.wad", Wad({{"*lava", PicLump(1, 1, {1})},
                                      {"~lava", PicLump(1, 1, {2})},
                                      {"a/b", PicLump(1, 1, {3})},
                                      {"a_b", PicLump(1, 1, {4})},
                                      {"self", PicLump(1, 1, {5})},
                                      {"last", PicLump(1, 1, {6})}}));
  e2e::MakeDirs(dir_ / "textures");
  if (e2e::kWindows) {  // no links for ordinary programs: a second name
    std::filesystem::create_hard_link(dir_ / "c.wad", dir_ / "textures/self.pcx");
  } else {
    ASSERT_TRUE(e2e::MakeSymlink("../c.wad", dir_ / "textures/self.pcx"));
  }
  const Bytes wad = e2e::ReadFile(dir_ / "c.wad");
  const auto r = Run({"c.wad"});
  const std::string line = "..., picture: width 1, height 1";
  EXPECT_EQ(r.out, Banner(kMip) + Announce("c.wad", "textures/") + "   - *lava" + line +
                       "\n   - ~lava" + line +
                       " !! '~lava' gives textures/~lava.pcx, written for '*lava' already, "
                       "skipping !\n   - a/b" +
                       line + "\n   - a_b" + line +
                       " !! 'a_b' gives textures/a_b.pcx, written for 'a/b' already, skipping !\n"
                       "   - self" +
                       line +
                       " !! textures/self.pcx is an input of this run, skipping !\n   - last" +
                       line + "\n");
  EXPECT_EQ(r.exit_code, 2);
  ExpectPcx(dir_ / "textures/~lava.pcx", Image{1, 1, {1}}, palette_);
  ExpectPcx(dir_ / "textures/a_b.pcx", Image{1, 1, {3}}, palette_);
  ExpectPcx(dir_ / "textures/last.pcx", Image{1, 1, {6}}, palette_);
  EXPECT_EQ(e2e::ReadFile(dir_ / "c.wad"), wad);
}

Bytes WithField(Bytes wad, size_t at, uint32_t value) {
  Put32(&wad, at, value);
  return wad;
}

TEST_F(Mipsnap, FatalErrors) {
  const Bytes good = Wad({{"p", PicLump(1, 1, {1})}, {"zero", {}}});
  const size_t dir_offset = good[8] | (good[9] << 8);
  struct Case {
    const char* what;
    Bytes wad;          // empty: no file
    std::string lines;  // after the announcement
    std::string message;
  };
  const Case cases[] = {
      {"no such file", {}, "", "Could not open WAD...."},
      {"shorter than its header", Bytes{'W', 'A', 'D', '2', 0, 0, 0}, "", kRw},
      {"lower-case magic", Wad({}, "wad2"), "", "Specified file isn't a valid WAD-File !"},
      {"directory cut short", Bytes(good.begin(), good.end() - 1), "", kRw},
      {"negative lump count", WithField(good, 4, 0xFFFFFFFF), "", kRw},
      {"huge lump count", WithField(good, 4, 0x7FFFFFFF), "", kRw},
      {"directory past the end", WithField(good, 8, 0x7FFFFFF0), "", kRw},
      {"zero-size lump", good, "   - p..., picture: width 1, height 1\n   - zero...", kRw},
      {"lump past the end", WithField(good, dir_offset, 0x10000), "   - p...", kRw},
      {"negative lump offset", WithField(good, dir_offset, 0xFFFFFFFE), "   - p...", kRw},
  };
  for (const Case& c : cases) {
    e2e::ScratchDir dir;
    e2e::WriteFile(dir / "palette.lmp", palette_);
    e2e::MakeDirs(dir / "textures");
    if (!c.wad.empty()) e2e::WriteFile(dir / "x.wad", c.wad);
    const auto r = e2e::Run(MIPSNAP_BIN, {"x.wad"}, dir.path());
    EXPECT_EQ(r.out,
              Banner(kMip) + Announce("x.wad", "textures/") + c.lines + Fatal(kMip, c.message))
        << c.what;
    EXPECT_EQ(r.exit_code, 1) << c.what;
  }
}

TEST_F(Mipsnap, EarlierOutputStaysAfterAFatalError) {
  e2e::WriteFile(dir_ / "x.wad", Wad({{"p", PicLump(1, 1, {7})}, {"zero", {}}}));
  e2e::MakeDirs(dir_ / "textures");
  EXPECT_EQ(Run({"x.wad"}).exit_code, 1);
  ExpectPcx(dir_ / "textures/p.pcx", Image{1, 1, {7}}, palette_);
}

TEST_F(Mipsnap, DirectoryIsNotAWad) {
  e2e::MakeDirs(dir_ / "folder.wad");
  const auto r = Run({"folder.wad"});
  EXPECT_EQ(r.out, Banner(kMip) + Announce("folder.wad", "textures/") +
                       Fatal(kMip, "Could not open WAD...."));
  EXPECT_EQ(r.exit_code, 1);
}

}  // namespace
}  // namespace convtest
