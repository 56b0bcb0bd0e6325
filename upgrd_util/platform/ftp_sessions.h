#ifndef UPGRD_UTIL_PLATFORM_FTP_SESSIONS_H_
#define UPGRD_UTIL_PLATFORM_FTP_SESSIONS_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>

/// A transfer that failed on the workstation's own side, not the card's: a
/// local file that could not be made, written, read, removed or put in
/// place.
struct LocalFault {
  std::string what;        // "cannot write 10.0.0.5_foundfir.txt: Is a directory"
  bool disk_full = false;  // for want of room on the disk or in the quota
};

/// What a logged-in session keeps of its last call, whichever library
/// carries it. A library's own session derives from it and ends its
/// connection when it is destroyed.
struct FtpSession {
  virtual ~FtpSession() {}

  std::string last_reply;      // the latest reply line, without its line end
  bool share_used_up = false;  // the last download passed its disk share
  LocalFault fault;  // of the last Get, Put or Ls; none when `what` is empty
};

/// The sessions of one FTP library behind their handles, and the answers
/// every library gives alike from them. Sessions are found from many
/// threads at once; each is used by one.
class FtpSessions {
 public:
  /// Takes a logged-in session and returns its handle. Handles count up
  /// from 1 and are never given twice: a handle that was quit finds no
  /// session, never another card's.
  int Add(std::unique_ptr<FtpSession> session);

  /// The session of `handle`, or null.
  FtpSession* Find(int handle);

  /// Takes the session of `handle` out of the table (null when there is
  /// none); it ends when the caller lets it go.
  std::unique_ptr<FtpSession> Remove(int handle);

  /// Ends every session left.
  void Clear();

  /// FtpLibrary's calls of these names.
  bool ShareUsedUp(int handle);
  bool LocalFailure(int handle, LocalFault* fault);
  int CopyReplyStr(int handle, char* buffer, int size);

  /// The answer to the calling thread's last failed login, which
  /// CopyReplyStr gives for a handle that finds no session. Per thread,
  /// since cards log in side by side and each must get its own.
  static std::string& FailedLogin();

 private:
  std::mutex mutex_;  // guards the two below
  int next_handle_ = 1;
  std::map<int, std::unique_ptr<FtpSession>> sessions_;
};

#endif  // UPGRD_UTIL_PLATFORM_FTP_SESSIONS_H_
