// upgrd_util: upgrades the firmware of networked cards over ICMP and FTP.

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/free_memory.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/tool_main.h"

int main(int argc, char** argv) {
  limit_thread_caches(argv);
  RealConsole console;
  RealClock clock;
  RealIcmpEcho icmp;
  SystemFtpLibrary ftp;
  Platform seams;
  seams.console = &console;
  seams.clock = &clock;
  seams.icmp = &icmp;
  seams.ftp = &ftp;
  install_platform(seams);
  return tool_main(argc, argv);
}
