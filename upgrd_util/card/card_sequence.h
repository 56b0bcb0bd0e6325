#ifndef UPGRD_UTIL_CARD_CARD_SEQUENCE_H_
#define UPGRD_UTIL_CARD_CARD_SEQUENCE_H_

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/card/card_path.h"


/// Takes one card through its whole sequence: reachability, login test,
/// saved logs, version query, the interim patch when the card is early, ZEL
/// and APP loads with their retries, recording the outcome in its status. It
/// stops at the first step that fails, and returns how the card ended. Two
/// outcomes say that nothing is known of what the card runs, so that the
/// dialogue ends there: OUTCOME_UNKNOWN_VERSION, and
/// OUTCOME_LISTING_UNREADABLE (the card's session is then left open). A
/// file of the workstation that fails (a saved log, the listing, a module
/// read for upload) ends the card at once, OUTCOME_LOCAL_ERROR: nothing is
/// loaded again for it.
CardOutcome upgrade_card(upgrade_target* target,
                         const CampaignRules& rules = CampaignRules());

/// A dry run of one card that changes nothing on it: reachability, login
/// test and version query, with their console and log lines, then a log
/// line with what an upgrade would do. Returns that (OUTCOME_WOULD_UPGRADE,
/// OUTCOME_WOULD_PATCH) or why it would not upgrade the card (among them
/// OUTCOME_PATCH_MISSING).
CardOutcome check_card(upgrade_target* target, const CampaignRules& rules);

#endif  // UPGRD_UTIL_CARD_CARD_SEQUENCE_H_
