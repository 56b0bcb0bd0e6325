#ifndef UPGRD_FUZZ_FUZZ_SUPPORT_H_
#define UPGRD_FUZZ_FUZZ_SUPPORT_H_

// What every fuzz target shares: the platform doubles (no network, no real
// console, no real sleeps), a scratch working directory with the result log
// open in it, and a bound on how far that log grows.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/platform/test_doubles.h"

// Stops the run as a finding, with the failed condition on stderr.
#define FUZZ_CHECK(condition)                                          \
  do {                                                                 \
    if (!(condition)) {                                                \
      fprintf(stderr, "check failed: %s (%s:%d)\n", #condition,        \
              __FILE__, __LINE__);                                     \
      abort();                                                         \
    }                                                                  \
  } while (0)

inline FakeConsole fuzz_console;
inline FakeClock fuzz_clock;
inline FakeIcmpEcho fuzz_icmp;

inline void OpenLogOrDie() {
  std::string reason;
  if (!open_result_log(&reason)) {
    fprintf(stderr, "cannot open the result log: %s\n", reason.c_str());
    abort();
  }
}

// Once per process: a fresh directory under $TMPDIR (removed at exit) as the
// working directory, the doubles installed, the result log open.
inline void FuzzSetUp(FtpLibrary* ftp) {
  static std::string dir;
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") +
                        "/upgrd_fuzz.XXXXXX";
  if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) {
    perror("scratch directory");
    abort();
  }
  dir = pattern;
  atexit([] {
    close_result_log();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  });
  Platform seams;
  seams.console = &fuzz_console;
  seams.clock = &fuzz_clock;
  seams.icmp = &fuzz_icmp;
  seams.ftp = ftp;
  install_platform(seams);
  OpenLogOrDie();
}

// At the start of every run: forget the console output, and start the
// result log afresh every 10000 runs so that it stays small.
inline void FuzzNextRun() {
  static unsigned runs = 0;
  fuzz_console.output.clear();
  if (++runs % 10000 == 0) {
    close_result_log();
    remove(kResultLogName);
    OpenLogOrDie();
  }
}

#endif  // UPGRD_FUZZ_FUZZ_SUPPORT_H_
