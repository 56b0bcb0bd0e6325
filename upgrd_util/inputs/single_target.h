#ifndef UPGRD_UTIL_INPUTS_SINGLE_TARGET_H_
#define UPGRD_UTIL_INPUTS_SINGLE_TARGET_H_

#include "upgrd_util/base/upgrade_target.h"

/// Asks the operator for one card's address, user name and password until
/// they are confirmed, warns when the card runs a ZEL version below 211, and
/// returns the one-card list. Ends the process when the operator quits or
/// the console input ends.
upgrade_target* enter_single_target();

#endif  // UPGRD_UTIL_INPUTS_SINGLE_TARGET_H_
