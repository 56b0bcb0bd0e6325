#include "upgrd_util/platform/clock.h"

#include <cerrno>
#include <ctime>

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

double RealClock::Seconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

long RealClock::UtcOffsetSeconds() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr)
    return 0;
  // The local wall time read as if it were UTC, less the real instant.
  return static_cast<long>(timegm(&local) - now);
}

bool local_time_at(time_t when, struct tm* out, long* utc_offset) {
  struct tm local;
  if (localtime_r(&when, &local) == nullptr)
    return false;
  *out = local;
  // The local wall time read as if it were UTC, less the real instant.
  *utc_offset = static_cast<long>(timegm(&local) - when);
  return true;
}
