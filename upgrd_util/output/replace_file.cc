#include "upgrd_util/output/replace_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "upgrd_util/platform/append_file.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/interrupts.h"

namespace {

// Returns false, with the reason, when `path` is there but no regular file.
bool RegularOrNone(const std::string& path, std::string* reason) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode))
    return true;
  *reason = S_ISDIR(info.st_mode) ? "it is a directory"
                                  : "it is not a regular file";
  return false;
}

}  // namespace

bool clear_the_way_beside(const std::string& path, const std::string& temp,
                          std::string* reason) {
  if (!RegularOrNone(path, reason))
    return false;
  // One left by a killed run, or a link planted in its place, goes.
  remove(temp.c_str());
  return true;
}

FILE* create_temporary_beside(const std::string& path, std::string* temp,
                              int* held, std::string* reason) {
  if (!RegularOrNone(path, reason))
    return nullptr;
  std::filesystem::path target(path);
  std::string name = ".";
  name += target.filename().string();
  name += '.';
  return create_unique_file((target.parent_path() / name).string(), temp,
                            held, reason);
}

bool can_replace_file(const std::string& path, std::string* reason) {
  std::string temp;
  int held;
  FILE* file = create_temporary_beside(path, &temp, &held, reason);
  if (!file)
    return false;
  fclose(file);
  remove(temp.c_str());
  release_temporary_file(held);
  return true;
}

bool replace_file(const std::string& path, const std::string& text,
                  std::string* reason) {
  std::string temp;
  int held;
  FILE* file = create_temporary_beside(path, &temp, &held, reason);
  if (!file)
    return false;
  // On the disk before it takes the name, and the name after: a power cut
  // leaves the old file or the new one, never an empty one.
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  if (!written)
    *reason = strerror(errno);
  written = written && sync_stream(file, reason);
  if (fclose(file) != 0 && written) {
    written = false;
    *reason = strerror(errno);
  }
  bool replaced = written && rename_durably(temp, path, reason);
  // Gone already when only the directory's sync failed.
  if (!replaced)
    remove(temp.c_str());
  release_temporary_file(held);
  return replaced;
}
