#include "upgrd_util/platform/interrupts.h"

#include <windows.h>

#include <atomic>

void remove_file_now(const char* path) {
  // The transfer's own handle allows it: the file goes once that is closed,
  // which the end of the process does.
  DeleteFileA(path);
}

namespace {

std::atomic<int> g_interrupts{0};
// How many are taken before one ends the process: the first, and one more
// after the cards have ended (g_spared).
std::atomic<int> g_taken{1};
std::atomic<bool> g_spared{false};

bool IsInterrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ||
         event == CTRL_CLOSE_EVENT;
}

// Runs on a thread of its own; FALSE goes on to the default handler, which
// ends the process.
BOOL WINAPI EndOnInterrupt(DWORD event) {
  if (IsInterrupt(event))
    remove_held_files();
  return FALSE;
}

BOOL WINAPI CountInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  // The second one goes on to EndOnInterrupt and the default handler.
  if (++g_interrupts > g_taken)
    return FALSE;
  if (g_spared) {
    static const char kSpared[] =
        "\n\tInterrupted: the run's end is said first; interrupt again to "
        "end the tool now.\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kSpared, sizeof(kSpared) - 1,
              &written, nullptr);
  }
  wake_interrupt_waiters();
  return TRUE;
}

}  // namespace

void end_on_interrupts() {
  SetConsoleCtrlHandler(CountInterrupt, FALSE);
  SetConsoleCtrlHandler(EndOnInterrupt, TRUE);
}

// The console's handlers run on a thread of their own, which takes the
// interrupts for every other.
void catch_interrupts() {
  // Handlers run last added first: this one, then EndOnInterrupt.
  SetConsoleCtrlHandler(EndOnInterrupt, TRUE);
  SetConsoleCtrlHandler(CountInterrupt, TRUE);
}

void spare_the_next_interrupt() {
  g_taken = g_interrupts + 1;
  g_spared = true;
}

int interrupts_received() {
  return g_interrupts;
}

// A question waits on a condition that the interrupt's waker ends here
// (console_win.cc).
int interrupt_descriptor() {
  return -1;
}

// There is no SIGUSR1 or SIGUSR2: the stop file is the way from outside.
bool starting_paused() {
  return false;
}

// A question waits on a condition that the wakers end (console_win.cc).
void wake_questions() {
  wake_interrupt_waiters();
}
