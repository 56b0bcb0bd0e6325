#include "tests/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void RemoveTree(const std::string& path) {
  if (path.empty() || path == "/")
    return;
  std::string command = "rm -rf '" + path + "'";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", path.c_str());
}

// Waits up to `seconds` for `pid`; kills it if it is still there. Its
// resource usage goes to *usage when given.
int ReapWithin(pid_t pid, double seconds, bool* timed_out,
               struct rusage* usage = nullptr) {
  double deadline = MonotonicSeconds() + seconds;
  int status = 0;
  *timed_out = false;
  for (;;) {
    pid_t r = wait4(pid, &status, WNOHANG, usage);
    if (r == pid)
      return status;
    if (r < 0)
      return -1;
    if (MonotonicSeconds() > deadline) {
      *timed_out = true;
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, usage);
      return status;
    }
    usleep(10000);
  }
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  char cwd[4096];
  if (getcwd(cwd, sizeof(cwd)))
    previous = cwd;
  char templ[] = "/tmp/upgrd_test.XXXXXX";
  if (mkdtemp(templ)) {
    path = templ;
    if (chdir(templ) != 0)
      perror("chdir");
  }
}

ScopedTempDir::~ScopedTempDir() {
  if (!previous.empty() && chdir(previous.c_str()) != 0)
    perror("chdir");
  RemoveTree(path);
}

bool MakeDirectory(const std::string& path) {
  return mkdir(path.c_str(), 0755) == 0;
}

std::string ReadTextFile(const std::string& path) {
  return ReadFile(path);
}

FtpTestServer::~FtpTestServer() {
  Stop();
  RemoveTree(state_dir);
}

bool FtpTestServer::Start(const std::string& root, const std::string& user,
                          const std::string& password) {
  char templ[] = "/tmp/upgrd_ftpd.XXXXXX";
  if (!mkdtemp(templ))
    return false;
  state_dir = templ;
  std::string port_file = state_dir + "/port";
  std::string command_log = state_dir + "/commands";
  std::string script = std::string(UPGRD_SOURCE_DIR) + "/tests/ftp_test_server.py";
  pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    execl("/usr/bin/python3", "python3", script.c_str(), "--root", root.c_str(),
          "--user", user.c_str(), "--password", password.c_str(),
          "--port-file", port_file.c_str(), "--command-log",
          command_log.c_str(), "--lifetime", "300", (char*)nullptr);
    _exit(127);
  }
  if (pid < 0)
    return false;
  double deadline = MonotonicSeconds() + 10;
  while (MonotonicSeconds() < deadline) {
    std::string text = ReadFile(port_file);
    if (text != "<missing>") {
      port = atoi(text.c_str());
      return port > 0;
    }
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      fprintf(stderr, "FTP test server exited at start-up\n");
      pid = -1;
      return false;
    }
    usleep(20000);
  }
  fprintf(stderr, "FTP test server did not come up\n");
  Stop();
  return false;
}

void FtpTestServer::Stop() {
  if (pid > 0)
    StopServer(pid);
  pid = -1;
}

void StopServer(pid_t pid) {
  kill(pid, SIGTERM);
  bool timed_out;
  ReapWithin(pid, 5, &timed_out);
}

std::string FtpTestServer::Commands() const {
  std::string text = ReadFile(state_dir + "/commands");
  return text == "<missing>" ? "" : text;
}

void LoopbackFtpTest::SetUp() {
  ProgramTest::SetUp();
  card_dir = dir.path + "/card";
  ASSERT_TRUE(MakeDirectory(card_dir));
  ASSERT_TRUE(server.Start(card_dir, "admin", "secret"));
  real_ftp = std::make_unique<CurlFtpLibrary>(server.port);
  platform().ftp = real_ftp.get();
}

