#include "upgrd_util/card/probe.h"

#include <string>

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char kMarks[] = "|/-\\";
const uint32_t kRepliesWanted = 20;

// Puts `mark` with a blank before it over the last two columns.
void DrawMark(char mark) {
  platform().console->WriteBackspaces(2);
  char text[3] = {' ', mark, '\0'};
  platform().console->Write(text);
}

// The probe proper, once the socket layer is up.
int ProbeWithSocketLayer(IcmpEcho* icmp, const char* ip, uint32_t budget) {
  std::string reason;
  if (!icmp->Open(&reason)) {
    log_printf("PING: ICMP handle was not created successfully\n");
    // Otherwise every card would look dead with no hint why.
    log_printf("PING: %s\n", reason.c_str());
    log_flush();
    return 0;
  }
  uint32_t successes = 0;
  uint32_t failures = 0;
  while (failures < budget) {
    int replies = icmp->SendEcho(ip);
    DrawMark(kMarks[failures % 4]);
    if (replies == 0) {
      ++failures;
      continue;
    }
    if (++successes < kRepliesWanted)
      continue;
    log_flush();
    if (!icmp->Close()) {
      log_printf("PING: ICMP handle was not closed successfully\n");
      log_flush();
    }
    platform().console->WriteBackspaces(2);
    platform().console->Write("    ");
    return 1;
  }
  icmp->Close();
  log_printf("\nPing at %s failed\n", ip);
  log_flush();
  platform().console->WriteBackspaces(2);
  platform().console->Write("     ");
  return 0;
}

}  // namespace

int probe_target(const upgrade_target* target, uint32_t allowance) {
  uint32_t budget = allowance * static_cast<uint32_t>(target->work.probe_factor);
  IcmpEcho* icmp = platform().icmp;
  if (!icmp->StartUp()) {
    log_printf("PING: couldn't find a useable winsock.dll.");
    log_flush();
    return 0;
  }
  int result = ProbeWithSocketLayer(icmp, target->ip, budget);
  icmp->ShutDown();
  return result;
}

void wait_with_spinner(int32_t seconds) {
  // Without anyone to see the mark turn, one sleep does: a thousand cards
  // waiting at once need not wake four times a second each.
  if (!platform().console->IsWatched()) {
    if (seconds > 0)
      platform().clock->SleepMs(seconds * 1000);
    return;
  }
  for (int32_t second = 0; second < seconds; ++second) {
    for (int step = 0; step < 4; ++step) {
      platform().clock->SleepMs(250);
      DrawMark(kMarks[step]);
    }
  }
  platform().console->WriteBackspaces(2);
  platform().console->Write("     ");
}
