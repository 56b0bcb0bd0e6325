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

/// What an upgrade would do to a card.
enum card_check {
  CHECK_WOULD_UPGRADE,
  CHECK_WOULD_PATCH,  // the interim patch first, then the upgrade
  CHECK_UNKNOWN_VERSION,
  CHECK_UNRESPONSIVE,
  CHECK_LOGIN_FAILED,
};

/// A dry run of one card that changes nothing on it: reachability, login
/// test and version query, with their console and log lines. A card that
/// would not be upgraded has the reason in its status.
card_check check_card(upgrade_target* target);

#endif  // UPGRD_UTIL_RUN_CARD_SEQUENCE_H_
