#include "upgrd_util/platform/file_names.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string resolved_name(const std::string& path) {
  std::error_code error;
  fs::path full = fs::absolute(path, error);
  if (error)
    return fs::path(path).lexically_normal().generic_string();
  fs::path directory = full.parent_path();
  fs::path last = full.filename();
  // "d/.." names a directory, which a file name never does, but alike.
  if (last.empty() || last == "." || last == "..") {
    directory = full;
    last.clear();
  }
  fs::path real = fs::weakly_canonical(directory, error);
  if (error)
    real = directory.lexically_normal();
  return (real / last).lexically_normal().generic_string();
}

bool one_file(const std::string& a, const std::string& b) {
  if (resolved_name(a) == resolved_name(b))
    return true;
  std::error_code missing;
  return fs::equivalent(a, b, missing);
}
