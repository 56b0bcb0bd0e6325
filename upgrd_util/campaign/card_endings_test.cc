#include "upgrd_util/campaign/card_endings.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Cards end on their own threads, many at once: each end is counted once,
// whatever ends beside it.
TEST(CardEndingsTest, CardsEndingTogetherAreEachCountedOnce) {
  const int kThreads = 8;
  const int kEach = 2000;
  CardEndings endings;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&endings, t] {
      for (int i = 0; i < kEach; ++i) {
        upgrade_target card = {};
        // Of every four: upgraded in wave 1, a failed ZEL load in wave 2,
        // and two never run.
        bool ran = i % 4 < 2;
        set_card_end(&card, i % 4 == 0   ? OUTCOME_UPGRADED
                            : i % 4 == 1 ? OUTCOME_OS_LOAD_FAILED
                                         : OUTCOME_NOT_STARTED);
        card.state.wave = ran ? 1 + i % 4 : 0;
        card.state.zel_attempts = ran;
        card.state.tries = 1;
        endings.Add(card, ran, 10 + t);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const int kQuarter = kThreads * kEach / 4;
  EXPECT_EQ((OutcomeCounts{{OUTCOME_UPGRADED, kQuarter},
                           {OUTCOME_OS_LOAD_FAILED, kQuarter},
                           {OUTCOME_NOT_STARTED, 2 * kQuarter}}),
            endings.All());
  EXPECT_EQ(kQuarter, endings.succeeded());
  EXPECT_EQ(kQuarter, endings.failed());
  EXPECT_EQ(2 * kQuarter, endings.loads());
  EXPECT_EQ(kQuarter, endings.load_failures());
  OutcomeCounts ran;
  CardEndings::Wave second = endings.WaveOf(2, &ran);
  EXPECT_EQ((OutcomeCounts{{OUTCOME_OS_LOAD_FAILED, kQuarter}}),
            second.ended);
  EXPECT_EQ((OutcomeCounts{{OUTCOME_UPGRADED, kQuarter},
                           {OUTCOME_OS_LOAD_FAILED, kQuarter}}),
            ran);
}

}  // namespace
