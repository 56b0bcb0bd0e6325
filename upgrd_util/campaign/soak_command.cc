#include "upgrd_util/campaign/soak_command.h"

#include <nlohmann/json.hpp>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/modules/module_hardware.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"

ChildLimits soak_command_limits() {
  ChildLimits limits;
  limits.seconds = 60;
  // Enough for what a check says; the rest would only swell the block.
  limits.output_bytes = 4096;
  return limits;
}

std::string soak_command_input(const upgrade_target& card) {
  const CardState& state = card.state;
  nlohmann::ordered_json input = {
      {"address", readable_text(card.ip)},
      {"wave", state.wave},
      {"hardware", readable_text(module_hardware_id(state.zel_before))},
      {"zel_before", readable_text(state.zel_before)},
      {"zel_after", readable_text(state.zel_after)},
      {"zel_target", readable_text(zel_module_name)},
      {"app_target", readable_text(app_module_name)},
      {"run_id", readable_text(run_id)},
      {"site", readable_text(site_name)},
  };
  return input.dump(-1, ' ', false,
                    nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

bool run_soak_command(const std::vector<std::string>& command,
                      const upgrade_target& card, SoakFailure* failure,
                      const ChildLimits& limits,
                      const EventHook::Runner& run) {
  std::vector<std::string> argv = command;
  argv.push_back(card.ip);
  ChildResult result;
  std::string why;
  bool well = run(argv, soak_command_input(card), limits, &result, &why);
  // What it printed is text from outside the tool, as a card's is.
  std::string output = readable_text(result.output);
  log_printf("\nThe soak command said:\n%s%s", output.c_str(),
             output.empty() || output.back() == '\n' ? "" : "\n");
  if (well) {
    log_printf("The soak command ended well in %.1f s.\n", result.seconds);
    log_flush();
    return true;
  }
  log_printf("The soak command failed: it %s.\n", why.c_str());
  log_flush();
  std::string first_line = result.output.substr(0, result.output.find('\n'));
  std::string reply = first_line.empty() ? why : why + ": " + first_line;
  failure->step = "command";
  // Cut as the card's answers are, before it is made readable, so that no
  // character is cut in two.
  failure->reply = readable_text(reply.substr(0, 199));
  failure->local = false;
  return false;
}
