#ifndef UPGRD_UTIL_PLATFORM_FTP_LIBRARY_H_
#define UPGRD_UTIL_PLATFORM_FTP_LIBRARY_H_

#include <atomic>
#include <deque>
#include <string>

#include "upgrd_util/platform/ftp_sessions.h"
#include "upgrd_util/platform/upload_rate.h"

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

  /// Copies the remote file into the local file. Returns 0, or -1 on failure
  /// (also for a file larger than kMaxGetBytes), in which case an earlier
  /// local file of that name is left as it was and no partial file is left
  /// behind.
  virtual int Get(int handle, const char* remote, const char* local) = 0;

  /// Uploads the local file in binary mode under `remote`, or under the
  /// local file's own base name when `remote` is empty. Returns 0, or -1.
  virtual int Put(int handle, const char* local, const char* remote) = 0;

  /// Writes the names in the remote directory `path` ("" for the current
  /// one) to the local file, one per line, replacing its content. Returns 0,
  /// or -1 on failure (also for a listing larger than kMaxListingBytes), in
  /// which case the local file no longer exists.
  virtual int Ls(int handle, const char* path, const char* local) = 0;

  /// From now on the saved logs and listings of all sessions share `bytes`
  /// of disk, `sharers` downloads of them at most at once: each download
  /// may take no more than an even share of what is left when it starts,
  /// so that cards sending endless data cannot take the disk from others.
  /// One that would take more fails as one beyond its own bound does.
  virtual void ShareDisk(long long /*bytes*/, int /*sharers*/) {}

  /// From now on all uploads at once send at most `bytes_per_second`
  /// (0 or less: no cap), in even shares between those under way. The
  /// time the cap holds an upload back does not count as the card's.
  virtual void ShareUploadRate(double /*bytes_per_second*/) {}

  /// And the uploads of each group's cards (ScopedUploadGroup) at most
  /// `bytes_per_second` of their own, beside the link's cap.
  virtual void ShareGroupRate(double /*bytes_per_second*/) {}

  /// True when the session's last download failed because its share of
  /// the disk was used up.
  virtual bool ShareUsedUp(int /*handle*/) { return false; }

  /// True when the session's last Get, Put or Ls failed on the
  /// workstation's own files rather than on the card, with which file and
  /// the system's reason in *fault. The -1 that such a call returned says
  /// nothing of the card.
  virtual bool LocalFailure(int /*handle*/, LocalFault* /*fault*/) {
    return false;
  }

  /// Copies the session's last server reply into `buffer`, cut to `size`
  /// bytes with its terminating NUL, as printable_text shows it. For -1 or
  /// an unknown handle: the answer to the calling thread's last failed
  /// login (cards logging in at once on other threads never mix theirs in):
  /// the server's failure reply ("530 Login incorrect."), else what stood
  /// for one: "connection refused", "no connection" (another reason),
  /// "no reply in N s" or "connection closed". Returns 0, or -1 when
  /// nothing fits.
  virtual int CopyReplyStr(int handle, char* buffer, int size) = 0;
};

/// The most a card may send: a saved log (Get) and a listing (Ls). A
/// transfer that goes beyond is stopped and fails; uploads have no bound.
const long long kMaxGetBytes = 64LL << 20;
const long long kMaxListingBytes = 16LL << 20;

/// The disk that downloads share (FtpLibrary::ShareDisk); without a share
/// set, every download has its own bound only.
class DownloadBudget {
 public:
  void Share(long long bytes, int sharers);
  /// The most the download about to start may take: `bound`, or less.
  long long Allowance(long long bound) const;
  /// A download left `bytes` more on disk (fewer: it removed a file).
  void Kept(long long bytes);

 private:
  std::atomic<long long> left_{-1};  // -1: no share set
  std::atomic<int> sharers_{1};
};

/// Time-outs of a session, in seconds, and the pace every transfer keeps.
struct FtpTimeouts {
  long connect = 15;       // TCP connection, greeting and login
  long reply = 60;         // a server that stops answering a command
  long stalled = 60;       // a transfer that moves no byte
  // A transfer that moves fewer than min_rate bytes a second on average
  // over rate_window seconds fails: a card that trickles its data would
  // otherwise hold the run for ever.
  long rate_window = 60;
  long min_rate = 1024;
  // No call lasts longer, whatever moves (the upload cap's hold aside).
  long longest_call = 30 * 60;
  // Seconds of the tool's clock in a real second. The fast-clock test build
  // runs its clock a thousand times faster: its upload cap goes as fast, so
  // that a capped upload lasts on its clock what the plan says it does.
  double clock_speed = 1;
};

