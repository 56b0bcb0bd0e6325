#include "upgrd_util/platform/child_process.h"

#include <cstdio>

bool child_ended_well(const ChildResult& result, double seconds,
                      std::string* reason) {
  char text[64];
  if (result.timed_out)
    snprintf(text, sizeof(text), "was ended after %g s", seconds);
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
