#include "upgrd_util/platform/child_process.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_kept_mutex;
std::vector<std::string> g_kept;  // names of variables no child gets
}  // namespace

void keep_from_children(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  g_kept.push_back(name);
}

std::vector<std::string> names_kept_from_children() {
  std::lock_guard<std::mutex> lock(g_kept_mutex);
  return g_kept;
}

bool child_ended_well(const ChildResult& result, double seconds,
                      std::string* reason) {
  char text[64];
  if (result.timed_out)
    snprintf(text, sizeof(text), "was ended after %g s", seconds);
  else if (result.cut_short)
    snprintf(text, sizeof(text), "was cut short after %.1f s",
             result.seconds);
  else if (result.signal != 0)
    snprintf(text, sizeof(text), "was ended by signal %d", result.signal);
  else if (result.exit_code != 0)
    snprintf(text, sizeof(text), "exited with code %d", result.exit_code);
  else if (result.input_refused)
    snprintf(text, sizeof(text), "did not take its standard input");
  else
    return true;
  *reason = text;
  return false;
}
