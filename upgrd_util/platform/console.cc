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

void RealConsole::WriteError(std::string_view text) {
  if (!errors_apart_)
    return Write(text);
  fwrite(text.data(), 1, text.size(), errors_);
  fflush(errors_);
}

bool RealConsole::LineOf(const std::function<int()>& next,
                         std::string* line) {
  line->clear();
  bool read_any = false;
  int c;
  while ((c = next()) >= 0) {
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

namespace {

// Formats into a bounded buffer; longer results are cut.
std::string Format(const char* format, va_list args) {
  char buffer[4096];
  int n = vsnprintf(buffer, sizeof(buffer), format, args);
  if (n < 0)
    return "";
  size_t length = static_cast<size_t>(n) < sizeof(buffer)
                      ? static_cast<size_t>(n)
                      : sizeof(buffer) - 1;
  return std::string(buffer, length);
}

}  // namespace

void console_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  platform().console->Write(text);
}

void console_error_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  platform().console->WriteError(text);
}

std::string printable_text(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  }
  return shown;
}
