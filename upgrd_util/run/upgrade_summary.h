#ifndef UPGRD_UTIL_RUN_UPGRADE_SUMMARY_H_
#define UPGRD_UTIL_RUN_UPGRADE_SUMMARY_H_

#include "upgrd_util/base/upgrade_target.h"

/// Lists every card that failed, with the reason, in the result log, shows
/// the totals on the console and stamps the end of the run. A campaign's
/// summary also names the cards whose block could not be written to the
/// result log (CardWork::block_lost) and counts `records_lost`, the
/// records that could not be written to its report. The summary goes into
/// the log whole or not at all; returns false, having said so on the
/// console, when it could not be written.
bool print_summary(const upgrade_target* head, int records_lost = 0);

#endif  // UPGRD_UTIL_RUN_UPGRADE_SUMMARY_H_
