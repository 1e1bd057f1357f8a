// Failing writes: with the file-size limit lowered (writes past it fail with
// EFBIG, as on a full disk), adding and deleting end with "Fatal Read/Write
// error !\n" wherever the limit stops them. A failed add leaves the archive
// exactly as it was, byte for byte; a failed deletion leaves it valid with
// every entry it had, and no temporary file behind; so does a failed add into
// free space before the directory.
#include <functional>
#include <optional>

#include "reliability_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace reliability {
namespace {

using e2e::ScratchDir;
using xkrf_test::Xkrf;

// Smaller than every write past the archive's old end, so each is cut short.
constexpr rlim_t kSweepStep = 16;
constexpr size_t kDirOfsField = 16;  // in the header

struct Sweep {
  std::string what;
  std::vector<std::string> args;
  rlim_t from = 0;  // where the stepped limits start; 0: at the archive's size
};

class ReliabilityFailingWrites : public ::testing::Test {
 protected:
  // An archive of three entries, packed by the tool: one stored as is, one
  // RLE, one in a sub-folder.
  void SetUp() override {
    e2e::WriteFile(dir_ / "a.bin", Sample(100, 1, false));
    e2e::WriteFile(dir_ / "b.bin", Sample(300, 2, true));
    e2e::WriteFile(dir_ / "sub/c.bin", Sample(120, 3, false));
    ASSERT_EQ(Xkrf({"data", "*.bin", "-subs"}, dir_.path()).exit_code, 0);
    original_ = e2e::ReadFile(dir_ / "data.krf");
    contents_ = ReadableLiveContents(dir_ / "data.krf");
    ASSERT_EQ(contents_.size(), 3u);
    // What adding brings: two new files and a larger a.bin (its slot moves).
    e2e::WriteFile(dir_ / "new/n1.bin", Sample(60, 4, false));
    e2e::WriteFile(dir_ / "new/n2.bin", Sample(200, 5, true));
    e2e::WriteFile(dir_ / "new/a.bin", Sample(150, 6, false));
  }

  std::string Archive() const { return dir_ / "data.krf"; }
  void Restore() { e2e::WriteFile(Archive(), original_); }

  // What is wrong with an archive that should still hold every entry it
  // had, readable, or "" when nothing.
  std::string EveryEntryKept() {
    xkrf_test::Archive archive;
    std::string why;
    if (!xkrf_test::ParseArchive(e2e::ReadFile(Archive()), &archive, &why)) return why;
    const ::testing::AssertionResult readable = EntriesReadable(archive);
    if (!readable) return std::string(readable.message());
    const Contents live = LiveContents(archive);
    if (!(live == contents_)) return "live entries " + NamesOf(live);
    if (Xkrf({"data", "-list"}, dir_.path()).exit_code != 0) return std::string("-list fails");
    return std::string();
  }

  // The entries adding brings along with those the archive has.
  Contents AddedContents() const {
    Contents expected = contents_;
    for (const char* name : {"n1.bin", "n2.bin", "a.bin"}) {
      expected[name] = e2e::ReadFile(dir_ / ("new/" + std::string(name)));
    }
    return expected;
  }

