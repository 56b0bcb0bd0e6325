#include "upgrd_util/platform/interrupts.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<int> g_interrupts{0};

BOOL WINAPI CountInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  // The second one goes on to the default handler, which ends the process.
  return ++g_interrupts < 2 ? TRUE : FALSE;
}

}  // namespace

void catch_interrupts() {
  SetConsoleCtrlHandler(CountInterrupt, TRUE);
}

int interrupts_received() {
  return g_interrupts;
}
