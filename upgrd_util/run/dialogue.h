#ifndef UPGRD_UTIL_RUN_DIALOGUE_H_
#define UPGRD_UTIL_RUN_DIALOGUE_H_

/// The operator's dialogue on the installed platform: start-up, the menu or
/// the entry of one card, then one card after the other, the summary and the
/// closing dialogue. Returns the process exit code, which is always 1.
int run_dialogue();

#endif  // UPGRD_UTIL_RUN_DIALOGUE_H_
