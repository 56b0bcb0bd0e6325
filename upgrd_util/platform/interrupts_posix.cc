#include "upgrd_util/platform/interrupts.h"

#include <signal.h>
#include <unistd.h>

void remove_file_now(const char* path) {
  unlink(path);
}

namespace {

volatile sig_atomic_t g_interrupts = 0;

// Ends the process as the signal would have, without what it was writing.
void EndOnInterrupt(int signal_number) {
  remove_held_files();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void CountInterrupt(int signal_number) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts < 2)
    return;
  // The second one ends the tool with the signal's own status.
  EndOnInterrupt(signal_number);
}

void Handle(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Neither handler may run inside the other.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  // Interrupted system calls go on: a wait or a transfer is not cut short.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

void end_on_interrupts() {
  Handle(EndOnInterrupt);
}

void catch_interrupts() {
  Handle(CountInterrupt);
}

int interrupts_received() {
  return g_interrupts;
}