  // Runs the sweep's arguments in `cwd` under every limit from 0 and from
  // the archive's size (or sweep.from) up, in steps of kSweepStep, until a run
  // succeeds. Every failed run must end with the message; `judge` says what
  // is wrong with the archive it left ("" when nothing). Returns what the
  // successful run left, or nothing when no run succeeded.
  std::optional<Contents> SweepLimits(const Sweep& sweep, const std::string& cwd,
                                      const std::function<std::string()>& judge) {
    std::vector<rlim_t> limits = {0, original_.size() / 2};
    const rlim_t from = sweep.from > 0 ? sweep.from : original_.size();
    for (rlim_t l = from; l < from + 4096; l += kSweepStep) {
      limits.push_back(l);
    }
    const std::string tail = std::string(xkrf_test::kFatal) + xkrf_test::kClosing;
    std::string wrong;
    int failed = 0;
    for (const rlim_t limit : limits) {
      Restore();
      const e2e::RunResult r = RunLimited(XKRF_BIN, sweep.args, cwd, limit);
      if (r.exit_code == 0) {
        EXPECT_GT(failed, 0) << "not even the smallest limit stopped the run";
        EXPECT_TRUE(wrong.empty())
            << sweep.what << ", failed under " << failed << " limits:" << wrong;
        return ReadableLiveContents(Archive());
      }
      ++failed;
      std::string problem;
      if (r.exit_code != 1 || r.out.size() < tail.size() ||
          r.out.compare(r.out.size() - tail.size(), tail.size(), tail) != 0) {
        problem = "status " + std::to_string(r.exit_code) + ", output ending in '" +
                  r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 80)) + "'";
      } else if (e2e::Exists(dir_ / xkrf_test::kTempName)) {
        problem = "a temporary file is left";
      } else {
        problem = judge();
      }
      if (!problem.empty()) wrong += "\n  limit " + std::to_string(limit) + ": " + problem;
    }
    ADD_FAILURE() << sweep.what << ": no limit let the run finish" << wrong;
    return std::nullopt;
  }

  ScratchDir dir_;
  Bytes original_;
  Contents contents_;
};

TEST_F(ReliabilityFailingWrites, FailedAddLeavesTheArchiveByteIdentical) {
  const Sweep sweep = {"adding", {"../data", "*.bin"}};
  const std::optional<Contents> after = SweepLimits(sweep, dir_ / "new", [&] {
    const Bytes now = e2e::ReadFile(Archive());
    return now == original_ ? std::string()
                            : "the archive changed (" + std::to_string(original_.size()) +
                                  " bytes before, " + std::to_string(now.size()) + " after)";
  });
  ASSERT_TRUE(after);
  EXPECT_TRUE(*after == AddedContents()) << NamesOf(*after);
  EXPECT_TRUE(xkrf_test::IsFinishedArchive(Archive()));
}

// Free space before the directory, as a stopped run leaves it: the new
// blocks and the new directory go there, inside the file, so a write the
// limit cuts short is one that does not grow the file.
TEST_F(ReliabilityFailingWrites, FailedAddIntoFreeSpaceKeepsEveryEntry) {
  xkrf_test::Archive parsed;
  std::string why;
  ASSERT_TRUE(xkrf_test::ParseArchive(original_, &parsed, &why)) << why;
  constexpr size_t kFree = 1024;  // more than the new blocks and directory take
  original_.insert(original_.begin() + parsed.dir_ofs, kFree, 0);
  xkrf_test::PutLe32(&original_, kDirOfsField, parsed.dir_ofs + static_cast<int32_t>(kFree));
  // The limits step through the free space, where the writes are cut.
  const Sweep sweep = {
      "adding into free space", {"../data", "*.bin"}, static_cast<rlim_t>(parsed.dir_ofs)};
  const std::optional<Contents> after =
      SweepLimits(sweep, dir_ / "new", [&] { return EveryEntryKept(); });
  ASSERT_TRUE(after);
  EXPECT_TRUE(*after == AddedContents()) << NamesOf(*after);
}

TEST_F(ReliabilityFailingWrites, FailedDeletionLeavesEveryEntry) {
  const Sweep sweep = {"deleting", {"data", "b.bin", "-del"}};
  const std::optional<Contents> after =
      SweepLimits(sweep, dir_.path(), [&] { return EveryEntryKept(); });
  ASSERT_TRUE(after);
  Contents expected = contents_;
  expected.erase("b.bin");
  EXPECT_TRUE(*after == expected) << NamesOf(*after);
  EXPECT_TRUE(xkrf_test::IsFinishedArchive(Archive()));
}

}  // namespace
}  // namespace reliability
