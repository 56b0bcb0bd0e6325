#include "upgrd_util/campaign/card_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/test_doubles.h"

namespace {

// A clock that runs a thousand times as fast as the real one, as the
// tool's fast-clock build does, so that what the pool's own thread does
// takes next to no time of it; cards sleep on several threads at once.
struct SharedFakeClock : public Clock {
  void SleepMs(int milliseconds) override {
    if (milliseconds > 0)
      usleep(milliseconds);
  }
  void WaitFor(std::condition_variable* wake,
               std::unique_lock<std::mutex>* lock, int milliseconds) override {
    longest_wait_ms = std::max(longest_wait_ms.load(), milliseconds);
    wake->wait_for(*lock, std::chrono::microseconds(milliseconds));
  }
  bool LocalTime(struct tm*) override { return false; }
  double Seconds() override { return (MonotonicSeconds() - start) * 1000; }
  const double start = MonotonicSeconds();
  // What the pool waited for on this clock, so that a test tells a wait
  // from a busy machine's slowness.
  std::atomic<int> longest_wait_ms{0};
};

// What the pool told, one line each: "start 2", "retry 1", "wave 1", ...
struct Told : public PoolEvents {
  void CardStarted(upgrade_target* card) override {
    Add("start " + std::string(card->ip));
  }
  void CardEnded(upgrade_target* card, CardOutcome outcome, double) override {
    Add("end " + std::string(card->ip) + " " + outcome_words(outcome).word);
  }
  void CardRetried(upgrade_target* card, CardOutcome, double,
                   double) override {
    Add("retry " + std::string(card->ip));
  }
  void RetryDropped(upgrade_target* card, const std::string& why) override {
    Add("dropped " + std::string(card->ip) + ": " + why);
  }
  void StartingStopped(const Stop& stop, int) override {
    Add("stop: " + stop_reason_text(stop));
  }
  void StartingPaused(bool paused, int) override {
    Add(paused ? "paused" : "resumed");
  }
  void WorkersShort(int started, int) override { threads = started; }
  void WaveEnded(int number, int) override {
    Add("wave " + std::to_string(number));
  }
  bool NextWave(int, int, size_t) override { return go_on; }
  void Tick(bool) override {}

  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines += line + "\n";
  }
  std::mutex mutex;
  std::string lines;
  int threads = -1;
  bool go_on = true;
};

// Cards "1", "2", ... for the pool.
struct Cards {
  explicit Cards(size_t count) : cards(count) {
    for (size_t i = 0; i < count; ++i) {
      snprintf(cards[i].ip, sizeof(cards[i].ip), "%zu", i + 1);
      order.push_back(&cards[i]);
    }
  }
  std::vector<upgrade_target> cards;
  std::vector<upgrade_target*> order;
};

struct CardPoolTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    Platform seams = platform();
    seams.clock = &shared_clock;
    install_platform(seams);
  }
  SharedFakeClock shared_clock;
};

TEST_F(CardPoolTest, RetriesWaitBesideTheNextWaveInsteadOfHoldingIt) {
  Cards cards(3);
  Told told;
  RolloutSettings settings;
  settings.retries = 1;
  RolloutRules rules(settings, &shared_clock);
  // Card 1 is dark at first; the others take a minute each.
  CardPool pool(cards.order, {1, 2}, 1,
                [this](upgrade_target* card) {
                  if (card->ip[0] == '1')
                    return card->state.tries == 1 ? OUTCOME_UNRESPONSIVE
                                                  : OUTCOME_UPGRADED;
                  shared_clock.SleepMs(60000);
                  return OUTCOME_UPGRADED;
                },
                &rules, &told);
  pool.Run(1);
  EXPECT_EQ(
      "start 1\nretry 1\nwave 1\nstart 2\nend 2 upgraded\nstart 3\n"
      "end 3 upgraded\nwave 2\nstart 1\nend 1 upgraded\n",
      told.lines);
  EXPECT_TRUE(pool.NeverStarted().empty());
}

TEST_F(CardPoolTest, ARetryTheWindowForbidsEndsItsCardWithoutWaiting) {
  Cards cards(2);
  Told told;
  RolloutSettings settings;
  settings.retries = 3;
  settings.windowed = true;
  settings.modules.app_wait = 180;  // 200 s on the APP's path
  settings.window_end = 400;
  RolloutRules rules(settings, &shared_clock);
  CardPool pool(
      cards.order, {2}, 1,
      [](upgrade_target* card) {
        return card->ip[0] == '1' ? OUTCOME_LOGIN_FAILED : OUTCOME_UPGRADED;
      },
      &rules, &told);
  pool.Run(1);
  EXPECT_NE(std::string::npos,
            told.lines.find("dropped 1: Not tried again: the window ends "
                            "before another try could.\nend 1 login_failed\n"))
      << told.lines;
  // No wait for a retry: five minutes of the clock were never asked for.
  EXPECT_LT(shared_clock.longest_wait_ms, 60000);
}

