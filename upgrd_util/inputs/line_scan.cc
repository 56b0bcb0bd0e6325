#include "upgrd_util/inputs/line_scan.h"

#include <cctype>
#include <cstring>

namespace {

bool IsWhite(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

void skip_byte_order_mark(FILE* file) {
  static const char kMark[] = "\xEF\xBB\xBF";
  for (int i = 0; i < 3; ++i) {
    int c = fgetc(file);
    if (c == static_cast<unsigned char>(kMark[i]))
      continue;
    // Not a mark: give back what was read (one character can always be
    // pushed back; a partial mark is no text anyone wrote on purpose).
    if (c != EOF)
      ungetc(c, file);
    return;
  }
}

bool read_line_piece(FILE* file, char* buffer) {
  if (!fgets(buffer, kLineBufferSize, file))
    return false;
  // Files written on Windows: the line end is LF for the rest of the tool,
  // as a text-mode read gives it there.
  size_t length = strlen(buffer);
  if (length >= 2 && buffer[length - 2] == '\r' && buffer[length - 1] == '\n') {
    buffer[length - 2] = '\n';
    buffer[length - 1] = '\0';
  }
  return true;
}

bool scan_line(const char* line, const char* pattern, std::string* value) {
  value->clear();
  const char* p = line;
  for (const char* q = pattern; *q; ++q) {
    if (q[0] == '%' && q[1] == 's') {
      while (IsWhite(*p))
        ++p;
      const char* start = p;
      while (*p && !IsWhite(*p))
        ++p;
      value->assign(start, p);
      return !value->empty();
    }
    if (*q == ' ') {
      while (IsWhite(*p))
        ++p;
    } else if (*p++ != *q) {
      return false;
    }
  }
  return false;
}
