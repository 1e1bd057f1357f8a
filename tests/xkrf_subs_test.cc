// The directory walk of adding: which files and sub-directories a run takes,
// in which order, and under which stored names.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

std::string Entering(const std::string& name) {
  return "Entering sub-directory '" + name + "'...\n";
}
std::string Leaving(const std::string& name) { return "Leaving sub-directory '" + name + "'...\n"; }

Bytes ContentFor(const std::string& path) {
  Bytes b = e2e::RandomBytes(20 + path.size(), static_cast<uint32_t>(path.size()));
  b.insert(b.end(), 100, static_cast<uint8_t>(path[0]));
  return b;
}

TEST(XkrfSubdirs, WalkTakesMatchingFilesInTheWholeTree) {
  ScratchDir dir;
  const std::string top = dir / "top";
  const std::vector<std::string> files = {
      "a.txt",    "B.TXT",       "Stone/Wall.TXT", "z.txt", "Stone/deep/x.txt", "Stone/deep/y.bin",
      "skip.bin", ".cache/c.txt"};
  for (const std::string& f : files) e2e::WriteFile(top + "/" + f, ContentFor(f));
  e2e::MakeDirs(top + "/Empty");
  // A link to a folder is never entered (Windows: no links for ordinary
  // programs).
  if (!e2e::kWindows) {
    ASSERT_TRUE(e2e::MakeSymlink("Stone", top + "/linkdir"));
  }

  ExpectTranscript(Xkrf({"../data", "*.txt", "-subs"}, top), 0,
                   Summary("subs, ", "../data.krf", "*.txt") + Creating("../data.krf") +
                       Adding("a.txt") + Adding("b.txt") + Entering("Empty") + Leaving("Empty") +
                       Entering("Stone") + Entering("deep") + Adding("x.txt") + Leaving("deep") +
                       Adding("wall.txt") + Leaving("Stone") + Adding("z.txt") + Finish(5));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  const std::vector<std::pair<std::string, std::string>> stored = {
      {"a.txt", "a.txt"},
      {"b.txt", "B.TXT"},
      {"Stone\\deep\\x.txt", "Stone/deep/x.txt"},
      {"Stone\\wall.txt", "Stone/Wall.TXT"},
      {"z.txt", "z.txt"}};
  ASSERT_EQ(archive.entries.size(), stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    EXPECT_EQ(archive.entries[i].name, stored[i].first);
    EXPECT_EQ(archive.Content(archive.entries[i]), ContentFor(stored[i].second));
  }
}

TEST(XkrfSubdirs, WalkStartsInTheMaskDirectory) {
  ScratchDir dir;
  const std::string fits = std::string(51, 'n') + ".pcx";  // gfx\Sub\ + 55 = 63
  const std::string too_long = std::string(52, 'n') + ".pcx";
  for (const std::string f : {"c.pcx", "Gfx/a.pcx", "Gfx/Sub/B.PCX", "Gfx/Sub/x.txt"}) {
    e2e::WriteFile(dir / f, ContentFor(f));
  }
  e2e::WriteFile(dir / ("Gfx/Sub/" + fits), ContentFor(fits));
  e2e::WriteFile(dir / ("Gfx/Sub/" + too_long), ContentFor(too_long));

  ExpectTranscript(Xkrf({"data", "-subs", "gfx/*.pcx"}, dir.path()), 2,
                   Summary("subs, ", "data.krf", "gfx\\*.pcx", "gfx\\") + Creating("data.krf") +
                       Adding("gfx\\a.pcx") + Entering("Sub") + Adding("b.pcx") + Adding(fits) +
                       "skipping 'gfx\\Sub\\" + too_long +
                       "': stored name longer than 63 characters !\n" + Leaving("Sub") + Finish(3));
  ASSERT_TRUE(IsFinishedArchive(dir / "data.krf"));
  const Archive archive = LoadArchive(dir / "data.krf");
  EXPECT_EQ(archive.Names(),
            (std::vector<std::string>{"gfx\\a.pcx", "gfx\\Sub\\b.pcx", "gfx\\Sub\\" + fits}));
  EXPECT_EQ(archive.Content(archive.entries[1]), ContentFor("Gfx/Sub/B.PCX"));
}

