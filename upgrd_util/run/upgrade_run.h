#ifndef UPGRD_UTIL_RUN_UPGRADE_RUN_H_
#define UPGRD_UTIL_RUN_UPGRADE_RUN_H_

/// The tool: without arguments the operator's dialogue, with options a
/// campaign. Returns the process exit code when the run did not end the
/// process itself.
int run_tool(int argc, char** argv);

/// The operator's dialogue on the installed platform. Returns only when the
/// run could not start, with the process exit code; otherwise it ends the
/// process.
int run_upgrade_tool();

/// What every run does first: opens the result log and writes its header,
/// reads config.txt and checks both module files with the banner. Returns
/// false, having said why, when the log cannot be opened; ends the run on a
/// bad configuration or module file.
bool start_upgrade_run();

#endif  // UPGRD_UTIL_RUN_UPGRADE_RUN_H_
