// The test action: one line per entry, a summary, exit status 0 only when
// every tested entry is sound, and the archive never changed.
#include <gtest/gtest.h>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

// A sound archive of three entries: a stored one, an RLE one, another stored.
std::vector<Crafted> SoundEntries() {
  Bytes runny(300, 0x41);
  runny.push_back(0xC7);
  return {
      {"a.txt", kLive | kNone, {'h', 'e', 'l', 'l', 'o'}},
      {"gfx\\b.pcx", kLive | kRle, EncodeRle(runny), static_cast<int32_t>(runny.size())},
      {"c.dat", kLive | kNone, e2e::RandomBytes(100, 3)},
  };
}

std::string Testing(const std::string& name, const std::string& verdict) {
  return "testing " + name + "... " + verdict + "\n";
}

std::string Tally(int tested, int damaged) {
  return std::to_string(tested) + " entries tested, " + std::to_string(tested - damaged) +
         " sound, " + std::to_string(damaged) + " damaged\n";
}

TEST(XkrfVerify, SoundArchivePassesEveryEntry) {
  e2e::ScratchDir dir;
  const Bytes file = BuildArchive(SoundEntries());
  e2e::WriteFile(dir / "pack.krf", file);
  ExpectTranscript(Xkrf({"pack", "-test"}, dir.path()), 0,
                   Summary("test, ", "pack.krf", "") + Contains(3) + Testing("a.txt", "ok") +
                       Testing("gfx\\b.pcx", "ok") + Testing("c.dat", "ok") + Tally(3, 0) +
                       Finish(3));
  EXPECT_EQ(e2e::ReadFile(dir / "pack.krf"), file);

  // A mask selects what is tested and counted.
  ExpectTranscript(Xkrf({"pack", "GFX/*.PCX", "-test"}, dir.path()), 0,
                   Summary("test, ", "pack.krf", "gfx\\*.pcx", "gfx\\") + Contains(3) +
                       Testing("gfx\\b.pcx", "ok") + Tally(1, 0) + Finish(1));
}

TEST(XkrfVerify, ArchiveMadeByTheToolIsSound) {
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "src/flat.bin", Bytes(5000, 0x07));
  e2e::WriteFile(dir / "src/noise.bin", e2e::RandomBytes(3000, 11));
  ASSERT_EQ(Xkrf({"arc", "src/*.*"}, dir.path()).exit_code, 0);
  const e2e::RunResult r = Xkrf({"arc", "-test"}, dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(
      r.out.find(Testing("src\\flat.bin", "ok") + Testing("src\\noise.bin", "ok") + Tally(2, 0)),
      std::string::npos)
      << r.out;
}

struct Damage {
  const char* what;
  size_t entry;  // the entry that carries the damage
  void (*apply)(Bytes* file);
  const char* problem;
  // Entries besides `entry` that the damage makes unsound too.
  std::vector<size_t> also;
  std::vector<std::string> also_problems;
};

Archive Parse(const Bytes& file) {
  Archive a;
  std::string why;
  EXPECT_TRUE(ParseArchive(file, &a, &why)) << why;
  return a;
}