// A card may run longer than a card is taken to: the window it outlives
// starts nothing after it, and it ends as it would have.
TEST_F(CardPoolTest, ACardThatOutlivesTheWindowEndsAndNothingStartsAfter) {
  Cards cards(3);
  Told told;
  RolloutSettings settings;
  settings.windowed = true;
  settings.modules.app_wait = 80;  // 100 s on the APP's path
  settings.window_end = shared_clock.Seconds() + 300;
  RolloutRules rules(settings, &shared_clock);
  CardPool pool(cards.order, {3}, 1,
                [this](upgrade_target*) {
                  shared_clock.SleepMs(400000);
                  return OUTCOME_UPGRADED;
                },
                &rules, &told);
  pool.Run(1);
  EXPECT_EQ("start 1\nend 1 upgraded\nstop: window ended\n", told.lines);
  EXPECT_EQ(2u, pool.NeverStarted().size());
}

// The last wave is weighed on its own cards too, however few: its failed
// load stops the retry an earlier wave still waits for.
TEST_F(CardPoolTest, TheLastWavesOwnRateStopsARetryStillWaiting) {
  Cards cards(2);
  Told told;
  RolloutSettings settings;
  settings.max_rate = 10;
  settings.retries = 6;
  RolloutRules rules(settings, &shared_clock);
  // Card 1's next try would come an hour later, long after card 2.
  cards.cards[0].state.tries = 4;
  CardPool pool(cards.order, {1, 1}, 1,
                [](upgrade_target* card) {
                  if (card->ip[0] == '1')
                    return OUTCOME_UNRESPONSIVE;
                  card->state.zel_attempts = 1;
                  return OUTCOME_OS_LOAD_FAILED;
                },
                &rules, &told);
  pool.Run(1);
  EXPECT_EQ(
      "start 1\nretry 1\nwave 1\nstart 2\nend 2 os_load_failed\nwave 2\n"
      "stop: the module failure rate went above 10%\n"
      "dropped 1: Not tried again: no further card was started (the module "
      "failure rate went above 10%).\nend 1 unresponsive\n",
      told.lines);
}

TEST_F(CardPoolTest, TheLastWaveStopsOnceTheRateIsExceeded) {
  // Three good cards, then nine whose module never installs, in waves of
  // 1, 2 and the rest: the last wave has its brake too.
  Cards cards(12);
  Told told;
  RolloutSettings settings;
  settings.max_rate = 10;
  RolloutRules rules(settings, &shared_clock);
  std::atomic<int> loaded{0};
  CardPool pool(cards.order, {1, 2, 9}, 1,
                [&loaded](upgrade_target* card) {
                  ++loaded;
                  card->state.zel_attempts = 1;
                  return atoi(card->ip) <= 3 ? OUTCOME_UPGRADED
                                             : OUTCOME_OS_LOAD_FAILED;
                },
                &rules, &told);
  pool.Run(1);
  EXPECT_EQ(5, loaded);
  EXPECT_EQ(7u, pool.NeverStarted().size());
  EXPECT_NE(std::string::npos,
            told.lines.find("stop: the module failure rate went above 10%\n"))
      << told.lines;
}

TEST_F(CardPoolTest, NoAnswerBetweenWavesLeavesTheRestNotStarted) {
  Cards cards(3);
  Told told;
  told.go_on = false;
  RolloutSettings settings;
  RolloutRules rules(settings, &shared_clock);
  CardPool pool(cards.order, {1, 2}, 3,
                [](upgrade_target*) { return OUTCOME_UPGRADED; }, &rules,
                &told);
  pool.Run(1);
  EXPECT_EQ("start 1\nend 1 upgraded\nwave 1\nstop: stopped after wave 1\n",
            told.lines);
  ASSERT_EQ(2u, pool.NeverStarted().size());
  EXPECT_EQ(&cards.cards[1], pool.NeverStarted()[0]);
}

