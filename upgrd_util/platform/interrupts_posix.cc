#include "upgrd_util/platform/interrupts.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

void remove_file_now(const char* path) {
  unlink(path);
}

namespace {

// Written by the thread that takes the signals (or a handler), read by
// every thread: a lock-free atomic is safe in both places.
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Whether the next interrupt ends the process, once signals are taken by
// their own thread.
std::atomic<bool> g_end_at_once{false};
// How many interrupts are taken before one ends the process: the first,
// and one more after the cards have ended (g_spared).
std::atomic<int> g_taken{1};
std::atomic<bool> g_spared{false};
bool g_taken_apart = false;  // catch_interrupts was called
// Readable from the first interrupt on: [0] to poll, [1] written once.
int g_wake[2] = {-1, -1};

// Ends the process as the signal would have, without what it was writing.
void EndOnInterrupt(int signal_number) {
  remove_held_files();
  signal(signal_number, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);  // should the signal be ignored after all
}

// Whether SIGUSR1 paused starting cards and no SIGUSR2 resumed it since.
std::atomic<bool> g_paused{false};

// Ctrl-C, a polite kill, and a terminal that closes.
const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
// Pause and resume: taken by the same thread, never ending the process.
const int kPauses[] = {SIGUSR1, SIGUSR2};

void InterruptSet(sigset_t* set) {
  sigemptyset(set);
  for (int signal_number : kInterrupts)
    sigaddset(set, signal_number);
}

// The interrupts and the pauses: what the thread takes.
void TakenSet(sigset_t* set) {
  InterruptSet(set);
  for (int signal_number : kPauses)
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

// Says so on standard error, in one write that needs no lock: the console
// may belong to a thread that is stuck.
void SayEnding(bool again) {
  static const char kAgain[] = "\n\tInterrupted again: the tool ends now.\n";
  static const char kEnds[] = "\n\tInterrupted: the tool ends now.\n";
  ssize_t ignored = again ? write(2, kAgain, sizeof(kAgain) - 1)
                          : write(2, kEnds, sizeof(kEnds) - 1);
  (void)ignored;
}

void SaySpared() {
  static const char kSpared[] =
      "\n\tInterrupted: the run's end is said first; interrupt again to end "
      "the tool now.\n";
  ssize_t ignored = write(2, kSpared, sizeof(kSpared) - 1);
  (void)ignored;
}

// The one thread that takes the interrupts: the first wakes whatever waits,
// the second (or any at the closing question) ends the process; after the
// cards one more is taken as the first.
void TakeInterrupts() {
  sigset_t set;
  TakenSet(&set);
  for (;;) {
    int signal_number = sigwaitinfo(&set, nullptr);
    if (signal_number < 0)
      continue;  // EINTR
    if (signal_number == SIGUSR1 || signal_number == SIGUSR2) {
      g_paused = signal_number == SIGUSR1;
      wake_interrupt_waiters();
      continue;
    }
    if (g_end_at_once || g_interrupts.fetch_add(1) + 1 > g_taken) {
      SayEnding(!g_end_at_once);
      EndOnInterrupt(signal_number);
    }
    if (g_spared)
      SaySpared();
    ssize_t ignored = write(g_wake[1], "!", 1);
    (void)ignored;
    wake_interrupt_waiters();
  }
}

}  // namespace

void end_on_interrupts() {
  // A console that went away (a pipe into head, say) makes a write fail,
  // never the run end: result.txt, journals and the report go on.
  signal(SIGPIPE, SIG_IGN);
  if (g_taken_apart)
    g_end_at_once = true;
  else
    Handle(EndOnInterrupt);
}

void catch_interrupts() {
  if (g_taken_apart)
    return;
  // Blocked before any other thread starts, so that every thread started
  // later has them blocked too and only sigwaitinfo takes them.
  sigset_t set;
  TakenSet(&set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (pipe(g_wake) != 0) {
    g_wake[0] = g_wake[1] = -1;
  } else {
    fcntl(g_wake[0], F_SETFD, FD_CLOEXEC);
    fcntl(g_wake[1], F_SETFD, FD_CLOEXEC);
  }
  try {
    std::thread(TakeInterrupts).detach();
  } catch (const std::system_error&) {
    // Without a thread of their own, signals end the tool as before; a
    // pause, which nothing could take, is ignored rather than ending it.
    for (int signal_number : kPauses)
      signal(signal_number, SIG_IGN);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    Handle(EndOnInterrupt);
    return;
  }
  g_taken_apart = true;
}

void spare_the_next_interrupt() {
  g_taken = g_interrupts + 1;
  g_spared = true;
}

int interrupts_received() {
  return g_interrupts;
}

int interrupt_descriptor() {
  return g_wake[0];
}

bool starting_paused() {
  return g_paused;
}

void wake_questions() {
  if (g_wake[1] < 0)
    return;
  ssize_t ignored = write(g_wake[1], "!", 1);
  (void)ignored;
}
