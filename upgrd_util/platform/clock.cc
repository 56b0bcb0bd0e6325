#include "upgrd_util/platform/clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif
#include <ctime>

#ifdef _WIN32

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

#else

void RealClock::SleepMs(int milliseconds) {
  if (milliseconds <= 0)
    return;
  struct timespec left;
  left.tv_sec = milliseconds / 1000;
  left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // A signal must not cut a mandated wait short.
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

bool RealClock::LocalTime(struct tm* out) {
  time_t now = time(nullptr);
  struct tm local;
  if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr)
    return false;
  *out = local;
  return true;
}

#endif
