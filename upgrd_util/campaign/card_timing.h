#ifndef UPGRD_UTIL_CAMPAIGN_CARD_TIMING_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_TIMING_H_

#include <cstddef>
#include <vector>

#include "upgrd_util/base/card_path.h"

/// The modules' sizes and the mandated waits after loading each, in
/// seconds.
struct PlannedModules {
  double zel_bytes = 0, app_bytes = 0, patch_bytes = 0;
  double zel_wait = 0, app_wait = 0, patch_wait = 0;
};

/// The configured modules as they will be sent: the sizes of the files (one
/// that is not there uploads nothing) and their mandated waits.
PlannedModules configured_modules();

/// Apart from its waits and uploads, the time a card's path is taken to
/// take: the network check, login test, saved logs and version query
/// before any load, and a login and a restart check around each load.
const double kPlannedStartSeconds = 15;
const double kPlannedLoadSeconds = 5;
/// A card that does not answer gives up after ten echoes of a second.
const double kPlannedUnansweredSeconds = 10;
/// The check after a soak: an echo, a login and a listing.
const double kPlannedSoakCheckSeconds = 5;

/// A step of a card's path: a time to pass, or bytes to upload over the
/// card's share of the link.
struct PathStep {
  bool upload;
  double amount;  // seconds, or bytes
};

/// The steps of a card on `path`; the steps before its listing come first,
/// the loads after (kStepsBeforeLoads of them on a path that loads).
std::vector<PathStep> path_steps(CardPath path, const PlannedModules& modules);
const size_t kStepsBeforeLoads = 1;

/// How long `path` takes with its uploads alone on a link of `link_rate`
/// bytes a second: from its listing on (`from_listing`), or whole.
double path_seconds(CardPath path, const PlannedModules& modules,
                    double link_rate, bool from_listing);

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_TIMING_H_