// Card 1 pauses the pool as it runs, a minute long; once it has ended
// the pool is held paused for a while of the clock, then resumed or
// stopped by the stop file. Starting waits, the running card does not, and
// the window counts on: a pause beyond it ends the night before the resume.
TEST_F(CardPoolTest, APauseHoldsStartingButNotTheRunningCardsNorTheWindow) {
  struct {
    int hold_ms;
    bool stop_file;     // else resumed
    double window_end;  // 0: no window
    const char* told;
  } cases[] = {
      {300000, false, 0,
       "start 1\npaused\nend 1 upgraded\nresumed\nstart 2\nend 2 upgraded\n"
       "start 3\nend 3 upgraded\n"},
      {300000, true, 0, "start 1\npaused\nend 1 upgraded\nstop: stop file\n"},
      // Closed for further cards at 200 s, while paused.
      {500000, false, 300,
       "start 1\npaused\nend 1 upgraded\nstop: window ended\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    Cards cards(3);
    Told told;
    RolloutSettings settings;
    settings.windowed = c.window_end > 0;
    settings.window_end = shared_clock.Seconds() + c.window_end;
    settings.modules.app_wait = 80;  // 100 s on the APP's path
    RolloutRules rules(settings, &shared_clock);
    CardPool* running = nullptr;
    CardPool pool(cards.order, {3}, 1,
                  [this, &running](upgrade_target* card) {
                    if (card->ip[0] == '1')
                      running->Pause(true);
                    shared_clock.SleepMs(60000);
                    return OUTCOME_UPGRADED;
                  },
                  &rules, &told);
    running = &pool;
    std::thread outside([&] {
      // Bounded: card 1 ends within a second of the clock's minute.
      for (int i = 0; i < 2000; ++i) {
        {
          std::lock_guard<std::mutex> lock(told.mutex);
          if (told.lines.find("end 1") != std::string::npos)
            break;
        }
        usleep(1000);
      }
      shared_clock.SleepMs(c.hold_ms);
      if (c.stop_file)
        pool.StopFileFound();
      else
        pool.Pause(false);
    });
    pool.Run(1);
    outside.join();
    EXPECT_EQ(c.told, told.lines);
  }
}

CardOutcome Upgraded(upgrade_target*) {
  usleep(1000);
  return OUTCOME_UPGRADED;
}

// Twenty cards, ten at a time, for a user who may run three threads more
// (ThreadSanitizer takes one of them): the threads that could be had take
// every card in turn.
void RunWithFewThreads() {
  // The limit counts every process of the user: a user of its own, not
  // nobody, whom tests running beside this one may be.
  uid_t own = static_cast<uid_t>(40000 + getpid() % 20000);
  struct rlimit few = {4, 4};
  if (setrlimit(RLIMIT_NPROC, &few) != 0 || setgid(own) != 0 ||
      setuid(own) != 0)
    _exit(3);
  Cards cards(20);
  Told told;
  FakeClock clock;
  RolloutRules rules(RolloutSettings(), &clock);
  CardPool pool(cards.order, {20}, 10, Upgraded, &rules, &told);
  pool.Run(10);
  _exit(Occurrences(told.lines, " upgraded\n") == 20 && told.threads > 0 &&
                told.threads < 10
            ? 0
            : 1);
}

// Six cards, three at a time, the system giving fewer threads: those it
// gives take every card in turn; with none, no card starts, for that reason.
TEST_F(CardPoolTest, AThreadThatCannotStartLeavesTheNightWhole) {
  struct Case {
    int give;
    FakeThreadStarter::How how;
    int upgraded;
  } cases[] = {
      {1, FakeThreadStarter::REFUSE, 6},
      {2, FakeThreadStarter::THROW_SYSTEM_ERROR, 6},
      {1, FakeThreadStarter::THROW_BAD_ALLOC, 6},
      {0, FakeThreadStarter::REFUSE, 0},
      {0, FakeThreadStarter::THROW_BAD_ALLOC, 0},
  };
  for (const Case& c : cases) {
    Cards cards(6);
    Told told;
    FakeClock clock;
    RolloutRules rules(RolloutSettings(), &clock);
    FakeThreadStarter starter(c.give, c.how);
    CardPool pool(cards.order, {6}, 3, Upgraded, &rules, &told);
    pool.StartThreadsWith(&starter);
    pool.Run(1);
    EXPECT_EQ(c.give, told.threads) << c.give << " " << c.how;
    EXPECT_EQ(c.upgraded, Occurrences(told.lines, " upgraded\n"))
        << c.give << " " << c.how;
    EXPECT_EQ(6u - c.upgraded, pool.NeverStarted().size());
    EXPECT_EQ(c.give ? STOP_NONE : STOP_NO_THREADS, pool.stop().reason);
  }
}

TEST_F(CardPoolTest, ThreadsTheSystemRefusesNeverEndTheRun) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to become a user with a process limit";
  EXPECT_EXIT(RunWithFewThreads(), testing::ExitedWithCode(0), "");
}

}  // namespace
