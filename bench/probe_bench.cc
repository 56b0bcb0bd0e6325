// probe_target on the real ICMP echo against a live address: 20 replies, as
// the tool asks of a card, with the console output dropped and no result log.
// scripts/bench.sh times the whole process against ping -c 20 -i 0.
//
//   upgrd_probe_bench [ADDRESS] [PROBES]   (default: 127.0.0.1, 1 probe)
//
// Prints the median time of one probe in the process, in milliseconds (the
// whole process also loads and starts). Exits 0 when every probe got its
// replies, else 1.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/card/probe.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"

namespace {

// The turning marks go nowhere: the console is not what is measured.
struct NullConsole : public Console {
  void Write(std::string_view) override {}
  void WriteBackspaces(int) override {}
  bool ReadLine(std::string*) override { return false; }
};

double NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  upgrade_target target = {};
  if (!set_target_ip(&target, argc > 1 ? argv[1] : "127.0.0.1")) {
    fprintf(stderr, "bad address\n");
    return 2;
  }
  int probes = argc > 2 ? atoi(argv[2]) : 1;
  NullConsole console;
  RealClock clock;
  RealIcmpEcho icmp;
  Platform seams;
  seams.console = &console;
  seams.clock = &clock;
  seams.icmp = &icmp;
  install_platform(seams);
  int answered = 0;
  std::vector<double> times;
  for (int i = 0; i < probes; ++i) {
    double start = NowMs();
    answered += probe_target(&target, 10);
    times.push_back(NowMs() - start);
  }
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    printf("%.4f\n", times[times.size() / 2]);
  }
  if (answered != probes) {
    fprintf(stderr, "%d of %d probes answered\n", answered, probes);
    return 1;
  }
  return 0;
}
