#include "upgrd_util/platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"

const char kCurrentDirectoryPrefix[] = "./";

FILE* open_regular_file(const char* path) {
  // Non-blocking, so that opening a FIFO cannot wait for a writer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (!file)
    close(fd);
  return file;
}

FILE* open_private_file(const char* path, std::string* reason) {
  // Non-blocking, so that a FIFO cannot wait for a writer.
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = errno == ELOOP ? "it is a symbolic link" : strerror(errno);
    return nullptr;
  }
  struct stat info;
  const char* wrong = nullptr;
  if (fstat(fd, &info) != 0)
    wrong = strerror(errno);
  else if (!S_ISREG(info.st_mode))
    wrong = "it is not a regular file";
  else if (info.st_uid != geteuid())
    wrong = "it belongs to another user";
  else if ((info.st_mode & (S_IRGRP | S_IROTH)) != 0)
    wrong = "group or others can read it (chmod 600 it)";
  if (wrong) {
    *reason = wrong;
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (!file) {
    *reason = strerror(errno);
    close(fd);
  }
  return file;
}

FILE* create_new_file(const char* path, std::string* reason) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0666);
  if (fd < 0) {
    *reason = strerror(errno);
    return nullptr;
  }
  FILE* file = fdopen(fd, "wb");
  if (!file) {
    *reason = strerror(errno);
    close(fd);
  }
  return file;
}

FILE* create_unique_file(const std::string& stem, std::string* name,
                         int* held, std::string* reason) {
  static std::atomic<unsigned> counter{0};
  *reason = "no free name";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = stem + std::to_string(getpid()) + "_" + std::to_string(++counter);
    *held = hold_temporary_file(name->c_str());
    int fd = open(name->c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      int error = errno;
      release_temporary_file(*held);
      // Left by a run of the same id on another host, or by one killed.
      if (error == EEXIST)
        continue;
      *reason = strerror(error);
      return nullptr;
    }
    FILE* file = fdopen(fd, "wb");
    if (file)
      return file;
    *reason = strerror(errno);
    close(fd);
    unlink(name->c_str());
    release_temporary_file(*held);
    return nullptr;
  }
  return nullptr;
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `path` names the file open at `fd`.
bool Named(int fd, const char* path) {
  struct stat open_file, named;
  return fstat(fd, &open_file) == 0 && lstat(path, &named) == 0 &&
         SameFile(open_file, named);
}

}  // namespace

bool still_named(FILE* file, const char* path) {
  return Named(fileno(file), path);
}

void remove_locked_file(FILE* file, const char* path) {
  if (Named(fileno(file), path))
    unlink(path);
  fclose(file);
}

bool FileLock::Take(const std::string& path, bool* busy,
                    std::string* reason) {
  Release();
  *busy = false;
  // A holder removes the file before it lets the lock go: one opened just
  // before is locked in vain, and the name looked up again. Only a run
  // that takes the lock in that instant makes another turn.
  for (int turn = 0; turn < 100; ++turn) {
    // Non-blocking, so that a FIFO planted there cannot wait for a writer.
    int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path.c_str(), O_RDWR | flags, 0666);
    // Another user's lock file can be read only; a lock needs no more.
    if (fd < 0 && errno == EACCES)
      fd = open(path.c_str(), O_RDONLY | flags, 0666);
    if (fd < 0) {
      *reason = errno == ELOOP ? "it is a symbolic link" : strerror(errno);
      return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      *reason = "it is not a regular file";
      close(fd);
      return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      *busy = errno == EWOULDBLOCK;
      *reason = strerror(errno);
      close(fd);
      return false;
    }
    if (Named(fd, path.c_str())) {
      handle_ = fd;
      path_ = path;
      return true;
    }
    close(fd);
  }
  *reason = "it was made anew a hundred times over";
  return false;
}

bool FileLock::Write(const std::string& text, std::string* reason) {
  int fd = static_cast<int>(handle_);
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, text.data(), text.size(), 0) !=
          static_cast<ssize_t>(text.size())) {
    *reason = strerror(errno);
    return false;
  }
  return true;
}

void FileLock::Release() {
  if (handle_ == -1)
    return;
  int fd = static_cast<int>(handle_);
  // Still held while it goes: a run that opened it meanwhile finds, once
  // it has the lock, that the name no longer is that file. In a shared
  // directory only its maker may remove it; another user's stays.
  if (Named(fd, path_.c_str()))
    unlink(path_.c_str());
  close(fd);
  handle_ = -1;
}

