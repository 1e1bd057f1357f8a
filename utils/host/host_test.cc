#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/dir_search.h"
#include "host/file.h"
#include "host/safe_tree.h"
#include "host/temp_file.h"

namespace host {
namespace {

namespace fs = std::filesystem;

TEST(WildcardMatch, Table) {
  struct Case {
    const char* pattern;
    const char* name;
    bool expected;
  };
  const Case cases[] = {
      {"*.*", "readme", true},
      {"*.*", "a.b.c", true},
      {"*.pcx", "A.PCX", true},
      {"*.pcx", "a.pcxx", false},
      {"*.pcx", "pcx", false},
      {"a?c", "ABC", true},
      {"a?c", "ac", false},
      {"*", "", true},
      {"", "a", false},
      {"*a*b*", "xxaYYbzz", true},
      {"*a*b", "xxaYYbzz", false},
      {"*.wal", ".wal", true},
      {"*.wal", "x.WaL", true},
      {"a*", "a", true},
      {"**.x", "q.x", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.expected) << c.pattern << " vs " << c.name;
  }
}

TEST(NameLess, FoldsCaseThenRawBytes) {
  std::vector<std::string> names = {"b", "B", "a.txt", "A", "a", "ab", "_x", "Z"};
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NameLess(a, b); });
  // Letters fold to lower case, so "_" (0x5F) sorts before every letter.
  const std::vector<std::string> expected = {"_x", "A", "a", "a.txt", "ab", "B", "b", "Z"};
  EXPECT_EQ(names, expected);
}

class HostDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "hosttest-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(root_);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fs::remove_all(root_);
  }
  static void Touch(const std::string& path, const std::string& content = "x") {
    std::ofstream(path, std::ios::binary) << content;
  }

  fs::path root_;
  fs::path old_cwd_;
};

TEST_F(HostDir, ListDirectoryReportsFilesAndFoldersOnlySorted) {
  Touch("b.txt", "12345");
  Touch("A.txt");
  fs::create_directory("Sub");
  fs::create_symlink("b.txt", "link.txt");
  fs::create_symlink("missing", "dangling");
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory("", &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "b.txt", "link.txt", "Sub"}));
  EXPECT_EQ(entries[1].size, 5);
  EXPECT_TRUE(entries[2].is_link);
  EXPECT_FALSE(entries[2].is_dir);
  EXPECT_EQ(entries[2].size, 5);
  EXPECT_TRUE(entries[3].is_dir);
  EXPECT_FALSE(ListDirectory("no-such-folder", &entries));

  ASSERT_TRUE(SearchDirectory("", "*.TXT", &entries));
  EXPECT_EQ(entries.size(), 3u);
}

TEST_F(HostDir, ResolvePathFindsOtherLetterCase) {
  fs::create_directories("Gfx/Deep");
  Touch("Gfx/Deep/File.KRF");
  EXPECT_EQ(ResolvePath("gfx/deep/file.krf"), "Gfx/Deep/File.KRF");
  EXPECT_EQ(ResolvePath("gfx/new/file.krf"), "Gfx/new/file.krf");
  EXPECT_EQ(ResolvePath("Gfx/"), "Gfx/");
  fs::create_directory("gfx");  // the exact spelling wins when it exists
  EXPECT_EQ(ResolvePath("gfx/x"), "gfx/x");
}

TEST_F(HostDir, CreateNewFileNeverReplaces) {
  File f;
  ASSERT_TRUE(CreateNewFile("new.bin", "abc", 3, &f));
  EXPECT_EQ(f.Size(), 3);
  File again;
  EXPECT_FALSE(CreateNewFile("new.bin", "zz", 2, &again));
  EXPECT_EQ(errno, EEXIST);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile("new.bin", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));
  // The lock taken at creation keeps other takers out.
  File other;
  ASSERT_TRUE(other.Open("new.bin", File::Mode::kReadWrite));
  EXPECT_FALSE(other.Lock(true, false));
  f.Close();
  EXPECT_TRUE(other.Lock(true, false));
}

