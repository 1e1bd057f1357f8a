// What the three converters share: banner, argument check, palette load,
// closing screen and exit status.
#include <gtest/gtest.h>

#include "converters_support.h"

namespace convtest {
namespace {

struct Tool {
  std::string name;
  std::string binary;
  std::vector<std::string> args;
  std::string progress;  // console output after the banner of a good run
  std::string output;    // the PCX file that run writes
};

std::vector<Tool> Tools() {
  return {
      {"PICSNAP", PICSNAP_BIN, {"a"}, ", picture: width 3, height 2", "a.pcx"},
      {"MIPSNAP", MIPSNAP_BIN, {"t.wad"},
       "Converting all textures from 't.wad' into 'textures/*.pcx':\n"
       "   - pic..., picture: width 3, height 2\n",
       "textures/pic.pcx"},
      {"TEXSNAP", TEXSNAP_BIN, {},
       "Converting all textures into 'textures/*.pcx':\n"
       "texture 'textures/w.pcx': width 3, height 2\n",
       "textures/w.pcx"},
  };
}

const Image kImage = TestImage(3, 2, 1);

// One good input for each tool, all in one directory.
void WriteInputs(const e2e::ScratchDir& dir) {
  e2e::WriteFile(dir / "a.lmp", PicLump(3, 2, kImage.pixels));
  e2e::WriteFile(dir / "t.wad", Wad({{"pic", PicLump(3, 2, kImage.pixels)}}));
  e2e::WriteFile(dir / "w.wal", WalFile(3, 2, kImage.pixels));
  e2e::MakeDirs(dir / "textures");
}

TEST(ConverterFrame, PaletteProblemsEndBeforeAnyInput) {
  struct Case {
    const char* what;
    int palette_size;  // -1: no file
    std::string message;
  };
  const Case cases[] = {
      {"missing", -1, "Could not open 'palette.lmp' !"},
      {"767 bytes", 767, kRw},
      {"empty", 0, kRw},
  };
  for (const Case& c : cases) {
    for (const Tool& tool : Tools()) {
      e2e::ScratchDir dir;
      WriteInputs(dir);
      if (c.palette_size >= 0) {
        e2e::WriteFile(dir / "palette.lmp", e2e::RandomBytes(static_cast<size_t>(c.palette_size), 3));
      }
      const auto r = e2e::Run(tool.binary, tool.args, dir.path());
      EXPECT_EQ(r.out, Banner(tool.name) + Fatal(tool.name, c.message)) << tool.name << ": " << c.what;
      EXPECT_EQ(r.exit_code, 1) << tool.name << ": " << c.what;
      EXPECT_FALSE(e2e::Exists(dir / tool.output)) << tool.name << ": " << c.what;
    }
  }
}

TEST(ConverterFrame, PaletteIsItsFirst768Bytes) {
  for (const Tool& tool : Tools()) {
    e2e::ScratchDir dir;
    WriteInputs(dir);
    const Bytes palette_file = e2e::RandomBytes(1000, 11);
    e2e::WriteFile(dir / "palette.lmp", palette_file);
    const auto r = e2e::Run(tool.binary, tool.args, dir.path());
    EXPECT_EQ(r.out, Banner(tool.name) + tool.progress) << tool.name;
    EXPECT_EQ(r.exit_code, 0) << tool.name;
    ExpectPcx(dir / tool.output, kImage, Bytes(palette_file.begin(), palette_file.begin() + 768));
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
}

TEST(ConverterFrame, MissingArgumentComesBeforeThePalette) {
  const struct {
    std::string tool, binary, message;
  } cases[] = {
      {"PICSNAP", PICSNAP_BIN, "No LUMP (.lmp) file specified !\n"},
      {"MIPSNAP", MIPSNAP_BIN, "No WAD file specified !\n"},
  };
  for (const auto& c : cases) {
    e2e::ScratchDir dir;
    const auto r = e2e::Run(c.binary, {}, dir.path());
    EXPECT_EQ(r.out, Banner(c.tool) + Fatal(c.tool, c.message)) << c.tool;
    EXPECT_EQ(r.exit_code, 1) << c.tool;
  }
}

}  // namespace
}  // namespace convtest
