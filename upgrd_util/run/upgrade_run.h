#ifndef UPGRD_UTIL_RUN_UPGRADE_RUN_H_
#define UPGRD_UTIL_RUN_UPGRADE_RUN_H_

/// The whole run on the installed platform. Returns only when the run could
/// not start, with the process exit code; otherwise it ends the process.
int run_upgrade_tool();

#endif  // UPGRD_UTIL_RUN_UPGRADE_RUN_H_
