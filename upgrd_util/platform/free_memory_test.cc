#include "upgrd_util/platform/free_memory.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/test_support.h"

namespace {

// The program started again is this test binary running this test alone;
// there it only writes down what it was started with.
const char kSeenFile[] = "UPGRD_TEST_TUNABLES_SEEN";

// Calls limit_thread_caches in a child with GLIBC_TUNABLES as `given`
// (nullptr: unset). Returns what the program started again saw, or
// "<not started again>".
std::string TunablesStartedWith(const char* given, const std::string& seen) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv(kSeenFile, seen.c_str(), 1);
    if (given)
      setenv("GLIBC_TUNABLES", given, 1);
    else
      unsetenv("GLIBC_TUNABLES");
    char self[] = "upgrd_tests";
    char filter[] = "--gtest_filter=ThreadCacheTest.*";
    char* argv[] = {self, filter, nullptr};
    limit_thread_caches(argv);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::string text = ReadFile(seen);
  return text == "<missing>" ? "<not started again>" : text;
}

TEST(ThreadCacheTest, TheProgramStartsAgainOnceWithTheCacheLimited) {
  if (const char* seen = getenv(kSeenFile)) {
    const char* tunables = getenv("GLIBC_TUNABLES");
    ASSERT_TRUE(WriteFile(seen, tunables ? tunables : "<unset>"));
    return;
  }
  ScopedTempDir dir;
  std::string seen = dir.path + "/seen";
  EXPECT_EQ("glibc.malloc.tcache_max=256", TunablesStartedWith(nullptr, seen));
  unlink(seen.c_str());
  // The operator's own settings are kept beside it...
  EXPECT_EQ("glibc.malloc.arena_max=4:glibc.malloc.tcache_max=256",
            TunablesStartedWith("glibc.malloc.arena_max=4", seen));
  unlink(seen.c_str());
  // ... and a cache limit of theirs holds, without a second start.
  EXPECT_EQ("<not started again>",
            TunablesStartedWith("glibc.malloc.tcache_max=64", seen));
}

}  // namespace
