#include "upgrd_util/campaign/night_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "upgrd_util/platform/test_doubles.h"

namespace {

// Moves `clock` on to `at` seconds.
void MoveTo(FakeClock* clock, double at) {
  clock->SleepMs(static_cast<int>(std::lround((at - clock->Seconds()) * 1000)));
}

// One night: cards of a minute each, by letter: "g" loads well, "b" fails
// its load, "u" does not answer, "s" loads well and fails its check after
// the soak (ten seconds). `pause_at`: paused from then on (-1:
// never); `interrupt`: an interrupt once every card has ended.
struct Night {
  const char* name;
  const char* cards;
  std::vector<size_t> waves;
  int parallel;
  RolloutSettings rules;
  bool go_on = true;
  double pause_at = -1;
  bool interrupt = false;
  const char* stop;    // the stop kept, in words ("": none)
  size_t not_started;  // cards never started
};

RolloutSettings Rate(double percent) {
  RolloutSettings rules;
  rules.max_rate = percent;
  return rules;
}

RolloutSettings Failures(int count) {
  RolloutSettings rules;
  rules.max_failures = count;
  return rules;
}

RolloutSettings Window(double end) {
  RolloutSettings rules;
  rules.windowed = true;
  rules.window_end = end;
  return rules;
}

// Plays `night` through the scheduler as the pool would, with its cards
// ending in the order they were started, a minute each.
// Each start is noted in *starts, if given: "card@seconds ".
void Play(const Night& night, std::vector<upgrade_target>* targets,
          NightScheduler* scheduler, FakeClock* clock,
          std::string* starts = nullptr) {
  struct Running {
    upgrade_target* card;
    double end;
    bool soak;
  };
  std::vector<Running> running;
  for (int step = 0; step < 1000; ++step) {
    while (scheduler->WaveToClose()) {
      if (scheduler->CloseWave())
        scheduler->WaveAnswered(night.go_on);
    }
    if (night.pause_at >= 0 && clock->Seconds() >= night.pause_at)
      scheduler->Pause(true);
    Turn turn = scheduler->Next();
    if (turn.card && starts)
      *starts += std::to_string(turn.card - targets->data()) +
                 (turn.soak ? "s@" : "@") +
                 std::to_string(std::lround(clock->Seconds())) + " ";
    if (turn.card) {
      running.push_back(
          {turn.card, clock->Seconds() + (turn.soak ? 10 : 60), turn.soak});
      continue;
    }
    if (running.empty()) {
      if (turn.over || std::isinf(turn.until))
        break;
      MoveTo(clock, turn.until);
      continue;
    }
    auto first = std::min_element(
        running.begin(), running.end(),
        [](const Running& a, const Running& b) { return a.end < b.end; });
    Running ends = *first;
    running.erase(first);
    MoveTo(clock, std::max(clock->Seconds(), ends.end));
    char letter = night.cards[ends.card - targets->data()];
    if (ends.soak) {
      scheduler->SoakEnded(ends.card, letter == 's' ? OUTCOME_SOAK_FAILED
                                                    : OUTCOME_UPGRADED);
      continue;
    }
    ends.card->state.zel_attempts = letter == 'u' ? 0 : 1;
    CardOutcome outcome = letter == 'g' || letter == 's' ? OUTCOME_UPGRADED
                          : letter == 'b' ? OUTCOME_OS_LOAD_FAILED
                                          : OUTCOME_UNRESPONSIVE;
    std::string why_not;
    scheduler->TryEnded(ends.card, outcome, 60,
                        scheduler->RetryDelay(*ends.card, outcome, &why_not));
  }
  if (!running.empty())
    ADD_FAILURE() << night.name << ": cards left running";
  if (night.interrupt)
    scheduler->Interrupted();
}

TEST(NightSchedulerTest, KeepsAStopOnlyWhileACardIsLeftToStop) {
  const Night nights[] = {
      // Card 5 brings the rate to 1 in 5 while card 6 waits: it stops.
      {"a rate stop with a card left", "ggggbb", {4, 2}, 1, Rate(10), true,
       -1, false, "the module failure rate went above 10%", 1},
      // Both run at once: when the rate is weighed nothing is left.
      {"the last wave's own failures", "ggggbb", {4, 2}, 2, Rate(10), true,
       -1, false, "", 0},
      {"the first wave's failures", "bbgggg", {2, 4}, 2, Rate(10), true, -1,
       false, "the module failure rate went above 10%", 4},
      {"the limit reached by the last card", "gbb", {3}, 1, Failures(2), true,
       -1, false, "", 0},
      {"the limit reached before the last", "bbg", {3}, 1, Failures(2), true,
       -1, false, "the failure limit was reached", 1},
      {"no answer between waves", "ggg", {1, 2}, 1, RolloutSettings(), false,
       -1, false, "stopped after wave 1", 2},
      // An interrupt is always answered, even with nothing left.
      {"an interrupt at the end", "gg", {2}, 2, RolloutSettings(), true, -1,
       true, "interrupted", 0},
      // Paused at 60 s; at 240 the APP alone (20 s) could no longer end.
      {"a pause the window outlasts", "ggg", {3}, 1, Window(250), true, 60,
       false, "window ended", 2},
      {"the window by the shortest path", "ggggg", {5}, 1, Window(250), true,
       -1, false, "window ended", 1},
  };
  for (const Night& night : nights) {
    std::vector<upgrade_target> targets(strlen(night.cards));
    std::vector<upgrade_target*> order;
    for (upgrade_target& target : targets)
      order.push_back(&target);
    FakeClock clock;
    RolloutSettings settings = night.rules;
    RolloutRules rules(settings, &clock);
    NightScheduler scheduler(order, night.waves, night.parallel, &rules,
                             &clock);
    Play(night, &targets, &scheduler, &clock);
    EXPECT_EQ(night.stop, stop_reason_text(scheduler.stop())) << night.name;
    EXPECT_EQ(night.not_started, scheduler.NeverStarted().size())
        << night.name;
  }
}

// The cards of a full group, or of a pair that runs, wait; the next card
// that may start goes before them, and they start as the others end.
TEST(NightSchedulerTest, StartsCardsAsTheirGroupsAndPairsAllow) {
  struct Case {
    const char* name;
    const char* groups;  // each card's group by letter ("-": none)
    const char* pairs;   // each card's pair by letter (".": none)
    int per_group;
    int parallel;
    std::vector<size_t> waves;
    const char* starts;
  } cases[] = {
      {"one of each group", "aabb", "....", 1, 4, {4}, "0@0 2@0 1@60 3@60 "},
      {"two of a group", "aaab", "....", 2, 4, {4}, "0@0 1@0 3@0 2@60 "},
      {"the cards of no group", "----", "....", 2, 4, {4},
       "0@0 1@0 2@60 3@60 "},
      {"a pair", "----", "PP..", 0, 4, {4}, "0@0 2@0 3@0 1@60 "},
      {"a pair and a group", "aaab", "P.P.", 1, 2, {4},
       "0@0 3@0 1@60 2@120 "},
      // A card held back never leaves its wave early: the next wave waits.
      {"a group across waves", "aab", "...", 1, 3, {2, 1},
       "0@0 1@60 2@120 "},
  };
  for (const Case& c : cases) {
    size_t count = strlen(c.groups);
    Night night = {c.name, "gggg", c.waves, c.parallel, RolloutSettings(),
                   true, -1, false, "", 0};
    night.rules.per_group = c.per_group;
    std::vector<upgrade_target> targets(count);
    std::vector<upgrade_target*> order;
    for (size_t i = 0; i < count; ++i) {
      targets[i].state.group = std::string(1, c.groups[i]);
      if (c.pairs[i] != '.')
        targets[i].state.pair = std::string(1, c.pairs[i]);
      order.push_back(&targets[i]);
    }
    FakeClock clock;
    RolloutRules rules(night.rules, &clock);
    NightScheduler scheduler(order, c.waves, c.parallel, &rules, &clock);
    std::string starts;
    Play(night, &targets, &scheduler, &clock, &starts);
    EXPECT_EQ(c.starts, starts) << c.name;
    EXPECT_TRUE(scheduler.NeverStarted().empty()) << c.name;
  }
}

// Each upgraded card is checked again after the soak before the next wave
// starts; a check that fails counts as a failed load. An interrupt leaves
// the checks not yet due undone.
TEST(NightSchedulerTest, ChecksUpgradedCardsAfterTheSoakBeforeTheNextWave) {
  struct Case {
    const char* name;
    const char* cards;
    std::vector<size_t> waves;
    RolloutSettings rules;
    bool interrupt_at_soak;
    const char* starts;
    const char* stop;
  } cases[] = {
      {"the next wave waits", "gg", {1, 1}, RolloutSettings(), false,
       "0@0 0s@660 1@670 1s@1330 ", ""},
      {"a failed check stops it", "sg", {1, 1}, Rate(10), false, "0@0 0s@660 ",
       "the module failure rate went above 10%"},
      // The check is due at 660; the interrupt comes first.
      {"an interrupt", "gg", {2}, RolloutSettings(), true, "0@0 1@60 ",
       "interrupted"},
  };
  for (const Case& c : cases) {
    Night night = {c.name, c.cards, c.waves, 1, c.rules, true, -1, false,
                   "", 0};
    night.rules.soak_seconds = 600;
    std::vector<upgrade_target> targets(strlen(c.cards));
    std::vector<upgrade_target*> order;
    for (upgrade_target& target : targets)
      order.push_back(&target);
    FakeClock clock;
    RolloutRules rules(night.rules, &clock);
    NightScheduler scheduler(order, c.waves, 1, &rules, &clock);
    std::string starts;
    if (c.interrupt_at_soak) {
      // Both tries end; then the interrupt, before either check is due.
      for (int i = 0; i < 2; ++i) {
        Turn turn = scheduler.Next();
        ASSERT_TRUE(turn.card && !turn.soak) << c.name;
        starts += std::to_string(turn.card - targets.data()) + "@" +
                  std::to_string(std::lround(clock.Seconds())) + " ";
        MoveTo(&clock, clock.Seconds() + 60);
        scheduler.TryEnded(turn.card, OUTCOME_UPGRADED, 60, 0);
      }
      scheduler.Interrupted();
      EXPECT_TRUE(scheduler.Next().over) << c.name;
      EXPECT_EQ(2u, scheduler.unsoaked().size()) << c.name;
    } else {
      Play(night, &targets, &scheduler, &clock, &starts);
    }
    EXPECT_EQ(c.starts, starts) << c.name;
    EXPECT_EQ(c.stop, stop_reason_text(scheduler.stop())) << c.name;
  }
}

}  // namespace
