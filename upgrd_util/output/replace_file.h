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

/// Makes a new file for writing beside `path`, only when `path` is a
/// regular file or none: ".<name>.<process id>_<count>" in its directory,
/// never through a link nor one another writer of `path` uses, hidden and
/// not ending as `path` does (a collector of "*.prom" skips it). It is held
/// for removal should an interrupt end the process. Returns the stream, its
/// name in *temp and the slot to release in *held (release_temporary_file);
/// else nullptr, with the reason in *reason.
FILE* create_temporary_beside(const std::string& path, std::string* temp,
                              int* held, std::string* reason);

/// Writes `text` to a file of create_temporary_beside and renames it over
/// `path`, so that a reader sees the old file or the new one, whole; the
/// file is synced before the rename and its directory after, so that after
/// a power cut too.
/// Returns false, with the reason in *reason, when `path` is not a regular
/// file or any step fails: then `path` is left as it was and the temporary
/// file is gone.
bool replace_file(const std::string& path, const std::string& text,
                  std::string* reason);

/// Before anything is written: true when replace_file could write `path`
/// (a regular file or none, in a directory that takes a new file); else
/// false, with the reason in *reason. Leaves `path` as it is.
bool can_replace_file(const std::string& path, std::string* reason);

#endif  // UPGRD_UTIL_OUTPUT_REPLACE_FILE_H_
