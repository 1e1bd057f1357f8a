// Runs at the same time: several runs adding to one archive (some of them
// replacing entries, so they compact it and rename a new file over it) all
// succeed in turn and the archive ends with every file; listings and tests
// made meanwhile see a valid archive each time; two archives compacted in
// the same folder at once share the temporary file's name without harm.
#include <atomic>
#include <thread>

#include "reliability_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace reliability {
namespace {

using e2e::ScratchDir;
using xkrf_test::Xkrf;

// The number of rows a run's listing shows, or -1 when its transcript is
// not that of a successful listing.
int ListedRows(const e2e::RunResult& r) {
  const std::string head = xkrf_test::kListHead;
  const size_t start = r.out.find(head);
  if (r.exit_code != 0 || start == std::string::npos) return -1;
  int rows = 0;
  size_t pos = start;
  for (size_t end; (end = r.out.find('\n', pos)) != std::string::npos; pos = end + 1) {
    const std::string line = r.out.substr(pos, end - pos + 1);
    if (line == "finished...\n") return rows;
    if (line != "\n" && head.find(line) == std::string::npos) ++rows;
  }
  return -1;
}

TEST(ReliabilityConcurrency, SimultaneousAddsAllLandWhileListingsSeeAValidArchive) {
  // Where no open file can be renamed over, a compaction closes the old
  // archive before its rename, and a run that opens it in that moment ends
  // the compacting run with an error (both archives whole) instead of
  // waiting its turn.
  if (e2e::UnderWine()) GTEST_SKIP() << "Wine renames no file over one that is open";
  ScratchDir dir;
  Contents expected;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "old" + std::to_string(i) + ".bin";
    e2e::WriteFile(dir / ("base/" + name), Sample(20000, 50 + i, i % 2 == 0));
    expected[name] = e2e::ReadFile(dir / ("base/" + name));
  }
  ASSERT_EQ(Xkrf({"../data", "*.bin"}, dir / "base").exit_code, 0);

  // Six runs of twelve new files each (about 20 MB in all, so the runs
  // overlap); two of them also replace old entries.
  constexpr int kRuns = 6;
  for (int run = 0; run < kRuns; ++run) {
    const std::string folder = dir / ("in" + std::to_string(run));
    for (int i = 0; i < 12; ++i) {
      const std::string name = "r" + std::to_string(run) + "f" + std::to_string(i) + ".bin";
      e2e::WriteFile(folder + "/" + name, Sample(250000 + 1000 * i, 100 * run + i, i % 3 != 0));
      expected[name] = e2e::ReadFile(folder + "/" + name);
    }
    if (run < 2) {
      for (int i = run; i < 8; i += 2) {
        const std::string name = "old" + std::to_string(i) + ".bin";
        e2e::WriteFile(folder + "/" + name, Sample(25000 - 5000 * run, 900 + i, true));
        expected[name] = e2e::ReadFile(folder + "/" + name);
      }
    }
  }

  std::atomic<bool> adding{true};
  std::vector<e2e::RunResult> adds(kRuns);
  std::vector<std::thread> threads;
  for (int run = 0; run < kRuns; ++run) {
    threads.emplace_back([&, run] {
      adds[run] = Xkrf({"../data", "*.bin"}, dir / ("in" + std::to_string(run)));
    });
  }
  int listings = 0;
  std::string bad;
  std::thread watcher([&] {
    while (adding) {
      const e2e::RunResult listed = Xkrf({"data", "-list"}, dir.path());
      const int rows = ListedRows(listed);
      if (rows < 8 || rows > static_cast<int>(expected.size())) bad += listed.out;
      ++listings;
      const e2e::RunResult tested = Xkrf({"data", "-test"}, dir.path());
      if (tested.exit_code != 0 || tested.out.find(" 0 damaged\n") == std::string::npos) {
        bad += tested.out;
      }
    }
  });
  for (std::thread& t : threads) t.join();
  adding = false;
  watcher.join();

  for (int run = 0; run < kRuns; ++run) EXPECT_EQ(adds[run].exit_code, 0) << adds[run].out;
  EXPECT_EQ(bad, "") << "a listing or test during the adds saw a broken archive";
  EXPECT_GT(listings, 0);
  ASSERT_TRUE(xkrf_test::IsFinishedArchive(dir / "data.krf"));
  const Contents live = ReadableLiveContents(dir / "data.krf");
  EXPECT_TRUE(live == expected) << NamesOf(live);
  EXPECT_FALSE(e2e::Exists(dir / xkrf_test::kTempName));
}

TEST(ReliabilityConcurrency, CompactionsOfTwoArchivesInOneFolderDoNotMix) {
  ScratchDir dir;
  const std::vector<std::string> archives = {"one", "two"};
  std::map<std::string, Contents> expected;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Every round replaces all entries of both archives, so both compact.
    for (size_t a = 0; a < archives.size(); ++a) {
      for (int i = 0; i < 5; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        const std::string path = dir / ("src-" + archives[a] + "/" + name);
        e2e::WriteFile(path, Sample(40000 - 3000 * static_cast<size_t>(round + i),
                                    static_cast<uint32_t>(1000 * a + 10 * round + i), i != 2));
        expected[archives[a]][name] = e2e::ReadFile(path);
      }
    }
    std::vector<e2e::RunResult> results(archives.size());
    std::vector<std::thread> threads;
    for (size_t a = 0; a < archives.size(); ++a) {
      threads.emplace_back([&, a] {
        results[a] = Xkrf({"../" + archives[a], "*.bin"}, dir / ("src-" + archives[a]));
      });
    }
    for (std::thread& t : threads) t.join();
    for (size_t a = 0; a < archives.size(); ++a) {
      EXPECT_EQ(results[a].exit_code, 0) << results[a].out;
      const std::string path = dir / (archives[a] + ".krf");
      ASSERT_TRUE(xkrf_test::IsFinishedArchive(path));
      EXPECT_TRUE(ReadableLiveContents(path) == expected[archives[a]]) << archives[a];
    }
    EXPECT_FALSE(e2e::Exists(dir / xkrf_test::kTempName));
  }
}

}  // namespace
}  // namespace reliability
