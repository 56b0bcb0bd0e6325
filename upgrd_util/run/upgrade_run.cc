#include "upgrd_util/run/upgrade_run.h"

#include <cstdio>
#include <string>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/base/upgrade_end.h"
#include "upgrd_util/inputs/firmware_selection.h"
#include "upgrd_util/inputs/single_target.h"
#include "upgrd_util/inputs/target_list.h"
#include "upgrd_util/modules/module_banner.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/campaign.h"
#include "upgrd_util/run/campaign_options.h"
#include "upgrd_util/run/card_sequence.h"
#include "upgrd_util/run/start_menu.h"
#include "upgrd_util/run/upgrade_summary.h"

namespace {

// The cards of this run: those of iplist.txt, if the operator confirms
// them, otherwise one entered at the console.
upgrade_target* ChooseTargets() {
  // Only a regular file counts: a FIFO would block the run for ever.
  FILE* list_file = open_regular_file("iplist.txt");
  if (!list_file)
    return enter_single_target();
  // The file stays open for the whole run.
  iplist_found = true;
  int count = 0;
  upgrade_target* listed = read_target_list(&count, list_file);
  if (count == 0)
    return enter_single_target();
  if (count == -2) {
    console_printf("\tSee error log for details.\n\n");
    return enter_single_target();
  }
  switch (ask_start_menu(count)) {
    case '1':
      return listed;
    case '2':
      free_upgrade_targets(listed);
      return enter_single_target();
    default:
      free_upgrade_targets(listed);
      finish_and_exit();
  }
}

}  // namespace

bool start_upgrade_run() {
  // Without its log a run would leave no record of what it did to the
  // cards, so it does not start.
  std::string reason;
  bool in_use = false;
  if (!open_result_log(&reason, &in_use)) {
    if (in_use)
      console_printf("\tAnother run of the tool is using this directory "
                     "(%s is locked). No upgrade was started.\n",
                     kResultLogName);
    else
      console_printf("\tCannot open the result log '%s': %s. No upgrade was "
                     "started.\n",
                     kResultLogName, reason.c_str());
    return false;
  }
  read_firmware_selection(zel_module_name, app_module_name);
  show_module_banner(zel_module_name, app_module_name);
  return true;
}

int run_upgrade_tool() {
  if (!start_upgrade_run())
    return 1;
  upgrade_target* targets = ChooseTargets();
  // One card after the other; once a card needed the interim patch, every
  // later card of the run is given the same longer allowance.
  int32_t probe_factor = 1;
  for (upgrade_target* target = targets; target; target = target->next) {
    target->state.probe_factor = probe_factor;
    if (!upgrade_card(target)) {
      // Nothing is known of what this card runs: the run ends here.
      close_result_log();
      finish_and_exit(target);
    }
    probe_factor = target->state.probe_factor;
  }
  print_summary(targets);
  close_result_log();
  finish_and_exit();
}

int run_tool(int argc, char** argv) {
  // Ctrl-C or SIGTERM ends the run at once, but leaves no part file of a
  // transfer behind.
  end_on_interrupts();
  if (argc <= 1)
    return run_upgrade_tool();
  campaign_options options;
  int code = parse_campaign_options(argc, argv, &options);
  if (code >= 0)
    return code;
  return run_campaign(options);
}