TEST(XkrfVerify, EachKindOfDamageIsNamedAndFails) {
  const Damage cases[] = {
      {"name without zero",
       0,
       [](Bytes* f) {
         const Archive a = Parse(*f);
         for (size_t i = 0; i < kNameField; ++i) (*f)[a.dir_ofs + i] = 'n';
       },
       "name without terminating zero",
       {},
       {}},
      {"block beyond the data area",
       2,
       [](Bytes* f) { PutLe32(f, Parse(*f).dir_ofs + 2 * kEntrySize + kOfsField, 1000); },
       "block 1000..1100 outside the data area",
       {},
       {}},
      // Inside the file, yet its end reaches into the directory.
      {"block into the directory",
       2,
       [](Bytes* f) { PatchEntry(f, 2, kOfsField, 100); },
       "block 100..200 outside the data area",
       {},
       {}},
      {"block in the header",
       0,
       [](Bytes* f) { PutLe32(f, Parse(*f).dir_ofs + kOfsField, 10); },
       "block 10..15 outside the data area",
       {},
       {}},
      {"blocks overlap",
       2,
       [](Bytes* f) {
         const Archive a = Parse(*f);
         PutLe32(f, a.dir_ofs + 2 * kEntrySize + kOfsField, a.entries[1].ofs + 2);
       },
       "block overlaps the block of 'gfx\\b.pcx'",
       {1},
       {"block overlaps the block of 'c.dat'"}},
      {"no bits at all",
       0,
       [](Bytes* f) { PatchEntry(f, 0, kTypeField, 0); },
       "type 0x0 is not a live entry with one method",
       {},
       {}},
      {"two method bits",
       0,
       [](Bytes* f) { PatchEntry(f, 0, kTypeField, kLive | kNone | kRle); },
       "type 0x103 is not a live entry with one method",
       {},
       {}},
      {"no method bit",
       0,
       [](Bytes* f) { PatchEntry(f, 0, kTypeField, kLive); },
       "type 0x100 is not a live entry with one method",
       {},
       {}},
      {"size zero",
       0,
       [](Bytes* f) { PatchEntry(f, 0, kSizeField, 0); },
       "size 0 or length 5 below 1",
       {},
       {}},
      {"negative length",
       2,
       [](Bytes* f) { PatchEntry(f, 2, kRawLenField, -4); },
       "size 100 or length -4 below 1",
       {},
       {}},
      {"stored size differs",
       0,
       [](Bytes* f) { PatchEntry(f, 0, kRawLenField, 6); },
       "stored size 5 differs from length 6",
       {},
       {}},
      {"RLE decodes short",
       1,
       [](Bytes* f) { PatchEntry(f, 1, kRawLenField, 302); },
       "RLE stream decodes to 301 bytes, should be 302",
       {},
       {}},
      {"RLE ends in a count byte",
       1,
       [](Bytes* f) {
         const Archive a = Parse(*f);
         (*f)[a.entries[1].ofs + a.entries[1].size - 1] = 0xC3;  // the data byte of the escape
         (*f)[a.entries[1].ofs + a.entries[1].size - 2] = 0x41;
       },
       "RLE stream ends in a count byte",
       {},
       {}},
  };
  const char* names[] = {"a.txt", "gfx\\b.pcx", "c.dat"};
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::ScratchDir dir;
    Bytes file = BuildArchive(SoundEntries());
    c.apply(&file);
    e2e::WriteFile(dir / "pack.krf", file);
    const e2e::RunResult r = Xkrf({"pack", "-test"}, dir.path());
    std::string lines;
    int damaged = 0;
    for (size_t i = 0; i < 3; ++i) {
      std::string shown = names[i];
      if (i == c.entry && std::string(c.problem) == "name without terminating zero") {
        shown = std::string(kNameField, 'n');
      }
      std::string verdict = "ok";
      if (i == c.entry) verdict = std::string("FAILED: ") + c.problem;
      for (size_t k = 0; k < c.also.size(); ++k) {
        if (c.also[k] == i) verdict = "FAILED: " + c.also_problems[k];
      }
      if (verdict != "ok") ++damaged;
      lines += Testing(shown, verdict);
    }
    ExpectTranscript(
        r, 1,
        Summary("test, ", "pack.krf", "") + Contains(3) + lines + Tally(3, damaged) + Finish(3));
    EXPECT_EQ(e2e::ReadFile(dir / "pack.krf"), file) << "the test action changed the archive";
  }
}

// An entry flagged deleted (a compaction cut short leaves them) is reported
// as such, not as damage; a file without the magic is no KRF archive.
TEST(XkrfVerify, DeletedEntriesPassAndForeignMagicFails) {
  e2e::ScratchDir dir;
  Bytes file = BuildArchive(SoundEntries());
  PatchEntry(&file, 1, kTypeField, kRle);
  e2e::WriteFile(dir / "pack.krf", file);
  const std::string entries =
      Testing("a.txt", "ok") + Testing("gfx\\b.pcx", "deleted") + Testing("c.dat", "ok");
  ExpectTranscript(Xkrf({"pack", "-test"}, dir.path()), 0,
                   Summary("test, ", "pack.krf", "") + Contains(3) + entries +
                       "3 entries tested, 2 sound, 0 damaged, 1 deleted\n" + Finish(3));

  std::copy_n("XXXXX", 5, file.begin());
  e2e::WriteFile(dir / "pack.krf", file);
  ExpectTranscript(Xkrf({"pack", "-test"}, dir.path()), 1,
                   Summary("test, ", "pack.krf", "") + Contains(3) +
                       "testing header... FAILED: no 'KelRF' magic\n" + entries +
                       "3 entries tested, 2 sound, 0 damaged, 1 deleted\n" + Finish(3));
}

TEST(XkrfVerify, DirectoryOutsideTheFileIsFatal) {
  e2e::ScratchDir dir;
  Bytes file = BuildArchive(SoundEntries());
  PutLe32(&file, 12, 4);  // one entry more than the file holds
  e2e::WriteFile(dir / "pack.krf", file);
  ExpectTranscript(Xkrf({"pack", "-test"}, dir.path()), 1,
                   Summary("test, ", "pack.krf", "") + Contains(4) + kFatal + kClosing);
}

}  // namespace
}  // namespace xkrf_test
