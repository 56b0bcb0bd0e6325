#ifndef UPGRD_UTIL_PLATFORM_FTP_LIBRARY_H_
#define UPGRD_UTIL_PLATFORM_FTP_LIBRARY_H_

#include <map>
#include <mutex>
#include <string>

/// An FTP client that keeps logged-in sessions behind integer handles.
/// Texts are NUL-terminated; -1 is the failure value throughout. Sessions may
/// be used from many threads at once, each session by one thread.
struct FtpLibrary {
  virtual ~FtpLibrary() {}

  /// Logs in to `host` (a numeric IPv4 address) with `user` and `password`;
  /// `account` is unused. Returns a positive session handle once the server
  /// has accepted the login, or -1.
  virtual int Login(const char* host, const char* user, const char* password,
                    const char* account) = 0;

  /// Ends the session. Does nothing for -1, 0 and handles already quit.
  /// Returns 0.
  virtual int Quit(int handle) = 0;

  /// Copies the remote file into the local file. Returns 0, or -1 on failure,
  /// in which case an earlier local file of that name is left as it was and
  /// no partial file is left behind.
  virtual int Get(int handle, const char* remote, const char* local) = 0;

  /// Uploads the local file in binary mode under `remote`, or under the
  /// local file's own base name when `remote` is empty. Returns 0, or -1.
  virtual int Put(int handle, const char* local, const char* remote) = 0;

  /// Writes the names in the remote directory `path` ("" for the current
  /// one) to the local file, one per line, replacing its content. Returns 0,
  /// or -1 on failure, in which case the local file no longer exists.
  virtual int Ls(int handle, const char* path, const char* local) = 0;

  /// Copies the session's last server reply (for -1 or an unknown handle:
  /// the reply to the last failed login) into `buffer`, cut to `size` bytes
  /// with its terminating NUL. Returns 0, or -1 when nothing fits.
  virtual int CopyReplyStr(int handle, char* buffer, int size) = 0;
};

/// Time-outs of a session, in seconds.
struct FtpTimeouts {
  long connect = 15;       // TCP connection, greeting and login
  long reply = 60;         // a server that stops answering a command
  long stalled = 60;       // a transfer that moves no byte
};

/// The FTP library on libcurl: one easy handle (one control connection) per
/// session.
struct CurlFtpLibrary : public FtpLibrary {
  explicit CurlFtpLibrary(int port = 21, FtpTimeouts timeouts = FtpTimeouts());
  ~CurlFtpLibrary() override;

  int Login(const char* host, const char* user, const char* password,
            const char* account) override;
  int Quit(int handle) override;
  int Get(int handle, const char* remote, const char* local) override;
  int Put(int handle, const char* local, const char* remote) override;
  int Ls(int handle, const char* path, const char* local) override;
  int CopyReplyStr(int handle, char* buffer, int size) override;

  struct Session;

 private:
  Session* Find(int handle);

  int port_;
  FtpTimeouts timeouts_;
  std::mutex mutex_;  // guards the three below
  int next_handle_ = 1;
  std::map<int, Session*> sessions_;
  std::string failed_login_reply_;
};

#ifdef _WIN32
/// The FTP library on WinINet: one FTP connection handle per session.
struct WinInetFtpLibrary : public FtpLibrary {
  explicit WinInetFtpLibrary(int port = 21,
                             FtpTimeouts timeouts = FtpTimeouts());
  ~WinInetFtpLibrary() override;

  int Login(const char* host, const char* user, const char* password,
            const char* account) override;
  int Quit(int handle) override;
  int Get(int handle, const char* remote, const char* local) override;
  int Put(int handle, const char* local, const char* remote) override;
  int Ls(int handle, const char* path, const char* local) override;
  int CopyReplyStr(int handle, char* buffer, int size) override;

  struct Session;

 private:
  Session* Find(int handle);

  int port_;
  void* internet_;
  std::mutex mutex_;  // guards the three below
  int next_handle_ = 1;
  std::map<int, Session*> sessions_;
  std::string failed_login_reply_;
};
using SystemFtpLibrary = WinInetFtpLibrary;
#else
using SystemFtpLibrary = CurlFtpLibrary;
#endif

/// The six calls of the card operations, on the installed library.
int ftp_login(const char* host, const char* user, const char* password,
              const char* account);
int ftp_quit(int handle);
int ftp_get(int handle, const char* remote, const char* local);
int ftp_put(int handle, const char* local, const char* remote);
int ftp_ls(int handle, const char* path, const char* local);
int ftp_copyreplystr(int handle, char* buffer, int size);

#endif  // UPGRD_UTIL_PLATFORM_FTP_LIBRARY_H_
