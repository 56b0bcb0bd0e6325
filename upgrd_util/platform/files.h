#ifndef UPGRD_UTIL_PLATFORM_FILES_H_
#define UPGRD_UTIL_PLATFORM_FILES_H_

#include <cstdio>
#include <string>

/// What names a file in the working directory: "./" + name (".\\" + name
/// on Windows).
extern const char kCurrentDirectoryPrefix[];

/// Opens `path` for binary reading when it names a regular file. Returns the
/// stream, or nullptr when it is missing, unreadable, or a directory, FIFO or
/// device (which are never opened far enough to block).
FILE* open_regular_file(const char* path);

/// Opens `path` for reading when it is a secret of the user's, as ssh
/// wants of a private key: a regular file (never through a symbolic link),
/// owned by the process's user, that neither group nor others can read.
/// Returns nullptr, with the reason in *reason, else.
FILE* open_private_file(const char* path, std::string* reason);

/// Creates `path` as a new file for writing, never through a symbolic link
/// or over a file that is there. Returns nullptr, with the reason, else.
FILE* create_new_file(const char* path, std::string* reason);

/// Creates a new file for writing named `stem` and a suffix of its own, the
/// process's id and a count: never one another writer made, nor through a
/// link. Each name tried is held for removal, before it exists, should an
/// interrupt end the process (interrupts.h). Returns the stream, with the
/// name in *name and the slot to release in *held; else nullptr, with the
/// reason in *reason.
FILE* create_unique_file(const std::string& stem, std::string* name,
                         int* held, std::string* reason);

/// True when both paths name one existing file, also through links (same
/// device and inode; on Windows, the same volume and file index).
bool same_file(const char* a, const char* b);

/// Takes an exclusive lock on the open `file` for as long as the process
/// holds it open (flock on POSIX, LockFileEx on Windows); the system drops
/// it when the process ends, however it ends. Returns false, at once, when
/// another process holds it.
bool lock_exclusively(FILE* file);

/// Where the lock of the card at `address` lies: a directory that every run
/// on the workstation shares (POSIX: /run/lock/upgrd_util, else one in the
/// temporary directory; Windows: the temporary directory), a file named
/// after the address and, on Linux, after the network namespace, since an
/// address names one card only within its own.
std::string card_lock_path(const char* address);

/// Takes the lock of the card at `address` without waiting. Returns the
/// open lock file, to close when the card's turn ends, or nullptr: with
/// *busy set when another process holds it, else when no lock could be
/// made at all.
FILE* lock_card(const char* address, bool* busy);

/// Raises the limit of open files to the most the system allows: a card
/// upgraded beside many others needs a few sockets and files of its own.
void raise_open_file_limit();

/// How many cards can run at once within the process's limits, at most
/// `wanted`: each needs a few files and sockets (the open-file limit) and a
/// thread (the user's limit of processes). When that is fewer, *why names
/// the limit and its value ("the open-file limit, ulimit -n, is 256").
int cards_within_limits(int wanted, std::string* why);

/// The bytes free for the process on the working directory's disk; -1 when
/// the system does not say.
long long free_disk_bytes();

/// Keeps the process from leaving a core file, or being read by a
/// debugger of the same user: its memory holds the cards' passwords.
void forbid_core_dumps();

/// The host's name as the system gives it; "" when it does not.
std::string host_name();

/// Makes a new directory, named `stem` and a part of its own, in the
/// system's temporary directory, that only the process's user may write
/// (POSIX: mode 0700; Windows: in the user's own temporary directory, whose
/// access list it takes). Returns false, with the reason in *reason, else.
bool make_private_directory(const std::string& stem, std::string* path,
                            std::string* reason);

#endif  // UPGRD_UTIL_PLATFORM_FILES_H_
