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
  if (++g_interrupts >= 2)
    return FALSE;
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
