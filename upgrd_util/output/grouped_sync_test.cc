#include "upgrd_util/output/grouped_sync.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Calls one after another each sync at once: none waits for a time to pass.
// Thirty of them take microseconds; a wait of even 100 ms each would take
// three seconds, far beyond the bound a machine at load 20 still keeps.
TEST(GroupedSyncTest, ALoneCallSyncsAtOnce) {
  int syncs = 0;
  GroupedSync group([&](std::string*) {
    ++syncs;
    return true;
  });
  std::chrono::steady_clock::time_point start =
      std::chrono::steady_clock::now();
  for (int i = 1; i <= 30; ++i) {
    std::string reason;
    ASSERT_TRUE(group.Sync(&reason));
    EXPECT_EQ(i, syncs);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// While a sync is under way, every call waits for the next, and all of them
// share it, which starts once they are all waiting (the test holds the first
// sync until then, so no timing decides it). A failed sync fails every call
// it covered.
TEST(GroupedSyncTest, CallsDuringASyncShareTheNextAndItsResult) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  int started = 0;  // syncs that began
  GroupedSync group([&](std::string* reason) {
    std::unique_lock<std::mutex> lock(mutex);
    if (++started == 1) {
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
      return true;
    }
    *reason = "No space left on device";
    return false;
  });
  std::string reason;
  bool first_ok = false;
  std::thread first([&] { first_ok = group.Sync(&reason); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return started == 1; });
  }
  const int kCalls = 20;
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kCalls; ++i) {
    threads.emplace_back([&] {
      std::string why;
      if (!group.Sync(&why) && why == "No space left on device")
        ++failed;
    });
  }
  // Bounded: a minute for twenty threads to call.
  for (int i = 0; i < 60000 && group.calls() < kCalls + 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(kCalls + 1u, group.calls());
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  first.join();
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_TRUE(first_ok);
  EXPECT_EQ(2, started);
  EXPECT_EQ(kCalls, failed);
}

}  // namespace
