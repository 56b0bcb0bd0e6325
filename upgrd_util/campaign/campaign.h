#ifndef UPGRD_UTIL_CAMPAIGN_CAMPAIGN_H_
#define UPGRD_UTIL_CAMPAIGN_CAMPAIGN_H_

#include "upgrd_util/run/tool_options.h"

/// Upgrades (or, with --check, dry-runs) the cards of iplist.txt, up to
/// options.parallel at the same time, each through the whole sequence of
/// the dialogue with its own sessions, probe factor, listing file and
/// journal. Returns the exit code: 0 when every card was upgraded (or would
/// be), 1 when a card failed or was not started, 2 for bad inputs.
int run_campaign(const ToolOptions& options);

#endif  // UPGRD_UTIL_CAMPAIGN_CAMPAIGN_H_
