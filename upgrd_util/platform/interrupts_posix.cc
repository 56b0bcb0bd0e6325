#include "upgrd_util/platform/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

void remove_file_now(const char* path) {
  unlink(path);
}

namespace {

// Written by the handler, read by every thread: a lock-free atomic is safe
// in both places.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Ends the process as the signal would have, without what it was writing.
void EndOnInterrupt(int signal_number) {
  remove_held_files();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void CountInterrupt(int signal_number) {
  if (g_interrupts.fetch_add(1) + 1 < 2)
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
