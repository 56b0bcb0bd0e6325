#include "upgrd_util/campaign/card_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct Tally : public PoolEvents {
  void CardStarted(upgrade_target*) override {}
  void CardEnded(upgrade_target*, CardOutcome, double) override { ++ended; }
  void StartingStopped(StopReason, int, int) override {}
  void WorkersShort(int started, int) override { threads = started; }
  void Tick(bool) override {}
  std::atomic<int> ended{0};
  int threads = -1;
};

CardOutcome Upgraded(upgrade_target*) {
  usleep(1000);
  return OUTCOME_UPGRADED;
}

// Twenty cards, ten at a time, for a user who may run three threads more:
// the threads that could be had take every card in turn.
void RunWithFewThreads() {
  struct rlimit few = {3, 3};
  if (setrlimit(RLIMIT_NPROC, &few) != 0 || setgid(65534) != 0 ||
      setuid(65534) != 0)
    _exit(3);
  std::vector<upgrade_target> cards(20);
  std::vector<upgrade_target*> order;
  for (upgrade_target& card : cards)
    order.push_back(&card);
  Tally tally;
  CardPool pool(order, 10, 0, Upgraded, &tally);
  pool.Run(10);
  _exit(tally.ended == 20 && tally.threads > 0 && tally.threads < 10 ? 0 : 1);
}

struct CardPoolTest : public ProgramTest {};

TEST_F(CardPoolTest, ThreadsTheSystemRefusesNeverEndTheRun) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to become a user with a process limit";
  EXPECT_EXIT(RunWithFewThreads(), testing::ExitedWithCode(0), "");
}

}  // namespace
