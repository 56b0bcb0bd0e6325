#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/ipv4_address.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "upgrd_util/platform/append_file.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/files.h"

struct WinInetFtpLibrary::Session : public FtpSession {
  ~Session() override {
    // Closing the connection handle sends QUIT.
    if (connection)
      InternetCloseHandle(connection);
  }
  HINTERNET connection = nullptr;  // null once a watchdog closed it
};

namespace {

// What one read or write of a transfer moves at most.
const DWORD kChunkSize = 64 * 1024;

double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The server's latest reply on this thread, without its line end.
std::string LastResponse() {
  char text[1024];
  DWORD length = sizeof(text);
  DWORD error = 0;
  if (!InternetGetLastResponseInfoA(&error, text, &length))
    return "";
  std::string reply(text, length < sizeof(text) ? length : sizeof(text) - 1);
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
    reply.pop_back();
  // A multi-line reply ends with its status line.
  size_t last_line = reply.find_last_of('\n');
  return last_line == std::string::npos ? reply : reply.substr(last_line + 1);
}

// A transfer's closing reply that reports a failure (4xx or 5xx).
bool ReportsFailure(const std::string& reply) {
  return !reply.empty() && (reply[0] == '4' || reply[0] == '5');
}

// What a failed login got from the card after `seconds`: its failure reply
// ("530 Login incorrect."), or what stood for one. `error` is the failed
// call's GetLastError().
std::string LoginAnswer(DWORD error, double seconds) {
  // Only then is the thread's last response this server's: otherwise it
  // may be left from an earlier call.
  if (error == ERROR_INTERNET_EXTENDED_ERROR ||
      error == ERROR_INTERNET_LOGIN_FAILURE) {
    std::string reply = LastResponse();
    if (ReportsFailure(reply))
      return reply;
  }
  if (error == ERROR_INTERNET_TIMEOUT)
    return "no reply in " + std::to_string(std::lround(seconds)) + " s";
  if (error == ERROR_INTERNET_CANNOT_CONNECT)
    return "connection refused";
  return "connection closed";
}

void SetTimeout(HINTERNET handle, DWORD option, long seconds) {
  DWORD milliseconds = static_cast<DWORD>(seconds * 1000);
  InternetSetOptionA(handle, option, &milliseconds, sizeof(milliseconds));
}

// Keeps a blocking WinINet call to its pace from a thread of its own:
// WinINet's own time-outs only see a connection on which nothing moves,
// and closing the call's handle is how WinINet ends a call that blocks.
class Watchdog {
 public:
  Watchdog(HINTERNET handle, const FtpTimeouts& limits)
      : handle_(handle), pace_(limits, Now()), thread_([this] { Watch(); }) {}
  ~Watchdog() { Stop(); }

  void Moved(DWORD bytes) { bytes_ += bytes; }

  /// Sleeps until `until` (on Now's clock): the cap holds the transfer
  /// back, and its pace does not count that time.
  void HeldUntil(double until) {
    double from = Now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holding_since_ = from;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(until - from));
    std::lock_guard<std::mutex> lock(mutex_);
    held_ += Now() - from;
    holding_since_ = -1;
  }

  /// Ends the watch. Returns true when the watchdog closed the handle.
  bool Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
      thread_.join();
    return closed_;
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      double now = Now();
      double held = held_ + (holding_since_ >= 0 ? now - holding_since_ : 0);
      if (!pace_.Allows(now, bytes_.load(), held)) {
        InternetCloseHandle(handle_);
        closed_ = true;
        return;
      }
      wake_.wait_for(lock, std::chrono::milliseconds(250));
    }
  }

  HINTERNET handle_;
  TransferPace pace_;
  std::atomic<long long> bytes_{0};
  std::mutex mutex_;  // guards stopping_, held_ and holding_since_
  std::condition_variable wake_;
  bool stopping_ = false;
  double held_ = 0;            // seconds the cap held the transfer back
  double holding_since_ = -1;  // -1: not held now
  bool closed_ = false;  // read after the thread has ended
  std::thread thread_;   // last: it starts once the rest is ready
};

