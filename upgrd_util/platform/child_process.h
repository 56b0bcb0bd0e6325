#ifndef UPGRD_UTIL_PLATFORM_CHILD_PROCESS_H_
#define UPGRD_UTIL_PLATFORM_CHILD_PROCESS_H_

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

/// What a child process is allowed.
struct ChildLimits {
  double seconds = 30;  // then it is ended, with everything it started
  double grace_seconds = 2;  // POSIX: between SIGTERM and SIGKILL
  size_t output_bytes = 64 * 1024;  // kept of its output; the rest dropped
  // When set: once it is true, the child is ended as at the time limit.
  const std::atomic<bool>* cut = nullptr;
};

/// How a child process ended.
struct ChildResult {
  bool started = false;
  bool timed_out = false;      // ended by us at the time limit
  bool cut_short = false;      // ended by us before it, by ChildLimits::cut
  bool input_refused = false;  // it closed its standard input unread
  int exit_code = -1;          // when it exited by itself
  int signal = 0;              // POSIX: the signal that ended it, else 0
  std::string output;          // its standard output and error, as they came
  size_t dropped = 0;          // bytes of output beyond the bound
  double seconds = 0;
};

/// Whether `result` is of a child that ended well: it exited with code 0
/// within its time, having taken its input. Otherwise false, with one
/// phrase in *reason ("exited with code 3").
bool child_ended_well(const ChildResult& result, double seconds,
                      std::string* reason);

/// The program that run_child would start for `program` (a name looked up
/// in PATH, or a path with a directory), or false with the reason in
/// *reason when there is none that may be run.
bool find_program(const std::string& program, std::string* path,
                  std::string* reason);

/// Keeps the environment variable `name` (a secret of ours: the cards'
/// password) from every child that run_child starts from now on.
void keep_from_children(const std::string& name);

/// The names keep_from_children was given (child_process.cc).
std::vector<std::string> names_kept_from_children();

/// Runs `argv` (no shell: argv[0] is a program as find_program finds it)
/// with `input` on its standard input, then end of file, and its standard
/// output and error caught together, in a process group (POSIX) or job
/// (Windows) of its own: a Ctrl-C at the terminal does not reach it, and
/// at the time limit the whole of it is ended. It starts with a clean
/// signal mask and default dispositions, no descriptor of ours but its
/// three, and our environment less what keep_from_children names. Returns true when it exited with code 0 within its time, having
/// taken its input; otherwise false, with one phrase in *reason ("exited
/// with code 3"). *result says what happened either way.
bool run_child(const std::vector<std::string>& argv, const std::string& input,
               const ChildLimits& limits, ChildResult* result,
               std::string* reason);

#endif  // UPGRD_UTIL_PLATFORM_CHILD_PROCESS_H_