TEST(XkrfSubdirs, WithoutSubsSubdirectoriesAreSkippedSilently) {
  ScratchDir dir;
  e2e::WriteFile(dir / "a.pcx", ContentFor("a.pcx"));
  e2e::WriteFile(dir / "dir.pcx/b.pcx", ContentFor("b.pcx"));
  ExpectTranscript(
      Xkrf({"data", "*.pcx"}, dir.path()), 0,
      Summary("", "data.krf", "*.pcx") + Creating("data.krf") + Adding("a.pcx") + Finish(1));
}

TEST(XkrfSubdirs, SearchPatternsIgnoreCase) {
  const std::vector<std::string> files = {"A.PCX", "b.Pcx", "c.pcxx", "d.txt", "readme"};
  const struct {
    std::string mask;
    std::string shown;  // as the run shows it
    std::vector<std::string> taken;
  } cases[] = {
      {"*.pcx", "*.pcx", {"a.pcx", "b.pcx"}},
      {"*.PCX", "*.pcx", {"a.pcx", "b.pcx"}},
      {"?.pcx", "?.pcx", {"a.pcx", "b.pcx"}},
      {"*.*", "*.*", {"a.pcx", "b.pcx", "c.pcxx", "d.txt", "readme"}},
      {"READ*", "read*", {"readme"}},
      {"B.PCX", "b.pcx", {"b.pcx"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    ScratchDir dir;
    for (const std::string& f : files) e2e::WriteFile(dir / ("w/" + f), ContentFor(f));
    std::string adding;
    for (const std::string& t : c.taken) adding += Adding(t);
    ExpectTranscript(Xkrf({"../data", c.mask}, dir / "w"), 0,
                     Summary("", "../data.krf", c.shown) + Creating("../data.krf") + adding +
                         Finish(static_cast<int>(c.taken.size())));
    EXPECT_EQ(LoadArchive(dir / "data.krf").Names(), c.taken);
  }
}

TEST(XkrfSubdirs, SameTreeGivesTheSameArchiveWhateverTheCreationOrder) {
  std::vector<std::string> files = {"b.bin",      "A.bin",      "sub1/x.bin", "C.bin",
                                    "Sub2/y.bin", "sub1/Q.bin", "sub1/p.bin"};
  ScratchDir dir;
  for (const std::string tree : {"one", "two"}) {
    for (const std::string& f : files) e2e::WriteFile(dir / (tree + "/" + f), ContentFor(f));
    std::reverse(files.begin(), files.end());
    ASSERT_EQ(Xkrf({"../" + tree, "*.*", "-subs"}, dir / tree).exit_code, 0);
    ASSERT_TRUE(IsFinishedArchive(dir / (tree + ".krf")));
  }
  EXPECT_EQ(LoadArchive(dir / "one.krf").Names(),
            (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "sub1\\p.bin", "sub1\\q.bin",
                                      "sub1\\x.bin", "Sub2\\y.bin"}));
  EXPECT_EQ(e2e::ReadFile(dir / "one.krf"), e2e::ReadFile(dir / "two.krf"));
}

#ifndef _WIN32
TEST(XkrfSubdirs, UnreadableSubdirectoryIsReportedAndSkipped) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser reads every directory";
  ScratchDir dir;
  e2e::WriteFile(dir / "w/a.bin", ContentFor("a.bin"));
  e2e::WriteFile(dir / "w/Locked/b.bin", ContentFor("b.bin"));
  e2e::WriteFile(dir / "w/z.bin", ContentFor("z.bin"));
  ASSERT_EQ(chmod((dir / "w/Locked").c_str(), 0), 0);
  ExpectTranscript(Xkrf({"../data", "*.bin", "-subs"}, dir / "w"), 0,
                   Summary("subs, ", "../data.krf", "*.bin") + Creating("../data.krf") +
                       Adding("a.bin") + "Cannot read sub-directory 'Locked', skipping !\n" +
                       Adding("z.bin") + Finish(2));
  chmod((dir / "w/Locked").c_str(), 0755);
}
#else
TEST(XkrfSubdirs, UnreadableSubdirectoryIsReportedAndSkipped) {
  E2E_WINDOWS_LACKS("POSIX file modes");
}
#endif

}  // namespace
}  // namespace xkrf_test
