#include "upgrd_util/run/upgrade_run.h"

#include <string>

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"

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
  close_result_log();
  return 1;
}
