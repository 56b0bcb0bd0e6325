#ifndef UPGRD_UTIL_RUN_UPGRADE_RUN_H_
#define UPGRD_UTIL_RUN_UPGRADE_RUN_H_

/// The whole run on the installed platform. Returns the process exit code.
int run_upgrade_tool();

#endif  // UPGRD_UTIL_RUN_UPGRADE_RUN_H_
