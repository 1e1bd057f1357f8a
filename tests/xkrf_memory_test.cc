// Adding, extracting and compacting stream in pieces: memory does not grow
// with the size of the files.
#include <gtest/gtest.h>

#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

constexpr long kAllowedGrowthKb = 6 * 1024;
// Well over the allowed growth: a run that held the whole file would show.
constexpr size_t kLargeSize = size_t{20} << 20;

// A large file of mixed content: runs that RLE shrinks and noise it cannot.
Bytes LargeFile(size_t n) {
  Bytes out = e2e::RandomBytes(n, 77);
  for (size_t i = 0; i < n; i += 4096) {
    std::fill(out.begin() + static_cast<long>(i),
              out.begin() + static_cast<long>(std::min(n, i + 2048)),
              static_cast<uint8_t>(i >> 12));
  }
  return out;
}

TEST(XkrfMemory, LargeFilesCostNoMoreThanSmallOnes) {
#ifdef KRF_SANITIZED
  GTEST_SKIP() << "peak memory is not measured in sanitizer builds";
#endif
  e2e::ScratchDir dir;
  e2e::WriteFile(dir / "src/small.bin", LargeFile(4096));
  const e2e::RunResult add_small = Xkrf({"small", "src/small.bin"}, dir.path());
  ASSERT_EQ(add_small.exit_code, 0) << add_small.out;

  // The test lets go of its own copy before the runs: a child's peak counts
  // the memory it shared with this process before it started the tool.
  e2e::WriteFile(dir / "src/large.bin", LargeFile(kLargeSize));
  e2e::WriteFile(dir / "src/tiny.bin", Bytes(10, 1));
  const e2e::RunResult add = Xkrf({"big", "src/*.bin"}, dir.path());
  ASSERT_EQ(add.exit_code, 0) << add.out;
  EXPECT_LT(add.max_rss_kb - add_small.max_rss_kb, kAllowedGrowthKb) << "adding";

  e2e::MakeDirs(dir / "out");
  const e2e::RunResult ext = Xkrf({"../big", "src/large.bin", "-ext"}, dir / "out");
  ASSERT_EQ(ext.exit_code, 0) << ext.out;
  EXPECT_LT(ext.max_rss_kb - add_small.max_rss_kb, kAllowedGrowthKb) << "extracting";
  EXPECT_TRUE(e2e::ReadFile(dir / "out/src/large.bin") == LargeFile(kLargeSize));

  const e2e::RunResult del = Xkrf({"big", "src/tiny.bin", "-del"}, dir.path());
  ASSERT_EQ(del.exit_code, 0) << del.out;
  EXPECT_LT(del.max_rss_kb - add_small.max_rss_kb, kAllowedGrowthKb) << "compacting";
  EXPECT_TRUE(IsFinishedArchive(dir / "big.krf"));
}

}  // namespace
}  // namespace xkrf_test
