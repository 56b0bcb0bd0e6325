#ifndef UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/rollout_rules.h"
#include "upgrd_util/platform/platform.h"

/// What a campaign does with each card, on the card's own thread: its whole
/// upgrade, or a dry run.
using CardSequence = std::function<CardOutcome(upgrade_target* card)>;

/// What the pool tells as it goes. Card calls come from the cards' threads,
/// several at a time; the wave calls and Tick from the thread that called
/// Run. The pool holds its lock only during CardStarted and
/// StartingPaused, which must not wait.
struct PoolEvents {
  virtual ~PoolEvents() {}
  virtual void CardStarted(upgrade_target* card) = 0;
  virtual void CardEnded(upgrade_target* card, CardOutcome outcome,
                         double seconds) = 0;
  /// A try of `card` ended so, and another follows in `delay` seconds.
  virtual void CardRetried(upgrade_target* /*card*/, CardOutcome /*outcome*/,
                           double /*seconds*/, double /*delay*/) {}
  /// `card` ends as its last try did without the try it was waiting for,
  /// `why` (a line for its block); CardEnded follows.
  virtual void RetryDropped(upgrade_target* /*card*/,
                            const std::string& /*why*/) {}
  /// No further card starts, for `stop`'s reason; `running` go on.
  virtual void StartingStopped(const Stop& stop, int running) = 0;
  /// Starting cards was paused (or resumed); `running` go on. From the
  /// thread that called CardPool::Pause.
  virtual void StartingPaused(bool /*paused*/, int /*running*/) {}
  /// The system gave only `started` of the `wanted` threads (none: no card
  /// starts).
  virtual void WorkersShort(int started, int wanted) = 0;
  /// Wave `number` of `waves` has ended: each of its cards ended, or waits
  /// for a retry.
  virtual void WaveEnded(int /*number*/, int /*waves*/) {}
  /// Whether wave `number` of `waves`, of `size` cards, may start.
  virtual bool NextWave(int /*number*/, int /*waves*/, size_t /*size*/) {
    return true;
  }
  /// Between events, at least every tick_ms while cards run, and once with
  /// `last` when every started card has ended.
  virtual void Tick(bool last) = 0;
};

/// Runs cards through a sequence, wave after wave, up to `parallel` at once
/// in the order given, as long as the rules let cards start. A wave opens
/// when each card of the one before has ended or only waits to be tried
/// again; those waiting are tried beside the later waves. It prints
/// nothing.
class CardPool {
 public:
  /// `waves`: the sizes of the waves, in the order of `cards`, adding up to
  /// their number.
  CardPool(std::vector<upgrade_target*> cards, std::vector<size_t> waves,
           int parallel, CardSequence sequence, RolloutRules* rules,
           PoolEvents* events);

  /// Returns when no card can start any more and every started card has
  /// ended.
  void Run(int tick_ms);

  /// The cards that never started, in their order.
  std::vector<upgrade_target*> NeverStarted() const;

  /// From one thread at a time, before or during Run: no card starts
  /// while paused, the running ones go on, and the window goes on
  /// counting. A change is told (StartingPaused) unless starting stopped.
  void Pause(bool paused);

  /// From any thread, before or during Run: the stop file appeared, so no
  /// further card starts.
  void StopFileFound();

 private:
  void Work();
  // A card to try again once the clock reads `at`, and how it last ended.
  struct Retry {
    upgrade_target* card;
    double at;
    CardOutcome outcome;
    double seconds;
  };
  // The next card to run, or nullptr when none can start any more. Called,
  // and returns, with *lock held; waits without it.
  upgrade_target* NextCard(std::unique_lock<std::mutex>* lock,
                           const Platform& shared);
  // Ends the open wave once each of its cards ended or waits for a retry,
  // and opens the next if the rules and the operator let it. *lock held.
  void CloseWave(std::unique_lock<std::mutex>* lock);
  // Both are called, and return, with *lock held; they drop it while they
  // tell the events.
  void NoteInterrupt(std::unique_lock<std::mutex>* lock);
  void NoteStopFile(std::unique_lock<std::mutex>* lock);
  void StopStarting(std::unique_lock<std::mutex>* lock);
  // Wakes every wait, the pool's own loop included even when it is not
  // waiting yet. mutex_ held.
  void Notify() {
    news_ = true;
    wake_.notify_all();
  }
  // Whether the open wave has ended and is yet to be weighed (a campaign of
  // one wave has none to weigh).
  bool WaveToWeigh() const {
    return waves_.size() > 1 && wave_ < waves_.size() && next_ == wave_end_ &&
           busy_[wave_] == 0;
  }
  // Whether a card can still start: one not started yet, or a retry.
  bool CardsLeft() const { return next_ < cards_.size() || !retries_.empty(); }

  std::vector<upgrade_target*> cards_;
  std::vector<size_t> waves_;
  const int parallel_;
  CardSequence sequence_;
  RolloutRules* rules_;
  PoolEvents* events_;

  std::mutex mutex_;  // guards everything below, and the rules
  std::condition_variable wake_;
  std::vector<Retry> retries_;
  size_t next_ = 0;      // the next card not started yet
  size_t wave_ = 0;      // the open wave
  size_t wave_end_ = 0;  // the first card past the open wave
  // For each wave, its cards not started yet or running.
  std::vector<int> busy_;
  int running_ = 0;
  int workers_ = 0;
  bool news_ = false;    // something changed since the pool's loop looked
  bool asking_ = false;  // whether the next wave may start
  bool stop_starting_ = false;
  bool interrupted_ = false;
  bool paused_ = false;
  bool stop_file_ = false;        // found
  bool stop_file_noted_ = false;  // and told to the rules
};

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_
