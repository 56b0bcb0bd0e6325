#include "upgrd_util/inputs/password_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "upgrd_util/platform/files.h"

bool read_password_file(const char* path, char* password, size_t size,
                        std::string* error) {
  memset(password, 0, size);
  std::string reason;
  FILE* file = open_private_file(path, &reason);
  if (!file) {
    *error = std::string(path) + ": " + reason;
    return false;
  }
  // The field, a "\r" and one byte more at most: enough to tell a line too
  // long from one that fits.
  std::string line;
  int c;
  while (line.size() <= size && (c = fgetc(file)) != EOF && c != '\n')
    line += static_cast<char>(c);
  fclose(file);
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  bool fits = !line.empty() && line.size() < size;
  if (fits)
    memcpy(password, line.data(), line.size());
  std::fill(line.begin(), line.end(), '\0');
  if (!fits) {
    *error = std::string(path) + ": its first line " +
             (line.empty() ? std::string("is empty")
                           : "is longer than " + std::to_string(size - 1) +
                                 " characters");
    return false;
  }
  return true;
}
