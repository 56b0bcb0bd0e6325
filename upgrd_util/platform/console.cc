#include "upgrd_util/platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "upgrd_util/platform/platform.h"

void RealConsole::Write(std::string_view text) {
  fwrite(text.data(), 1, text.size(), out_);
  // An unattended run is watched through whatever stdout is; keep it current.
  fflush(out_);
}

void RealConsole::WriteBackspaces(int count) {
  // Everything before must be out first, or a backspace would erase a
  // character that is still buffered.
  fflush(out_);
#ifdef _WIN32
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
#endif
  for (int i = 0; i < count; ++i)
    fputc('\b', out_);
  // No flush: the backspaces go out with the text of the next Write, which
  // every caller makes at once, in one system call instead of two for each
  // turn of a mark (840 turns a card during the mandated waits).
}

bool RealConsole::ReadLine(std::string* line) {
  line->clear();
  bool read_any = false;
  int c;
  while ((c = fgetc(in_)) != EOF) {
    read_any = true;
    if (c == '\n')
      break;
    if (line->size() < kMaxLineLength)
      line->push_back(static_cast<char>(c));
  }
  if (!read_any)
    return false;
  if (!line->empty() && line->back() == '\r' && line->size() < kMaxLineLength)
    line->pop_back();
  return true;
}

void console_printf(const char* format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (n < 0)
    return;
  size_t length = static_cast<size_t>(n) < sizeof(buffer)
                      ? static_cast<size_t>(n)
                      : sizeof(buffer) - 1;
  platform().console->Write(std::string_view(buffer, length));
}
