#include "upgrd_util/campaign/refused_start.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/output/campaign_event.h"
#include "upgrd_util/output/campaign_metrics.h"
#include "upgrd_util/output/campaign_view.h"
#include "upgrd_util/output/replace_file.h"
#include "upgrd_util/platform/child_process.h"
#include "upgrd_util/platform/files.h"

namespace {

// Far above a campaign's metrics (a few KiB): a file larger than this is
// none of ours, and only the refusal is written.
const size_t kMaxMetricsBytes = 1 << 20;

// The metrics file as the last night left it; "" when there is none or it
// cannot be read.
std::string LastNightsMetrics(const std::string& path) {
  FILE* file = open_regular_file(path.c_str());
  if (!file)
    return "";
  std::string text;
  char buffer[16384];
  size_t got;
  while (text.size() <= kMaxMetricsBytes &&
         (got = fread(buffer, 1, sizeof(buffer), file)) > 0)
    text.append(buffer, got);
  bool failed = ferror(file) != 0;
  fclose(file);
  return failed || text.size() > kMaxMetricsBytes ? "" : text;
}

// The hook's program and arguments: as the inputs found them, or found
// now when the refusal came before they were looked at; empty when there
// is none to run.
std::vector<std::string> HookToRun(const ToolOptions& options,
                                   const NightInputs& night) {
  if (!night.hook.empty() || options.on_event.empty())
    return night.hook;
  std::vector<std::string> words = command_words(options.on_event);
  std::string path, error;
  if (words.empty() || !find_program(words[0], &path, &error))
    return {};
  return words;
}

}  // namespace

RefusalHeard::RefusalHeard()
    : console_(platform().console), seams_(platform()), scope_(&seams_) {
  seams_.console = this;
}

void RefusalHeard::WriteError(std::string_view text) {
  console_->WriteError(text);
  if (!line_.empty())
    return;
  // Its first line that says something, without the tool's name.
  std::string_view said = text;
  size_t begin = said.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos)
    return;
  said.remove_prefix(begin);
  said = said.substr(0, said.find_first_of("\r\n"));
  const std::string_view kTool = "upgrd_util: ";
  if (said.substr(0, kTool.size()) == kTool)
    said.remove_prefix(kTool.size());
  line_ = readable_text(said);
}

void tell_refused_start(const ToolOptions& options, const NightInputs& night,
                        bool held_elsewhere, const std::string& reason) {
  const std::string& metrics = night.files.metrics;
  if (!metrics.empty() && !held_elsewhere &&
      option_files_apart_quietly(night.files)) {
    std::string ignored;
    replace_file(metrics,
                 refused_metrics(LastNightsMetrics(metrics), unix_time_now()),
                 &ignored);
  }
  std::vector<std::string> hook_command = HookToRun(options, night);
  if (hook_command.empty())
    return;
  EventHook hook(hook_command);
  hook.Send("refused", refused_event_json(reason));
  hook.Finish();
  std::string unsaid = hook.Unsaid();
  if (!unsaid.empty())
    console_error_printf("%s", unsaid.c_str());
}
