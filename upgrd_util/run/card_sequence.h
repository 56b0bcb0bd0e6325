#ifndef UPGRD_UTIL_RUN_CARD_SEQUENCE_H_
#define UPGRD_UTIL_RUN_CARD_SEQUENCE_H_

#include "upgrd_util/base/upgrade_target.h"

/// Takes one card through its whole sequence: reachability, login test,
/// saved logs, version query, the interim patch when the card is early, ZEL
/// and APP loads with their retries, recording the outcome in its status. It
/// stops at the first step that fails. Returns false, having reported it,
/// when the card runs a version no path fits (the caller decides what that
/// ends), true otherwise.
bool upgrade_card(upgrade_target* target);

#endif  // UPGRD_UTIL_RUN_CARD_SEQUENCE_H_
