#include "upgrd_util/platform/interrupts.h"

#include <pthread.h>
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

// Ctrl-C, a polite kill, and a terminal that closes.
const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

void InterruptSet(sigset_t* set) {
  sigemptyset(set);
  for (int signal_number : kInterrupts)
    sigaddset(set, signal_number);
}

void Handle(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  // No handler may run inside another.
  InterruptSet(&action.sa_mask);
  // Interrupted system calls go on: a wait or a transfer is not cut short.
  action.sa_flags = SA_RESTART;
  for (int signal_number : kInterrupts)
    sigaction(signal_number, &action, nullptr);
}

}  // namespace

void end_on_interrupts() {
  // A console that went away (a pipe into head, say) makes a write fail,
  // never the run end: result.txt, journals and the report go on.
  signal(SIGPIPE, SIG_IGN);
  Handle(EndOnInterrupt);
}

void block_interrupts_here() {
  sigset_t set;
  InterruptSet(&set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void catch_interrupts() {
  Handle(CountInterrupt);
}

int interrupts_received() {
  return g_interrupts;
}
