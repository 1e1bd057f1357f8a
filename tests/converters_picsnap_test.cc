#include <gtest/gtest.h>

#include <filesystem>

#include "converters_support.h"
#ifndef _WIN32
#include "reliability_support.h"
#endif

namespace convtest {
namespace {

const std::string kPic = "PICSNAP";

class Picsnap : public ConverterTest {
 protected:
  Picsnap() : ConverterTest(PICSNAP_BIN, 7) {}
};

TEST_F(Picsnap, ConvertsBesideTheInput) {
  struct Case {
    std::string arg;
    int width, height;
    size_t trailing;  // bytes after the pixels, never converted
  };
  const Case cases[] = {
      {"logo", 7, 5, 0},    {"art/logo", 3, 2, 13}, {"wide", 1024, 1, 0},
      {"tall", 1, 1024, 1}, {"*star", 65, 3, 0},
  };
  for (const Case& c : cases) {
    if (e2e::kWindows && c.arg[0] == '*') continue;  // no such name there
    const Image img = TestImage(c.width, c.height, 5);
    Bytes lump = PicLump(c.width, c.height, img.pixels);
    lump.insert(lump.end(), c.trailing, 0xAB);
    e2e::WriteFile(dir_ / (c.arg + ".lmp"), lump);
    const auto r = Run({c.arg});
    EXPECT_EQ(r.out, Banner(kPic) + ", picture: width " + std::to_string(c.width) + ", height " +
                         std::to_string(c.height))
        << c.arg;
    EXPECT_EQ(r.exit_code, 0) << c.arg;
    ExpectPcx(dir_ / (c.arg + ".pcx"), img, palette_);  // '*' stays as given
  }
}

TEST_F(Picsnap, TwoByTwoOfC8) {
  e2e::WriteFile(dir_ / "c8.lmp", PicLump(2, 2, Bytes(4, 0xC8)));
  ASSERT_EQ(Run({"c8"}).exit_code, 0);
  const Bytes pcx = e2e::ReadFile(dir_ / "c8.pcx");
  ASSERT_EQ(pcx.size(), 128u + 4 + 1 + 768);
  EXPECT_EQ(Bytes(pcx.begin() + 128, pcx.begin() + 132), (Bytes{0xC2, 0xC8, 0xC2, 0xC8}));
}

TEST_F(Picsnap, RefusedInputs) {
  struct Case {
    const char* what;
    Bytes lump;  // empty with `create` false: no file at all
    bool create;
    std::string message;
  };
  const Case cases[] = {
      {"no such file", {}, false, "Could not open file !\n"},
      {"empty file", {}, true, kRw},
      {"width 1025", PicLump(1025, 1, Bytes(1025, 1)), true, "Not a valid LUMP file !\n"},
      {"width 0", PicLump(0, 1, Bytes(4, 1)), true, "Not a valid LUMP file !\n"},
      {"negative height", PicLump(1, -1, Bytes(4, 1)), true, "Not a valid LUMP file !\n"},
      {"shorter than its header", Bytes{1, 0, 0, 0, 1, 0, 0}, true, "Not a valid LUMP file !\n"},
      {"pixels missing", PicLump(4, 4, Bytes(15, 1)), true, "Not a valid LUMP file !\n"},
  };
  for (const Case& c : cases) {
    e2e::ScratchDir dir;
    e2e::WriteFile(dir / "palette.lmp", palette_);
    if (c.create) e2e::WriteFile(dir / "x.lmp", c.lump);
    const auto r = e2e::Run(PICSNAP_BIN, {"x"}, dir.path());
    EXPECT_EQ(r.out, Banner(kPic) + Fatal(kPic, c.message)) << c.what;
    EXPECT_EQ(r.exit_code, 1) << c.what;
    EXPECT_FALSE(e2e::Exists(dir / "x.pcx")) << c.what;
  }
}

TEST_F(Picsnap, ArgumentIsUsedAsGiven) {
  e2e::WriteFile(dir_ / "logo.lmp", PicLump(1, 1, {1}));
  const auto r = Run({"logo.lmp", "ignored"});
  EXPECT_EQ(r.out, Banner(kPic) + Fatal(kPic, "Could not open file !\n"));
}

TEST_F(Picsnap, OutputThatCannotBeCreatedIsNotFatal) {
  e2e::WriteFile(dir_ / "x.lmp", PicLump(2, 1, {1, 2}));
  e2e::MakeDirs(dir_ / "x.pcx");  // a directory is in the way
  const auto r = Run({"x"});
  EXPECT_EQ(r.out, Banner(kPic) + ", picture: width 2, height 1 !! Could not create PCX file !");
  EXPECT_EQ(r.exit_code, 2);
}

TEST_F(Picsnap, OutputThatIsTheInputIsSkipped) {
  e2e::WriteFile(dir_ / "x.lmp", PicLump(2, 1, {1, 2}));
  if (e2e::kWindows) {  // no links for ordinary programs: a second name
    std::filesystem::create_hard_link(dir_ / "x.lmp", dir_ / "x.pcx");
  } else {
    ASSERT_TRUE(e2e::MakeSymlink("x.lmp", dir_ / "x.pcx"));
  }
  const auto r = Run({"x"});
  EXPECT_EQ(r.out, Banner(kPic) +
                       ", picture: width 2, height 1 !! x.pcx is an input of this run, skipping !");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(e2e::ReadFile(dir_ / "x.lmp"), PicLump(2, 1, {1, 2}));
}

#ifndef _WIN32
TEST_F(Picsnap, FailedWriteIsFatal) {
  // Writes beyond 100 bytes fail (EFBIG, as on a full disk): the PCX file
  // cannot be written in full.
  e2e::WriteFile(dir_ / "x.lmp", PicLump(2, 1, {1, 2}));
  const auto r = reliability::RunLimited(PICSNAP_BIN, {"x"}, dir_.path(), 100);
  EXPECT_EQ(r.out, Banner(kPic) + ", picture: width 2, height 1" + Fatal(kPic, kRw));
  EXPECT_EQ(r.exit_code, 1);
}
#else
TEST_F(Picsnap, FailedWriteIsFatal) { E2E_WINDOWS_LACKS("resource limits"); }
#endif

}  // namespace
}  // namespace convtest
