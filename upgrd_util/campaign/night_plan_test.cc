#include "upgrd_util/campaign/night_plan.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/campaign/plan_printer.h"

namespace {

// Modules of 1 MB over a link of 1 MB/s; the waits of a ZEL before 252. A
// card alone takes 15 + 1 + (180 + 5) + 1 + (30 + 5) = 237 s.
PlanInputs Night(std::vector<PlannedPath> cards, std::vector<size_t> waves,
                 int parallel) {
  PlanInputs inputs;
  inputs.cards = cards;
  inputs.waves = waves;
  inputs.parallel = parallel;
  inputs.modules = {1e6, 1e6, 1e6, 180, 30, 30};
  inputs.rules.waves = waves.size();
  inputs.rules.card_seconds = 210 + 60;
  return inputs;
}

PlanInputs Windowed(PlanInputs inputs, double end) {
  inputs.rules.windowed = true;
  inputs.rules.window_end = end;
  return inputs;
}

PlanInputs Retried(PlanInputs inputs, int retries) {
  inputs.rules.retries = retries;
  return inputs;
}

PlanInputs Rate(PlanInputs inputs, double bytes_per_second) {
  inputs.link_rate = bytes_per_second;
  return inputs;
}

const PlannedPath B = PATH_BOTH;
const PlannedPath U = PATH_UNREACHABLE;

TEST(NightPlanTest, TheNightAsThePoolAndItsRulesWouldRunIt) {
  struct Case {
    const char* name;
    PlanInputs inputs;
    double end;
    size_t not_started;
    std::vector<double> wave_ends;
  } cases[] = {
      {"one card", Night({B}, {1}, 1), 237, 0, {237}},
      // Both upload at once at half the rate: 2 s each time.
      {"a shared link", Night({B, B}, {2}, 2), 239, 0, {239}},
      {"a tenth of the rate", Rate(Night({B}, {1}, 1), 1e5), 255, 0, {255}},
      {"the patch first", Night({PATH_PATCH}, {1}, 1), 273, 0, {273}},
      {"the APP alone", Night({PATH_APP}, {1}, 1), 51, 0, {51}},
      {"nothing to load", Night({PATH_NOTHING}, {1}, 1), 15, 0, {15}},
      // The second wave opens when the first has ended.
      {"waves", Night({B, B, B}, {1, 2}, 2), 476, 0, {237, 476}},
      // The second card would start at 237 and needs 270 by the rules.
      {"the window", Windowed(Night({B, B, B}, {3}, 1), 500), 237, 2, {237}},
      // Tries at 0, 310 and 920, ten seconds each.
      {"retries", Retried(Night({U}, {1}, 1), 2), 930, 0, {930}},
      // The first wave closes while its card waits: the second runs
      // meanwhile, and the retry comes due at 310.
      {"a retry beside the next wave", Retried(Night({U, B}, {1, 1}, 1), 1),
       320, 0, {320, 247}},
      // A retry the window would not let end is not made.
      {"a retry the window drops",
       Windowed(Retried(Night({U}, {1}, 1), 3), 400), 10, 0, {10}},
  };
  for (const Case& c : cases) {
    NightPlan plan = plan_night(c.inputs);
    EXPECT_NEAR(plan.end, c.end, 0.01) << c.name;
    EXPECT_EQ(plan.not_started.size(), c.not_started) << c.name;
    ASSERT_EQ(plan.waves.size(), c.wave_ends.size()) << c.name;
    for (size_t i = 0; i < plan.waves.size(); ++i)
      EXPECT_NEAR(plan.waves[i].end, c.wave_ends[i], 0.01) << c.name;
  }
}

TEST(NightPlanTest, TheSmallestParallelThatStartsEveryCard) {
  // At -j 1 the third card would start at 474, too late for 600.
  PlanInputs four = Windowed(Night({B, B, B, B}, {4}, 1), 600);
  EXPECT_EQ(plan_night(four).not_started.size(), 2u);
  EXPECT_EQ(smallest_parallel(four, 1024), 2);
  EXPECT_EQ(smallest_parallel(Windowed(four, 100), 1024), 0);
}

#ifndef _WIN32
TEST(NightPlanTest, WallTimesFollowTheClockChanges) {
  struct Case {
    const char* zone;
    int now[5];  // year, month, day, hour, minute
    double seconds;
    const char* said;
  } cases[] = {
      // 03:00 summer time becomes 02:00 on 25 October.
      {"Europe/Berlin", {2026, 10, 25, 1, 30}, 2 * 3600, "02:30"},
      // 02:00 becomes 03:00 on 29 March.
      {"Europe/Berlin", {2026, 3, 29, 1, 30}, 3600, "03:30"},
      {"UTC", {2026, 12, 7, 22, 0}, 8 * 3600, "2026-12-08 06:00"},
  };
  for (const Case& c : cases) {
    ZoneScope zone(c.zone);
    struct tm now = {};
    now.tm_year = c.now[0] - 1900;
    now.tm_mon = c.now[1] - 1;
    now.tm_mday = c.now[2];
    now.tm_hour = c.now[3];
    now.tm_min = c.now[4];
    now.tm_isdst = -1;
    mktime(&now);
    EXPECT_EQ(wall_time_after(now, c.seconds), c.said) << c.zone;
  }
}
#endif

}  // namespace
