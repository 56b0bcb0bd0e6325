#include "upgrd_util/platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "upgrd_util/platform/platform.h"

void RealConsole::Write(std::string_view text) {
  fwrite(text.data(), 1, text.size(), out_);
  // An unattended run is watched through whatever stdout is; keep it current.
  fflush(out_);
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

std::string printable_text(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  }
  return shown;
}
