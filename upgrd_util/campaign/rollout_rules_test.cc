#include "upgrd_util/campaign/rollout_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "upgrd_util/platform/test_doubles.h"

namespace {

upgrade_target Card(int tries, int zel_attempts = 0, int app_attempts = 0) {
  upgrade_target card = {};
  card.state.tries = tries;
  card.state.zel_attempts = zel_attempts;
  card.state.app_attempts = app_attempts;
  card.state.wave = 1;
  return card;
}

TEST(RolloutRulesTest, RetriesOnlyBeforeAnyUploadAndOnTheirSchedule) {
  FakeClock clock;
  RolloutSettings settings;
  settings.retries = 6;
  RolloutRules rules(settings, &clock);
  struct Case {
    upgrade_target card;
    CardOutcome outcome;
    double delay;
  } cases[] = {
      {Card(1), OUTCOME_UNRESPONSIVE, 300},
      {Card(2), OUTCOME_LOGIN_FAILED, 600},
      {Card(3), OUTCOME_UNRESPONSIVE, 1200},
      {Card(4), OUTCOME_UNRESPONSIVE, 2400},
      {Card(5), OUTCOME_UNRESPONSIVE, 3600},
      {Card(6), OUTCOME_UNRESPONSIVE, 3600},  // the cap
      {Card(7), OUTCOME_UNRESPONSIVE, 0},     // every retry used
      {Card(1, 1), OUTCOME_LOGIN_FAILED, 0},  // a ZEL went up: never again
      {Card(1, 0, 1), OUTCOME_LOGIN_FAILED, 0},
      {Card(1), OUTCOME_OS_LOAD_FAILED, 0},
      {Card(1), OUTCOME_UNKNOWN_VERSION, 0},
  };
  for (const Case& c : cases) {
    std::string why_not;
    EXPECT_EQ(c.delay, rules.RetryAfter(c.card, c.outcome, &why_not))
        << "try " << c.card.state.tries << ", "
        << outcome_words(c.outcome).word;
    EXPECT_EQ("", why_not);
  }
}

TEST(RolloutRulesTest, TheWindowAdmitsOnlyCardsTriesAndPathsThatEndWithinIt) {
  FakeClock clock;
  RolloutSettings settings;
  settings.retries = 3;
  settings.windowed = true;
  // The APP alone takes 15 + 250 + 5 = 270 s; both modules take 60 s more
  // after the listing, the patch first 30 s more again.
  settings.modules = {0, 0, 0, 55, 250, 25};
  settings.window_end = 600;  // the fake clock starts at 0
  RolloutRules rules(settings, &clock);
  upgrade_target card = Card(1);
  std::string why_not;
  // A retry in 300 s would end at 570 s.
  EXPECT_EQ(300, rules.RetryAfter(card, OUTCOME_UNRESPONSIVE, &why_not));
  EXPECT_TRUE(rules.WindowOpen());
  clock.SleepMs(31000);
  EXPECT_EQ(0, rules.RetryAfter(card, OUTCOME_UNRESPONSIVE, &why_not));
  EXPECT_EQ("Not tried again: the window ends before another try could.",
            why_not);
  EXPECT_TRUE(rules.WindowOpen());  // 31 + 270 is 301
  // From a listing at 270: the APP takes 255 s, both 315 s, the patch
  // first 345 s.
  clock.SleepMs(239000);
  EXPECT_TRUE(rules.PathFits(PATH_BOTH));
  EXPECT_FALSE(rules.PathFits(PATH_PATCH_FIRST));
  clock.SleepMs(20000);
  EXPECT_FALSE(rules.PathFits(PATH_BOTH));
  EXPECT_TRUE(rules.PathFits(PATH_APP_ONLY));
  EXPECT_TRUE(rules.WindowOpen());
  clock.SleepMs(41000);
  EXPECT_FALSE(rules.WindowOpen());
}

// Cards that reached a load, in order: "g" loaded well, "b" failed its
// load, "B" failed it in an earlier night too, "l" failed on the
// workstation, "u" reached no load.
struct RateCase {
  const char* cards;
  size_t stops_after;  // how many cards went in before it stopped; 0: never
  int failed, loads;
};

TEST(RolloutRulesTest, TheRateIsWeighedAfterEachCardOnceFiveReachedALoad) {
  const RateCase cases[] = {
      {"gggbbbbbbb", 5, 2, 5},  // the last wave has its brake too
      {"bbbb", 0, 0, 0},        // four say too little
      {"uuuuggggggggggb", 0, 0, 0},  // 1 of 11; no load, no say
      {"uuuubgggb", 9, 2, 5},
      {"BBBBBgggggggggb", 0, 0, 0},  // their night counted them
      {"BBBBBggggbb", 10, 1, 5},
      {"lllllb", 0, 0, 0},  // the workstation's fault says nothing
  };
  for (const RateCase& c : cases) {
    FakeClock clock;
    RolloutSettings settings;
    settings.max_rate = 10;
    RolloutRules rules(settings, &clock);
    size_t stopped = 0;
    Stop stop;
    std::string cards = c.cards;
    for (size_t i = 0; i < cards.size() && !stopped; ++i) {
      upgrade_target card = Card(1, cards[i] == 'u' ? 0 : 1);
      card.state.wave = 3;
      card.state.failed_before = cards[i] == 'B';
      CardOutcome outcome = cards[i] == 'g'   ? OUTCOME_UPGRADED
                            : cards[i] == 'u' ? OUTCOME_UNRESPONSIVE
                            : cards[i] == 'l' ? OUTCOME_LOCAL_ERROR
                                              : OUTCOME_OS_LOAD_FAILED;
      stop = rules.CardEnded(card, outcome);
      if (stop.reason != STOP_NONE)
        stopped = i + 1;
    }
    EXPECT_EQ(c.stops_after, stopped) << c.cards;
    if (c.stops_after) {
      EXPECT_EQ(STOP_RATE, stop.reason) << c.cards;
      EXPECT_EQ(c.failed, stop.failed) << c.cards;
      EXPECT_EQ(c.loads, stop.loads) << c.cards;
    }
  }
}

TEST(RolloutRulesTest, AWaveIsWeighedOnItsOwnCardsHoweverFew) {
  FakeClock clock;
  RolloutSettings settings;
  settings.max_rate = 10;
  RolloutRules rules(settings, &clock);
  upgrade_target good = Card(1, 1), bad = Card(1, 1);
  good.state.wave = 1;
  bad.state.wave = 2;
  EXPECT_EQ(STOP_NONE, rules.CardEnded(good, OUTCOME_UPGRADED).reason);
  EXPECT_EQ(STOP_NONE, rules.WaveEnded(1).reason);
  EXPECT_EQ(STOP_NONE, rules.CardEnded(bad, OUTCOME_APP_LOAD_FAILED).reason);
  Stop stop = rules.WaveEnded(2);  // 1 of 1
  EXPECT_EQ(1, stop.failed);
  EXPECT_EQ(1, stop.loads);
  EXPECT_EQ("the module failure rate went above 10%", stop_reason_text(stop));
}

TEST(RolloutRulesTest, TheFailureLimitAndAFullDiskCallForTheirStops) {
  FakeClock clock;
  RolloutSettings settings;
  settings.max_failures = 2;
  RolloutRules rules(settings, &clock);
  upgrade_target card = Card(1);
  EXPECT_EQ(STOP_NONE, rules.CardEnded(card, OUTCOME_LOGIN_FAILED).reason);
  EXPECT_EQ(STOP_NONE, rules.CardEnded(card, OUTCOME_UPGRADED).reason);
  // A card the window left unloaded is no failure of its own.
  EXPECT_EQ(STOP_NONE, rules.CardEnded(card, OUTCOME_NOT_STARTED).reason);
  Stop stop = rules.CardEnded(card, OUTCOME_UNRESPONSIVE);
  EXPECT_EQ(STOP_MAX_FAILURES, stop.reason);
  EXPECT_EQ("the failure limit was reached", stop_reason_text(stop));

  // A card whose file, block or record found the disk full, whatever its
  // outcome.
  RolloutRules full(RolloutSettings(), &clock);
  upgrade_target filled = Card(1, 1);
  filled.work.disk_full = true;
  EXPECT_EQ("disk full",
            stop_reason_text(full.CardEnded(filled, OUTCOME_UPGRADED)));
}

}  // namespace
