// The tool as shipped, but on a clock that always reads Monday 7 December
// 2026, 09:30:00 and sleeps a thousandth of what it is asked to, and with
// FTP time-outs and transfer bounds of a few seconds, and an echo waited
// for a tenth of a second. For benchmarks, UPGRD_FAST_CLOCK_REPORT names a
// file that receives, at exit, the seconds really spent in those sleeps,
// UPGRD_SHIPPED_FTP_TIMEOUTS keeps the shipped FTP and echo time-outs and
// UPGRD_NO_SYNC leaves records unsynced, to measure what syncing them
// costs. The upload cap goes as fast as the clock. UPGRD_FAST_CLOCK_FACTOR
// (default 1000) is how much faster than real time the clock goes: a test
// whose window must hold on a busy machine takes a slower one, as every
// real millisecond is that many on the clock.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "upgrd_util/platform/append_file.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/free_memory.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/tool_main.h"

/// Sleeps `microseconds` (fast_clock_main_posix.cc, _win.cc).
void SleepMicroseconds(long microseconds);

namespace {

// Summed over all threads: a campaign sleeps on many at once.
std::atomic<long long> g_slept_us{0};

// Set once, before any thread.
double g_factor = 1000;

double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ReportSleeps() {
  const char* path = getenv("UPGRD_FAST_CLOCK_REPORT");
  if (FILE* report = path ? fopen(path, "w") : nullptr) {
    fprintf(report, "%.6f\n", g_slept_us.load() / 1e6);
    fclose(report);
  }
}

struct FastClock : public Clock {
  // A millisecond becomes a microsecond: a three-minute wait takes 180 ms.
  void SleepMs(int milliseconds) override {
    if (milliseconds <= 0)
      return;
    double start = Now();
    SleepMicroseconds(std::lround(milliseconds * 1000.0 / g_factor));
    g_slept_us += static_cast<long long>((Now() - start) * 1e6);
  }
  void WaitFor(std::condition_variable* wake,
               std::unique_lock<std::mutex>* lock, int milliseconds) override {
    wake->wait_for(*lock, std::chrono::microseconds(
                              std::lround(milliseconds * 1000.0 / g_factor)));
  }
  // As long as things would take on the real clock.
  double Seconds() override { return Now() * g_factor; }
  bool LocalTime(struct tm* out) override {
    struct tm fixed = {};
    fixed.tm_year = 2026 - 1900;
    fixed.tm_mon = 11;
    fixed.tm_mday = 7;
    fixed.tm_wday = 1;
    fixed.tm_hour = 9;
    fixed.tm_min = 30;
    *out = fixed;
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  limit_thread_caches(argv);
  atexit(ReportSleeps);
  if (const char* factor = getenv("UPGRD_FAST_CLOCK_FACTOR"))
    g_factor = std::max(1.0, std::min(atof(factor), 1000.0));
  RealConsole console;
  FastClock clock;
  // Short time-outs, so that tests of cards that stop answering stay quick;
  // benchmarks of a thousand cards on one simulator need the shipped ones.
  // An echo on loopback comes back in well under a millisecond: a tenth of
  // a second to wait for it holds on a busy machine, and a card that went
  // dark fails its 60 echoes in 6 s instead of a minute.
  bool shipped = getenv("UPGRD_SHIPPED_FTP_TIMEOUTS") != nullptr;
  RealIcmpEcho icmp(RealIcmpEcho::kDatagramThenRaw, shipped ? 1000 : 100);
  FtpTimeouts timeouts;
  if (!shipped) {
    timeouts.connect = 2;
    timeouts.reply = 3;
    timeouts.stalled = 3;
    // The floor under a transfer's pace, over 3 s instead of 60, and calls
    // of 10 s at most instead of 30 minutes.
    timeouts.rate_window = 3;
    timeouts.longest_call = 10;
  }
  timeouts.clock_speed = g_factor;
  SystemFtpLibrary ftp(21, timeouts);
  if (getenv("UPGRD_NO_SYNC"))
    skip_syncs_for_benchmarks();
  Platform seams;
  seams.console = &console;
  seams.clock = &clock;
  seams.icmp = &icmp;
  seams.ftp = &ftp;
  install_platform(seams);
  return tool_main(argc, argv);
}
