#include "upgrd_util/platform/clock.h"

#include <windows.h>

#include <ctime>

void RealClock::SleepMs(int milliseconds) {
  if (milliseconds > 0)
    Sleep(static_cast<DWORD>(milliseconds));
}

bool RealClock::LocalTime(struct tm* out) {
  time_t now = time(nullptr);
  struct tm local;
  if (now == static_cast<time_t>(-1) || localtime_s(&local, &now) != 0)
    return false;
  *out = local;
  return true;
}

double RealClock::Seconds() {
  return static_cast<double>(GetTickCount64()) / 1000.0;
}

long RealClock::UtcOffsetSeconds() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_s(&local, &now) != 0)
    return 0;
  // The local wall time read as if it were UTC, less the real instant.
  return static_cast<long>(_mkgmtime(&local) - now);
}

bool local_time_at(time_t when, struct tm* out, long* utc_offset) {
  struct tm local;
  if (localtime_s(&local, &when) != 0)
    return false;
  *out = local;
  // The local wall time read as if it were UTC, less the real instant.
  *utc_offset = static_cast<long>(_mkgmtime(&local) - when);
  return true;
}