/// Keeps one call to its FtpTimeouts: its whole length, and the floor
/// under its pace once bytes began to move (before that, the stalled
/// time-out watches it). None of them counts the time the upload cap held
/// the call back: that is the other cards' turn, not this card's slowness.
class TransferPace {
 public:
  TransferPace(const FtpTimeouts& limits, double now)
      : limits_(limits), started_(now), quiet_until_(now), moved_at_(now) {}

  /// Takes the bytes moved so far by `now` (seconds on a clock that only
  /// goes forward), `held` seconds of which the cap held the call back.
  /// Returns false once the call must stop.
  bool Allows(double now, long long bytes, double held = 0);

  /// While on, the call also stops once its bytes, having begun to move,
  /// stand still for the stalled time-out: for an upload, whose pauses
  /// libcurl's own check cannot tell from a stalled card's.
  void WatchStalls(bool on) { watch_stalls_ = on; }

 private:
  struct Sample {
    double time;
    long long bytes;
  };
  FtpTimeouts limits_;
  double started_;
  double quiet_until_;           // the last time nothing had moved yet
  std::deque<Sample> samples_;  // the oldest is at the window's start
  bool watch_stalls_ = false;
  long long moved_ = 0;         // bytes, at the last time they grew:
  double moved_at_;
};

/// The FTP library on libcurl: one easy handle (one control connection) per
/// session.
struct CurlFtpLibrary : public FtpLibrary {
  explicit CurlFtpLibrary(int port = 21, FtpTimeouts timeouts = FtpTimeouts());

  int Login(const char* host, const char* user, const char* password,
            const char* account) override;
  int Quit(int handle) override;
  int Get(int handle, const char* remote, const char* local) override;
  int Put(int handle, const char* local, const char* remote) override;
  int Ls(int handle, const char* path, const char* local) override;
  int CopyReplyStr(int handle, char* buffer, int size) override {
    return sessions_.CopyReplyStr(handle, buffer, size);
  }
  void ShareDisk(long long bytes, int sharers) override {
    budget_.Share(bytes, sharers);
  }
  void ShareUploadRate(double bytes_per_second) override {
    link_rate_.Share(bytes_per_second * timeouts_.clock_speed);
  }
  void ShareGroupRate(double bytes_per_second) override {
    group_rates_.Share(bytes_per_second * timeouts_.clock_speed);
  }
  bool ShareUsedUp(int handle) override {
    return sessions_.ShareUsedUp(handle);
  }
  bool LocalFailure(int handle, LocalFault* fault) override {
    return sessions_.LocalFailure(handle, fault);
  }

  struct Session;

 private:
  Session* Find(int handle);

  int port_;
  FtpTimeouts timeouts_;
  DownloadBudget budget_;
  UploadRate link_rate_;
  GroupRates group_rates_;
  FtpSessions sessions_;
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
  int CopyReplyStr(int handle, char* buffer, int size) override {
    return sessions_.CopyReplyStr(handle, buffer, size);
  }
  void ShareDisk(long long bytes, int sharers) override {
    budget_.Share(bytes, sharers);
  }
  void ShareUploadRate(double bytes_per_second) override {
    link_rate_.Share(bytes_per_second * timeouts_.clock_speed);
  }
  void ShareGroupRate(double bytes_per_second) override {
    group_rates_.Share(bytes_per_second * timeouts_.clock_speed);
  }
  bool ShareUsedUp(int handle) override {
    return sessions_.ShareUsedUp(handle);
  }
  bool LocalFailure(int handle, LocalFault* fault) override {
    return sessions_.LocalFailure(handle, fault);
  }

  struct Session;

 private:
  Session* Find(int handle);

  int port_;
  FtpTimeouts timeouts_;
  DownloadBudget budget_;
  UploadRate link_rate_;
  GroupRates group_rates_;
  void* internet_;
  FtpSessions sessions_;
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
