#ifndef UPGRD_UTIL_PLATFORM_FILES_H_
#define UPGRD_UTIL_PLATFORM_FILES_H_

#include <cstdio>

/// What names a file in the working directory: "./" + name (".\\" + name
/// on Windows).
extern const char kCurrentDirectoryPrefix[];

/// Opens `path` for binary reading when it names a regular file. Returns the
/// stream, or nullptr when it is missing, unreadable, or a directory, FIFO or
/// device (which are never opened far enough to block).
FILE* open_regular_file(const char* path);

/// Takes an exclusive lock on the open `file` for as long as the process
/// holds it open (flock on POSIX, LockFileEx on Windows); the system drops
/// it when the process ends, however it ends. Returns false, at once, when
/// another process holds it.
bool lock_exclusively(FILE* file);

/// Raises the limit of open files to the most the system allows: a card
/// upgraded beside many others needs a few sockets and files of its own.
void raise_open_file_limit();

/// Keeps the process from leaving a core file, or being read by a
/// debugger of the same user: its memory holds the cards' passwords.
void forbid_core_dumps();

#endif  // UPGRD_UTIL_PLATFORM_FILES_H_
