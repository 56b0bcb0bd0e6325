#ifndef UPGRD_UTIL_CAMPAIGN_NIGHT_PLAN_H_
#define UPGRD_UTIL_CAMPAIGN_NIGHT_PLAN_H_

#include <cstddef>
#include <string>
#include <vector>

#include "upgrd_util/campaign/rollout_rules.h"

/// What a card is expected to need: without a dry run every card is taken
/// to need both modules.
enum PlannedPath {
  PATH_BOTH,         // ZEL, then APP
  PATH_PATCH,        // the interim patch, then both
  PATH_APP,          // the ZEL is current: the APP alone
  PATH_NOTHING,      // already current, or a card a dry run found failing
  PATH_UNREACHABLE,  // did not answer: it may be tried again
};

/// The modules' sizes and the mandated waits after loading each, in
/// seconds.
struct PlannedModules {
  double zel_bytes = 0, app_bytes = 0, patch_bytes = 0;
  double zel_wait = 0, app_wait = 0, patch_wait = 0;
};

/// A campaign as the plan sees it.
struct PlanInputs {
  std::vector<PlannedPath> cards;  // in the order they are started
  std::vector<size_t> waves;       // sizes, adding up to the cards
  int parallel = 1;
  RolloutSettings rules;   // the window's end in seconds from the start
  PlannedModules modules;
  double link_rate = 1e6;  // bytes a second, shared by the uploads at once
};

/// One wave as planned, in seconds from the start.
struct PlannedWave {
  double start = -1;  // -1: none of its cards starts
  double end = -1;
  size_t cards = 0;
  size_t not_started = 0;
};

/// How the night goes, in seconds from its start.
struct NightPlan {
  std::vector<PlannedWave> waves;
  double end = 0;                   // when the last card ends
  std::vector<size_t> not_started;  // the cards' places in PlanInputs::cards
};

/// Apart from its waits and uploads, the time a card's path is taken to
/// take: the network check, login test, saved logs and version query
/// before any load, and a login and a restart check around each load.
const double kPlannedStartSeconds = 15;
const double kPlannedLoadSeconds = 5;
/// A card that does not answer gives up after ten echoes of a second.
const double kPlannedUnreachableSeconds = 10;

/// Plays the night through on its own clock, with the pool's order and the
/// rules' own decisions (the window, retries): every card that is reached
/// is taken to answer as planned, and no operator to stop between waves.
NightPlan plan_night(const PlanInputs& inputs);

/// The smallest number of cards at once that leaves no card not started,
/// from 1 to `most`; 0 when even `most` does.
int smallest_parallel(PlanInputs inputs, int most);

#endif  // UPGRD_UTIL_CAMPAIGN_NIGHT_PLAN_H_
