// Listing: row format, pages, entry selection by mask, and that listing
// never writes the archive.
#include <filesystem>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

std::string Blanks(size_t n) { return std::string(n, ' '); }

TEST(XkrfList, RowsShowSizesMethodAndSaving) {
  ScratchDir dir;
  const std::string long_name = "textures\\walls\\very_long_texture_name.pcx";  // 41 characters
  e2e::WriteFile(dir / "data.krf", BuildArchive({{"a.bin", kLive | kRle, Bytes(617, 1), 1000},
                                                 {long_name, kLive | kNone, Bytes(5, 2)},
                                                 {"del1.bin", kNone, Bytes(10, 3)},
                                                 {"del2.bin", kRle, Bytes(4, 4), 9},
                                                 {"odd.bin", kLive, Bytes(3, 5)},
                                                 {"both.bin", kLive | kNone | kRle, Bytes(3, 6)},
                                                 {"inf.bin", kLive | kNone, Bytes(5, 7), 0},
                                                 {"nan.bin", kLive | kNone, Bytes(), 0},
                                                 {"full.bin", kLive | kRle, Bytes(), 7}}));
  const std::vector<std::string> rows = {
      "a.bin" + Blanks(30) + "    1000         RLE         617    38.30%\n",
      long_name + "       5        none           5     0.00%\n",
      "del1.bin" + Blanks(27) + "      10     deleted          10     0.00%\n",
      "del2.bin" + Blanks(27) + "       9     deleted           4    55.56%\n",
      "odd.bin" + Blanks(28) + "       3     unknown           3     0.00%\n",
      "both.bin" + Blanks(27) + "       3        none           3     0.00%\n",
      "inf.bin" + Blanks(28) + "       0        none           5     -inf%\n",
      "nan.bin" + Blanks(28) + "       0        none           0     -nan%\n",
      "full.bin" + Blanks(27) + "       7         RLE           0   100.00%\n",
  };
  std::string listing = kListHead;
  for (const std::string& row : rows) listing += row;
  listing += std::string(22 - 9, '\n');  // the page filled up
  ExpectTranscript(Xkrf({"data", "-list"}, dir.path()), 0,
                   Summary("list, ", "data.krf", "") + Contains(9) + listing + Finish(0));
}

// An archive of `count` three-byte entries; every name in `rejected` ends in
// .txt, the others in .bin.
std::vector<Crafted> Numbered(int count, const std::vector<int>& rejected = {}) {
  std::vector<Crafted> out;
  for (int i = 0; i < count; ++i) {
    const bool txt = std::find(rejected.begin(), rejected.end(), i) != rejected.end();
    char name[32];
    std::snprintf(name, sizeof name, "f%03d.%s", i, txt ? "txt" : "bin");
    out.push_back({name, kLive | kNone, Bytes(3, static_cast<uint8_t>(i))});
  }
  return out;
}

// The row of a three-byte entry stored as is.
std::string Row(const std::string& name) {
  return name + Blanks(35 - name.size()) + "       3        none           3     0.00%\n";
}
std::string Row(const Crafted& c) { return Row(c.name); }

