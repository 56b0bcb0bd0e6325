#ifndef UPGRD_UTIL_PLATFORM_PLATFORM_H_
#define UPGRD_UTIL_PLATFORM_PLATFORM_H_

struct Clock;
struct Console;
struct FtpLibrary;
struct IcmpEcho;

/// The operating-system seams the program works through. main installs the
/// real ones; tests install doubles (or a fast clock under the real rest).
struct Platform {
  Console* console = nullptr;
  Clock* clock = nullptr;
  IcmpEcho* icmp = nullptr;
  FtpLibrary* ftp = nullptr;
};

/// The installed seams.
Platform& platform();

/// Replaces the installed seams; the objects must outlive their use.
void install_platform(const Platform& seams);

#endif  // UPGRD_UTIL_PLATFORM_PLATFORM_H_
