#ifndef UPGRD_UTIL_OUTPUT_REPLACE_FILE_H_
#define UPGRD_UTIL_OUTPUT_REPLACE_FILE_H_

#include <cstdio>
#include <string>

/// Before `temp` is made anew to take the place of `path`: true when `path`
/// is a regular file or none; whatever is left at `temp` (a killed run's
/// file, a planted link) is removed. Returns false, with the reason in
/// *reason, else.
bool clear_the_way_beside(const std::string& path, const std::string& temp,
                          std::string* reason);

/// Makes `temp` anew for writing, the file that is to take the place of
/// `path`: only when `path` is a regular file or none, and never through a
/// link or over a file left at `temp` (that goes first). Returns nullptr,
/// with the reason in *reason, else.
FILE* create_file_beside(const std::string& path, const std::string& temp,
                         std::string* reason);

/// Writes `text` to "<path>.tmp" (made anew, never through a link) and
/// renames it over `path`, so that a reader sees the old file or the new
/// one, whole. Returns false, with the reason in *reason, when `path` is not
/// a regular file or either step fails (then `path` is left as it was).
bool replace_file(const std::string& path, const std::string& text,
                  std::string* reason);

/// Before anything is written: true when replace_file could write `path`
/// (a regular file or none, in a directory that takes a new file); else
/// false, with the reason in *reason. Leaves `path` as it is.
bool can_replace_file(const std::string& path, std::string* reason);

#endif  // UPGRD_UTIL_OUTPUT_REPLACE_FILE_H_
