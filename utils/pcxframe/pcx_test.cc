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
#include "pcxframe/frame.h"
#include "pcxframe/pcx_writer.h"

namespace pcxframe {
namespace {

using Bytes = std::vector<uint8_t>;

const ToolSettings kTestSettings = {"TEST", "\nThanks\n", "", "create failed", false, "test", ""};

Bytes Encode(const Bytes& line) {
  Bytes out;
  pcxWriteLine(&out, line.data(), static_cast<int>(line.size()));
  return out;
}

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

TEST(PcxWriteLine, EncodesRunsAndHighBytes) {
  struct Case {
    const char* what;
    Bytes line;
    Bytes encoded;
  };
  const Case cases[] = {
      {"64 x 0x10: run of 63, then a lone byte", Repeat(0x10, 64), {0xFF, 0x10, 0x10}},
      {"130 x 0x20", Repeat(0x20, 130), {0xFF, 0x20, 0xFF, 0x20, 0xC4, 0x20}},
      {"lone 0xC0 needs a count", {0xC0}, {0xC1, 0xC0}},
      {"lone 0xBF stands alone", {0xBF}, {0xBF}},
      {"two equal bytes", {0x07, 0x07}, {0xC2, 0x07}},
      {"four equal bytes", {0x33, 0x33, 0x33, 0x33}, {0xC4, 0x33}},
      {"lone 0xFF needs a count", {0xFF}, {0xC1, 0xFF}},
      {"run of exactly 63", Repeat(0x01, 63), {0xFF, 0x01}},
      {"mixed", {1, 2, 2, 0xC8, 3}, {1, 0xC2, 2, 0xC1, 0xC8, 3}},
      {"empty line", {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(c.line), c.encoded) << c.what;
  }
}

TEST(PcxWriteLine, NeverWritesAZeroCount) {
  const Bytes encoded = Encode(Repeat(0xC0, 63 * 3));
  EXPECT_EQ(encoded, (Bytes{0xFF, 0xC0, 0xFF, 0xC0, 0xFF, 0xC0}));
}

TEST(PcxHeader, FieldsForAnOddWidth) {
  uint8_t header[pcx::kHeaderSize];
  std::memset(header, 0xAA, sizeof header);
  BuildPcxHeader(header, 3, 2);
  struct Field {
    size_t offset;
    int bytes;
    unsigned value;
  };
  const Field fields[] = {
      {0, 1, 0x0A}, {1, 1, 5},  {2, 1, 1},  {3, 1, 8},  {4, 2, 0},  {6, 2, 0},  {8, 2, 2},
      {10, 2, 1},   {12, 2, 3}, {14, 2, 2}, {64, 1, 0}, {65, 1, 1}, {66, 2, 3}, {68, 2, 2},
  };
  for (const Field& f : fields) {
    const unsigned got = f.bytes == 1 ? header[f.offset] : host::GetLE16(header + f.offset);
    EXPECT_EQ(got, f.value) << "field at offset " << f.offset;
  }
  for (size_t i = 16; i < 64; ++i) EXPECT_EQ(header[i], 0) << "16-colour palette byte " << i;
  for (size_t i = 70; i < 128; ++i) EXPECT_EQ(header[i], 0) << "filler byte " << i;
}

TEST(PcxHeader, LargestSizeFitsSixteenBits) {
  uint8_t header[pcx::kHeaderSize];
  BuildPcxHeader(header, 65535, 1);
  EXPECT_EQ(host::GetLE16(header + 8), 65534);
  EXPECT_EQ(host::GetLE16(header + 12), 65535);
  EXPECT_EQ(host::GetLE16(header + 66), 65535);
  EXPECT_EQ(host::GetLE16(header + 10), 0);
}

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
  BuildPcxHeader(header.data(), 1, 1);
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
