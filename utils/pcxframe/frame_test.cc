#include "pcxframe/frame.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "host/byteorder.h"
#include "pcx/pcx_writer.h"

namespace pcxframe {
namespace {

using Bytes = std::vector<uint8_t>;

const ToolSettings kTestSettings = {"TEST", "\nThanks\n", "", "create failed", false, "test", ""};

class SavePcxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "pcxframe-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    Bytes palette(pcx::kPaletteSize);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 7 + 1);
    palette_bytes_ = palette;
    std::ofstream(dir_ + "/palette.lmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(palette.data()), 768);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Bytes Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  std::string dir_;
  Bytes palette_bytes_;
  std::ostringstream out_;
};

TEST_F(SavePcxTest, OneByOneImageIs898Bytes) {
  Frame frame(kTestSettings, out_);
  frame.LoadPalette(dir_ + "/palette.lmp");
  std::string name = dir_ + "/one.pcx";
  const uint8_t pixel = 5;
  ASSERT_TRUE(frame.savePCX(1, 1, &pixel, name));
  const Bytes file = Slurp(name);
  ASSERT_EQ(file.size(), 898u);
  Bytes header(pcx::kHeaderSize);
  pcx::BuildPcxHeader(header.data(), 1, 1);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
  EXPECT_EQ(host::GetLE16(&file[8]), 0);
  EXPECT_EQ(host::GetLE16(&file[12]), 1);
  EXPECT_EQ(file[128], 0x05);
  EXPECT_EQ(file[129], 0x0C);
  EXPECT_TRUE(std::equal(palette_bytes_.begin(), palette_bytes_.end(), file.begin() + 130));
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(frame.skipped(), 0);
}

TEST_F(SavePcxTest, RowsEncodeSeparately) {
  Frame frame(kTestSettings, out_);
  std::string name = dir_ + "/rows.pcx";
  const Bytes pixels(8, 0x33);
  ASSERT_TRUE(frame.savePCX(4, 2, pixels.data(), name));
  const Bytes file = Slurp(name);
  ASSERT_EQ(file.size(), 128u + 4 + 1 + 768);
  EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 132), (Bytes{0xC4, 0x33, 0xC4, 0x33}));
}

// Text for a pipe or a file must not wait for the end of a long image: a
// row block that comes after a pause of more than a quarter of a second
// pushes out the line printed before the image, while rows are still to come.
TEST_F(SavePcxTest, ProgressGoesOutWhileALongImageIsWritten) {
  // Records, at each flush, how many rows had been handed over.
  struct FlushLog : std::stringbuf {
    const int* rows = nullptr;
    std::vector<int> rows_at_flush;
    int sync() override {
      rows_at_flush.push_back(*rows);
      return 0;
    }
  };
  int rows_given = 0;
  FlushLog log;
  log.rows = &rows_given;
  std::ostream out(&log);
  Frame frame(kTestSettings, out);  // not a terminal
  frame.LoadPalette(dir_ + "/palette.lmp");
  out << "texture 'long.pcx': width 1024, height 4096\n";
  const int width = 1024;
  const int height = 4 * static_cast<int>(kRowBlockBytes / width);
  const Bytes row(static_cast<size_t>(width), 0x21);
  std::string name = dir_ + "/long.pcx";
  ASSERT_TRUE(frame.savePCX(
      width, height,
      [&](int r) {
        if (r == 1) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rows_given = r + 1;
        return row.data();
      },
      name));
  EXPECT_TRUE(std::any_of(log.rows_at_flush.begin(), log.rows_at_flush.end(), [&](int rows) {
    return rows > 1 && rows < height;
  })) << "no flush between the pause and the image's last row";
}

}  // namespace
}  // namespace pcxframe
