#ifndef UPGRD_TESTS_TEST_SUPPORT_H_
#define UPGRD_TESTS_TEST_SUPPORT_H_

#include <sys/types.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "upgrd_util/platform/test_doubles.h"

/// A fresh directory that becomes the working directory for the test's life;
/// the previous one is restored and the directory removed afterwards.
struct ScopedTempDir {
  ScopedTempDir();
  ~ScopedTempDir();
  std::string path;
  std::string previous;
};

/// Makes the directory `path`. Returns false on failure.
bool MakeDirectory(const std::string& path);

/// Writes `content` to `path`. Returns false on failure.
bool WriteFile(const std::string& path, const std::string& content);

/// The whole content of `path`, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);

/// ReadFile for a text file the program wrote: its line ends as "\n" on
/// every system (Windows stores "\r\n").
std::string ReadTextFile(const std::string& path);

/// Seconds on a clock that only goes forward.
double MonotonicSeconds();

/// How many lines of `text` are exactly `line`.
int CountLines(const std::string& text, const std::string& line);

/// How many times `what` occurs in `text`.
int Occurrences(const std::string& text, const std::string& what);

#ifndef _WIN32
/// pyftpdlib on 127.0.0.1, serving `root` to one user. Started by Start and
/// stopped by its pid when the object goes away.
struct FtpTestServer {
  ~FtpTestServer();
  /// Returns false (with a message on stderr) when it did not come up
  /// within 10 seconds.
  bool Start(const std::string& root, const std::string& user,
             const std::string& password);
  void Stop();
  /// The commands received so far, one per line ("PASS" without argument).
  std::string Commands() const;

  pid_t pid = -1;
  int port = 0;
  std::string state_dir;
};

/// Ends the server `pid`: SIGTERM, SIGKILL if it is still there 5 seconds
/// later, and reaps it.
void StopServer(pid_t pid);

/// What a run of the tool gave.
struct ToolRun {
  int exit_code = -1;   // -1 when it did not exit by itself in time
  std::string output;   // standard output and error
  double seconds = 0;
  long max_rss_kb = 0;  // peak memory
  bool killed = false;  // SIGKILLed after kill_after
  int signal = 0;       // the signal that ended it, if one did
};

struct RunOptions {
  /// The binary: by default the one on the fast clock that reads
  /// "Mon Dec  7 09:30:00 AM".
  const char* tool = UPGRD_FAST_TOOL_PATH;
  /// Its command-line arguments, and "NAME=value" for its environment.
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  /// Send kill_signal to the tool once its output holds this text,
  /// kill_delay_ms later; after SIGKILL nothing more is read.
  std::string kill_after;
  int kill_delay_ms = 0;
  int kill_signal = SIGKILL;
  /// How many times to send it, 100 ms apart.
  int kill_count = 1;
  /// Called once it is sent.
  std::function<void()> after_kill;
  /// Close the reading end of its output once the output holds this text,
  /// as `| head` does, and wait for it to end by itself.
  std::string close_output_after;
  /// Once its output holds this text, fill the output pipe and read no more
  /// (a console that stalls) until `stalled_until` returns true or the time
  /// limit comes; the filler (NUL bytes) is not kept. Not in a terminal.
  std::string stall_output_after;
  std::function<bool()> stalled_until;
  /// Once its output holds the first text, calls the action beside it,
  /// then waits for the next text, and so on; reading goes on meanwhile.
  std::vector<std::pair<std::string, std::function<void()>>> on_output;
  /// Set to its process id once it is started, for those actions.
  pid_t* pid = nullptr;
  /// Its limit of open files, when not 0.
  long open_files = 0;
  /// Keep its standard input open after `input`, as a console does.
  bool keep_input_open = false;
  /// With keep_input_open: set to the writing end of its input, for those
  /// actions to answer later.
  int* input = nullptr;
  /// Run it as the unprivileged user nobody.
  bool as_nobody = false;
  /// Give it a terminal (which echoes the input) instead of pipes.
  bool in_terminal = false;
};

/// Runs the tool in `directory` with `input` on its standard input, killing
/// it after `time_limit_s`.
ToolRun RunTool(const std::string& directory, const std::string& input,
                int time_limit_s, const RunOptions& options = RunOptions());

#endif  // _WIN32

/// A test of the program's own code on the platform doubles, in a fresh
/// working directory, with the result log open and every process-wide value
/// as at start-up.
struct ProgramTest : public testing::Test {
  void SetUp() override;
  void TearDown() override;
  /// What the result log holds after its header.
  std::string Log();
  /// What the result log gained since the last call.
  std::string NewLog();

#ifndef _WIN32
  /// What a piece of the program did in a child process that it ended.
  struct Exit {
    int code = -1;        // the exit code; -1 when `body` returned or crashed
    std::string console;  // all that the child wrote to the console
  };
  /// Runs `body` in a forked child on this test's doubles (prepare them
  /// first) and waits up to 30 s for it to end the process.
  Exit RunToExit(const std::function<void()>& body);
#endif

  ScopedTempDir dir;
  FakeConsole console;
  FakeClock clock;
  FakeIcmpEcho icmp;
  FakeFtpLibrary ftp;
  size_t log_seen = 0;
};

#ifndef _WIN32
/// A ProgramTest whose FTP is the libcurl library against pyftpdlib on
/// 127.0.0.1, which serves `card_dir` ("card" in the test's directory) to
/// admin with password secret.
struct LoopbackFtpTest : public ProgramTest {
  void SetUp() override;

  std::string card_dir;
  FtpTestServer server;
  std::unique_ptr<CurlFtpLibrary> real_ftp;
};
#endif

/// The header of every result log written on FakeClock's default time.
extern const char kFakeLogHeader[];

#ifndef _WIN32
/// The process's time zone for a scope (Windows' C library knows no zone
/// names, so tests that use it run on POSIX systems only).
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* before = getenv("TZ");
    had_ = before != nullptr;
    if (had_)
      before_ = before;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_)
      setenv("TZ", before_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string before_;
};
#endif  // _WIN32

#endif  // UPGRD_TESTS_TEST_SUPPORT_H_
