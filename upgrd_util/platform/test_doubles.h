#ifndef UPGRD_UTIL_PLATFORM_TEST_DOUBLES_H_
#define UPGRD_UTIL_PLATFORM_TEST_DOUBLES_H_

// Doubles of the platform seams for unit tests: they record what the program
// did and answer from a script.

#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "upgrd_util/platform/append_file.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/platform/thread.h"

/// Collects output (backspaces as '\b') and answers from queued lines;
/// end of input once they are used up.
struct FakeConsole : public Console {
  void Write(std::string_view text) override { output.append(text); }
  void WriteBackspaces(int count) override { output.append(count, '\b'); }
  bool ReadLine(std::string* line) override;
  bool InputIsTerminal() override { return input_is_terminal; }

  std::string output;
  std::deque<std::string> input;
  bool input_is_terminal = false;
  int lines_read = 0;
};

/// Sleeps take no time; they are added up. The local time is `now`. A
/// campaign's threads (the stop file's watch, the cards) may sleep at once.
struct FakeClock : public Clock {
  FakeClock();
  void SleepMs(int milliseconds) override;
  bool LocalTime(struct tm* out) override;
  /// The time slept so far.
  double Seconds() override {
    std::lock_guard<std::mutex> lock(mutex);
    return slept_ms / 1000.0;
  }

  /// Sets `now` to the given local date and time (weekday computed).
  void Set(int year, int month, int day, int hour, int minute, int second);

  struct tm now;
  bool has_time = true;
  std::mutex mutex;  // guards the two below while threads sleep
  long long slept_ms = 0;
  std::vector<int> sleeps;
};

/// Answers echo requests from `replies` in order (1 or 0), then with
/// `default_reply`.
struct FakeIcmpEcho : public IcmpEcho {
  bool StartUp() override;
  void ShutDown() override { ++shut_downs; }
  bool Open(std::string* reason) override;
  int SendEcho(const char* ip) override;
  bool Close() override;

  bool start_up_succeeds = true;
  int start_ups = 0;
  int shut_downs = 0;
  bool open_succeeds = true;
  std::string open_failure_reason = "no ICMP here";
  bool close_succeeds = true;
  std::deque<int> replies;
  int default_reply = 0;
  bool is_open = false;
  int opens = 0;
  int closes = 0;
  std::vector<std::string> sent;  // the address of every request
};

/// A card's FTP server in memory. Local files are real files, so that the
/// code that reads them back works as with the real library.
struct FakeFtpLibrary : public FtpLibrary {
  int Login(const char* host, const char* user, const char* password,
            const char* account) override;
  int Quit(int handle) override;
  int Get(int handle, const char* remote, const char* local) override;
  int Put(int handle, const char* local, const char* remote) override;
  int Ls(int handle, const char* path, const char* local) override;
  int CopyReplyStr(int handle, char* buffer, int size) override;
  bool LocalFailure(int handle, LocalFault* fault) override;
  void ShareUploadRate(double bytes_per_second) override {
    upload_rate = bytes_per_second;
  }
  void ShareGroupRate(double bytes_per_second) override {
    group_rate = bytes_per_second;
  }

  std::string user = "user";
  std::string password = "pass";
  std::map<std::string, std::string> files;  // remote name -> content
  std::vector<std::string> listing;          // what Ls writes, in order
  bool listing_fails = false;
  // What a failed login and a failed listing leave as the last reply.
  std::string login_failure = "530 Authentication failed.";
  std::string listing_failure = "550 Listing failed.";
  bool listing_vanishes = false;  // Ls succeeds and leaves no file
  bool put_fails = false;
  // Every local file that Get and Ls write fails as on a full disk.
  bool disk_full = false;
  std::string last_reply = "230 Logged in.";
  LocalFault fault;  // of the last Get, Put or Ls

  double upload_rate = 0;           // the uploads' cap; 0: none
  double group_rate = 0;            // and each group's
  std::string put_group;            // the group of the last Put's thread
  bool put_runs_out_of_memory = false;  // Put throws std::bad_alloc
  std::vector<std::string> calls;   // "login 10.0.0.1", "quit 3", ...
  std::vector<std::string> uploads; // base names stored by Put
  std::vector<int> open_handles;
  int next_handle = 1;
};

/// Installed for its life: counts the syncs instead of waiting for the
/// disk, in order, 'f' for a file's data and 'd' for a directory.
struct CountingDiskSyncs : public DiskSyncs {
  CountingDiskSyncs() { install_disk_syncs(this); }
  ~CountingDiskSyncs() override { install_disk_syncs(nullptr); }
  bool SyncData(int fd) override;
  bool SyncDirectory(const std::string& directory) override;
  /// The syncs so far, "ffd".
  std::string Calls();
  /// How many of `kind` there were.
  int Count(char kind);

 private:
  std::mutex mutex_;  // guards calls_
  std::string calls_;
};

/// Gives the system's threads for the first `give` starts, then fails each
/// start as `how` says.
struct FakeThreadStarter : public ThreadStarter {
  enum How { REFUSE, THROW_BAD_ALLOC, THROW_SYSTEM_ERROR };
  FakeThreadStarter(int give, How how) : give_(give), how_(how) {}
  std::unique_ptr<StartedThread> Start(std::function<void()> body,
                                       size_t stack_bytes,
                                       std::string* err) override;

 private:
  int give_;
  How how_;
};

#endif  // UPGRD_UTIL_PLATFORM_TEST_DOUBLES_H_
