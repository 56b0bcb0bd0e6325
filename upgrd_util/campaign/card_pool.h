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
#include "upgrd_util/campaign/night_scheduler.h"
#include "upgrd_util/campaign/rollout_rules.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/platform/thread.h"

/// What a campaign does with each card, on the card's own thread: its whole
/// upgrade, or a dry run.
using CardSequence = std::function<CardOutcome(upgrade_target* card)>;

/// What the pool tells as it goes. Card calls come from the cards' threads,
/// several at a time; the wave calls and Tick from the thread that called
/// Run. The pool holds its lock only during CardStarted, SoakStarted and
/// StartingPaused, which must not wait.
struct PoolEvents {
  virtual ~PoolEvents() {}
  virtual void CardStarted(upgrade_target* card) = 0;
  virtual void CardEnded(upgrade_target* card, CardOutcome outcome,
                         double seconds) = 0;
  /// A try of `card` ended so, and another follows in `delay` seconds.
  virtual void CardRetried(upgrade_target* /*card*/, CardOutcome /*outcome*/,
                           double /*seconds*/, double /*delay*/) {}
  /// A try of `card` upgraded it in `seconds`; it is checked again after
  /// the soak, in `delay` seconds, before it ends.
  virtual void CardSoaking(upgrade_target* /*card*/, double /*seconds*/,
                           double /*delay*/) {}
  /// Its check after the soak starts; CardEnded follows, with the seconds
  /// of the try before.
  virtual void SoakStarted(upgrade_target* /*card*/) {}
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

/// Runs cards through a sequence on threads of their own, up to `parallel`
/// at once, in the order the night's scheduler gives (NightScheduler: its
/// waves, retries and rules), telling the events as it goes. The pool only
/// drives: it asks the scheduler under its lock, waits as it says, and
/// tells what happened. It prints nothing.
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

  /// Why cards stopped starting (STOP_NONE: they did not). After Run.
  Stop stop() const;

  /// From one thread at a time, before or during Run: no card starts
  /// while paused, the running ones go on, and the window goes on
  /// counting. A change is told (StartingPaused) unless starting stopped.
  void Pause(bool paused);

  /// From any thread, before or during Run: the stop file appeared, so no
  /// further card starts.
  void StopFileFound();

  /// Before Run, when the rules have a soak (RolloutSettings::soak_seconds):
  /// what checks an upgraded card again after it, on the card's thread; it
  /// returns how the card ends.
  void CheckAfterTheSoak(CardSequence check) { soak_check_ = check; }

  /// Before Run: where its threads come from (tests give one that refuses).
  void StartThreadsWith(ThreadStarter* starter) { starter_ = starter; }

  /// The stack of a card's thread: ten times the deepest a card's whole
  /// upgrade was measured to use (docs/PERFORMANCE.md, "Thousands of cards").
  static constexpr size_t kCardStackBytes = 256 * 1024;

 private:
  void Work();
  // Runs the turn's card, or its check after the soak, and tells how it
  // went. Called, and returns, with *lock held.
  void RunTurn(const Turn& turn, std::unique_lock<std::mutex>* lock);
  // Each of these is called, and returns, with *lock held; they drop it
  // while they tell the events.
  void CloseWaves(std::unique_lock<std::mutex>* lock);
  void NoteInterrupt(std::unique_lock<std::mutex>* lock);
  void NoteStopFile(std::unique_lock<std::mutex>* lock);
  void TellStop(std::unique_lock<std::mutex>* lock);
  // Wakes every wait, the pool's own loop included even when it is not
  // waiting yet. mutex_ held.
  void Notify() {
    news_ = true;
    wake_.notify_all();
  }

  const size_t threads_;  // one for each card that may run at once
  CardSequence sequence_;
  CardSequence soak_check_;
  PoolEvents* events_;
  const int waves_;
  ThreadStarter* starter_ = system_threads();

  mutable std::mutex mutex_;  // guards everything below, and the rules
  std::condition_variable wake_;
  NightScheduler scheduler_;
  int workers_ = 0;
  bool no_threads_ = false;  // the system gave none: no card started
  bool news_ = false;  // something changed since the pool's loop looked
  bool interrupted_ = false;
  bool stop_file_ = false;        // found
  bool stop_file_noted_ = false;  // and told to the scheduler
};

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_POOL_H_