TEST(XkrfList, PagesHold22Rows) {
  // Checks the whole transcript of listing `entries` with `mask`.
  const auto expect_listing = [](const std::vector<Crafted>& entries, const std::string& mask,
                                 const std::string& listing) {
    ScratchDir dir;
    e2e::WriteFile(dir / "data.krf", BuildArchive(entries));
    std::vector<std::string> args = {"data", "-list"};
    if (!mask.empty()) args.push_back(mask);
    ExpectTranscript(Xkrf(args, dir.path()), 0,
                     Summary("list, ", "data.krf", mask) +
                         Contains(static_cast<int>(entries.size())) + listing + Finish(0));
  };

  {
    SCOPED_TRACE("22 rows: one page, no filler");
    const std::vector<Crafted> entries = Numbered(22);
    std::string expected = kListHead;
    for (const Crafted& c : entries) expected += Row(c);
    expect_listing(entries, "", expected);
  }
  {
    SCOPED_TRACE("23 rows: the heads again before the 23rd, then 21 empty lines");
    const std::vector<Crafted> entries = Numbered(23);
    std::string expected = kListHead;
    for (int i = 0; i < 22; ++i) expected += Row(entries[i]);
    expected += std::string(kListHead) + Row(entries[22]) + std::string(21, '\n');
    expect_listing(entries, "", expected);
  }
  {
    SCOPED_TRACE("22 matching rows followed by rejected entries: no second page");
    const std::vector<Crafted> entries = Numbered(26, {22, 23, 24, 25});
    std::string expected = kListHead;
    for (int i = 0; i < 22; ++i) expected += Row(entries[i]);
    expect_listing(entries, "*.bin", expected);
  }
  {
    SCOPED_TRACE("rejected entries in between do not count");
    std::vector<int> rejected;
    for (int i = 0; i < 36; i += 3) rejected.push_back(i);
    const std::vector<Crafted> entries = Numbered(36, rejected);  // 24 match
    std::string expected = kListHead;
    for (int i = 0; i < 36; ++i) {
      if (i == 34) expected += kListHead;  // before the 23rd match
      if (i % 3 != 0) expected += Row(entries[i]);
    }
    expect_listing(entries, "*.bin", expected + std::string(20, '\n'));
  }
  {
    SCOPED_TRACE("44 rows: two full pages");
    const std::vector<Crafted> entries = Numbered(44);
    std::string expected = kListHead;
    for (int i = 0; i < 44; ++i) expected += (i == 22 ? kListHead : "") + Row(entries[i]);
    expect_listing(entries, "", expected);
  }
  {
    SCOPED_TRACE("no entries: the heads only");
    expect_listing({}, "", kListHead);
  }
}

TEST(XkrfList, MaskSelectsEntries) {
  const std::vector<std::string> names = {
      "a.pcx",   "a.pcxx", "a.y.pcx", "gfx\\a.pcx", "gfx\\sub\\a.pcx", "GFX\\b.pcx",
      "axx.pcx", "a.p",    "readme",  "A.PCX",      "Stone\\Wall.pcx"};
  const struct {
    std::string mask;
    bool subs;
    std::vector<std::string> selected;
    std::string shown = "";      // the mask as the run shows it, when not as given
    std::string mask_path = "";  // its folder part
  } cases[] = {
      {"*.pcx", false, {"a.pcx", "a.pcxx", "axx.pcx", "A.PCX"}},
      {"*.pcx",
       true,
       {"a.pcx", "a.pcxx", "gfx\\a.pcx", "gfx\\sub\\a.pcx", "GFX\\b.pcx", "axx.pcx", "A.PCX",
        "Stone\\Wall.pcx"}},
      {"gfx/*.pcx", false, {"gfx\\a.pcx", "GFX\\b.pcx"}, "gfx\\*.pcx", "gfx\\"},
      {"gfx\\*.pcx", true, {"gfx\\a.pcx", "gfx\\sub\\a.pcx", "GFX\\b.pcx"}, "gfx\\*.pcx", "gfx\\"},
      {"Stone/*.PCX", false, {"Stone\\Wall.pcx"}, "stone\\*.pcx", "stone\\"},
      {"a*b.pcx", false, {"a.pcx", "a.pcxx", "axx.pcx", "A.PCX"}},
      {"*.p*", false, {"a.pcx", "a.pcxx", "axx.pcx", "a.p", "A.PCX"}},
      {"*.*", false, {"a.pcx", "a.pcxx", "a.y.pcx", "axx.pcx", "a.p", "readme", "A.PCX"}},
      {"*", false, {"a.pcx", "a.pcxx", "a.y.pcx", "axx.pcx", "a.p", "readme", "A.PCX"}},
      {"a.*", false, {"a.pcx", "a.pcxx", "a.y.pcx", "a.p", "A.PCX"}},
      {"a.pcx", false, {"a.pcx", "A.PCX"}},
      {"readme", false, {"readme"}},
      {"?.p", false, {}},
  };
  ScratchDir dir;
  std::vector<Crafted> entries;
  for (const std::string& n : names) entries.push_back({n, kLive | kNone, Bytes(3, 'x')});
  const Bytes archive = BuildArchive(entries);
  e2e::WriteFile(dir / "data.krf", archive);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask + (c.subs ? " -subs" : ""));
    std::vector<std::string> args = {"data", c.mask, "-list"};
    if (c.subs) args.push_back("-subs");
    const std::string shown = c.shown.empty() ? c.mask : c.shown;
    std::string listing = kListHead;
    for (const std::string& s : c.selected) listing += Row(s);
    if (!c.selected.empty()) listing += std::string(22 - c.selected.size(), '\n');  // page filled
    ExpectTranscript(Xkrf(args, dir.path()), 0,
                     Summary(c.subs ? "list, subs, " : "list, ", "data.krf", shown, c.mask_path) +
                         Contains(static_cast<int>(names.size())) + listing + Finish(0));
  }
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive);
}

