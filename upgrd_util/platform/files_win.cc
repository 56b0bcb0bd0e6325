#include "upgrd_util/platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"

const char kCurrentDirectoryPrefix[] = ".\\";

FILE* open_regular_file(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return nullptr;
  // Directories cannot be opened this way; devices and pipes can, and are
  // no files.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                           _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "rb");
  if (!file)
    _close(fd);
  return file;
}

// Windows keeps who may read a file in its access list, not in mode bits
// (_stat reports every file readable by all) nor in an owner the C runtime
// can compare: a file in the user's profile is the user's alone unless it
// was shared. What is checked here is that the name is a file on disk.
FILE* open_private_file(const char* path, std::string* reason) {
  FILE* file = open_regular_file(path);
  if (!file)
    *reason = "it is missing, unreadable or not a regular file";
  return file;
}

FILE* create_new_file(const char* path, std::string* reason) {
  int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0666);
  FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (!file) {
    *reason = strerror(errno);
    if (fd >= 0)
      _close(fd);
  }
  return file;
}

FILE* create_unique_file(const std::string& stem, std::string* name,
                         int* held, std::string* reason) {
  static std::atomic<unsigned> counter{0};
  *reason = "no free name";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = stem + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter);
    *held = hold_temporary_file(name->c_str());
    // Shared for deletion, so that the interrupt's handler may remove it
    // while it is open.
    HANDLE handle = CreateFileA(name->c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      release_temporary_file(*held);
      if (error == ERROR_FILE_EXISTS)
        continue;
      *reason = error == ERROR_ACCESS_DENIED    ? strerror(EACCES)
                : error == ERROR_PATH_NOT_FOUND ? strerror(ENOENT)
                                                : "Windows error " +
                                                      std::to_string(error);
      return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (file)
      return file;
    *reason = strerror(errno);
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(handle);
    DeleteFileA(name->c_str());
    release_temporary_file(*held);
    return nullptr;
  }
  return nullptr;
}

namespace {

bool FileIndex(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                           FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  bool known = GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return known;
}

}  // namespace

bool still_named(FILE* file, const char* path) {
  BY_HANDLE_FILE_INFORMATION open_file, named;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE &&
         GetFileInformationByHandle(handle, &open_file) &&
         FileIndex(path, &named) &&
         open_file.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
         open_file.nFileIndexHigh == named.nFileIndexHigh &&
         open_file.nFileIndexLow == named.nFileIndexLow;
}

void remove_locked_file(FILE* file, const char* path) {
  // A file open here cannot be removed; once closed, removing it fails
  // while another process has it open.
  fclose(file);
  DeleteFileA(path);
}

bool FileLock::Take(const std::string& path, bool* busy,
                    std::string* reason) {
  Release();
  *busy = false;
  // Shared with nobody, so that a second taker is refused at the opening,
  // and deleted as the handle closes: the file is there only while held,
  // also after a killed run. A link planted there is opened, and deleted,
  // as itself.
  HANDLE handle = CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
      OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE |
          FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    *busy = error == ERROR_SHARING_VIOLATION;
    *reason = "Windows error " + std::to_string(error);
    return false;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    *reason = "it is not a regular file";
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(handle);
  path_ = path;
  return true;
}

bool FileLock::Write(const std::string& text, std::string* reason) {
  HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  DWORD written = 0;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(handle) ||
      !WriteFile(handle, text.data(), static_cast<DWORD>(text.size()),
                 &written, nullptr) ||
      written != text.size()) {
    *reason = "Windows error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

void FileLock::Release() {
  if (handle_ == -1)
    return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

std::string card_lock_path(const char* address) {
  if (!platform().card_locks.empty())
    return platform().card_locks + "\\" + address + ".lock";
  char temp[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof(temp), temp);
  std::string dir = std::string(length > 0 && length < sizeof(temp) ? temp
                                                                     : ".\\") +
                    "upgrd_util";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir + "\\" + address + ".lock";
}

bool lock_card(const char* address, FileLock* lock, bool* busy) {
  std::string reason;
  return lock->Take(card_lock_path(address), busy, &reason);
}

// Windows sends a run no signal: the stop file is the way to stop it.
bool hold_pid_file(const std::string&, FileLock*, std::string*) {
  return true;
}

bool lock_exclusively(FILE* file) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  // Windows locks keep other processes from reading the bytes they cover,
  // so the lock covers one byte far beyond any real content: the operator
  // can still look at the file while a run writes it.
  OVERLAPPED far_end = {};
  far_end.Offset = 0xFFFFFFFE;
  far_end.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                    0, 1, 0, &far_end) != 0;
}

void raise_open_file_limit() {
  // The C runtime's own limit of streams; sockets have none.
  _setmaxstdio(8192);
}

// Windows writes no core file of a process unless it is asked to.
void forbid_core_dumps() {}

// Sockets and threads are limited by memory alone.
int cards_within_limits(int wanted, std::string*) {
  return wanted;
}

long long free_disk_bytes() {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(".", &available, nullptr, nullptr))
    return -1;
  return static_cast<long long>(available.QuadPart);
}

std::string host_name() {
  char name[256];
  DWORD size = sizeof(name);
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size))
    return "";
  return std::string(name, size);
}

std::string login_name() {
  // UNLEN (256) and its NUL.
  wchar_t name[257];
  DWORD size = sizeof(name) / sizeof(name[0]);
  if (!GetUserNameW(name, &size) || size < 1)
    return "";
  char text[257 * 3];
  int length = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size - 1),
                                   text, sizeof(text), nullptr, nullptr);
  return length > 0 ? std::string(text, length) : "";
}

bool make_private_directory(const std::string& stem, std::string* path,
                            std::string* reason) {
  char temp[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof(temp), temp);
  if (length == 0 || length > MAX_PATH) {
    *reason = "no temporary directory";
    return false;
  }
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = std::string(temp, length) + stem +
            std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter);
    // The user's temporary directory is the user's alone (its access list
    // is inherited); one of this name made by another run is never used.
    if (CreateDirectoryA(path->c_str(), nullptr))
      return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  *reason = "cannot make a directory in " + std::string(temp, length);
  return false;
}

std::string system_message(unsigned long error) {
  char text[256];
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == '.'))
    --length;
  return length > 0 ? std::string(text, length)
                    : "system error " + std::to_string(error);
}
