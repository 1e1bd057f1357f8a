// Deleting and the compaction that follows it.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

// An archive from elsewhere: header fields the tool never sets itself, which
// must survive every rewrite.
Bytes ForeignArchive(const std::vector<Crafted>& entries) {
  Bytes archive = BuildArchive(entries, 7, 1234);
  archive[5] = 1;
  archive[6] = 2;
  archive[7] = 3;
  return archive;
}

Bytes Content(const std::string& name) {
  Bytes b = e2e::RandomBytes(10 + name.size() * 3, static_cast<uint32_t>(name.size()));
  b.insert(b.end(), 70, 'r');
  return b;
}

Crafted MakeEntry(const std::string& name, int32_t live = kLive) {
  const Bytes content = Content(name);
  return {name, live | kRle, EncodeRle(content), static_cast<int32_t>(content.size())};
}

// Each deleted entry is named. The selection rule is not adding's match:
// `*.pcx` also takes `a.pcxx`, `a*b.pcx` also `axx.pcx`.
TEST(XkrfDelete, CompactsAwayTheSelectedEntries) {
  const struct {
    std::string what;
    std::vector<Crafted> entries;
    std::vector<std::string> args;  // behind "data" and "-del"
    std::vector<std::string> left;
    std::vector<std::string> deleted;  // in the order the run names them
    std::string shown = "";            // the mask as the run shows it, when not as given
    std::string mask_path = "";        // its folder part
  } cases[] = {
      {"middle of three",
       {MakeEntry("a.bin"), MakeEntry("b.bin"), MakeEntry("c.bin")},
       {"b.bin"},
       {"a.bin", "c.bin"},
       {"b.bin"}},
      {"first",
       {MakeEntry("a.bin"), MakeEntry("b.bin"), MakeEntry("c.bin")},
       {"a.bin"},
       {"b.bin", "c.bin"},
       {"a.bin"}},
      {"two",
       {MakeEntry("a.bin"), MakeEntry("b.txt"), MakeEntry("c.bin")},
       {"*.bin"},
       {"b.txt"},
       {"a.bin", "c.bin"}},
      {"all", {MakeEntry("a.bin"), MakeEntry("b.bin")}, {"*.*"}, {}, {"a.bin", "b.bin"}},
      {"*.pcx takes a longer extension",
       {MakeEntry("a.pcx"), MakeEntry("a.pcxx"), MakeEntry("a.pc")},
       {"*.pcx"},
       {"a.pc"},
       {"a.pcx", "a.pcxx"}},
      {"a*b.pcx takes whatever lies between a and the dot",
       {MakeEntry("ab.pcx"), MakeEntry("axx.pcx"), MakeEntry("bb.pcx")},
       {"a*b.pcx"},
       {"bb.pcx"},
       {"ab.pcx", "axx.pcx"}},
      {"left over flag dropped",
       {MakeEntry("a.bin"), MakeEntry("old.bin", 0), MakeEntry("c.bin")},
       {"c.bin"},
       {"a.bin"},
       {"c.bin"}},
      {"flagged entries are selected again",
       {MakeEntry("a.bin"), MakeEntry("old.bin", 0), MakeEntry("c.txt")},
       {"*.bin"},
       {"c.txt"},
       {"a.bin", "old.bin"}},
      {"sub-directories with -subs",
       {MakeEntry("a.txt"), MakeEntry("Stone\\wall.txt"), MakeEntry("b.bin"),
        MakeEntry("Stone\\deep\\x.txt")},
       {"*.txt", "-subs"},
       {"b.bin"},
       {"a.txt", "Stone\\wall.txt", "Stone\\deep\\x.txt"}},
      {"mask directory ignores case",
       {MakeEntry("a.txt"), MakeEntry("Stone\\wall.txt"), MakeEntry("b.bin"),
        MakeEntry("Stone\\deep\\x.txt")},
       {"stone/*.txt"},
       {"a.txt", "b.bin", "Stone\\deep\\x.txt"},
       {"Stone\\wall.txt"},
       "stone\\*.txt",
       "stone\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const Bytes before = ForeignArchive(c.entries);
    e2e::WriteFile(dir / "data.krf", before);
    e2e::WriteFile(dir / kTempName, std::string("left behind by an earlier run"));
    std::vector<std::string> args = {"data", "-del"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string mask = c.shown.empty() ? c.args[0] : c.shown;
    ExpectTranscript(
        Xkrf(args, dir.path()), 0,
        Summary(c.args.size() > 1 ? "del, subs, " : "del, ", "data.krf", mask, c.mask_path) +
            Contains(static_cast<int>(c.entries.size())) + Deleting(c.deleted) + kUpdating +
            Finish(static_cast<int>(c.deleted.size())));
    ASSERT_TRUE(IsFinishedArchive(dir / "data.krf", false));
    const Archive after = LoadArchive(dir / "data.krf");
    EXPECT_EQ(after.Names(), c.left);
    for (const Entry& e : after.entries) EXPECT_EQ(after.Content(e), Content(e.name));
    // Only DirEntries and DirOfs change in the header.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 12, after.file.begin()));
    EXPECT_TRUE(std::equal(before.begin() + 20, before.begin() + 24, after.file.begin() + 20));
    EXPECT_FALSE(e2e::Exists(dir / kTempName));
    if (c.left.empty()) {
      EXPECT_EQ(after.file.size(), kHeaderSize);
    }
  }
}

TEST(XkrfDelete, NoMatchLeavesTheArchiveAlone) {
  ScratchDir dir;
  const Bytes before = ForeignArchive({MakeEntry("a.bin"), MakeEntry("old.bin", 0)});
  e2e::WriteFile(dir / "data.krf", before);
  ExpectTranscript(Xkrf({"data", "*.txt", "-del"}, dir.path()), 0,
                   Summary("del, ", "data.krf", "*.txt") + Contains(2) + Finish(0));
  EXPECT_EQ(e2e::ReadFile(dir / "data.krf"), before);
}

// The temporary file lies beside the archive: when that name is taken by a
// directory there, the rewrite cannot start, and the archive stays readable
// with all its data.
TEST(XkrfDelete, RewriteGoesThroughTheArchivesDirectory) {
  ScratchDir dir;
  const std::vector<Crafted> entries = {MakeEntry("a.bin"), MakeEntry("b.bin"), MakeEntry("c.bin")};
  e2e::WriteFile(dir / "sub/data.krf", BuildArchive(entries));
  e2e::MakeDirs(dir / ("sub/" + std::string(kTempName)));
  ExpectTranscript(Xkrf({"sub/data", "b.bin", "-del"}, dir.path()), 1,
                   Summary("del, ", "sub/data.krf", "b.bin") + Contains(3) + Deleting({"b.bin"}) +
                       kUpdating + "Cannot create update file !!\n" + kClosing);
  const Archive after = LoadArchive(dir / "sub/data.krf");
  ASSERT_EQ(after.entries.size(), 3u);
  for (const Entry& e : after.entries) EXPECT_EQ(after.Content(e), Content(e.name));
  EXPECT_FALSE(e2e::Exists(dir / kTempName));

  // With the way clear, the next run compacts.
  std::filesystem::remove(dir / ("sub/" + std::string(kTempName)));
  ASSERT_EQ(Xkrf({"sub/data", "b.bin", "-del"}, dir.path()).exit_code, 0);
  ASSERT_TRUE(IsFinishedArchive(dir / "sub/data.krf"));
  EXPECT_EQ(LoadArchive(dir / "sub/data.krf").Names(),
            (std::vector<std::string>{"a.bin", "c.bin"}));
  EXPECT_EQ(DirNames(dir / "sub"), std::vector<std::string>{"data.krf"});
}

// Whatever stands at the temporary file's name is never written through or
// waited on: the compaction removes the name and makes a fresh file. The
// compacted archive keeps the old one's permission bits and owner, and an
// archive reached through a symbolic link is replaced where the link leads.
// (Windows has no FIFOs, nor links and file modes for ordinary programs:
// there, a second name and a leftover.)
TEST(XkrfDelete, CompactionTrustsNothingAtTheTemporaryName) {
  enum Plant {
    kNothing,
    kLinkOut,
    kLinkNowhere,
    kHardLinkToArchive,
    kHardLinkOut,
    kFifo,
    kLeftover
  };
  const struct {
    std::string what;
    Plant plant;
    bool archive_is_link;
  } cases[] = {
      {"nothing", kNothing, false},
      {"a link to a file outside", kLinkOut, false},
      {"a link to nothing", kLinkNowhere, false},
      {"a second name of the archive", kHardLinkToArchive, false},
      {"a second name of a file outside", kHardLinkOut, false},
      {"a FIFO", kFifo, false},
      {"a stopped run's leftover", kLeftover, false},
      {"nothing, archive through a link", kNothing, true},
      {"a leftover, archive through a link", kLeftover, true},
  };
  const std::vector<Crafted> entries = {MakeEntry("a.bin"), MakeEntry("b.bin")};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool posix_only =
        c.archive_is_link || c.plant == kLinkOut || c.plant == kLinkNowhere || c.plant == kFifo;
    if (e2e::kWindows && posix_only) continue;
    ScratchDir dir;
    const std::string work = dir / "work";
    const std::string store = c.archive_is_link ? dir / "store" : work;
    const std::string real = store + "/data.krf";
    const std::string temp = store + "/" + kTempName;
    const Bytes victim = {'k', 'e', 'e', 'p'};
    e2e::WriteFile(dir / "victim", victim);
    e2e::WriteFile(real, BuildArchive(entries));
    e2e::MakeDirs(work);
    if (c.archive_is_link) {
      ASSERT_TRUE(e2e::MakeSymlink("../store/data.krf", work + "/data.krf"));
    }
#ifndef _WIN32
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    // Root can give the archive away; the compacted one must stay with its owner.
    const bool as_root = geteuid() == 0;
    if (as_root) {
      ASSERT_EQ(chown(real.c_str(), 4321, 8765), 0);
    }
#endif
    switch (c.plant) {
      case kNothing:
        break;
      case kLinkOut:
        ASSERT_TRUE(e2e::MakeSymlink(dir / "victim", temp));
        break;
      case kLinkNowhere:
        ASSERT_TRUE(e2e::MakeSymlink(dir / "made", temp));
        break;
      case kHardLinkToArchive:
        std::filesystem::create_hard_link(real, temp);
        break;
      case kHardLinkOut:
        std::filesystem::create_hard_link(dir / "victim", temp);
        break;
      case kFifo:
        ASSERT_TRUE(e2e::MakeFifo(temp));
        break;
      case kLeftover:
        e2e::WriteFile(temp, std::string(100, 'x'));
        break;
    }
    ExpectTranscript(Xkrf({"data", "a.bin", "-del"}, work), 0,
                     Summary("del, ", "data.krf", "a.bin") + Contains(2) + Deleting({"a.bin"}) +
                         kUpdating + Finish(1));
    EXPECT_EQ(e2e::ReadFile(dir / "victim"), victim);
    EXPECT_FALSE(e2e::Exists(dir / "made"));
    EXPECT_FALSE(e2e::Exists(temp));
    ASSERT_TRUE(IsFinishedArchive(real));
    EXPECT_EQ(LoadArchive(real).Names(), std::vector<std::string>{"b.bin"});
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(lstat(real.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (as_root) {
      EXPECT_EQ(st.st_uid, 4321u);
      EXPECT_EQ(st.st_gid, 8765u);
    }
    if (c.archive_is_link) {
      ASSERT_EQ(lstat((work + "/data.krf").c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode));
    }
#endif
  }
}

}  // namespace
}  // namespace xkrf_test