// With standard input not a terminal the page waits read nothing: the shell
// hands the rest of the input file, untouched, to the command after the tool.
TEST(XkrfList, PageWaitsReadNothingFromAFile) {
  if (e2e::kWindows) E2E_WINDOWS_LACKS("a POSIX shell");
  ScratchDir dir;
  const std::vector<Crafted> entries = Numbered(23);
  e2e::WriteFile(dir / "data.krf", BuildArchive(entries));
  e2e::WriteFile(dir / "keys.txt", std::string("abc\n\n\n"));
  std::string listing = kListHead;
  for (int i = 0; i < 23; ++i) listing += (i == 22 ? kListHead : "") + Row(entries[i]);
  ExpectTranscript(
      e2e::Run("/bin/sh",
               {"-c", "{ \"$0\" data -list; echo \"status $?\"; head -c 3; } < keys.txt", XKRF_BIN},
               dir.path()),
      0,
      Summary("list, ", "data.krf", "") + Contains(23) + listing + std::string(21, '\n') +
          Finish(0) + "status 0\nabc");
}

// Listing and extracting open the archive for reading only: a read-only
// archive works, and the file is not even rewritten with the same bytes.
TEST(XkrfList, ListingAndExtractingNeverWriteTheArchive) {
  ScratchDir dir;
  const Bytes archive = BuildArchive({{"a.bin", kLive | kNone, Bytes(12, 'a')},
                                      {"b.bin", kLive | kRle, EncodeRle(Bytes(90, 'b')), 90}});
  e2e::WriteFile(dir / "data.krf", archive);
  namespace fs = std::filesystem;
  // Read-only for everyone (on Windows: the read-only attribute), and an
  // old time that any write would change.
  fs::permissions(dir / "data.krf",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::last_write_time(dir / "data.krf",
                      fs::last_write_time(dir / "data.krf") - std::chrono::hours(24 * 365 * 20));
  const auto before = FileTime(dir / "data.krf");

  ExpectTranscript(
      Xkrf({"data", "-list"}, dir.path()), 0,
      Summary("list, ", "data.krf", "") + Contains(2) + kListHead +
          "a.bin                                    12        none          12     0.00%\n"
          "b.bin                                    90         RLE           4    95.56%\n" +
          std::string(20, '\n') + Finish(0));
  ExpectTranscript(Xkrf({"data", "*.bin", "-ext"}, dir.path()), 0,
                   Summary("ext, ", "data.krf", "*.bin") + Contains(2) + Extracting("a.bin") +
                       Extracting("b.bin") + Finish(2));
  EXPECT_EQ(e2e::ReadFile(dir / "b.bin"), Bytes(90, 'b'));
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), archive);
  EXPECT_EQ(FileTime(dir / "data.krf"), before);
  EXPECT_FALSE(e2e::Exists(dir / kTempName));
}

}  // namespace
}  // namespace xkrf_test
