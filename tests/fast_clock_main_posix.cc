#include <time.h>

#include <cerrno>

void SleepMicroseconds(long microseconds) {
  struct timespec left = {microseconds / 1000000,
                          (microseconds % 1000000) * 1000L};
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}
