#include "upgrd_util/platform/ftp_library.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <string>

struct WinInetFtpLibrary::Session {
  HINTERNET connection = nullptr;
  std::string last_reply;
};

namespace {

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

void SetTimeout(HINTERNET handle, DWORD option, long seconds) {
  DWORD milliseconds = static_cast<DWORD>(seconds * 1000);
  InternetSetOptionA(handle, option, &milliseconds, sizeof(milliseconds));
}

// A temporary name beside `local`, so that the final move stays on one
// volume.
std::string TemporaryBeside(const char* local) {
  static unsigned counter = 0;
  return std::string(local) + ".part" + std::to_string(GetCurrentProcessId()) +
         "_" + std::to_string(++counter);
}

}  // namespace

WinInetFtpLibrary::WinInetFtpLibrary(int port, FtpTimeouts timeouts)
    : port_(port) {
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
  for (auto& entry : sessions_) {
    InternetCloseHandle(entry.second->connection);
    delete entry.second;
  }
  if (internet_)
    InternetCloseHandle(internet_);
}

WinInetFtpLibrary::Session* WinInetFtpLibrary::Find(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(handle);
  return it == sessions_.end() ? nullptr : it->second;
}

int WinInetFtpLibrary::Login(const char* host, const char* user,
                             const char* password, const char* /*account*/) {
  // Only a numeric IPv4 address: no name lookup, nothing but the card.
  IN_ADDR address;
  if (!internet_ || InetPtonA(AF_INET, host, &address) != 1) {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_login_reply_.clear();
    return -1;
  }
  // The connection handle of an FTP service logs in before it is returned.
  HINTERNET connection = InternetConnectA(
      internet_, host, static_cast<INTERNET_PORT>(port_), user, password,
      INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  if (!connection) {
    std::string reply = LastResponse();
    std::lock_guard<std::mutex> lock(mutex_);
    failed_login_reply_ = reply;
    return -1;
  }
  Session* session = new Session;
  session->connection = connection;
  session->last_reply = LastResponse();
  std::lock_guard<std::mutex> lock(mutex_);
  int handle = next_handle_++;
  sessions_[handle] = session;
  return handle;
}

int WinInetFtpLibrary::Quit(int handle) {
  Session* session = Find(handle);
  if (!session)
    return 0;
  // Closing the connection handle sends QUIT.
  InternetCloseHandle(session->connection);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(handle);
  }
  delete session;
  return 0;
}

int WinInetFtpLibrary::Get(int handle, const char* remote, const char* local) {
  Session* session = Find(handle);
  if (!session)
    return -1;
  std::string temp = TemporaryBeside(local);
  BOOL fetched = FtpGetFileA(session->connection, remote, temp.c_str(), FALSE,
                             FILE_ATTRIBUTE_NORMAL,
                             FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD,
                             0);
  session->last_reply = LastResponse();
  if (fetched && MoveFileExA(temp.c_str(), local, MOVEFILE_REPLACE_EXISTING))
    return 0;
  DeleteFileA(temp.c_str());
  return -1;
}

int WinInetFtpLibrary::Put(int handle, const char* local, const char* remote) {
  Session* session = Find(handle);
  if (!session)
    return -1;
  DWORD attributes = GetFileAttributesA(local);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  if (!remote || !*remote) {
    const char* base = local;
    for (const char* p = local; *p; ++p) {
      if (*p == '\\' || *p == '/')
        base = p + 1;
    }
    remote = base;
  }
  BOOL stored = FtpPutFileA(session->connection, local, remote,
                            FTP_TRANSFER_TYPE_BINARY, 0);
  session->last_reply = LastResponse();
  return stored ? 0 : -1;
}

int WinInetFtpLibrary::Ls(int handle, const char* path, const char* local) {
  // Whatever happens, no earlier listing may stay behind to be read as this
  // card's.
  DeleteFileA(local);
  Session* session = Find(handle);
  if (!session)
    return -1;
  std::string temp = TemporaryBeside(local);
  FILE* file = fopen(temp.c_str(), "w");
  if (!file)
    return -1;
  std::string pattern = path && *path ? std::string(path) + "/*" : "*";
  WIN32_FIND_DATAA found;
  HINTERNET find = FtpFindFirstFileA(session->connection, pattern.c_str(),
                                     &found, INTERNET_FLAG_RELOAD, 0);
  bool listed = find != nullptr || GetLastError() == ERROR_NO_MORE_FILES;
  if (find) {
    do {
      fprintf(file, "%s\n", found.cFileName);
    } while (InternetFindNextFileA(find, &found));
    listed = GetLastError() == ERROR_NO_MORE_FILES;
    InternetCloseHandle(find);
  }
  session->last_reply = LastResponse();
  bool written = fclose(file) == 0;
  if (listed && written && MoveFileExA(temp.c_str(), local,
                                       MOVEFILE_REPLACE_EXISTING))
    return 0;
  DeleteFileA(temp.c_str());
  return -1;
}

int WinInetFtpLibrary::CopyReplyStr(int handle, char* buffer, int size) {
  if (size <= 0)
    return -1;
  Session* session = Find(handle);
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string& reply =
      session ? session->last_reply : failed_login_reply_;
  snprintf(buffer, static_cast<size_t>(size), "%s", reply.c_str());
  return 0;
}
