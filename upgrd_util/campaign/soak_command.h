#ifndef UPGRD_UTIL_CAMPAIGN_SOAK_COMMAND_H_
#define UPGRD_UTIL_CAMPAIGN_SOAK_COMMAND_H_

#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/card/soak_check.h"
#include "upgrd_util/platform/child_process.h"

/// What --soak-command is allowed: a minute, then SIGTERM to its process
/// group and SIGKILL after run_child's grace; a few KiB of its output, for
/// the card's log.
ChildLimits soak_command_limits();

/// The JSON object --soak-command reads on its standard input, one line:
/// the card's address, its wave, the hardware its ZEL names, the ZEL it
/// listed before and after its loads, the modules it was sent, the run's
/// id and its site. Texts as the report has them (readable_text).
std::string soak_command_input(const upgrade_target& card);

/// Runs --soak-command's words (command_words) for a card that passed the
/// built-in check (soak_check), with the card's address as its last
/// argument and soak_command_input on its standard input, through `run`
/// (run_child: no shell, a process group of its own, the cards' password
/// kept from it). Its output and how it ended go to the card's log.
/// Returns true when it exited with code 0 within its time; otherwise
/// false with the step "command" and, as the reply, how it ended and the
/// first line of its output ("exited with code 3: no route").
bool run_soak_command(const std::vector<std::string>& command,
                      const upgrade_target& card, SoakFailure* failure,
                      const ChildLimits& limits = soak_command_limits(),
                      const EventHook::Runner& run = run_child);

#endif  // UPGRD_UTIL_CAMPAIGN_SOAK_COMMAND_H_
