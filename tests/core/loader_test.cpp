// The loader thread's start and stop protocol.
#include "core/loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "platform/text.h"

namespace wz {
namespace {

using platform::Utf8ToCp932;

struct Lines {
  std::mutex mutex;
  std::vector<std::string> lines;
  DataLoader::LogFn Fn() {
    return [this](const char* l) {
      std::lock_guard lock(mutex);
      lines.push_back(l);
    };
  }
};

TEST(DataLoader, StopLogsTwiceOnceAndEnds) {
  Lines log;
  DataLoader loader;
  loader.Start([](const LoadRequest&) {}, log.Fn());
  EXPECT_EQ(loader.State(), LoaderState::Running);
  loader.Stop();
  EXPECT_EQ(loader.State(), LoaderState::Ended);
  loader.Stop();
  EXPECT_EQ(log.lines, (std::vector<std::string>{Utf8ToCp932("LibDataLoader 終了待ち"),
                                                 Utf8ToCp932("LibDataLoader 終了")}));
}

TEST(DataLoader, SecondStartAndFailedStartAreLogged) {
  Lines log;
  DataLoader loader;
  loader.Start([](const LoadRequest&) {}, log.Fn());
  loader.Start([](const LoadRequest&) {}, log.Fn());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], Utf8ToCp932("*** エラー *** 既にHANDLE作成済み"));
  loader.Stop();

  Lines failed;
  DataLoader broken;
  broken.FailNextStartForTesting();
  broken.Start([](const LoadRequest&) {}, failed.Fn());
  EXPECT_EQ(broken.State(), LoaderState::NotStarted);
  ASSERT_EQ(failed.lines.size(), 1u);
  EXPECT_EQ(failed.lines[0], Utf8ToCp932("*** エラー *** スレッド作成"));
}

TEST(DataLoader, ProcessesRequestsInOrderAndDropsTheRestAtStop) {
  Lines log;
  std::mutex mutex;
  std::vector<int> seen;
  DataLoader loader;
  loader.Start(
      [&](const LoadRequest& r) {
        std::lock_guard lock(mutex);
        seen.push_back(r.slotId);
      },
      log.Fn());
  for (int i = 0; i < 50; ++i) {
    LoadRequest r;
    r.slotId = i;
    loader.Enqueue(r);
  }
  loader.Stop();
  std::lock_guard lock(mutex);
  for (size_t i = 0; i < seen.size(); ++i)
    EXPECT_EQ(seen[i], static_cast<int>(i));
  EXPECT_EQ(loader.QueuedCount(), 0u);
}

TEST(DataLoader, AnExceptionEndsOnlyItsRequestAndStoppedLoadersQueueNothing) {
  Lines log;
  std::mutex mutex;
  std::condition_variable done;
  std::vector<int> seen;
  DataLoader loader;
  loader.Start(
      [&](const LoadRequest& r) {
        if (r.slotId == 0) throw std::bad_alloc();
        std::lock_guard lock(mutex);
        seen.push_back(r.slotId);
        done.notify_all();
      },
      log.Fn());
  for (int i = 0; i < 2; ++i) {
    LoadRequest r;
    r.slotId = i;
    EXPECT_TRUE(loader.Enqueue(r));
  }
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(10), [&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<int>{1});
  }
  EXPECT_EQ(loader.State(), LoaderState::Running);
  loader.Stop();
  EXPECT_FALSE(loader.Enqueue(LoadRequest{}));
  EXPECT_EQ(loader.QueuedCount(), 0u);
}

TEST(WorkerSlots, IdleSlotsHaveNothingToStop) {
  WorkerSlots slots;
  std::vector<std::string> lines;
  slots.Stop([&](const char* l) { lines.push_back(l); });
  EXPECT_TRUE(lines.empty());
  slots[3].state = LoaderState::Running;
  slots.Stop([&](const char* l) { lines.push_back(l); });
  EXPECT_EQ(lines, (std::vector<std::string>{Utf8ToCp932("スレッド 3 終了待ち"),
                                             Utf8ToCp932("スレッド 3 終了")}));
  EXPECT_EQ(slots[3].state, LoaderState::Ended);
}

}  // namespace
}  // namespace wz
