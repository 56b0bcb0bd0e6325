#ifndef UPGRD_UTIL_PLATFORM_FILE_NAMES_H_
#define UPGRD_UTIL_PLATFORM_FILE_NAMES_H_

#include <string>

/// What `path` names once it is made: the real path of its directory
/// (relative names made absolute; ".", ".." and links resolved as far as
/// the directories exist) and its last name, with "/" between names.
std::string resolved_name(const std::string& path);

/// True when `a` and `b` name one file, whether it exists or is still to
/// be made: their resolved names are one, or both exist and are one file
/// (the same device and inode; on Windows the same volume and file index),
/// as a file and a link to it are.
bool one_file(const std::string& a, const std::string& b);

#endif  // UPGRD_UTIL_PLATFORM_FILE_NAMES_H_
