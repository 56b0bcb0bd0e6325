#ifndef UPGRD_UTIL_BASE_UPGRADE_END_H_
#define UPGRD_UTIL_BASE_UPGRADE_END_H_

#include "upgrd_util/base/upgrade_target.h"

/// Quits the FTP session of `card` (the card being upgraded when the run
/// ends; none, session 0, before the first), warns about iplist.txt when it
/// was found, thanks the operator and, unless the run asks nothing, waits
/// for Enter (or the end of input). Every run that gets this far ends here,
/// and returns its exit code up to main.
void end_dialogue(const upgrade_target* card = nullptr,
                  bool wait_for_enter = true);

/// The closing question alone: "Press <Enter> to exit.", and its answer.
void wait_for_enter_to_exit();

#endif  // UPGRD_UTIL_BASE_UPGRADE_END_H_