// What the workstation failed to do with `path`: for a Windows error
// (GetLastError), and for one of the C library (errno).
LocalFault SystemFault(const char* doing, const char* path, DWORD error) {
  return {std::string(doing) + " " + path + ": " + system_message(error),
          error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL};
}
LocalFault LibraryFault(const char* doing, const char* path, int error) {
  return {std::string(doing) + " " + path + ": " + strerror(error),
          disk_full_error(error)};
}

// A new file beside `local`, so that the final move stays on one volume,
// held for removal should an interrupt end the run.
struct TemporaryFile {
  std::string name;
  FILE* file = nullptr;
  int held = -1;
};

// Returns false, with why in *fault, when no such file could be made.
bool OpenTemporaryBeside(const char* local, bool text, TemporaryFile* temp,
                         LocalFault* fault) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp->name = std::string(local) + ".part" +
                 std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(++counter);
    // Held before it exists, so that no moment is left uncovered; shared
    // for deletion, so that the interrupt's handler may remove it while it
    // is open.
    temp->held = hold_temporary_file(temp->name.c_str());
    HANDLE handle = CreateFileA(temp->name.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      release_temporary_file(temp->held);
      if (error == ERROR_FILE_EXISTS)
        continue;
      *fault = SystemFault("cannot write", local, error);
      return false;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                             text ? _O_TEXT : _O_BINARY);
    if (fd < 0)
      CloseHandle(handle);
    else
      temp->file = _fdopen(fd, text ? "w" : "wb");
    if (temp->file)
      return true;
    *fault = LibraryFault("cannot write", local, errno);
    if (fd >= 0)
      _close(fd);
    DeleteFileA(temp->name.c_str());
    release_temporary_file(temp->held);
    return false;
  }
  *fault = SystemFault("cannot write", local, ERROR_FILE_EXISTS);
  return false;
}

// Closes the temporary file and, when `keep`, puts it in place of `local`
// in one step. Returns true when `local` now holds it; when closing it or
// putting it in place failed, *fault (unless set already) says why.
bool FinishTemporary(TemporaryFile* temp, const char* local, bool keep,
                     LocalFault* fault) {
  if (fclose(temp->file) != 0) {
    if (fault->what.empty())
      *fault = LibraryFault("cannot write", local, errno);
    keep = false;
  }
  bool kept = keep && MoveFileExA(temp->name.c_str(), local,
                                  MOVEFILE_REPLACE_EXISTING);
  if (keep && !kept)
    *fault = SystemFault("cannot write", local, GetLastError());
  if (!kept)
    DeleteFileA(temp->name.c_str());
  release_temporary_file(temp->held);
  return kept;
}

}  // namespace

WinInetFtpLibrary::WinInetFtpLibrary(int port, FtpTimeouts timeouts)
    : port_(port), timeouts_(timeouts) {
  HINTERNET internet = InternetOpenA("upgrd_util", INTERNET_OPEN_TYPE_DIRECT,
                                     nullptr, nullptr, 0);
  if (internet) {
    SetTimeout(internet, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connect);
    SetTimeout(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.reply);
    SetTimeout(internet, INTERNET_OPTION_SEND_TIMEOUT, timeouts.reply);
    SetTimeout(internet, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
               timeouts.stalled);
    SetTimeout(internet, INTERNET_OPTION_DATA_SEND_TIMEOUT, timeouts.stalled);
  }
  internet_ = internet;
}

WinInetFtpLibrary::~WinInetFtpLibrary() {
  // The sessions' connections first, then the handle they were opened on.
  sessions_.Clear();
  if (internet_)
    InternetCloseHandle(internet_);
}

WinInetFtpLibrary::Session* WinInetFtpLibrary::Find(int handle) {
  return static_cast<Session*>(sessions_.Find(handle));
}

