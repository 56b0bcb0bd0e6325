#ifndef UPGRD_UTIL_RUN_CAMPAIGN_H_
#define UPGRD_UTIL_RUN_CAMPAIGN_H_

#include "upgrd_util/run/campaign_options.h"

/// Upgrades the cards of iplist.txt, up to options.parallel at the same
/// time, each through the whole sequence of the dialogue with its own
/// sessions, probe factor, listing file and journal. Returns only when the
/// run could not start, with the exit code; otherwise it ends the process
/// with 0 (every card upgraded), 1 (a card failed or was not started) or 2
/// (bad inputs).
int run_campaign(const campaign_options& options);

#endif  // UPGRD_UTIL_RUN_CAMPAIGN_H_
