#include "upgrd_util/tool_main.h"

#include "upgrd_util/campaign/campaign.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/dialogue.h"
#include "upgrd_util/run/tool_options.h"

int tool_main(int argc, char** argv) {
  forbid_core_dumps();
  // Ctrl-C or SIGTERM ends the run at once, but leaves no part file of a
  // transfer behind.
  end_on_interrupts();
  if (argc <= 1)
    return run_dialogue();
  // A campaign runs from scripts, which tell its errors from its progress.
  platform().console->SendErrorsApart();
  ToolOptions options;
  int code = parse_tool_options(argc, argv, &options);
  if (code >= 0)
    return code;
  return run_campaign(options);
}
