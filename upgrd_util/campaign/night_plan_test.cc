#include "upgrd_util/campaign/night_plan.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/campaign/plan_printer.h"
#include "upgrd_util/output/campaign_report.h"

namespace {

// Modules of 1 MB over a link of 1 MB/s; the waits of a ZEL before 252. A
// card alone takes 15 + 1 + (180 + 5) + 1 + (30 + 5) = 237 s.
PlanInputs Night(std::vector<CardPath> cards, std::vector<size_t> waves,
                 int parallel) {
  PlanInputs inputs;
  inputs.cards = cards;
  inputs.waves = waves;
  inputs.parallel = parallel;
  inputs.rules.modules = {1e6, 1e6, 1e6, 180, 30, 30};
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
  inputs.rules.link_rate = bytes_per_second;
  return inputs;
}

// The cards of one group, `per_group` at once at most; or a pair.
PlanInputs Grouped(PlanInputs inputs, int per_group, const char* pair) {
  inputs.rules.per_group = per_group;
  for (size_t i = 0; i < inputs.cards.size(); ++i)
    inputs.groups.push_back({"rack", pair});
  return inputs;
}

PlanInputs GroupRate(PlanInputs inputs, double bytes_per_second) {
  inputs.rules.group_rate = bytes_per_second;
  return inputs;
}

PlanInputs Soaked(PlanInputs inputs, double seconds) {
  inputs.rules.soak_seconds = seconds;
  return inputs;
}

const CardPath B = PATH_BOTH;
const CardPath U = PATH_UNANSWERED;

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
      {"the patch first", Night({PATH_PATCH_FIRST}, {1}, 1), 273, 0, {273}},
      {"the APP alone", Night({PATH_APP_ONLY}, {1}, 1), 51, 0, {51}},
      {"nothing to load", Night({PATH_ALREADY_CURRENT}, {1}, 1), 15, 0, {15}},
      // The second wave opens when the first has ended.
      {"waves", Night({B, B, B}, {1, 2}, 2), 476, 0, {237, 476}},
      // A card starts while the APP alone could end (51 s), and loads
      // only if its own path can: the second lists at 252 and ends at 474;
      // the third would start at 474.
      {"the window", Windowed(Night({B, B, B}, {3}, 1), 500), 474, 1, {474}},
      // At 252 both modules (222 s more) outlive a window of 400: the
      // second card is not loaded; the APP alone (36 s more) is.
      {"a path that outlives the window", Windowed(Night({B, B}, {2}, 1), 400),
       252, 1, {252}},
      {"a path that fits", Windowed(Night({B, PATH_APP_ONLY}, {2}, 1), 400),
       288, 0, {288}},
      // One at a time in the group, whatever -j allows.
      {"a group", Grouped(Night({B, B}, {2}, 2), 1, ""), 474, 0, {474}},
      {"a pair", Grouped(Night({B, B}, {2}, 2), 0, "P"), 474, 0, {474}},
      // Both upload at once at a quarter of the link: 4 s each time.
      {"a group's rate", GroupRate(Grouped(Night({B, B}, {2}, 2), 0, ""), 5e5),
       243, 0, {243}},
      // Checked again 600 s after its end, for 5 s; the next wave waits.
      {"a soak", Soaked(Night({B}, {1}, 1), 600), 842, 0, {842}},
      {"a soak between waves", Soaked(Night({B, B}, {1, 1}, 2), 600), 1684, 0,
       {842, 1684}},
      // Both modules and the soak (842 s) outlive a window of 800: the card
      // starts, as the APP alone and the soak (656 s) could end, but is not
      // loaded.
      {"a soak the window counts",
       Windowed(Soaked(Night({B}, {1}, 1), 600), 800), 15, 1, {15}},
      // Tries at 0, 310 and 920, ten seconds each.
      {"retries", Retried(Night({U}, {1}, 1), 2), 930, 0, {930}},
      // The first wave closes while its card waits: the second runs
      // meanwhile, and the retry comes due at 310.
      {"a retry beside the next wave", Retried(Night({U, B}, {1, 1}, 1), 1),
       320, 0, {320, 247}},
      // A retry at 310 would leave too little for the APP alone (51 s).
      {"a retry the window drops",
       Windowed(Retried(Night({U}, {1}, 1), 3), 350), 10, 0, {10}},
      // At 10 kB/s, shared, the cards run until 615 and 625: the retry
      // due at 310 finds a free place at 615, when the window has closed
      // while the other card runs on. The night ends; the retry is not
      // waited for.
      {"a retry overdue as the window closes",
       Windowed(Retried(Rate(Night({U, B, B}, {3}, 2), 1e4), 1), 500), 625, 0,
       {625}},
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
  // At -j 1 the third card lists at 489, too late to load for 600.
  PlanInputs four = Windowed(Night({B, B, B, B}, {4}, 1), 600);
  EXPECT_EQ(plan_night(four).not_started.size(), 2u);
  EXPECT_EQ(smallest_parallel(four, 1024), 2);
  EXPECT_EQ(smallest_parallel(Windowed(four, 100), 1024), 0);
}

