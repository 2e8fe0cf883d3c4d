#include "platform/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace wz::platform {
namespace {

TEST(WorkerPoolStretches, EveryPartRunsOnceAndAFailedPartAgainOnTheCaller) {
  for (size_t count : {0u, 1u, 2u, 7u, 64u}) {
    SCOPED_TRACE(count);
    auto runs = std::make_unique<std::atomic<int>[]>(count + 1);
    RunParts(count, [&](size_t k) { ++runs[k]; });
    for (size_t k = 0; k < count; ++k)
      EXPECT_EQ(runs[k], 1) << "part " << k;

    // Part count / 2 fails the first time it runs, wherever that is; the run again completes it.
    if (count == 0) continue;
    auto done = std::make_unique<std::atomic<int>[]>(count);
    std::atomic<int> failures{0};
    RunParts(count, [&](size_t k) {
      if (k == count / 2 && failures++ == 0) throw std::runtime_error("first try");
      ++done[k];
    });
    EXPECT_EQ(failures, 2);
    for (size_t k = 0; k < count; ++k)
      EXPECT_EQ(done[k], 1) << "part " << k;
  }
  // A part that fails again on the caller makes the whole run fail, after every part has ended.
  std::atomic<int> ended{0};
  EXPECT_THROW(RunParts(8,
                        [&](size_t k) {
                          if (k == 3) throw std::runtime_error("always");
                          ++ended;
                        }),
               std::runtime_error);
  EXPECT_EQ(ended, 7);
}

}  // namespace
}  // namespace wz::platform
