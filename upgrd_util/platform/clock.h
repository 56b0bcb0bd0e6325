#ifndef UPGRD_UTIL_PLATFORM_CLOCK_H_
#define UPGRD_UTIL_PLATFORM_CLOCK_H_

#include <condition_variable>
#include <ctime>
#include <mutex>

/// Time as the program sees it: blocking sleeps and the local time of day.
struct Clock {
  virtual ~Clock() {}

  /// Blocks for `milliseconds` (nothing for 0 or less).
  virtual void SleepMs(int milliseconds) = 0;

  /// Stores the current local time in *out. Returns false when the system
  /// cannot tell it (then *out is left as it was).
  virtual bool LocalTime(struct tm* out) = 0;

  /// Seconds since some fixed moment, never going back: for how long things
  /// take.
  virtual double Seconds() = 0;

  /// How far local time is ahead of UTC now, in seconds (0 for a clock that
  /// keeps UTC).
  virtual long UtcOffsetSeconds() { return 0; }

  /// Waits on `wake` with *lock held for up to `milliseconds` of this
  /// clock, or until woken. A clock whose time only its sleeps move on
  /// sleeps the whole time.
  virtual void WaitFor(std::condition_variable* /*wake*/,
                       std::unique_lock<std::mutex>* lock, int milliseconds) {
    lock->unlock();
    SleepMs(milliseconds);
    lock->lock();
  }
};

/// The local wall time at `when`, and how far it is ahead of UTC then,
/// which may differ from now's across a change of summer time. Returns
/// false when the system cannot tell it.
bool local_time_at(time_t when, struct tm* out, long* utc_offset);

struct RealClock : public Clock {
  void SleepMs(int milliseconds) override;
  void WaitFor(std::condition_variable* wake,
               std::unique_lock<std::mutex>* lock, int milliseconds) override {
    wake->wait_for(*lock, std::chrono::milliseconds(milliseconds));
  }
  bool LocalTime(struct tm* out) override;
  double Seconds() override;
  long UtcOffsetSeconds() override;
};

#endif  // UPGRD_UTIL_PLATFORM_CLOCK_H_
