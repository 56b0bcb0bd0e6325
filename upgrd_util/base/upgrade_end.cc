#include "upgrd_util/base/upgrade_end.h"

#include <string>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/platform.h"

void end_dialogue(const upgrade_target* card, bool wait_for_enter) {
  ftp_quit(card ? card->work.ftp_session : 0);
  if (iplist_found) {
    console_printf("\tWarning: A file called 'iplist.txt' exists in this "
                   "directory\n");
    console_printf("\tthat may contain user names and passwords in clear "
                   "text.\n");
    console_printf("\tYou may want to delete this file if other users have "
                   "access\n");
    console_printf("\tto this directory.\n");
  }
  console_printf("\n\n\tThank you for using KVN products\n");
  if (wait_for_enter)
    wait_for_enter_to_exit();
}

void wait_for_enter_to_exit() {
  console_printf("\n\tPress <Enter> to exit.\n");
  std::string ignored;
  platform().console->ReadLine(&ignored);
}
