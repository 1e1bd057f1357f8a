#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "xkrf/actions.h"
#include "xkrf/entry_path.h"
#include "xkrf/krf_format.h"
#include "xkrf/mask.h"
#include "xkrf/run_state.h"

namespace xkrf {
namespace {

Settings MaskSettings(const std::string& mask, bool subdirs = false) {
  Settings s;
  s.name[1] = mask;
  s.mask_path = PathFromName(mask);
  s.subdirs = subdirs;
  return s;
}

struct MaskCase {
  const char* mask;
  const char* name;
  bool subdirs;
  bool expected;
};

TEST(YesMask, Table) {
  const MaskCase cases[] = {
      // A star stands for the part before or after the dot.
      {"*.pcx", "a.pcx", false, true},
      {"*.pcx", "a.pcxx", false, true},  // the rest behind the mask is not examined
      {"*.pcx", "a.y.pcx", false, false},
      {"*.pcx", "A.PCX", false, true},
      {"a*b.pcx", "axx.pcx", false, true},
      // The folder part must be the same, whatever its letter case.
      {"*.pcx", "gfx\\a.pcx", false, false},
      {"gfx\\*.pcx", "gfx\\a.pcx", false, true},
      {"gfx\\*.pcx", "gfx\\sub\\a.pcx", false, false},
      {"gfx\\*.pcx", "GFX\\a.pcx", false, true},
      // Without a star the whole name must agree; '?' is an ordinary character.
      {"a.pcx", "a.pcx", false, true},
      {"a.pcx", "a.pcxx", false, false},
      {"a.pcx", "b.pcx", false, false},
      {"a?c.txt", "abc.txt", false, false},
      {"a?c.txt", "a?c.txt", false, true},
      // Stars on either side of the dot, and no mask at all.
      {"*.p*", "a.pcx", false, true},
      {"*.p*", "a.p", false, true},
      {"a.*", "a.txt", false, true},
      {"*.*", "readme", false, true},
      {"*.txt", "readme", false, false},
      {"*", "readme", false, true},
      {"", "anything\\at\\all", false, true},
      // With subdirs, entries below the mask's folder are selected by their
      // own file name.
      {"*.pcx", "stone\\wall.pcx", true, true},
      {"*.pcx", "Stone\\wall.txt", true, false},
      {"gfx\\*.pcx", "gfx\\sub\\a.pcx", true, true},
      {"gfx\\*.pcx", "other\\a.pcx", true, false},
      {"*.*", "Stone\\deeper\\x", true, true},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(yes_mask(MaskSettings(c.mask, c.subdirs), c.name), c.expected)
        << "mask " << c.mask << " name " << c.name << " subdirs " << c.subdirs;
  }
}

TEST(PathFromName, KeepsTheLastBackslash) {
  EXPECT_EQ(PathFromName("gfx\\wall\\a.pcx"), "gfx\\wall\\");
  EXPECT_EQ(PathFromName("a.pcx"), "");
  EXPECT_EQ(PathFromName("gfx\\"), "gfx\\");
  EXPECT_EQ(PathFromName("c:a/b.pcx"), "");  // only the backslash separates
}

TEST(Method, WordsInOrderOfTheBits) {
  EXPECT_STREQ(krf::method(0x001), "deleted");
  EXPECT_STREQ(krf::method(0x002), "deleted");
  EXPECT_STREQ(krf::method(0x101), "none");
  EXPECT_STREQ(krf::method(0x102), "RLE");
  EXPECT_STREQ(krf::method(0x103), "none");
  EXPECT_STREQ(krf::method(0x100), "unknown");
}

krfdir_t Entry(const std::string& name, int32_t type, int32_t raw_len, int32_t size) {
  krfdir_t e;
  krf::SetName(&e, name);
  e.Type = type;
  e.RawLen = raw_len;
  e.Size = size;
  return e;
}

TEST(ListingRow, ColumnsAndSavingFigure) {
  EXPECT_EQ(ListingRow(Entry("gfx\\a.pcx", 0x102, 1000, 617)),
            "gfx\\a.pcx                              1000         RLE         617    38.30%\n");
  EXPECT_EQ(ListingRow(Entry("b", 0x101, 5, 5)),
            "b                                         5        none           5     0.00%\n");
  EXPECT_EQ(ListingRow(Entry("z", 0x100, 7, 0)),
            "z                                         7     unknown           0   100.00%\n");
  EXPECT_EQ(ListingRow(Entry("inf", 0x002, 0, 4)),
            "inf                                       0     deleted           4     -inf%\n");
  EXPECT_EQ(ListingRow(Entry("nan", 0x101, 0, 0)),
            "nan                                       0        none           0     -nan%\n");
  const std::string long_name(40, 'x');
  EXPECT_EQ(ListingRow(Entry(long_name, 0x101, 12, 12)),
            long_name + "      12        none          12     0.00%\n");
}

TEST(ListingRow, FigureMatchesTheCLibraryEverywhere) {
  // The row formatter rounds the figure itself where that is safe; compare
  // it with the library's "%7.2f" over many lengths, ties and odd values.
  std::vector<std::pair<int32_t, int32_t>> sizes = {
      {1, 8},  {3, 8},  {5, 8},          {7, 8},          {1, 1},
      {0, 5},  {9, 8},  {5, 0},          {2, 2000000000}, {1999999999, 2000000000},
      {-3, 7}, {7, -3}, {2147483647, 1}, {1, 2147483647}};
  uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    const int32_t raw = static_cast<int32_t>(1 + (x >> 8) % 5000);
    x = x * 1103515245u + 12345u;
    sizes.push_back({static_cast<int32_t>((x >> 8) % (raw + 2)), raw});
  }
  for (const auto& [size, raw] : sizes) {
    const double figure = (1.0 - static_cast<double>(size) / static_cast<double>(raw)) * 100.0;
    char expected[512];
    if (std::isnan(figure)) {
      std::snprintf(expected, sizeof expected, "%7s", "-nan");
    } else {
      std::snprintf(expected, sizeof expected, "%7.2f", figure);
    }
    const std::string row = ListingRow(Entry("n", 0x101, raw, size));
    ASSERT_EQ(row.substr(row.size() - 2 - std::strlen(expected), std::strlen(expected)), expected)
        << "size " << size << " raw " << raw;
  }
}

TEST(EntryPath, LevelsBelowTheWorkingDirectory) {
  struct Case {
    const char* name;
    std::vector<std::string> parts;
    bool rerooted;
    const char* stored;  // what adding stores for this path
  };
  const Case cases[] = {
      {"a.pcx", {"a.pcx"}, false, "a.pcx"},
      {"gfx\\sub\\a.pcx", {"gfx", "sub", "a.pcx"}, false, "gfx\\sub\\a.pcx"},
      {"gfx/sub\\a.pcx", {"gfx", "sub", "a.pcx"}, false, "gfx/sub\\a.pcx"},  // '/' separates too
      {"gfx\\\\.\\a.pcx", {"gfx", "a.pcx"}, false, "gfx\\\\.\\a.pcx"},
      {"\\root.bin", {"root.bin"}, true, "root.bin"},
      {"/root.bin", {"root.bin"}, true, "root.bin"},
      {"c:\\drive.bin", {"drive.bin"}, true, "drive.bin"},
      {"c:drive.bin", {"drive.bin"}, true, "drive.bin"},
      {"..\\evil.bin", {}, false, "evil.bin"},
      {"a\\..\\b.bin", {}, false, "b.bin"},
      {"./../up.bin", {}, false, "up.bin"},
      {"\\..\\..\\x\\..\\y\\z.bin", {}, true, "y\\z.bin"},
      {"gfx\\", {}, false, "gfx\\"},
      {"gfx\\.", {}, false, "gfx\\."},
      {"", {}, false, ""},
      {"c:", {}, true, ""},
  };
  for (const Case& c : cases) {
    const EntryPath path = ResolveEntryPath(c.name);
    EXPECT_EQ(path.parts, c.parts) << c.name;
    if (!c.parts.empty()) {
      EXPECT_EQ(path.rerooted, c.rerooted) << c.name;
    }
    EXPECT_EQ(EntryPathProblem(c.name).empty(), !c.parts.empty() && !c.rerooted) << c.name;
    std::string dropped;
    const std::string stored = StoredName(c.name, &dropped);
    EXPECT_EQ(stored, c.stored) << c.name;
    EXPECT_EQ(dropped + stored, c.name);
    // Whatever adding stores extracts where it says.
    if (!ResolveEntryPath(stored).parts.empty()) {
      EXPECT_EQ(EntryPathProblem(stored), "") << c.name;
    }
  }
}

TEST(KrfFormat, RecordsPinnedByteForByte) {
  krf::krfheader_t h = krf::NewHeader();
  h.DirEntries = 0x01020304;
  uint8_t bytes[krf::kHeaderSize];
  krf::EncodeHeader(h, bytes);
  const uint8_t expected[krf::kHeaderSize] = {'K', 'e', 'l', 'R', 'F', 0, 0, 0, 0, 0, 0, 0,
                                              4,   3,   2,   1,   24,  0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));