TEST_F(HostDir, SafeTreeCreatesLevelsAndRefusesLinks) {
  File dir;
  bool created = false;
  ASSERT_EQ(OpenDirectoryBelow({"a", "b"}, &dir, &created), TreeResult::kOk);
  EXPECT_TRUE(created);
  EXPECT_TRUE(fs::is_directory("a/b"));
  ASSERT_EQ(OpenDirectoryBelow({"A", "B"}, &dir, &created), TreeResult::kOk);
  EXPECT_FALSE(created);  // found in the other letter case

  fs::create_directory("outside");
  fs::create_directory_symlink(root_ / "outside", "trap");
  EXPECT_EQ(OpenDirectoryBelow({"trap", "x"}, &dir, &created), TreeResult::kUnsafe);
  EXPECT_FALSE(fs::exists("outside/x"));

  Touch("plain");
  EXPECT_EQ(OpenDirectoryBelow({"plain", "x"}, &dir, &created), TreeResult::kBlocked);

  // Levels that are not single names never reach the file system.
  for (const char* level : {"..", ".", "", "a/../..", "/tmp"}) {
    EXPECT_EQ(OpenDirectoryBelow({level}, &dir, &created), TreeResult::kUnsafe) << level;
  }
  // Rooted one level down, so that a name escaping the tree still lands in
  // this test's own folder, never in the shared temporary one.
  fs::create_directory("tree");
  fs::current_path(root_ / "tree");
  SafeTree tree;
  ASSERT_EQ(tree.Enter({}, &created), TreeResult::kOk);
  File out;
  EXPECT_FALSE(tree.CreateFile(tree.Find("../escape"), &out));
  EXPECT_FALSE(fs::exists(root_ / "escape"));
}

TEST_F(HostDir, SafeTreeWritesFilesWithoutFollowingLinks) {
  SafeTree tree;
  bool created = false;
  ASSERT_EQ(tree.Enter({}, &created), TreeResult::kOk);
  fs::create_directory("outside");
  Touch("outside/target", "keep");
  fs::create_symlink(root_ / "outside/target", "victim");
  File out;
  const SafeTree::Target victim = tree.Find("victim");
  EXPECT_TRUE(victim.exists && victim.is_link);
  ASSERT_TRUE(tree.CreateFile(victim, &out));
  ASSERT_TRUE(out.Write("new", 3));
  out.Close();
  EXPECT_FALSE(fs::is_symlink("victim"));
  std::vector<uint8_t> kept;
  ASSERT_TRUE(ReadWholeFile("outside/target", &kept));
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep");

  // Existing files are reused in their own spelling, also those created
  // after the folder's index was built.
  Touch("Readme.TXT", "old");
  ASSERT_TRUE(tree.CreateFile(tree.Find("readme.txt"), &out));
  out.Close();
  ASSERT_TRUE(tree.CreateFile(tree.Find("New.Dat"), &out));
  out.Close();
  EXPECT_EQ(tree.Find("new.dat").spelling, "New.Dat");
  ASSERT_TRUE(tree.CreateFile(tree.Find("new.dat"), &out));
  out.Close();
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory("", &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"New.Dat", "outside", "Readme.TXT", "victim"}));

  struct stat st;
  ASSERT_EQ(stat("New.Dat", &st), 0);
  const SafeTree::Target found = tree.Find("NEW.DAT");
  EXPECT_TRUE(found.exists);
  EXPECT_EQ(found.inode, static_cast<uint64_t>(st.st_ino));
  EXPECT_FALSE(tree.Find("missing").exists);

  // Entering the same folder again keeps it; another one is opened afresh.
  ASSERT_EQ(tree.Enter({}, &created), TreeResult::kOk);
  EXPECT_FALSE(created);
  ASSERT_EQ(tree.Enter({"sub"}, &created), TreeResult::kOk);
  EXPECT_TRUE(created);
  ASSERT_TRUE(tree.CreateFile(tree.Find("x"), &out));
  out.Close();
  EXPECT_TRUE(fs::exists("sub/x"));

  // In a folder it made, the tree takes a name it did not make as absent;
  // what another program puts there after the lookup is met when the file
  // is made: a link is replaced, never followed, and a file is emptied.
  const SafeTree::Target late_link = tree.Find("late_link");
  const SafeTree::Target late_file = tree.Find("late_file");
  EXPECT_FALSE(late_link.exists || late_file.exists);
  fs::create_symlink(root_ / "outside/target", "sub/late_link");
  Touch("sub/late_file", "a longer old content");
  for (const SafeTree::Target& late : {late_link, late_file}) {
    SCOPED_TRACE(late.spelling);
    ASSERT_TRUE(tree.CreateFile(late, &out));
    ASSERT_TRUE(out.Write("new", 3));
    out.Close();
    ASSERT_TRUE(ReadWholeFile("sub/" + late.spelling, &kept));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "new");
  }
  EXPECT_FALSE(fs::is_symlink("sub/late_link"));
  ASSERT_TRUE(ReadWholeFile("outside/target", &kept));
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep");
}

