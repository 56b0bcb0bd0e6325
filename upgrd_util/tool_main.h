#ifndef UPGRD_UTIL_TOOL_MAIN_H_
#define UPGRD_UTIL_TOOL_MAIN_H_

/// The tool on the installed platform: without arguments the operator's
/// dialogue, with options a campaign. Returns the process exit code.
int tool_main(int argc, char** argv);

#endif  // UPGRD_UTIL_TOOL_MAIN_H_