  krfdir_t e = Entry("a", 0x102, 0x7FFFFFFF, -2);
  e.Ofs = 24;
  uint8_t record[krf::kDirEntrySize];
  krf::EncodeDirEntry(e, record);
  EXPECT_EQ(record[0], 'a');
  EXPECT_EQ(record[1], 0);
  const uint8_t tail[16] = {0x02, 0x01, 0,    0,    24,   0,    0,    0,
                            0xFF, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(record + 64, tail, sizeof tail));
  const krfdir_t back = krf::DecodeDirEntry(record);
  EXPECT_EQ(krf::EntryName(back), "a");
  EXPECT_EQ(back.Size, -2);
  EXPECT_EQ(back.RawLen, 0x7FFFFFFF);
}

TEST(KrfFormat, NamesWithoutTerminatorAreBounded) {
  krfdir_t e;
  e.Name.fill('q');
  EXPECT_FALSE(krf::NameTerminated(e));
  EXPECT_EQ(krf::EntryName(e), std::string(64, 'q'));
  krf::SetName(&e, std::string(100, 'n'));
  EXPECT_TRUE(krf::NameTerminated(e));
  EXPECT_EQ(krf::EntryName(e).size(), krf::kMaxNameLength);
}

}  // namespace
}  // namespace xkrf
