#include "upgrd_util/platform/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

bool AppendFile::Open(const char* path, std::string* reason) {
  Close();
  // Non-blocking, so that a FIFO cannot wait for a reader.
  int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK |
                          O_CLOEXEC,
                0666);
  if (fd < 0) {
    *reason = errno == ELOOP ? "it is a symbolic link" : strerror(errno);
    return false;
  }
  struct stat info;
  const char* wrong = nullptr;
  if (fstat(fd, &info) != 0)
    wrong = strerror(errno);
  else if (!S_ISREG(info.st_mode))
    wrong = "it is not a regular file";
  else if (info.st_nlink != 1)
    wrong = "it has another name elsewhere";
  if (wrong) {
    *reason = wrong;
    close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

bool AppendFile::Create(const char* path, std::string* reason) {
  Close();
  fd_ = open(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW |
                       O_CLOEXEC,
             0666);
  if (fd_ < 0)
    *reason = strerror(errno);
  return fd_ >= 0;
}

bool AppendFile::Share(FILE* stream, std::string* reason) {
  Close();
  // A duplicate shares the stream's open file, and so its O_APPEND.
  fd_ = fcntl(fileno(stream), F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0)
    *reason = strerror(errno);
  return fd_ >= 0;
}

bool AppendFile::Append(const std::string& text, std::string* reason) {
  full_ = false;
  struct stat info;
  if (fstat(fd_, &info) != 0) {
    *reason = strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      *reason = n < 0 ? strerror(errno) : "the system took nothing";
      full_ = n < 0 && disk_full_error(errno);
      // Half a record would spoil the file: it goes, and the next record
      // follows the last whole one.
      if (ftruncate(fd_, info.st_size) != 0) {
        // Nothing more to do: a reader leaves out a torn last line.
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool DiskSyncs::SyncData(int fd) {
  return fdatasync(fd) == 0;
}

bool DiskSyncs::SyncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  bool synced = fsync(fd) == 0;
  int error = errno;
  close(fd);
  errno = error;
  return synced;
}

bool AppendFile::Sync(std::string* reason) {
  if (syncs_skipped())
    return true;
  if (disk_syncs()->SyncData(fd_))
    return true;
  *reason = strerror(errno);
  return false;
}

bool AppendFile::EndsWithLineEnd() {
  struct stat info;
  char last = '\n';
  if (fstat(fd_, &info) == 0 && info.st_size > 0 &&
      pread(fd_, &last, 1, info.st_size - 1) != 1)
    last = '\n';
  return last == '\n';
}

void AppendFile::Close() {
  if (fd_ >= 0)
    close(fd_);
  fd_ = -1;
}

bool rename_durably(const std::string& from, const std::string& to,
                    std::string* reason) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    *reason = strerror(errno);
    return false;
  }
  if (syncs_skipped())
    return true;
  // The new name is on disk once its directory is.
  size_t slash = to.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : to.substr(0, slash);
  if (!disk_syncs()->SyncDirectory(directory)) {
    *reason = strerror(errno);
    return false;
  }
  return true;
}

bool sync_stream(FILE* stream, std::string* reason) {
  if (fflush(stream) != 0) {
    *reason = strerror(errno);
    return false;
  }
  if (syncs_skipped() || disk_syncs()->SyncData(fileno(stream)))
    return true;
  *reason = strerror(errno);
  return false;
}
