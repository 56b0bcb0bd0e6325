#include "upgrd_util/campaign/plan_printer.h"

#include <cmath>
#include <string>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/output/campaign_page.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"

namespace {

// What a dry run found a card to need: a card that did not answer is
// tried again; one that failed, or needs nothing, takes no load.
CardPath PathFound(const upgrade_target& card) {
  if (outcome_words(card.state.outcome).retryable)
    return PATH_UNANSWERED;
  return path_loads(card.state.path) ? card.state.path : PATH_UNKNOWN;
}

// "1 card", "12 cards".
std::string Cards(size_t count) {
  return std::to_string(count) + (count == 1 ? " card" : " cards");
}

// "1 MB/s", "250 kB/s".
std::string RateText(double bytes_per_second) {
  char text[48];
  if (bytes_per_second >= 1e6)
    snprintf(text, sizeof(text), "%g MB/s", bytes_per_second / 1e6);
  else if (bytes_per_second >= 1e3)
    snprintf(text, sizeof(text), "%g kB/s", bytes_per_second / 1e3);
  else
    snprintf(text, sizeof(text), "%g B/s", bytes_per_second);
  return text;
}

// The cards the window leaves not started (the first ones named), and the
// smallest -j that would start them all.
void SayWhatTheWindowLeaves(const PlanInputs& inputs, const NightPlan& plan,
                            const std::vector<upgrade_target*>& to_run,
                            const std::string& window_text) {
  if (plan.not_started.empty()) {
    console_printf("\tEvery card starts within the window, which ends at %s.\n",
                   window_text.c_str());
  } else {
    console_printf("\tThe window, which ends at %s, leaves %s not started:",
                   window_text.c_str(), Cards(plan.not_started.size()).c_str());
    // Enough to find them; the rest are counted.
    const size_t kNamed = 20;
    for (size_t i = 0; i < plan.not_started.size() && i < kNamed; ++i)
      console_printf(" %s", to_run[plan.not_started[i]]->ip);
    if (plan.not_started.size() > kNamed)
      console_printf(" and %s more",
                     std::to_string(plan.not_started.size() - kNamed).c_str());
    console_printf(".\n");
  }
  // -j goes up to 1024 at most.
  int fits = smallest_parallel(inputs, 1024);
  if (fits == 0)
    console_printf("\tNo -j up to 1024 starts every card within the window.\n");
  else
    console_printf("\tThe smallest -j that starts every card within the "
                   "window: %d.\n",
                   fits);
}

}  // namespace

PlanInputs campaign_plan_inputs(const std::vector<upgrade_target*>& to_run,
                                bool found) {
  PlanInputs inputs;
  for (const upgrade_target* card : to_run) {
    inputs.cards.push_back(found ? PathFound(*card) : PATH_BOTH);
    inputs.groups.push_back({card->state.group, card->state.pair});
  }
  return inputs;
}

std::string wall_time_after(const struct tm& now, double seconds) {
  // From the instant, not the wall time: across a change of summer time
  // the wall time does not move as the seconds do. `now` keeps its own
  // summer time flag, which tells an hour that comes twice apart.
  struct tm start = now;
  time_t at = mktime(&start) + static_cast<time_t>(std::llround(seconds));
  struct tm wall;
  long offset = 0;
  long start_offset = 0;
  struct tm unused;
  if (!local_time_at(at, &wall, &offset) ||
      !local_time_at(mktime(&start), &unused, &start_offset))
    return "";
  char text[64];
  if (wall.tm_year == now.tm_year && wall.tm_mon == now.tm_mon &&
      wall.tm_mday == now.tm_mday)
    snprintf(text, sizeof(text), "%02d:%02d", wall.tm_hour, wall.tm_min);
  else
    snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d",
             wall.tm_year + 1900, wall.tm_mon + 1, wall.tm_mday, wall.tm_hour,
             wall.tm_min);
  if (offset == start_offset)
    return text;
  // The clocks changed in between: the offset says which of an hour that
  // came twice it is.
  return text + utc_offset_text(offset);
}

bool say_night_plan(const PlanInputs& inputs, const NightPlan& plan,
                    const std::vector<upgrade_target*>& to_run,
                    const struct tm& now, const std::string& window_text) {
  size_t needs[PATH_PATCH_FIRST + 1] = {};
  for (CardPath path : inputs.cards)
    ++needs[path_loads(path) || path == PATH_UNANSWERED ? path : PATH_UNKNOWN];
  console_printf("\n\tThe plan: %s, %d at a time, their uploads sharing "
                 "%s.\n",
                 Cards(inputs.cards.size()).c_str(), inputs.parallel,
                 RateText(inputs.rules.link_rate).c_str());
  auto count = [&](CardPath path) { return std::to_string(needs[path]); };
  console_printf(
      "\tNeeds: %s both modules, %s the interim patch first, %s the APP "
      "alone, %s nothing, %s do not answer.\n",
      count(PATH_BOTH).c_str(), count(PATH_PATCH_FIRST).c_str(),
      count(PATH_APP_ONLY).c_str(), count(PATH_UNKNOWN).c_str(),
      count(PATH_UNANSWERED).c_str());
  for (size_t i = 0; i < plan.waves.size(); ++i) {
    const PlannedWave& wave = plan.waves[i];
    if (wave.start < 0) {
      console_printf("\tWave %d: %s, none started.\n",
                     static_cast<int>(i) + 1, Cards(wave.cards).c_str());
      continue;
    }
    console_printf("\tWave %d: %s, %s to %s", static_cast<int>(i) + 1,
                   Cards(wave.cards).c_str(),
                   wall_time_after(now, wave.start).c_str(),
                   wall_time_after(now, wave.end).c_str());
    if (wave.not_started > 0)
      console_printf(", %s not started",
                     std::to_string(wave.not_started).c_str());
    console_printf(".\n");
  }
  console_printf("\tThe last card ends at %s, %s from now.\n",
                 wall_time_after(now, plan.end).c_str(),
                 page_duration(plan.end).c_str());
  if (window_text.empty())
    return true;
  SayWhatTheWindowLeaves(inputs, plan, to_run, window_text);
  return plan.not_started.empty();
}
