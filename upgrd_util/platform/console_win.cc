#include "upgrd_util/platform/console.h"

#include <windows.h>

#include <string>

void RealConsole::WriteBackspaces(int count) {
  // Everything before must be out first, or a backspace would erase a
  // character that is still buffered.
  fflush(out_);
  // Straight to the console device when there is one.
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (out_ == stdout && count > 0 && GetConsoleMode(console, &mode)) {
    std::string backspaces(static_cast<size_t>(count), '\b');
    DWORD written;
    WriteConsoleA(console, backspaces.data(), static_cast<DWORD>(count),
                  &written, nullptr);
    return;
  }
  // Redirected: the backspaces go out with the text of the next Write.
  for (int i = 0; i < count; ++i)
    fputc('\b', out_);
}

bool RealConsole::ReadLine(std::string* line) {
  return LineOf([this] { return fgetc(in_); }, line);
}

bool RealConsole::IsTerminal() {
  DWORD mode;
  return out_ == stdout &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}
