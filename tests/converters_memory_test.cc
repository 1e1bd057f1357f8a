// The converters read an image a block of rows at a time: memory does not
// grow with the size of the texture or lump.
#include <gtest/gtest.h>

#include "converters_support.h"

namespace convtest {
namespace {

constexpr long kAllowedGrowthKb = 4 * 1024;

class ConverterMemory : public ConverterTest {
 protected:
  ConverterMemory() : ConverterTest(TEXSNAP_BIN, 5) {}
};

TEST_F(ConverterMemory, LargeTextureCostsNoMoreThanASmallOne) {
#ifdef KRF_SANITIZED
  GTEST_SKIP() << "peak memory is not measured in sanitizer builds";
#endif
  e2e::MakeDirs(dir_ / "textures");
  const Image small = TestImage(8, 8, 1);
  e2e::WriteFile(dir_ / "a.wal", WalFile(small.width, small.height, small.pixels));
  const e2e::RunResult baseline = Run({});
  ASSERT_EQ(baseline.exit_code, 0) << baseline.out;

  // 16 MiB of pixels, more than the allowed growth several times over. The
  // test lets go of its own copy before the run: a child's peak counts the
  // memory it shared with this process before it started the tool.
  {
    const Image large = TestImage(4096, 4096, 2);
    e2e::WriteFile(dir_ / "a.wal", WalFile(large.width, large.height, large.pixels));
  }
  const e2e::RunResult r = Run({});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_LT(r.max_rss_kb - baseline.max_rss_kb, kAllowedGrowthKb)
      << "peak " << r.max_rss_kb << " KiB against " << baseline.max_rss_kb << " KiB";
  ExpectPcx(dir_ / "textures/a.pcx", TestImage(4096, 4096, 2), palette_);
}

}  // namespace
}  // namespace convtest
