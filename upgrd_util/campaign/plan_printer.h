#ifndef UPGRD_UTIL_CAMPAIGN_PLAN_PRINTER_H_
#define UPGRD_UTIL_CAMPAIGN_PLAN_PRINTER_H_

#include <ctime>
#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/night_plan.h"

/// The plan's view of the campaign's cards, in the order they run: after a
/// dry run (`found`) the path it found each on, else both modules for
/// every card.
PlanInputs campaign_plan_inputs(const std::vector<upgrade_target*>& to_run,
                                bool found);

/// The local wall time `seconds` after `now`: "05:12", or
/// "2026-12-09 05:12" on another day than `now`'s, with the offset from UTC
/// ("02:09+01:00") when the clocks change in between.
std::string wall_time_after(const struct tm& now, double seconds);

/// Says the plan on the console, from `now`: each wave's start and end,
/// the last card's end, the cards the window would leave not started
/// (`window_text` names its end; empty: no window) and the smallest -j
/// that would start them all. Returns true when every card starts.
bool say_night_plan(const PlanInputs& inputs, const NightPlan& plan,
                    const std::vector<upgrade_target*>& to_run,
                    const struct tm& now, const std::string& window_text);

#endif  // UPGRD_UTIL_CAMPAIGN_PLAN_PRINTER_H_
