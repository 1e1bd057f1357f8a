// Hostile archives: entries that point outside the file or overlap, names
// that climb out of the working folder or carry a root or a drive, names
// without their zero byte, sizes of 0 or below, RLE streams that end in a
// count byte or decode to another length. Extracting each ends in an
// orderly way (the message, or the entry skipped with a message), writes
// nothing outside the working folder, and the test action reports the entry
// as damaged.
#include <filesystem>
#include <functional>
#include <set>

#include "reliability_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;
using e2e::ScratchDir;
using xkrf_test::Crafted;
using xkrf_test::kLive;
using xkrf_test::kNone;
using xkrf_test::kRle;
using xkrf_test::PatchEntry;
using xkrf_test::Xkrf;

constexpr int kEitherStatus = -1;  // the case accepts 2 (skipped) and 1 (refused)

struct Hostile {
  std::string what;
  std::vector<Crafted> entries;
  std::function<void(Bytes*)> damage;  // applied to the built archive
  int ext_status;
  std::string ext_says;      // a line extracting prints ("" when any wording will do)
  std::string damaged;       // the name -test must report as damaged
  std::string written = "";  // a file extracting must leave in the working folder
};

Bytes Raw(const std::string& text) { return Bytes(text.begin(), text.end()); }

Crafted Plain(const std::string& name, const std::string& text = "hello") {
  return {name, kLive | kNone, Raw(text)};
}

Crafted Packed(const std::string& name, const Bytes& stream, int32_t raw_len) {
  return {name, kLive | kRle, stream, raw_len};
}

std::function<void(Bytes*)> Set(size_t index, int field, int32_t value) {
  return [=](Bytes* f) { PatchEntry(f, index, field, value); };
}

std::string Fatal(const std::string& name) {
  return "extracting " + name + "..." + xkrf_test::kFatal;
}

std::string Mismatch(const std::string& name, int decoded, int raw_len) {
  return "extracting " + name + "...filesizes mismatched after decoding (" +
         std::to_string(decoded) + ", should be " + std::to_string(raw_len) + ")!\n";
}

std::string Unsafe(const std::string& name) { return "skipping '" + name + "': unsafe path !\n"; }

// Every path below `root` except those in the working folder `work`.
std::set<std::string> Outside(const std::string& root, const std::string& work) {
  std::set<std::string> paths;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->path() == work) {
      it.disable_recursion_pending();
      continue;
    }
    paths.insert(it->path().string());
  }
  return paths;
}

// Writes each case's archive into a fresh working folder below the scratch
// folder and runs extracting, testing and listing on it.
void RunCases(const ScratchDir& dir, const std::vector<Hostile>& cases) {
  const std::string work = dir / "outer/work";
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove_all(entry.path());
    e2e::MakeDirs(work);
    Bytes archive = xkrf_test::BuildArchive(c.entries);
    if (c.damage) c.damage(&archive);
    e2e::WriteFile(work + "/hostile.krf", archive);
    const std::set<std::string> outside = Outside(dir.path(), work);

    const e2e::RunResult ext = Xkrf({"hostile", "*.*", "-subs", "-ext"}, work);
    if (c.ext_status == kEitherStatus) {
      EXPECT_TRUE(ext.exit_code == 2 || ext.exit_code == 1) << ext.out;
    } else {
      EXPECT_EQ(ext.exit_code, c.ext_status) << ext.out;
    }
    EXPECT_NE(ext.out.find(c.ext_says), std::string::npos) << ext.out;
    EXPECT_NE(ext.out.find(xkrf_test::kClosing), std::string::npos) << ext.out;
    EXPECT_EQ(Outside(dir.path(), work), outside) << "extracting wrote outside the working folder";
    if (!c.written.empty()) {
      EXPECT_EQ(e2e::ReadFile(work + "/" + c.written), Raw("hello")) << c.written;
    }

    const e2e::RunResult tested = Xkrf({"hostile", "-test"}, work);
    EXPECT_EQ(tested.exit_code, 1) << tested.out;
    EXPECT_NE(tested.out.find("testing " + c.damaged + "... FAILED: "), std::string::npos)
        << tested.out;
    EXPECT_EQ(Xkrf({"hostile", "-list"}, work).exit_code, 0);
    EXPECT_TRUE(e2e::ReadFile(work + "/hostile.krf") == archive) << "a reading run changed it";
  }
}

// A root path into the scratch folder (a name holds 63 bytes at most).
std::string Rooted(const ScratchDir& dir) {
  const std::string rooted = dir / "outer/rooted.bin";
  EXPECT_LT(rooted.size(), 63u);
  return rooted;
}

const Bytes kRuns = {0xC5, 'a'};  // five a's

