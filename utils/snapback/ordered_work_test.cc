// OrderedWork at its edges: memory that runs out while its workers start,
// and a taker that asks for more results than there are jobs.
#include "snapback/ordered_work.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "failing_allocation.h"

namespace snapback {
namespace {

// Whichever allocation of the start-up fails, the constructor throws
// std::bad_alloc with no worker left running (a running one would end the
// process when its std::thread is destroyed), or it has started and does
// every job.
TEST(OrderedWork, OutOfMemoryWhileStartingEndsCleanly) {
  bool started = false;
  for (int nth = 1; !started && nth < 100; ++nth) {
    failing_allocation::FailNthHere(nth);
    try {
      OrderedWork<size_t> work(20, 4, [](size_t job, size_t) { return job + 1; });
      started = !failing_allocation::Fired();
      failing_allocation::Reset();
      for (size_t job = 0; job < 20; ++job) EXPECT_EQ(work.TakeNext(), job + 1);
    } catch (const std::bad_alloc&) {
      failing_allocation::Reset();
      EXPECT_TRUE(failing_allocation::Fired()) << nth;
    }
  }
  EXPECT_TRUE(started);
}

// With workers the extra call would wait for a result that never comes;
// without, it would run a job that does not exist.
TEST(OrderedWork, TakingPastTheLastJobIsAnError) {
  for (const size_t threads : {1, 3}) {
    OrderedWork<size_t> work(2, threads, [](size_t job, size_t) { return job; });
    EXPECT_EQ(work.TakeNext(), 0u);
    EXPECT_EQ(work.TakeNext(), 1u);
    EXPECT_THROW(work.TakeNext(), std::logic_error) << threads;
  }
}

}  // namespace
}  // namespace snapback
