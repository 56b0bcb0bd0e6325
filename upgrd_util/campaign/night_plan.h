#ifndef UPGRD_UTIL_CAMPAIGN_NIGHT_PLAN_H_
#define UPGRD_UTIL_CAMPAIGN_NIGHT_PLAN_H_

#include <cstddef>
#include <string>
#include <vector>

#include "upgrd_util/campaign/rollout_rules.h"
#include "upgrd_util/inputs/group_file.h"

/// A campaign as the plan sees it.
struct PlanInputs {
  // What each card needs, in the order they are started: without a dry
  // run every card is taken to need both modules.
  std::vector<CardPath> cards;
  // Each card's group and pair, in the same order; empty: none has any.
  std::vector<CardGroup> groups;
  std::vector<size_t> waves;  // sizes, adding up to the cards
  int parallel = 1;
  // The rules, with the window's end in seconds from the start, the
  // modules and the link the uploads at once share.
  RolloutSettings rules;
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

/// Plays the night through on its own clock with the night's own scheduler
/// (NightScheduler: its order, waves, retries and rules) and each card's
/// path as card_timing models it: every card that is reached is taken to
/// answer as planned, and no operator to stop between waves. A card whose
/// path the window would not let end is not loaded: it counts as not
/// started, as in the night.
NightPlan plan_night(const PlanInputs& inputs);

/// The smallest number of cards at once that leaves no card not started,
/// from 1 to `most`; 0 when even `most` does.
int smallest_parallel(PlanInputs inputs, int most);

#endif  // UPGRD_UTIL_CAMPAIGN_NIGHT_PLAN_H_
