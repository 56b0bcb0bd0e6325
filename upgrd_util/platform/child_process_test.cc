#include "upgrd_util/platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Real children through the real seam, each bounded to well under a second
// of its own.
TEST(ChildProcessTest, RunsBoundsAndEndsRealChildren) {
  ScopedTempDir dir;
  // The tool's threads block the interrupts and it ignores SIGPIPE; the
  // child must have neither.
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  signal(SIGINT, SIG_IGN);
  struct Case {
    const char* name;
    std::vector<std::string> argv;
    std::string input;
    double seconds;
    size_t bound;
    bool ok;
    std::string reason;
    std::string output;
    size_t dropped;
  };
  const std::string big(1 << 20, 'x');
  // A descriptor of ours open without O_CLOEXEC, as a library might leave.
  int ours = open("/dev/null", O_RDONLY);
  ASSERT_GE(ours, 3);
  std::string ours_seen =
      "test -e /proc/$$/fd/" + std::to_string(ours) + " && echo ours; exit 0";
  const Case cases[] = {
      {"its output and error, in order", {"sh", "-c", "cat; echo e >&2"},
       "{}\n", 5, 1024, true, "", "{}\ne\n", 0},
      {"a failing exit", {"sh", "-c", "echo no; exit 3"}, "", 5, 1024,
       false, "exited with code 3", "no\n", 0},
      {"output beyond the bound", {"sh", "-c", "printf 0123456789abcdef"},
       "", 5, 10, true, "", "0123456789", 6},
      {"a program that is not there", {"no-such-program-here"}, "", 5, 1024,
       false, "could not be started: No such file or directory",
       "", 0},
      {"a child that never reads its input", {"sh", "-c", "sleep 0.1"}, big,
       5, 1024, false, "did not take its standard input", "", 0},
      {"default signals, none blocked", {"sh", "-c", "kill -INT $$; echo on"},
       "", 5, 1024, false, "was ended by signal 2", "", 0},
      {"none of our descriptors", {"sh", "-c", ours_seen}, "", 5, 1024,
       true, "", "", 0},
      // Its group, TERM ignored: the grandchild would touch `late` after the
      // limit if KILL did not reach the whole group.
      {"the whole group ended at the limit",
       {"sh", "-c", "trap '' TERM; echo up; (sleep 0.6; touch late) & sleep 5"},
       "", 0.3, 1024, false, "was ended after 0.3 s", "up\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChildLimits limits;
    limits.seconds = c.seconds;
    limits.grace_seconds = 0.1;
    limits.output_bytes = c.bound;
    ChildResult result;
    std::string reason;
    EXPECT_EQ(c.ok, run_child(c.argv, c.input, limits, &result, &reason));
    EXPECT_EQ(c.reason, reason);
    EXPECT_EQ(c.output, result.output);
    EXPECT_EQ(c.dropped, result.dropped);
    EXPECT_LT(result.seconds, c.seconds + 0.5);
  }
  close(ours);
  // Cut short from outside before its time, as the event hook does once
  // the cards have ended.
  std::atomic<bool> cut{true};
  ChildLimits limits;
  limits.grace_seconds = 0.1;
  limits.cut = &cut;
  ChildResult result;
  std::string reason;
  EXPECT_FALSE(run_child({"sleep", "5"}, "", limits, &result, &reason));
  EXPECT_EQ(0u, reason.find("was cut short after ")) << reason;
  EXPECT_LT(result.seconds, 2);
  usleep(600 * 1000);
  EXPECT_NE(0, access("late", F_OK));
  signal(SIGINT, SIG_DFL);
  pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
}

TEST(ChildProcessTest, FindsWhatExecvpWould) {
  ScopedTempDir dir;
  ASSERT_TRUE(WriteFile("plain", "#!/bin/sh\n"));
  std::string path, reason;
  EXPECT_TRUE(find_program("sh", &path, &reason));
  EXPECT_EQ('/', path[0]);
  EXPECT_FALSE(find_program("./plain", &path, &reason));
  EXPECT_EQ("./plain: Permission denied", reason);
  EXPECT_FALSE(find_program("no-such-program-here", &path, &reason));
  EXPECT_EQ("no program no-such-program-here in PATH", reason);
}

}  // namespace
