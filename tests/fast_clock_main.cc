// The tool as shipped, but on a clock that always reads Monday 7 December
// 2026, 09:30:00 and sleeps a thousandth of what it is asked to.

#include <ctime>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/upgrade_run.h"

namespace {

struct FastClock : public Clock {
  void SleepMs(int milliseconds) override {
    real.SleepMs(milliseconds / 1000);
  }
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
  RealClock real;
};

}  // namespace

int main() {
  RealConsole console;
  FastClock clock;
  RealIcmpEcho icmp;
  CurlFtpLibrary ftp;
  Platform seams;
  seams.console = &console;
  seams.clock = &clock;
  seams.icmp = &icmp;
  seams.ftp = &ftp;
  install_platform(seams);
  return run_upgrade_tool();
}