int WinInetFtpLibrary::Login(const char* host, const char* user,
                             const char* password, const char* /*account*/) {
  // Only a numeric IPv4 address: no name lookup, nothing but the card.
  FtpSessions::FailedLogin().clear();
  if (!internet_ || !parse_ipv4_address(host))
    return -1;
  // The connection handle of an FTP service logs in before it is returned.
  double started = Now();
  HINTERNET connection = InternetConnectA(
      internet_, host, static_cast<INTERNET_PORT>(port_), user, password,
      INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  if (!connection) {
    // Read before anything else can set another.
    DWORD error = GetLastError();
    FtpSessions::FailedLogin() = LoginAnswer(error, Now() - started);
    return -1;
  }
  auto session = std::make_unique<Session>();
  session->connection = connection;
  session->last_reply = LastResponse();
  return sessions_.Add(std::move(session));
}

int WinInetFtpLibrary::Quit(int handle) {
  // The session ends as it leaves the table.
  sessions_.Remove(handle);
  return 0;
}

int WinInetFtpLibrary::Get(int handle, const char* remote, const char* local) {
  Session* session = Find(handle);
  if (!session || !session->connection)
    return -1;
  session->fault = LocalFault();
  TemporaryFile temp;
  if (!OpenTemporaryBeside(local, false, &temp, &session->fault))
    return -1;
  bool fetched = false;
  long long received = 0;
  long long allowed = budget_.Allowance(kMaxGetBytes);
  HINTERNET file = FtpOpenFileA(session->connection, remote, GENERIC_READ,
                                FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD,
                                0);
  if (file) {
    std::unique_ptr<char[]> buffer(new char[kChunkSize]);
    Watchdog watchdog(file, timeouts_);
    DWORD got = 0;
    bool read = true;
    while ((read = InternetReadFile(file, buffer.get(), kChunkSize, &got)) &&
           got > 0) {
      watchdog.Moved(got);
      received += got;
      session->share_used_up = allowed < kMaxGetBytes && received > allowed;
      if (received > allowed) {
        read = false;
        break;
      }
      if (fwrite(buffer.get(), 1, got, temp.file) != got) {
        session->fault = LibraryFault("cannot write", local, errno);
        read = false;
        break;
      }
    }
    bool cut_off = watchdog.Stop();
    // Closing the handle reads the transfer's closing reply.
    if (!cut_off)
      InternetCloseHandle(file);
    fetched = read && !cut_off && !ReportsFailure(LastResponse());
  }
  session->last_reply = LastResponse();
  if (!FinishTemporary(&temp, local, fetched && session->fault.what.empty(),
                       &session->fault))
    return -1;
  budget_.Kept(received);
  return 0;
}

int WinInetFtpLibrary::Put(int handle, const char* local, const char* remote) {
  Session* session = Find(handle);
  if (!session || !session->connection)
    return -1;
  session->fault = LocalFault();
  DWORD attributes = GetFileAttributesA(local);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    session->fault = SystemFault("cannot read", local, GetLastError());
    return -1;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    session->fault = {std::string("cannot read ") + local +
                      ": it is not a regular file"};
    return -1;
  }
  if (!remote || !*remote) {
    const char* base = local;
    for (const char* p = local; *p; ++p) {
      if (*p == '\\' || *p == '/')
        base = p + 1;
    }
    remote = base;
  }
  FILE* in = fopen(local, "rb");
  if (!in) {
    session->fault = LibraryFault("cannot read", local, errno);
    return -1;
  }
  bool stored = false;
  HINTERNET file = FtpOpenFileA(session->connection, remote, GENERIC_WRITE,
                                FTP_TRANSFER_TYPE_BINARY, 0);
  if (file) {
    std::unique_ptr<char[]> buffer(new char[kChunkSize]);
    Watchdog watchdog(file, timeouts_);
    RateDraw draw(group_rates_.For(&link_rate_, ScopedUploadGroup::Current()));
    bool written = true;
    size_t length;
    while (written && (length = fread(buffer.get(), 1, kChunkSize, in)) > 0) {
      // The chunk goes in the turns the cap gives it.
      for (size_t done = 0; written && done < length;) {
        long long allowed = 0;
        while ((allowed = draw.Take(
                    Now(), static_cast<long long>(length - done))) == 0)
          watchdog.HeldUntil(draw.ReadyAt());
        DWORD sent = 0;
        written = InternetWriteFile(file, buffer.get() + done,
                                    static_cast<DWORD>(allowed), &sent) &&
                  static_cast<long long>(sent) == allowed;
        watchdog.Moved(sent);
        done += static_cast<size_t>(allowed);
      }
    }
    if (ferror(in))
      session->fault = {std::string("cannot read ") + local +
                        ": a read failed"};
    written = written && !ferror(in);
    bool cut_off = watchdog.Stop();
    if (!cut_off)
      InternetCloseHandle(file);
    stored = written && !cut_off && !ReportsFailure(LastResponse());
  }
  fclose(in);
  session->last_reply = LastResponse();
  return stored ? 0 : -1;
}