// Folders entered by turns keep their index: each is scanned once, however
// often the run switches between them, and the index follows every file and
// folder created, in whichever folder the switch came from.
TEST_F(HostDir, SafeTreeScansEachFolderOnceWhateverTheOrder) {
  constexpr int kExisting = 100;
  constexpr int kNew = 300;
  fs::create_directories("a");
  fs::create_directories("b");
  for (int i = 0; i < kExisting; ++i) {
    Touch("a/Old" + std::to_string(i));
    Touch("b/Old" + std::to_string(i));
  }
  SafeTree tree;
  bool created = false;
  File out;
  for (int i = 0; i < kNew; ++i) {
    for (const char* folder : {"a", "b"}) {
      ASSERT_EQ(tree.Enter({folder}, &created), TreeResult::kOk);
      EXPECT_FALSE(created);
      const SafeTree::Target target = tree.Find("New" + std::to_string(i));
      ASSERT_FALSE(target.exists);
      ASSERT_TRUE(tree.CreateFile(target, &out));
      out.Close();
    }
  }
  // The old code rescanned a folder at every switch: about 100,000 names.
  EXPECT_LE(tree.names_read(), uint64_t{2 * kExisting} + 10);
  EXPECT_EQ(std::distance(fs::directory_iterator("a"), fs::directory_iterator()), kExisting + kNew);

  // Names created before a switch are found in any case after it.
  ASSERT_EQ(tree.Enter({"A"}, &created), TreeResult::kOk);  // the same folder as "a"
  EXPECT_FALSE(created);
  EXPECT_EQ(tree.Find("NEW7").spelling, "New7");
  EXPECT_TRUE(tree.Find("NEW7").exists);
  EXPECT_EQ(tree.Find("old3").spelling, "Old3");
  ASSERT_TRUE(tree.CreateFile(tree.Find("Extra.Dat"), &out));
  out.Close();
  ASSERT_EQ(tree.Enter({"b"}, &created), TreeResult::kOk);
  ASSERT_EQ(tree.Enter({"a"}, &created), TreeResult::kOk);
  EXPECT_EQ(tree.Find("extra.dat").spelling, "Extra.Dat");

  // A folder made by Enter is known to its parent's index: a file of the
  // same name in another case is not created beside it.
  ASSERT_EQ(tree.Enter({}, &created), TreeResult::kOk);
  EXPECT_FALSE(tree.Find("missing").exists);  // builds the index of "."
  ASSERT_EQ(tree.Enter({"Sub"}, &created), TreeResult::kOk);
  EXPECT_TRUE(created);
  ASSERT_EQ(tree.Enter({}, &created), TreeResult::kOk);
  const SafeTree::Target sub = tree.Find("SUB");
  EXPECT_TRUE(sub.exists);
  EXPECT_EQ(sub.spelling, "Sub");
  EXPECT_FALSE(tree.CreateFile(sub, &out));  // a folder is not emptied
  ASSERT_EQ(tree.Enter({"SUB"}, &created), TreeResult::kOk);
  EXPECT_FALSE(created);
  EXPECT_FALSE(fs::exists("SUB"));
}

