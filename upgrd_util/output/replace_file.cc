#include "upgrd_util/output/replace_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "upgrd_util/platform/files.h"

bool clear_the_way_beside(const std::string& path, const std::string& temp,
                          std::string* reason) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    *reason = S_ISDIR(info.st_mode) ? "it is a directory"
                                    : "it is not a regular file";
    return false;
  }
  // One left by a killed run, or a link planted in its place, goes.
  remove(temp.c_str());
  return true;
}

FILE* create_file_beside(const std::string& path, const std::string& temp,
                         std::string* reason) {
  if (!clear_the_way_beside(path, temp, reason))
    return nullptr;
  return create_new_file(temp.c_str(), reason);
}

bool can_replace_file(const std::string& path, std::string* reason) {
  FILE* file = create_file_beside(path, path + ".tmp", reason);
  if (!file)
    return false;
  fclose(file);
  remove((path + ".tmp").c_str());
  return true;
}

bool replace_file(const std::string& path, const std::string& text,
                  std::string* reason) {
  std::string temp = path + ".tmp";
  FILE* file = create_file_beside(path, temp, reason);
  if (!file)
    return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size() &&
                 fflush(file) == 0;
  if (!written)
    *reason = strerror(errno);
  // Flushed, the stream holds nothing more to lose.
  fclose(file);
  std::error_code error;
  if (written)
    std::filesystem::rename(temp, path, error);
  if (written && !error)
    return true;
  if (error)
    *reason = error.message();
  remove(temp.c_str());
  return false;
}
