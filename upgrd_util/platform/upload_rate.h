#ifndef UPGRD_UTIL_PLATFORM_UPLOAD_RATE_H_
#define UPGRD_UTIL_PLATFORM_UPLOAD_RATE_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

/// The bytes a second that uploads share (one token bucket). A transfer
/// takes its bytes a turn at a time, and takes the next turn only once it
/// has sent the last: takes are served in the order they come, so that
/// transfers under way share the rate evenly and none waits for ever. Times
/// are seconds on a clock that only goes forward, given by the caller.
class UploadRate {
 public:
  /// The most a transfer takes in one turn: the same for all, so that
  /// turns in order are even shares, whichever buckets each draws from.
  static constexpr long long kTurn = 16 * 1024;

  /// From now on at most `bytes_per_second` (0 or less: no cap), with a
  /// burst of a tenth of a second's bytes (at least a turn) after a quiet
  /// while.
  void Share(double bytes_per_second);

  /// Takes `bytes` at `now`. Returns when they may go: `now`, or later
  /// when earlier takes have the bytes until then.
  double Take(double now, long long bytes);

 private:
  std::mutex mutex_;
  double rate_ = 0;     // bytes a second; 0: no cap
  double burst_ = 0;    // the most the bucket holds
  double tokens_ = 0;   // at last_; below 0: owed to takes that wait
  double last_ = -1;    // -1: nothing taken since the rate was set
};

/// One transfer's draw from the buckets it shares (the link's, and any
/// other): a turn goes once all of them have it.
class RateDraw {
 public:
  explicit RateDraw(std::vector<UploadRate*> buckets)
      : buckets_(std::move(buckets)) {}

  /// How many of `wanted` bytes may go at `now`: all of them, part, or 0
  /// until ReadyAt().
  long long Take(double now, long long wanted);

  /// When the turn taken goes.
  double ReadyAt() const { return ready_at_; }

 private:
  std::vector<UploadRate*> buckets_;
  long long turn_left_ = 0;  // of the turn taken, not yet sent
  double ready_at_ = 0;
};

/// A bucket for each group of cards, of one rate each (--group-rate).
class GroupRates {
 public:
  /// From now on each group's uploads at most `bytes_per_second` (0 or
  /// less: no cap).
  void Share(double bytes_per_second);

  /// The buckets an upload of a card of `group` draws from: `link`, and
  /// its group's when a rate is set (one for all of the group's uploads).
  std::vector<UploadRate*> For(UploadRate* link, const std::string& group);

 private:
  std::mutex mutex_;
  double rate_ = 0;
  std::map<std::string, std::unique_ptr<UploadRate>> groups_;
};

/// For its life, the uploads of the calling thread are a card's of
/// `group`: a card's thread says so once, its uploads anywhere below
/// drawing from its group's bucket.
class ScopedUploadGroup {
 public:
  explicit ScopedUploadGroup(const std::string& group);
  ~ScopedUploadGroup();
  /// The calling thread's group ("" when none was said).
  static const std::string& Current();

 private:
  ScopedUploadGroup(const ScopedUploadGroup&) = delete;
  ScopedUploadGroup& operator=(const ScopedUploadGroup&) = delete;
  const std::string group_;
  const std::string* previous_;
};

#endif  // UPGRD_UTIL_PLATFORM_UPLOAD_RATE_H_