#ifndef _WIN32
struct PlannedTimesTest : public ProgramTest {};

// The plan's times on the console and the page's planned end, from the
// instant: plain hour arithmetic on the wall time fails each change.
TEST_F(PlannedTimesTest, FollowTheClockChanges) {
  struct Case {
    const char* zone;
    int now[6];  // year, month, day, hour, minute, summer time (-1: ask)
    double seconds;
    const char* said;
    const char* iso;
  } cases[] = {
      // 03:00 summer time becomes 02:00 on 25 October; 02:30 comes twice.
      {"Europe/Berlin", {2026, 10, 25, 1, 30, -1}, 2 * 3600, "02:30+01:00",
       "2026-10-25T02:30:00+01:00"},
      {"Europe/Berlin", {2026, 10, 25, 2, 30, 1}, 39 * 60, "02:09+01:00",
       "2026-10-25T02:09:00+01:00"},
      // 02:00 becomes 03:00 on 29 March.
      {"Europe/Berlin", {2026, 3, 29, 1, 30, -1}, 3600, "03:30+02:00",
       "2026-03-29T03:30:00+02:00"},
      // Half an hour back on 5 April, forward on 4 October.
      {"Australia/Lord_Howe", {2026, 4, 5, 1, 45, 1}, 1800, "01:45+10:30",
       "2026-04-05T01:45:00+10:30"},
      {"Australia/Lord_Howe", {2026, 10, 4, 1, 45, -1}, 1800, "02:45+11:00",
       "2026-10-04T02:45:00+11:00"},
      {"UTC", {2026, 12, 7, 22, 0, -1}, 8 * 3600, "2026-12-08 06:00",
       "2026-12-08T06:00:00+00:00"},
  };
  for (const Case& c : cases) {
    ZoneScope zone(c.zone);
    struct tm now = {};
    now.tm_year = c.now[0] - 1900;
    now.tm_mon = c.now[1] - 1;
    now.tm_mday = c.now[2];
    now.tm_hour = c.now[3];
    now.tm_min = c.now[4];
    now.tm_isdst = c.now[5];
    mktime(&now);
    // Another conversion in between, as the tool makes many: the C
    // library keeps the last offset it found, and a sum on the wall time
    // leans on it.
    struct tm winter = {};
    winter.tm_year = 126;
    winter.tm_mday = 15;
    winter.tm_isdst = -1;
    mktime(&winter);
    EXPECT_EQ(wall_time_after(now, c.seconds), c.said) << c.zone;
    clock.now = now;
    EXPECT_EQ(iso_local_time(static_cast<long>(c.seconds)), c.iso) << c.zone;
  }
}
#endif

}  // namespace