int WinInetFtpLibrary::Ls(int handle, const char* path, const char* local) {
  // Whatever happens, no earlier listing may stay behind to be read as this
  // card's.
  WIN32_FILE_ATTRIBUTE_DATA earlier;
  DWORD stays = 0;  // why one could not be removed
  if (GetFileAttributesExA(local, GetFileExInfoStandard, &earlier)) {
    if (DeleteFileA(local))
      budget_.Kept(-((static_cast<long long>(earlier.nFileSizeHigh) << 32) |
                     earlier.nFileSizeLow));
    else
      stays = GetLastError();
  }
  Session* session = Find(handle);
  if (!session || !session->connection)
    return -1;
  session->fault = LocalFault();
  // Nothing the card lists could take its place.
  if (stays) {
    session->fault = SystemFault("cannot remove", local, stays);
    return -1;
  }
  TemporaryFile temp;
  if (!OpenTemporaryBeside(local, true, &temp, &session->fault))
    return -1;
  std::string pattern = path && *path ? std::string(path) + "/*" : "*";
  bool listed = false;
  long long allowed = budget_.Allowance(kMaxListingBytes);
  long long written = 0;
  {
    // WinINet reads the listing inside FtpFindFirstFileA, out of reach of
    // any handle but the connection's.
    Watchdog watchdog(session->connection, timeouts_);
    WIN32_FIND_DATAA found;
    HINTERNET find = FtpFindFirstFileA(session->connection, pattern.c_str(),
                                       &found, INTERNET_FLAG_RELOAD, 0);
    listed = find != nullptr || GetLastError() == ERROR_NO_MORE_FILES;
    if (find) {
      do {
        size_t length = strlen(found.cFileName) + 1;
        written += static_cast<long long>(length);
        watchdog.Moved(static_cast<DWORD>(length));
        if (written > allowed)
          break;
        if (fprintf(temp.file, "%s\n", found.cFileName) < 0) {
          session->fault = LibraryFault("cannot write", local, errno);
          break;
        }
      } while (InternetFindNextFileA(find, &found));
      listed = written <= allowed && session->fault.what.empty() &&
               GetLastError() == ERROR_NO_MORE_FILES;
    }
    if (watchdog.Stop()) {
      // Gone, and the listing's handle with it.
      session->connection = nullptr;
      listed = false;
    } else if (find) {
      InternetCloseHandle(find);
    }
  }
  session->last_reply = LastResponse();
  session->share_used_up = allowed < kMaxListingBytes && written > allowed;
  if (!FinishTemporary(&temp, local, listed && session->fault.what.empty(),
                       &session->fault))
    return -1;
  budget_.Kept(written);
  return 0;
}
