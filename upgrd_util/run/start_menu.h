#ifndef UPGRD_UTIL_RUN_START_MENU_H_
#define UPGRD_UTIL_RUN_START_MENU_H_

/// Logs and shows the start-up menu for the `count` cards of iplist.txt,
/// with the Windows XP warning once the list is chosen, until an answer is
/// understood. Returns '1' (use the list), '2' (enter one card instead), '3'
/// (exit) or, at the end of the console input, kMenuInputEnded.
const int kMenuInputEnded = -1;
int ask_start_menu(int count);

#endif  // UPGRD_UTIL_RUN_START_MENU_H_
