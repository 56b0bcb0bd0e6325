#ifndef UPGRD_UTIL_RUN_UPGRADE_SUMMARY_H_
#define UPGRD_UTIL_RUN_UPGRADE_SUMMARY_H_

#include "upgrd_util/base/upgrade_target.h"

/// Lists every card that failed, with the reason, in the result log, shows
/// the totals on the console and stamps the end of the run.
void print_summary(const upgrade_target* head);

#endif  // UPGRD_UTIL_RUN_UPGRADE_SUMMARY_H_
