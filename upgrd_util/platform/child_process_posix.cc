#include "upgrd_util/platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

using Steady = std::chrono::steady_clock;

double SecondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

bool Executable(const std::string& path, std::string* reason) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *reason = path + ": " + strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *reason = path + ": not a regular file";
    return false;
  }
  if (access(path.c_str(), X_OK) != 0) {
    *reason = path + ": " + strerror(errno);
    return false;
  }
  return true;
}

void CloseOnce(int* fd) {
  if (*fd >= 0)
    close(*fd);
  *fd = -1;
}

// Keeps what fits of `data` within the bound, and counts the rest.
void Keep(const char* data, size_t size, size_t bound, ChildResult* result) {
  size_t room = bound > result->output.size() ? bound - result->output.size()
                                              : 0;
  size_t kept = std::min(room, size);
  result->output.append(data, kept);
  result->dropped += size - kept;
}

// Reads what the pipe holds now, without waiting. Returns false at its end.
bool ReadAvailable(int fd, size_t bound, ChildResult* result) {
  char buffer[16384];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got > 0) {
      Keep(buffer, static_cast<size_t>(got), bound, result);
      continue;
    }
    if (got < 0 && errno == EINTR)
      continue;
    return got < 0 && errno == EAGAIN;
  }
}

// Whether the child has ended, without reaping it: its process group
// stays ours to signal until waitpid.
bool Ended(pid_t pid) {
  siginfo_t info = {};
  return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// TERM to the whole group, KILL to what is left after the grace.
void EndGroup(pid_t pid, double grace) {
  kill(-pid, SIGTERM);
  Steady::time_point asked = Steady::now();
  while (!Ended(pid) && SecondsSince(asked) < grace) {
    struct timespec step = {0, 10 * 1000 * 1000};
    nanosleep(&step, nullptr);
  }
  kill(-pid, SIGKILL);
}

// SIGPIPE blocked in the calling thread while it writes to the child: a
// child that closes its input makes the write fail, not the tool end. A
// SIGPIPE that came meanwhile is taken before the mask is restored.
class NoPipeSignal {
 public:
  NoPipeSignal() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
  }
  ~NoPipeSignal() {
    struct timespec now = {0, 0};
    while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }

 private:
  sigset_t pipe_;
  sigset_t before_;
};

// Our environment less what keep_from_children named, for the child.
std::vector<char*> ChildEnvironment() {
  std::vector<std::string> kept = names_kept_from_children();
  std::vector<char*> environment;
  for (char** entry = environ; *entry; ++entry) {
    size_t length = strcspn(*entry, "=");
    bool hidden = std::any_of(kept.begin(), kept.end(),
                              [&](const std::string& name) {
                                return name.size() == length &&
                                       name.compare(0, length, *entry,
                                                    length) == 0;
                              });
    if (!hidden)
      environment.push_back(*entry);
  }
  environment.push_back(nullptr);
  return environment;
}

// Starts `argv` in a process group of its own with `in` as its standard
// input and `out` as its output and error. Returns 0 or the error.
int Spawn(const std::vector<std::string>& argv, int in, int out, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, out, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
  // result.txt's lock and the cards' locks stay ours alone.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Our threads block the interrupts, and SIGPIPE is ignored: neither is
  // for the child.
  sigset_t none, every;
  sigemptyset(&none);
  sigfillset(&every);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &every);
  // Its own group: the terminal's Ctrl-C does not end the alert of that
  // very interrupt, and at the time limit the whole group is ended.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP |
                                            POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> environment = ChildEnvironment();
  int error = posix_spawnp(pid, args[0], &actions, &attributes, args.data(),
                           environment.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace

bool find_program(const std::string& program, std::string* path,
                  std::string* reason) {
  if (program.empty()) {
    *reason = "no program named";
    return false;
  }
  if (program.find('/') != std::string::npos) {
    *path = program;
    return Executable(program, reason);
  }
  // As execvp searches: PATH, or the system's default path without it; an
  // empty entry is the working directory.
  const char* variable = getenv("PATH");
  std::string dirs = variable ? variable : "/bin:/usr/bin";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = std::min(dirs.find(':', at), dirs.size());
    std::string dir = dirs.substr(at, end - at);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    std::string ignored;
    if (Executable(candidate, &ignored)) {
      *path = candidate;
      return true;
    }
    at = end + 1;
  }
  *reason = "no program " + program + " in PATH";
  return false;
}

bool run_child(const std::vector<std::string>& argv, const std::string& input,
               const ChildLimits& limits, ChildResult* result,
               std::string* reason) {
  *result = ChildResult();
  Steady::time_point start = Steady::now();
  if (argv.empty()) {
    *reason = "could not be started: no program named";
    return false;
  }
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    *reason = std::string("could not be started: ") + strerror(errno);
    for (int* fd : {&in[0], &in[1], &out[0], &out[1]})
      CloseOnce(fd);
    return false;
  }
  pid_t pid = -1;
  int error = Spawn(argv, in[0], out[1], &pid);
  CloseOnce(&in[0]);
  CloseOnce(&out[1]);
  if (error != 0) {
    CloseOnce(&in[1]);
    CloseOnce(&out[0]);
    *reason = std::string("could not be started: ") + strerror(error);
    return false;
  }
  result->started = true;
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  NoPipeSignal no_pipe_signal;
  size_t written = 0;
  if (input.empty())
    CloseOnce(&in[1]);
  bool output_open = true;
  for (;;) {
    if (Ended(pid)) {
      // What it wrote before it ended is in the pipe already; what it left
      // running may write on, unread.
      if (output_open)
        ReadAvailable(out[0], limits.output_bytes, result);
      result->input_refused = written < input.size();
      break;
    }
    double left = limits.seconds - SecondsSince(start);
    bool cut = limits.cut && *limits.cut;
    if (left <= 0 || cut) {
      EndGroup(pid, limits.grace_seconds);
      result->timed_out = left <= 0;
      result->cut_short = left > 0;
      if (output_open)
        ReadAvailable(out[0], limits.output_bytes, result);
      break;
    }
    struct pollfd fds[2];
    nfds_t count = 0;
    if (in[1] >= 0)
      fds[count++] = {in[1], POLLOUT, 0};
    if (output_open)
      fds[count++] = {out[0], POLLIN, 0};
    // Its end is seen by waitid, not by poll: look again every 50 ms, and
    // soon once its output has ended.
    int wait_ms = static_cast<int>(
        std::min(left * 1000 + 1, output_open ? 50.0 : 5.0));
    if (poll(fds, count, wait_ms) <= 0)
      continue;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0)
        continue;
      if (fds[i].fd == out[0]) {
        output_open = ReadAvailable(out[0], limits.output_bytes, result);
        continue;
      }
      size_t chunk = std::min<size_t>(input.size() - written, 65536);
      ssize_t put = write(in[1], input.data() + written, chunk);
      if (put > 0)
        written += static_cast<size_t>(put);
      else if (put < 0 && errno != EAGAIN && errno != EINTR)
        result->input_refused = true;
      if (written == input.size() || result->input_refused)
        CloseOnce(&in[1]);
    }
  }
  CloseOnce(&in[1]);
  CloseOnce(&out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result->exit_code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status) && !result->timed_out && !result->cut_short)
    result->signal = WTERMSIG(status);
  result->seconds = SecondsSince(start);
  return child_ended_well(*result, limits.seconds, reason);
}
