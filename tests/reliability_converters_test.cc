// A PCX file that cannot be written in full (the file-size limit lowered,
// so writes fail with EFBIG as on a full disk) ends every converter with
// "Fatal Read/Write error !\n" and status 1, wherever the write stops: in
// the header, the scan lines, the palette marker or the palette.
#include <gtest/gtest.h>

#include <filesystem>

#include "converters_support.h"
#include "reliability_support.h"

namespace convtest {
namespace {

struct FailingWrite {
  std::string tool;
  std::string binary;
  std::vector<std::string> args;
  std::string input;  // the file the case writes
  Bytes input_bytes;
  std::string pcx;        // the PCX file the tool writes
  std::string announced;  // what the tool prints before the write fails
};

TEST(ReliabilityConverters, FailingPcxWriteIsFatal) {
  const Image pic = TestImage(200, 150, 1);  // large enough for several buffer flushes
  const Image tex = TestImage(64, 40, 2);
  const std::vector<FailingWrite> cases = {
      {"PICSNAP",
       PICSNAP_BIN,
       {"pic"},
       "pic.lmp",
       PicLump(pic.width, pic.height, pic.pixels),
       "pic.pcx",
       Banner("PICSNAP") + ", picture: width 200, height 150"},
      {"MIPSNAP",
       MIPSNAP_BIN,
       {"g.wad"},
       "g.wad",
       Wad({{"pic1", PicLump(64, 40, tex.pixels)}}),
       "textures/pic1.pcx",
       Banner("MIPSNAP") + "Converting all textures from 'g.wad' into 'textures/*.pcx':\n" +
           "   - pic1..., picture: width 64, height 40"},
      {"TEXSNAP",
       TEXSNAP_BIN,
       {},
       "t.wal",
       WalFile(200, 150, pic.pixels),
       "textures/t.pcx",
       Banner("TEXSNAP") + "Converting all textures into 'textures/*.pcx':\n" +
           "texture 'textures/t.pcx': width 200, height 150\n"},
  };
  for (const FailingWrite& c : cases) {
    e2e::ScratchDir dir;
    const Bytes palette = Palette(5);
    e2e::WriteFile(dir / "palette.lmp", palette);
    e2e::MakeDirs(dir / "textures");
    e2e::WriteFile(dir / c.input, c.input_bytes);
    const e2e::RunResult whole = e2e::Run(c.binary, c.args, dir.path());
    ASSERT_EQ(whole.exit_code, 0) << c.tool << whole.out;
    const size_t size = e2e::ReadFile(dir / c.pcx).size();
    ASSERT_GT(size, 128u + 769u) << c.tool;
    // In the header, in the first and last scan lines, on the marker, in
    // the palette, one byte short.
    for (const size_t limit :
         {size_t{0}, size_t{100}, size_t{129}, size / 2, size - 769, size - 768, size - 1}) {
      SCOPED_TRACE(c.tool + " with a limit of " + std::to_string(limit) + " of " +
                   std::to_string(size) + " bytes");
      std::filesystem::remove(dir / c.pcx);
      const e2e::RunResult r = reliability::RunLimited(c.binary, c.args, dir.path(), limit);
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.out, c.announced + Fatal(c.tool, kRw));
      EXPECT_LE(e2e::ReadFile(dir / c.pcx).size(), limit);
    }
    // The limit itself is what failed: at the PCX file's size the run succeeds.
    const e2e::RunResult enough = reliability::RunLimited(c.binary, c.args, dir.path(), size);
    EXPECT_EQ(enough.exit_code, 0) << c.tool << enough.out;
    EXPECT_EQ(e2e::ReadFile(dir / c.pcx).size(), size) << c.tool;
  }
}

}  // namespace
}  // namespace convtest
