#include "upgrd_util/platform/interrupts.h"

#include <signal.h>

namespace {

volatile sig_atomic_t g_interrupts = 0;

void CountInterrupt(int signal_number) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts < 2)
    return;
  // The second one ends the tool with the signal's own status.
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = CountInterrupt;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls go on: a wait or a transfer is not cut short.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int interrupts_received() {
  return g_interrupts;
}