namespace {

// A directory every user's runs may make their locks in, as /tmp is.
bool SharedDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 01777) == 0)
    chmod(path.c_str(), 01777);  // past the umask
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string card_lock_path(const char* address) {
  if (!platform().card_locks.empty())
    return platform().card_locks + "/" + address + ".lock";
  std::string dir = "/run/lock/upgrd_util";
  if (!SharedDirectory(dir)) {
    const char* temp = getenv("TMPDIR");
    dir = std::string(temp && *temp ? temp : "/tmp") + "/upgrd_util-locks";
    SharedDirectory(dir);
  }
  struct stat net;
  unsigned long long namespace_id =
      stat("/proc/self/ns/net", &net) == 0 ? net.st_ino : 0;
  return dir + "/" + std::to_string(namespace_id) + "-" + address + ".lock";
}

bool lock_card(const char* address, FileLock* lock, bool* busy) {
  std::string reason;
  return lock->Take(card_lock_path(address), busy, &reason);
}

bool hold_pid_file(const std::string& path, FileLock* pid_file,
                   std::string* reason) {
  bool busy = false;
  return pid_file->Take(path, &busy, reason) &&
         pid_file->Write(std::to_string(getpid()) + "\n", reason);
}

bool lock_exclusively(FILE* file) {
  return flock(fileno(file), LOCK_EX | LOCK_NB) == 0;
}

void raise_open_file_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
    return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

namespace {

// Files and sockets of one card at most: journal, lock, listing or saved
// log, echo socket, the FTP control and data connections and the
// library's own wake-up pair.
const int kFilesPerCard = 8;
// Those of the run: standard streams, result.txt, iplist.txt, the report,
// its echo handle, and some to spare.
const int kFilesOfTheRun = 32;

// Threads of the user's processes, which the process limit counts.
long UserThreads() {
  long threads = 0;
  DIR* proc = opendir("/proc");
  if (!proc)
    return 0;
  while (struct dirent* entry = readdir(proc)) {
    std::string task = std::string("/proc/") + entry->d_name + "/task";
    struct stat info;
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' &&
        stat(task.c_str(), &info) == 0 && info.st_uid == getuid())
      threads += static_cast<long>(info.st_nlink) - 2;
  }
  closedir(proc);
  return threads;
}

}  // namespace

int cards_within_limits(int wanted, std::string* why) {
  int allowed = wanted;
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    long room = (static_cast<long>(files.rlim_cur) - kFilesOfTheRun) /
                kFilesPerCard;
    if (room < allowed) {
      allowed = static_cast<int>(std::max(room, 1L));
      *why = "the open-file limit, ulimit -n, is " +
             std::to_string(files.rlim_cur);
    }
  }
  struct rlimit processes;
  if (getrlimit(RLIMIT_NPROC, &processes) == 0 &&
      processes.rlim_cur != RLIM_INFINITY && getuid() != 0) {
    long room = static_cast<long>(processes.rlim_cur) - UserThreads() - 1;
    if (room < allowed) {
      allowed = static_cast<int>(std::max(room, 1L));
      *why = "the process limit, ulimit -u, is " +
             std::to_string(processes.rlim_cur);
    }
  }
  return allowed;
}

long long free_disk_bytes() {
  struct statvfs disk;
  if (statvfs(".", &disk) != 0)
    return -1;
  return static_cast<long long>(disk.f_bavail) *
         static_cast<long long>(disk.f_frsize);
}

void forbid_core_dumps() {
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

std::string host_name() {
  char name[256];
  if (gethostname(name, sizeof(name)) != 0)
    return "";
  name[sizeof(name) - 1] = '\0';
  return name;
}

std::string login_name() {
  // The account the process runs as, which is what its rights are: under
  // su or sudo that is not the terminal's login.
  uid_t uid = getuid();
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(uid, &entry, buffer, sizeof(buffer), &found) == 0 && found &&
      found->pw_name && *found->pw_name)
    return found->pw_name;
  char name[256];
  if (getlogin_r(name, sizeof(name)) == 0) {
    name[sizeof(name) - 1] = '\0';
    return name;
  }
  return "uid " + std::to_string(uid);
}

bool make_private_directory(const std::string& stem, std::string* path,
                            std::string* reason) {
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) {
    *reason = "no temporary directory: " + error.message();
    return false;
  }
  std::string pattern = (temp / (stem + "XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes it mode 0700, under a name no one else made.
  if (!mkdtemp(name.data())) {
    *reason = "cannot make a directory in " + temp.string() + ": " +
              strerror(errno);
    return false;
  }
  *path = name.data();
  return true;
}
