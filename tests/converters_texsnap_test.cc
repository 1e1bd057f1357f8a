#include <gtest/gtest.h>

#include "converters_support.h"

namespace convtest {
namespace {

const std::string kTex = "TEXSNAP";

std::string Announce(const std::string& dest) {
  return "Converting all textures into '" + dest + "*.pcx':\n";
}

class Texsnap : public ConverterTest {
 protected:
  Texsnap() : ConverterTest(TEXSNAP_BIN, 33) {}
};

TEST_F(Texsnap, ConvertsEveryWalInNameOrder) {
  // Windows holds no '*' in a file name: there, no *star.wal.
  const bool star_file = !e2e::kWindows;
  const Image star = TestImage(2, 2, 1), dot = TestImage(1, 1, 2), b = TestImage(64, 64, 3),
              huge = TestImage(1100, 2, 4), wall = TestImage(3, 2, 5);
  if (star_file) e2e::WriteFile(dir_ / "*star.wal", WalFile(2, 2, star.pixels));
  e2e::WriteFile(dir_ / ".wal", WalFile(1, 1, dot.pixels));
  e2e::WriteFile(dir_ / "b.wal", WalFile(64, 64, b.pixels));
  e2e::WriteFile(dir_ / "huge.wal", WalFile(1100, 2, huge.pixels));
  e2e::WriteFile(dir_ / "Wall1.WAL", WalFile(3, 2, wall.pixels));
  Bytes cut = WalFile(8, 8, Bytes(64, 1));
  cut.resize(100 + 63);  // the image's last byte is missing
  e2e::WriteFile(dir_ / "cut.wal", cut);
  e2e::WriteFile(dir_ / "short.wal", Bytes(43, 1));
  e2e::WriteFile(dir_ / "wide.wal", WalFile(65536, 1, Bytes(16, 1)));
  e2e::WriteFile(dir_ / "zero.wal", WalFile(0, 4, Bytes(16, 1)));
  e2e::WriteFile(dir_ / "notes.txt", "not a texture");
  e2e::MakeDirs(dir_ / "folder.wal");
  e2e::MakeDirs(dir_ / "textures");
  const auto r = Run({});
  EXPECT_EQ(
      r.out,
      Banner(kTex) + Announce("textures/") +
          (star_file ? "texture 'textures/*star.pcx': width 2, height 2\n" : "") +
          "texture 'textures/.pcx': width 1, height 1\n"
          "texture 'textures/b.pcx': width 64, height 64\n"
          "texture 'textures/cut.pcx': width 8, height 8, image outside the file, skipping !\n"
          "texture 'textures/huge.pcx': width 1100, height 2\n"
          "texture 'textures/short.pcx': file too short for a texture header, skipping !\n"
          "texture 'textures/Wall1.pcx': width 3, height 2\n"
          "texture 'textures/wide.pcx': width 65536, height 1, size not supported, skipping !\n"
          "texture 'textures/zero.pcx': width 0, height 4, size not supported, skipping !\n");
  EXPECT_EQ(r.exit_code, 2) << "four files skipped";
  if (star_file) ExpectPcx(dir_ / "textures/~star.pcx", star, palette_);
  ExpectPcx(dir_ / "textures/.pcx", dot, palette_);
  ExpectPcx(dir_ / "textures/b.pcx", b, palette_);
  ExpectPcx(dir_ / "textures/huge.pcx", huge, palette_);
  ExpectPcx(dir_ / "textures/Wall1.pcx", wall, palette_);
  for (const char* skipped : {"cut", "short", "wide", "zero", "folder", "*star"}) {
    EXPECT_FALSE(e2e::Exists(dir_ / ("textures/" + std::string(skipped) + ".pcx"))) << skipped;
  }
}

// Two files of one output name, and an output that is an input: the later
// one is skipped with both named, never written over the first.
#ifndef _WIN32
TEST_F(Texsnap, OutputsThatCollideOrAreInputsAreSkipped) {
  const Image first = TestImage(2, 2, 1), a = TestImage(1, 1, 2);
  e2e::WriteFile(dir_ / "x.WAL", WalFile(2, 2, first.pixels));
  e2e::WriteFile(dir_ / "x.wal", WalFile(2, 2, TestImage(2, 2, 3).pixels));
  e2e::WriteFile(dir_ / "a.wal", WalFile(1, 1, a.pixels));
  e2e::WriteFile(dir_ / "b.wal", WalFile(1, 1, {7}));
  e2e::MakeDirs(dir_ / "textures");
  ASSERT_EQ(symlink("../a.wal", (dir_ / "textures/b.pcx").c_str()), 0);
  const Bytes a_wal = e2e::ReadFile(dir_ / "a.wal");
  const auto r = Run({});
  EXPECT_EQ(r.out, Banner(kTex) + Announce("textures/") +
                       "texture 'textures/a.pcx': width 1, height 1\n"
                       "texture 'textures/b.pcx': width 1, height 1\n"
                       "textures/b.pcx is an input of this run, skipping !\n"
                       "texture 'textures/x.pcx': width 2, height 2\n"
                       "texture 'textures/x.pcx': width 2, height 2\n"
                       "'x.wal' gives textures/x.pcx, written for 'x.WAL' already, skipping !\n");
  EXPECT_EQ(r.exit_code, 2);
  ExpectPcx(dir_ / "textures/x.pcx", first, palette_);
  EXPECT_EQ(e2e::ReadFile(dir_ / "a.wal"), a_wal);
}
#else
TEST_F(Texsnap, OutputsThatCollideOrAreInputsAreSkipped) {
  E2E_WINDOWS_LACKS("POSIX symbolic links and file names that differ by case alone");
}
#endif

TEST_F(Texsnap, OutputPrefix) {
  struct Case {
    std::vector<std::string> args;
    std::string dest;
  };
  const Case cases[] = {
      {{}, "textures/"},
      {{"out/"}, "out/textures/"},
      {{"out", "ignored"}, "outtextures/"},
  };
  const Image img = TestImage(3, 1, 8);
  for (const Case& c : cases) {
    e2e::ScratchDir dir;
    e2e::WriteFile(dir / "palette.lmp", palette_);
    auto r = e2e::Run(TEXSNAP_BIN, c.args, dir.path());
    EXPECT_EQ(r.out, Banner(kTex) + Announce(c.dest)) << "no textures, " << c.dest;
    EXPECT_EQ(r.exit_code, 0);
    e2e::MakeDirs(dir / c.dest);
    e2e::WriteFile(dir / "w.wal", WalFile(3, 1, img.pixels));
    r = e2e::Run(TEXSNAP_BIN, c.args, dir.path());
    EXPECT_EQ(r.out, Banner(kTex) + Announce(c.dest) + "texture '" + c.dest +
                         "w.pcx': width 3, height 1\n");
    EXPECT_EQ(r.exit_code, 0);
    ExpectPcx(dir / (c.dest + "w.pcx"), img, palette_);
  }
}

TEST_F(Texsnap, MissingOutputDirectory) {
  e2e::WriteFile(dir_ / "a.wal", WalFile(1, 1, {1}));
  e2e::WriteFile(dir_ / "b.wal", WalFile(1, 1, {2}));
  const auto r = Run({});
  EXPECT_EQ(r.out,
            Banner(kTex) + Announce("textures/") +
                "texture 'textures/a.pcx': width 1, height 1\nCould not create PCX file !\n"
                "texture 'textures/b.pcx': width 1, height 1\nCould not create PCX file !\n");
  EXPECT_EQ(r.exit_code, 2);
}

TEST_F(Texsnap, EmptyWalIsFatalAndEarlierOutputStays) {
  e2e::WriteFile(dir_ / "a.wal", WalFile(2, 1, {4, 5}));
  e2e::WriteFile(dir_ / "x.wal", Bytes{});
  e2e::WriteFile(dir_ / "z.wal", WalFile(1, 1, {1}));
  e2e::MakeDirs(dir_ / "textures");
  const auto r = Run({});
  EXPECT_EQ(r.out, Banner(kTex) + Announce("textures/") +
                       "texture 'textures/a.pcx': width 2, height 1\n" + Fatal(kTex, kRw));
  EXPECT_EQ(r.exit_code, 1);
  ExpectPcx(dir_ / "textures/a.pcx", Image{2, 1, {4, 5}}, palette_);
  EXPECT_FALSE(e2e::Exists(dir_ / "textures/z.pcx"));
}

}  // namespace
}  // namespace convtest
