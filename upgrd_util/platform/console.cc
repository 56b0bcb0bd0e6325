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

namespace {

// The length of the well-formed UTF-8 sequence at text[i] whose first byte
// is not ASCII, or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                  : c >= 0xE0 && c <= 0xEF ? 3
                  : c >= 0xF0 && c <= 0xF4 ? 4
                                           : 0;
  if (length == 0 || i + length > text.size())
    return 0;
  unsigned char second = static_cast<unsigned char>(text[i + 1]);
  // The second byte's range rules out overlong forms, surrogates and code
  // points above U+10FFFF.
  unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high)
    return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
      return 0;
  }
  return length;
}

// Whether the well-formed sequence of `length` bytes at text[i] is a
// control: C1, one that sets the direction of text, or the line and
// paragraph separators U+2028 and U+2029, which end a line for a reader of
// JSON lines or JavaScript.
bool IsControl(std::string_view text, size_t i, size_t length) {
  unsigned char a = static_cast<unsigned char>(text[i]);
  unsigned char b = static_cast<unsigned char>(text[i + 1]);
  if (length == 2)
    return (a == 0xC2 && b < 0xA0) || (a == 0xD8 && b == 0x9C);
  if (length != 3 || a != 0xE2)
    return false;
  unsigned char c = static_cast<unsigned char>(text[i + 2]);
  return (b == 0x80 && (c == 0x8E || c == 0x8F || (c >= 0xA8 && c <= 0xAE))) ||
         (b == 0x81 && c >= 0xA6 && c <= 0xA9);
}

}  // namespace

std::string readable_text(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      bool control = (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
      shown += control ? '?' : text[i];
      ++i;
      continue;
    }
    size_t length = SequenceLength(text, i);
    if (length == 0) {
      shown += "\xEF\xBF\xBD";
      length = 1;
    } else if (IsControl(text, i, length)) {
      shown += '?';
    } else {
      shown.append(text, i, length);
    }
    i += length;
  }
  return shown;
}

std::string printable_text(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  }
  return shown;
}
