#ifndef UPGRD_UTIL_BASE_UPGRADE_END_H_
#define UPGRD_UTIL_BASE_UPGRADE_END_H_

#include "upgrd_util/base/upgrade_target.h"

/// Quits the FTP session of `card` (the card being upgraded when the run
/// ends; none, session 0, before the first), warns about iplist.txt when it
/// was found, thanks the operator and waits for Enter (or the end of input;
/// not at all when the run is unattended).
void end_dialogue(const upgrade_target* card = nullptr);

/// The orderly end of every run: end_dialogue(card), then end_exit_code (1
/// unless a campaign said otherwise) through the normal runtime exit, which
/// flushes and closes open files.
[[noreturn]] void finish_and_exit(const upgrade_target* card = nullptr);

#endif  // UPGRD_UTIL_BASE_UPGRADE_END_H_
