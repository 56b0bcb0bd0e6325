#include "upgrd_util/output/grouped_sync.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A call alone is synced at once; later calls share a sync that follows
// the last one by 100 ms, and none returns before a sync that started after
// it was made, also when it came while one was under way.
TEST(GroupedSyncTest, CallsCloseTogetherShareOneSyncAndNoneReturnsBefore) {
  std::atomic<int> syncs{0};
  std::atomic<long long> last_start{0};
  GroupedSync group(
      [&](std::string*) {
        ++syncs;
        last_start = steady_clock::now().time_since_epoch().count();
        std::this_thread::sleep_for(milliseconds(20));
        return true;
      },
      milliseconds(100));
  std::string reason;
  steady_clock::time_point start = steady_clock::now();
  ASSERT_TRUE(group.Sync(&reason));
  EXPECT_EQ(1, syncs);
  EXPECT_LT(steady_clock::now() - start, milliseconds(60));

  // Calls over 160 ms, some while the second sync is under way.
  const int kCalls = 40;
  std::atomic<int> covered{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kCalls; ++i) {
    threads.emplace_back([&, i] {
      std::this_thread::sleep_for(milliseconds(4 * i));
      long long called = steady_clock::now().time_since_epoch().count();
      std::string why;
      if (group.Sync(&why) && last_start >= called)
        ++covered;
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(kCalls, covered);
  // At 100 and 200 ms, and one to spare for a machine that stalls; a sync
  // for each turn would be eight.
  EXPECT_LE(syncs, 4);
}

}  // namespace