ToolRun RunTool(const std::string& directory, const std::string& input,
                int time_limit_s, const RunOptions& options) {
  ToolRun run;
  signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0)
    return run;
  double start = MonotonicSeconds();
  int terminal = -1;
  pid_t pid = options.in_terminal ? forkpty(&terminal, nullptr, nullptr,
                                            nullptr)
                                  : fork();
  if (pid == 0) {
    if (!options.in_terminal) {
      dup2(in_pipe[0], 0);
      dup2(out_pipe[1], 1);
      dup2(out_pipe[1], 2);
    }
    close(in_pipe[1]);
    close(out_pipe[0]);
    if (chdir(directory.c_str()) != 0)
      _exit(126);
    if (options.as_nobody && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(125);
    for (const std::string& variable : options.environment)
      putenv(const_cast<char*>(variable.c_str()));
    // As a shell starts it: the test's own ignored SIGPIPE is not inherited.
    signal(SIGPIPE, SIG_DFL);
    struct rlimit files = {static_cast<rlim_t>(options.open_files),
                           static_cast<rlim_t>(options.open_files)};
    if (options.open_files > 0 && setrlimit(RLIMIT_NOFILE, &files) != 0)
      _exit(124);
    std::vector<char*> argv = {const_cast<char*>("upgrd_util")};
    for (const std::string& argument : options.arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(options.tool, argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  if (options.pid)
    *options.pid = pid;
  // Kept only to stall the output: the test fills the pipe itself.
  int filler = options.stall_output_after.empty() ? -1 : out_pipe[1];
  if (filler < 0)
    close(out_pipe[1]);
  if (options.in_terminal) {
    // The terminal stands in for both pipes.
    close(in_pipe[1]);
    close(out_pipe[0]);
    in_pipe[1] = dup(terminal);
    out_pipe[0] = terminal;
  }
  if (write(in_pipe[1], input.data(), input.size()) < 0) {
    // The tool may end before it reads everything; that is its business.
  }
  if (!options.keep_input_open)
    close(in_pipe[1]);
  else if (options.input)
    *options.input = in_pipe[1];
  double deadline = start + time_limit_s;
  char buffer[4096];
  bool signalled = false;
  size_t next_action = 0;
  for (;;) {
    int left_ms = static_cast<int>((deadline - MonotonicSeconds()) * 1000);
    if (left_ms <= 0)
      break;
    struct pollfd p = {out_pipe[0], POLLIN, 0};
    int polled = poll(&p, 1, std::min(left_ms, 200));
    if (polled < 0)
      break;
    if (polled == 0) {
      // Ended, though a process it started (a sanitizer's symbolizer, say)
      // may still hold the output open: nothing more is coming.
      siginfo_t ended = {};
      if (waitid(P_PID, pid, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
          ended.si_pid != pid)
        continue;
      // What it wrote just before it ended is still to be read.
      ssize_t n;
      while (poll(&p, 1, 0) > 0 &&
             (n = read(out_pipe[0], buffer, sizeof(buffer))) > 0)
        run.output.append(buffer, static_cast<size_t>(n));
      break;
    }
    ssize_t n = read(out_pipe[0], buffer, sizeof(buffer));
    if (n <= 0)
      break;
    run.output.append(buffer, static_cast<size_t>(n));
    while (next_action < options.on_output.size() &&
           run.output.find(options.on_output[next_action].first) !=
               std::string::npos)
      options.on_output[next_action++].second();
    if (!signalled && !options.kill_after.empty() &&
        run.output.find(options.kill_after) != std::string::npos) {
      usleep(options.kill_delay_ms * 1000);
      for (int i = 0; i < options.kill_count; ++i) {
        if (i > 0)
          usleep(100 * 1000);
        kill(pid, options.kill_signal);
      }
      if (options.after_kill)
        options.after_kill();
      signalled = true;
      run.killed = options.kill_signal == SIGKILL;
      if (run.killed)
        break;
    }
    if (!options.close_output_after.empty() &&
        run.output.find(options.close_output_after) != std::string::npos)
      break;
    if (filler >= 0 &&
        run.output.find(options.stall_output_after) != std::string::npos) {
      // Through a description of its own: O_NONBLOCK on the tool's would
      // make its writes fail instead of wait.
      std::string own = "/proc/self/fd/" + std::to_string(filler);
      int fill = open(own.c_str(), O_WRONLY | O_NONBLOCK);
      static const char kFiller[4096] = {};
      while (fill >= 0 && write(fill, kFiller, sizeof(kFiller)) > 0) {
      }
      if (fill >= 0)
        close(fill);
      while (MonotonicSeconds() < deadline && !options.stalled_until())
        usleep(50 * 1000);
      close(filler);
      filler = -1;
    }
  }
  if (filler >= 0)
    close(filler);
  run.output.erase(std::remove(run.output.begin(), run.output.end(), '\0'),
                   run.output.end());
  close(out_pipe[0]);
  if (options.keep_input_open)
    close(in_pipe[1]);
  bool timed_out;
  struct rusage usage = {};
  double left = std::max(0.0, deadline - MonotonicSeconds());
  int status = ReapWithin(pid, left + 1, &timed_out, &usage);
  run.seconds = MonotonicSeconds() - start;
  if (!timed_out && WIFEXITED(status))
    run.exit_code = WEXITSTATUS(status);
  if (!timed_out && WIFSIGNALED(status))
    run.signal = WTERMSIG(status);
  run.max_rss_kb = usage.ru_maxrss;
  return run;
}

namespace {

// Where the child of RunToExit sends its console output when it exits.
struct ExitReport {
  FakeConsole* console;
  int fd;
};
ExitReport g_exit_report;

void ReportExit(int status, void*) {
  fflush(nullptr);
  const std::string& text = g_exit_report.console->output;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(g_exit_report.fd, text.data() + done, text.size() - done);
    if (n <= 0)
      break;
    done += static_cast<size_t>(n);
  }
  // Straight out: the test framework's own exit handlers are not the child's
  // business.
  _exit(status);
}

}  // namespace

ProgramTest::Exit ProgramTest::RunToExit(const std::function<void()>& body) {
  Exit result;
  int fds[2];
  if (pipe(fds) != 0)
    return result;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    g_exit_report = {&console, fds[1]};
    on_exit(ReportExit, nullptr);
    body();
    _exit(255);  // returned instead of ending the process
  }
  close(fds[1]);
  double deadline = MonotonicSeconds() + 30;
  char buffer[4096];
  for (;;) {
    int left_ms = static_cast<int>((deadline - MonotonicSeconds()) * 1000);
    struct pollfd p = {fds[0], POLLIN, 0};
    if (left_ms <= 0 || poll(&p, 1, left_ms) <= 0)
      break;
    ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n <= 0)
      break;
    result.console.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  bool timed_out;
  double left = std::max(0.0, deadline - MonotonicSeconds());
  int status = ReapWithin(pid, left + 1, &timed_out);
  if (!timed_out && WIFEXITED(status) && WEXITSTATUS(status) != 255)
    result.code = WEXITSTATUS(status);
  return result;
}
