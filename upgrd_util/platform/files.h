#ifndef UPGRD_UTIL_PLATFORM_FILES_H_
#define UPGRD_UTIL_PLATFORM_FILES_H_

#include <cstdint>
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

/// Takes an exclusive lock on the open `file` for as long as the process
/// holds it open (flock on POSIX, LockFileEx on Windows); the system drops
/// it when the process ends, however it ends. Returns false, at once, when
/// another process holds it.
bool lock_exclusively(FILE* file);

/// True when `path` still names the file that `file` has open: a run that
/// made a file only to find the directory busy removes it again
/// (remove_locked_file), and one that opened it just before must look
/// again.
bool still_named(FILE* file, const char* path);

/// Removes `path`, which the open `file` holds locked (lock_exclusively),
/// and closes `file`: on POSIX while the lock is still held, on Windows
/// once it is closed (which fails while another process has it open).
void remove_locked_file(FILE* file, const char* path);

/// A lock taken without waiting on a file of its own, which is there only
/// while a run holds it: released, it is removed (on POSIX while still
/// held; on Windows the system deletes it as the last handle closes, also
/// when the process is killed). The system drops the lock when the process
/// ends, however it ends.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }

  /// Takes the lock of `path`, making the file when it is missing (never
  /// through a link, never a FIFO or device). Returns false: with *busy
  /// set when another holder has it (another process, or another FileLock
  /// of this one), else with the reason in *reason.
  bool Take(const std::string& path, bool* busy, std::string* reason);

  /// Makes `text` the file's whole content.
  bool Write(const std::string& text, std::string* reason);

  /// Removes the file and lets the lock go.
  void Release();

  bool held() const { return handle_ != -1; }

 private:
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  intptr_t handle_ = -1;  // a descriptor; on Windows a HANDLE
  std::string path_;
};

/// Where the lock of the card at `address` lies: a directory that every run
/// on the workstation shares (POSIX: /run/lock/upgrd_util, else one in the
/// temporary directory; Windows: the temporary directory), a file named
/// after the address and, on Linux, after the network namespace, since an
/// address names one card only within its own. Tests name a directory of
/// their own in the platform's `card_locks`.
std::string card_lock_path(const char* address);

/// Takes the lock of the card at `address` into *lock without waiting.
/// Returns false: with *busy set when another run (or another thread)
/// holds it, else when no lock could be made at all.
bool lock_card(const char* address, FileLock* lock, bool* busy);

/// The run's process id in the held lock `pid_file` of `path`, for
/// `pkill -L -F`, which trusts the file only while it is locked. Windows
/// has no signals for it to send: nothing is made there. Returns false,
/// with the reason, when it cannot be written.
bool hold_pid_file(const std::string& path, FileLock* pid_file,
                   std::string* reason);

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

/// The login name of the user the process runs as ("ops"), for the
/// records of who ran a campaign; "uid 1000" when the system knows no
/// name for it, "" when it tells nothing.
std::string login_name();

/// Makes a new directory, named `stem` and a part of its own, in the
/// system's temporary directory, that only the process's user may write
/// (POSIX: mode 0700; Windows: in the user's own temporary directory, whose
/// access list it takes). Returns false, with the reason in *reason, else.
bool make_private_directory(const std::string& stem, std::string* path,
                            std::string* reason);

#ifdef _WIN32
/// The system's text for a Windows error code (GetLastError()), without its
/// line end or closing full stop, for a message that goes on after it.
std::string system_message(unsigned long error);
#endif

#endif  // UPGRD_UTIL_PLATFORM_FILES_H_
