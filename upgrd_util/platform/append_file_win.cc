#include "upgrd_util/platform/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "upgrd_util/platform/files.h"

namespace {

// The handle is a file on disk, not a device or a pipe.
bool OnDisk(int fd) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

}  // namespace

// Windows links are made by administrators; what is checked here is that
// the name is a file on disk.
bool AppendFile::Open(const char* path, std::string* reason) {
  Close();
  int fd = _open(path, _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY,
                 _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    *reason = strerror(errno);
    return false;
  }
  if (!OnDisk(fd)) {
    *reason = "it is not a regular file";
    _close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool AppendFile::Create(const char* path, std::string* reason) {
  Close();
  // Shared for deleting too: a file made beside another takes its name
  // (rename_durably) while it is open.
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE |
                                  FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *reason = system_message(GetLastError());
    return false;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                        _O_APPEND | _O_BINARY);
  if (fd_ < 0) {
    *reason = strerror(errno);
    CloseHandle(handle);
    return false;
  }
  return true;
}

bool AppendFile::Share(FILE* stream, std::string* reason) {
  Close();
  // The duplicate keeps the stream's append and text modes.
  fd_ = _dup(_fileno(stream));
  if (fd_ < 0)
    *reason = strerror(errno);
  return fd_ >= 0;
}

bool AppendFile::Append(const std::string& text, std::string* reason) {
  full_ = false;
  long long end = _filelengthi64(fd_);
  if (end < 0) {
    *reason = strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    size_t piece = std::min<size_t>(text.size() - done, 1 << 30);
    int n = _write(fd_, text.data() + done, static_cast<unsigned>(piece));
    if (n <= 0) {
      *reason = n < 0 ? strerror(errno) : "the system took nothing";
      full_ = n < 0 && disk_full_error(errno);
      // Half a record would spoil the file: it goes, and the next record
      // follows the last whole one.
      _chsize_s(fd_, end);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// FlushFileBuffers on the descriptor's handle.
bool DiskSyncs::SyncData(int fd) {
  return _commit(fd) == 0;
}

// Not called: MoveFileEx writes a rename through.
bool DiskSyncs::SyncDirectory(const std::string&) {
  return true;
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
  char last = '\n';
  long long end = _filelengthi64(fd_);
  if (end > 0 && _lseeki64(fd_, end - 1, SEEK_SET) == end - 1 &&
      _read(fd_, &last, 1) != 1)
    last = '\n';
  return last == '\n';
}

void AppendFile::Close() {
  if (fd_ >= 0)
    _close(fd_);
  fd_ = -1;
}

bool rename_durably(const std::string& from, const std::string& to,
                    std::string* reason) {
  DWORD flags = MOVEFILE_REPLACE_EXISTING;
  if (!syncs_skipped())
    flags |= MOVEFILE_WRITE_THROUGH;
  if (MoveFileExA(from.c_str(), to.c_str(), flags))
    return true;
  *reason = system_message(GetLastError());
  return false;
}

bool sync_stream(FILE* stream, std::string* reason) {
  if (fflush(stream) != 0) {
    *reason = strerror(errno);
    return false;
  }
  if (syncs_skipped() || disk_syncs()->SyncData(_fileno(stream)))
    return true;
  *reason = strerror(errno);
  return false;
}
