#ifndef UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/platform/platform.h"

/// What a campaign does with each card, on the card's own thread: its whole
/// upgrade, or a dry run.
using CardSequence = std::function<CardOutcome(upgrade_target* card)>;

/// Why no further card starts.
enum StopReason { STOP_MAX_FAILURES, STOP_INTERRUPTED, STOP_BY_RULE };

/// What the pool tells as it goes. Card calls come from the cards' threads,
/// several at a time; Tick from the thread that called Run. The pool holds
/// its lock only during CardStarted and MayStart, which must not wait.
struct PoolEvents {
  virtual ~PoolEvents() {}
  virtual void CardStarted(upgrade_target* card) = 0;
  virtual void CardEnded(upgrade_target* card, CardOutcome outcome,
                         double seconds) = 0;
  /// The campaign's own rules: false when `card` may not start (and no
  /// later one), or when after a card no further one may.
  virtual bool MayStart(const upgrade_target& /*card*/) { return true; }
  virtual bool MayGoOn() { return true; }
  /// Seconds after which a card that ended so is tried again; 0: never.
  virtual double RetryAfter(const upgrade_target& /*card*/,
                            CardOutcome /*outcome*/) {
    return 0;
  }
  /// A try of `card` ended so, and another follows in `delay` seconds.
  virtual void CardRetried(upgrade_target* /*card*/, CardOutcome /*outcome*/,
                           double /*seconds*/, double /*delay*/) {}
  /// No further card starts; `failed` have failed and `running` go on.
  virtual void StartingStopped(StopReason reason, int failed, int running) = 0;
  /// The system gave only `started` of the `wanted` threads (none: no card
  /// starts).
  virtual void WorkersShort(int started, int wanted) = 0;
  /// Between events, at least every tick_ms while cards run, and once with
  /// `last` when every started card has ended.
  virtual void Tick(bool last) = 0;
};

/// Runs cards through a sequence, up to `parallel` at once in the order
/// given, and decides whether another may start: not after `max_failures`
/// failed cards (0: no limit; `failed_before` count too), not after an
/// interrupt, not when the events' rules say so. It prints nothing.
class CardPool {
 public:
  CardPool(std::vector<upgrade_target*> cards, int parallel, int max_failures,
           CardSequence sequence, PoolEvents* events, int failed_before = 0);

  /// Returns when every card that started has ended. The cards that never
  /// started are those from not_started() on.
  void Run(int tick_ms);

  size_t not_started() const { return next_; }
  /// Whether something stopped the starting of cards, and how many have
  /// failed in all.
  bool stopped() const { return stop_starting_; }
  int failed() const { return failed_; }

 private:
  void Work();
  // Both are called, and return, with *lock held; they drop it while they
  // tell the events.
  void NoteInterrupt(std::unique_lock<std::mutex>* lock);
  void StopStarting(StopReason reason, std::unique_lock<std::mutex>* lock);

  std::vector<upgrade_target*> cards_;
  const int parallel_;
  const int max_failures_;
  CardSequence sequence_;
  PoolEvents* events_;

  // A card to try again once the clock reads `at`, and how it last ended.
  struct Retry {
    upgrade_target* card;
    double at;
    CardOutcome outcome;
    double seconds;
  };
  // The next card to run, or nullptr when none may start (mutex_ held;
  // waits on the clock for a retry that is not due yet).
  upgrade_target* NextCard(std::unique_lock<std::mutex>* lock,
                           const Platform& shared);

  std::mutex mutex_;  // guards everything below
  std::vector<Retry> retries_;
  std::condition_variable wake_;
  size_t next_ = 0;
  int running_ = 0;
  int workers_ = 0;
  int failed_ = 0;
  bool stop_starting_ = false;
  bool interrupted_ = false;
};

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_
