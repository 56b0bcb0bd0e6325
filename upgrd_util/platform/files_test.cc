#include "upgrd_util/platform/files.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

TEST(FilesTest, NoCoreFileAndNoDumpableMemory) {
  EXPECT_EXIT(
      {
        forbid_core_dumps();
        struct rlimit core;
        bool none = getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 &&
                    core.rlim_max == 0;
        _exit(none && prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// A card's lock file is there while its card is held and gone once it is
// let go; a second holder is refused meanwhile.
TEST(FilesTest, ACardsLockFileIsGoneOnceTheCardIsLetGo) {
  std::string path = card_lock_path("192.0.2.201");
  FileLock lock, again;
  bool busy = false;
  ASSERT_TRUE(lock_card("192.0.2.201", &lock, &busy));
  EXPECT_EQ(0, access(path.c_str(), F_OK));
  EXPECT_FALSE(lock_card("192.0.2.201", &again, &busy));
  EXPECT_TRUE(busy);
  lock.Release();
  EXPECT_NE(0, access(path.c_str(), F_OK));
}

// Threads take and let go of one lock as fast as they can: one that opened
// the file just before its holder removed it never holds it beside the one
// that made it anew.
TEST(FilesTest, ALockFileIsNeverHeldTwiceAsItIsLetGo) {
  ScopedTempDir dir;
  std::string path = dir.path + "/card.lock";
  std::atomic<int> holders{0}, twice{0}, taken{0};
  auto take_turns = [&] {
    for (int i = 0; i < 10000; ++i) {
      FileLock lock;
      bool busy = false;
      std::string reason;
      if (!lock.Take(path, &busy, &reason))
        continue;
      if (++holders > 1)
        ++twice;
      sched_yield();
      --holders;
      ++taken;
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back(take_turns);
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(0, twice.load());
  EXPECT_GT(taken.load(), 0);
  EXPECT_NE(0, access(path.c_str(), F_OK));
}

}  // namespace
