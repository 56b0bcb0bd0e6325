#ifndef UPGRD_UTIL_RUN_UPGRADE_END_H_
#define UPGRD_UTIL_RUN_UPGRADE_END_H_

#include "upgrd_util/run/upgrade_target.h"

/// Set when iplist.txt was found at start-up: the file holds passwords in
/// clear text, and the operator is reminded of it on the way out.
extern bool iplist_found;

/// Lists every card that failed, with the reason, in the result log, shows
/// the totals on the console and stamps the end of the run.
void print_summary(const upgrade_target* head);

/// Quits the current FTP session, warns about iplist.txt when it was found,
/// thanks the operator and waits for Enter (or the end of input).
void end_dialogue();

/// The orderly end of every run: end_dialogue(), then exit code 1 through
/// the normal runtime exit, which flushes and closes open files.
[[noreturn]] void finish_and_exit();

/// Back to the state at process start (for tests).
void reset_upgrade_end();

#endif  // UPGRD_UTIL_RUN_UPGRADE_END_H_