TEST(ReliabilityHostile, DamagedBlocksAndSizesEndInAnOrderlyWay) {
  ScratchDir dir;
  RunCases(dir, {
                    {"block outside the file",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kOfsField, 1000000),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"negative offset",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kOfsField, -5),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"block one byte past the end",
                     {Plain("a.bin")},
                     [](Bytes* f) {
                       PatchEntry(f, 0, xkrf_test::kSizeField,
                                  static_cast<int32_t>(f->size()) - 23);
                     },
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"block over the header",
                     {Plain("a.bin")},
                     [](Bytes* f) {
                       PatchEntry(f, 0, xkrf_test::kOfsField, 0);
                       PatchEntry(f, 0, xkrf_test::kSizeField, 24);
                       PatchEntry(f, 0, xkrf_test::kRawLenField, 24);
                     },
                     0,
                     "extracting a.bin...\n",
                     "a.bin"},
                    {"blocks overlapping",
                     {Plain("a.bin", "abcdef"), Plain("b.bin", "ghijkl")},
                     Set(1, xkrf_test::kOfsField, 26),
                     0,
                     "extracting b.bin...\n",
                     "b.bin"},
                    {"Size 0",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kSizeField, 0),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"Size negative",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kSizeField, -1),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"RawLen 0, stored",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kRawLenField, 0),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"RawLen negative, stored",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kRawLenField, -3),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"RawLen beyond the stored bytes",
                     {Plain("a.bin")},
                     Set(0, xkrf_test::kRawLenField, 50),
                     1,
                     Fatal("a.bin"),
                     "a.bin"},
                    {"RawLen 0, RLE",
                     {Packed("a.bin", kRuns, 0)},
                     nullptr,
                     1,
                     Mismatch("a.bin", 5, 0),
                     "a.bin"},
                    {"RawLen negative, RLE",
                     {Packed("a.bin", kRuns, 5)},
                     Set(0, xkrf_test::kRawLenField, -3),
                     1,
                     Mismatch("a.bin", 5, -3),
                     "a.bin"},
                    {"RLE ending in a count byte",
                     {Packed("a.bin", {'a', 'b', 0xC5}, 3)},
                     nullptr,
                     1,
                     Mismatch("a.bin", 2, 3),
                     "a.bin"},
                    {"RLE decoding to another length",
                     {Packed("a.bin", kRuns, 4)},
                     nullptr,
                     1,
                     Mismatch("a.bin", 5, 4),
                     "a.bin"},
                });
}

// Names that lead elsewhere than where they say: skipped (a '..' level, no
// zero byte) or re-rooted below the working folder (a root or a drive), and
// reported by the test action either way.
TEST(ReliabilityHostile, MisleadingNamesAreSkippedOrReRootedAndReported) {
  ScratchDir dir;
  RunCases(dir, {
                    {"'..' level",
                     {Plain("..\\evil.bin")},
                     nullptr,
                     2,
                     Unsafe("..\\evil.bin"),
                     "..\\evil.bin"},
                    {"'..' below a folder",
                     {Plain("a\\..\\..\\evil.bin")},
                     nullptr,
                     2,
                     Unsafe("a\\..\\..\\evil.bin"),
                     "a\\..\\..\\evil.bin"},
                    {"leading backslash",
                     {Plain("\\root.bin")},
                     nullptr,
                     0,
                     "extracting \\root.bin...\n",
                     "\\root.bin",
                     "root.bin"},
                    {"drive prefix",
                     {Plain("c:\\drive.bin")},
                     nullptr,
                     0,
                     "extracting c:\\drive.bin...\n",
                     "c:\\drive.bin",
                     "drive.bin"},
                    {"drive letter alone",
                     {Plain("c:drive.bin")},
                     nullptr,
                     0,
                     "extracting c:drive.bin...\n",
                     "c:drive.bin",
                     "drive.bin"},
                    {"name without zero byte",
                     {Plain(std::string(64, 'n'))},
                     nullptr,
                     2,
                     "skipping entry 0: name without terminating zero !\n",
                     std::string(64, 'n')},
                });
}

// The archive separator is the backslash, but a '/' in a stored name is a
// separator on the host: a name must not climb out or start at the root
// through it.
TEST(ReliabilityHostile, NamesWithSlashesStayInTheWorkingFolder) {
  ScratchDir dir;
  const std::string rooted = Rooted(dir);
  RunCases(
      dir,
      {
          {"'/' climbing out", {Plain("./../up.bin")}, nullptr, kEitherStatus, "", "./../up.bin"},
          {"'/' climbing out of a folder",
           {Plain("sub\\x.bin"), Plain("sub/../../up.bin")},
           nullptr,
           kEitherStatus,
           "",
           "sub/../../up.bin"},
          {"'/' and '\\' mixed",
           {Plain("./..\\up.bin")},
           nullptr,
           kEitherStatus,
           "",
           "./..\\up.bin"},
          {"root path with '/'", {Plain(rooted)}, nullptr, 0, "", rooted},
      });
}

}  // namespace
}  // namespace reliability
