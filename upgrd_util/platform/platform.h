#ifndef UPGRD_UTIL_PLATFORM_PLATFORM_H_
#define UPGRD_UTIL_PLATFORM_PLATFORM_H_

#include <string>

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
  /// The directory the cards' locks lie in; empty: the one that every run
  /// on the workstation shares. Tests that run side by side each keep their
  /// own, or the same address in two of them would be busy.
  std::string card_locks;
};

/// The seams of the calling thread: its own, when it installed some, else
/// the process's.
Platform& platform();

/// Replaces the process's seams; the objects must outlive their use.
void install_platform(const Platform& seams);

/// For its life, gives the calling thread seams of its own (a card upgraded
/// beside others has its own console and echo handle).
struct ScopedThreadPlatform {
  explicit ScopedThreadPlatform(Platform* seams);
  ~ScopedThreadPlatform();

 private:
  ScopedThreadPlatform(const ScopedThreadPlatform&) = delete;
  ScopedThreadPlatform& operator=(const ScopedThreadPlatform&) = delete;
  Platform* previous_;
};

#endif  // UPGRD_UTIL_PLATFORM_PLATFORM_H_
