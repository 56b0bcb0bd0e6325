#include "upgrd_util/run/upgrade_run.h"

#include <cstdio>
#include <string>

#include "upgrd_util/inputs/firmware_selection.h"
#include "upgrd_util/inputs/target_list.h"
#include "upgrd_util/modules/module_banner.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/run/upgrade_end.h"

int run_upgrade_tool() {
  // Without its log a run would leave no record of what it did to the
  // cards, so it does not start.
  std::string reason;
  if (!open_result_log(&reason)) {
    console_printf("\tCannot open the result log '%s': %s. No upgrade was "
                   "started.\n",
                   kResultLogName, reason.c_str());
    return 1;
  }
  read_firmware_selection(zel_module_name, app_module_name);
  show_module_banner(zel_module_name, app_module_name);

  // The list file stays open for the whole run.
  FILE* list_file = fopen("iplist.txt", "r");
  if (list_file) {
    iplist_found = true;
    int count = 0;
    upgrade_target* targets = read_target_list(&count, list_file);
    if (count == -2)
      console_printf("\tSee error log for details.\n\n");
    free_upgrade_targets(targets);
  }
  close_result_log();
  finish_and_exit();
}
