#ifndef UPGRD_UTIL_CARD_CARD_LOGS_H_
#define UPGRD_UTIL_CARD_CARD_LOGS_H_

#include "upgrd_util/base/upgrade_target.h"

/// Logs in to the card and out again. Returns 1 when the login succeeded;
/// 0, with STATUS_LOGIN_FAILED recorded, when it did not.
int test_login(upgrade_target* target);

/// Saves the card's data.txt and event.txt as "<ip>_data.txt" and
/// "<ip>_event.txt". A failed fetch is logged and leaves an earlier copy as
/// it was; a failed login records STATUS_LOGIN_FAILED. Returns 1; 0 when a
/// copy could not be written on the workstation (STATUS_LOCAL_ERROR, see
/// keep_local_fault), which nothing should go on from.
int save_card_logs(upgrade_target* target);

#endif  // UPGRD_UTIL_CARD_CARD_LOGS_H_
