#include <windows.h>

// Windows sleeps whole milliseconds, so what is below one is owed until it
// adds up to one.
void SleepMicroseconds(long microseconds) {
  thread_local long owed = 0;
  owed += microseconds;
  if (owed >= 1000) {
    Sleep(static_cast<DWORD>(owed / 1000));
    owed %= 1000;
  }
}