// A folder entered before is reached again without following a link that
// has since taken its place.
TEST_F(HostDir, SafeTreeReentersFoldersWithoutFollowingLinks) {
  SafeTree tree;
  bool created = false;
  ASSERT_EQ(tree.Enter({"a", "b"}, &created), TreeResult::kOk);
  ASSERT_EQ(tree.Enter({"c"}, &created), TreeResult::kOk);
  fs::create_directories("outside/b");
  fs::remove_all("a");
  fs::create_directory_symlink(root_ / "outside", "a");
  EXPECT_EQ(tree.Enter({"a", "b"}, &created), TreeResult::kUnsafe);
  // A folder removed meanwhile is made again.
  fs::remove_all("c");
  ASSERT_EQ(tree.Enter({"c"}, &created), TreeResult::kOk);
  EXPECT_TRUE(created);
  File out;
  ASSERT_TRUE(tree.CreateFile(tree.Find("x"), &out));
  out.Close();
  EXPECT_TRUE(fs::is_regular_file("c/x"));
  EXPECT_TRUE(fs::is_empty("outside/b"));
}

// What is neither a regular file nor a folder is replaced, never opened (a
// FIFO here, with a reader so that writing into it would not block); an
// existing regular file is emptied in place.
TEST_F(HostDir, SafeTreeReplacesSpecialFilesAndEmptiesRegularOnes) {
  SafeTree tree;
  bool created = false;
  ASSERT_EQ(tree.Enter({}, &created), TreeResult::kOk);
  ASSERT_EQ(mkfifo("Pipe", 0600), 0);
  const int reader = ::open("Pipe", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  File out;
  const SafeTree::Target pipe = tree.Find("pipe");
  EXPECT_TRUE(pipe.exists && pipe.is_other && !pipe.is_link);
  EXPECT_EQ(pipe.spelling, "Pipe");
  ASSERT_TRUE(tree.CreateFile(pipe, &out));
  ASSERT_TRUE(out.Write("data", 4));
  out.Close();
  char buf[8];
  EXPECT_LE(::read(reader, buf, sizeof buf), 0);  // nothing went into the FIFO
  ::close(reader);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status("Pipe")));
  EXPECT_EQ(fs::file_size("Pipe"), 4u);

  Touch("plain", "a longer old content");
  fs::create_hard_link("plain", "twin");
  const SafeTree::Target plain = tree.Find("plain");
  EXPECT_TRUE(plain.exists && !plain.is_other && !plain.is_link);
  ASSERT_TRUE(tree.CreateFile(plain, &out));
  ASSERT_TRUE(out.Write("new", 3));
  out.Close();
  std::vector<uint8_t> twin;
  ASSERT_TRUE(ReadWholeFile("twin", &twin));
  EXPECT_EQ(std::string(twin.begin(), twin.end()), "new");  // the same file, emptied
}

// A staged file has no name until it takes its target's; leftovers of
// stopped runs go, a hidden file a running process holds stays; a name that
// cannot be had leaves nothing.
TEST_F(HostDir, StagedFileAppearsWholeAndSweepsLeftovers) {
  const auto listing = [] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  Touch("target", "old");
  Touch(".tool-aaaaaa", "left over");
  Touch(".tool-bbbbbb", "in use");
  File held;
  ASSERT_TRUE(held.Open(".tool-bbbbbb", File::Mode::kRead));
  ASSERT_TRUE(held.Lock(true, false));
  StagedFile staged;
  ASSERT_TRUE(staged.Create("target", ".tool-"));
  const std::vector<std::string> expected = {".tool-bbbbbb", "target"};
  EXPECT_EQ(listing(), expected);
  ASSERT_TRUE(staged.file().Write("new", 3));
  ASSERT_TRUE(staged.file().Sync());
  EXPECT_EQ(listing(), expected) << "no name while written";
  ASSERT_TRUE(staged.PutInPlace());
  EXPECT_EQ(listing(), expected);
  std::vector<uint8_t> content;
  ASSERT_TRUE(ReadWholeFile("target", &content));
  EXPECT_EQ(std::string(content.begin(), content.end()), "new");

  fs::create_directory("folder");
  StagedFile refused;
  ASSERT_TRUE(refused.Create("folder", ".tool-"));
  EXPECT_FALSE(refused.PutInPlace());
  EXPECT_TRUE(fs::is_directory("folder"));
  EXPECT_EQ(listing(), (std::vector<std::string>{".tool-bbbbbb", "folder", "target"}));
}

}  // namespace
}  // namespace host
