#ifndef UPGRD_UTIL_INPUTS_SINGLE_TARGET_H_
#define UPGRD_UTIL_INPUTS_SINGLE_TARGET_H_

#include "upgrd_util/base/upgrade_target.h"

/// Asks the operator for one card's address, user name and password until
/// they are confirmed, warns when the card runs a ZEL version below 211, and
/// returns the one-card list with *end ENTRY_CONFIRMED. Returns nullptr when
/// the run is to end instead: ENTRY_QUIT for the quit answer of the first
/// confirmation (the tool ends at once, without its closing lines),
/// ENTRY_FINISH for the quit answer of the version warning or the end of the
/// console input (the closing dialogue, then the end).
enum EntryEnd { ENTRY_CONFIRMED, ENTRY_QUIT, ENTRY_FINISH };
upgrade_target* enter_single_target(EntryEnd* end);

#endif  // UPGRD_UTIL_INPUTS_SINGLE_TARGET_H_
