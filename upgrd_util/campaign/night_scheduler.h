#ifndef UPGRD_UTIL_CAMPAIGN_NIGHT_SCHEDULER_H_
#define UPGRD_UTIL_CAMPAIGN_NIGHT_SCHEDULER_H_

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/rollout_rules.h"

struct Clock;

/// What a free worker is to do next.
struct Turn {
  upgrade_target* card = nullptr;  // start this card, now
  double until = 0;   // else ask again once the clock reads this
                      // (infinity: once a card ends or the operator answers)
  bool over = false;  // else no card starts any more
  bool soak = false;   // the card's check after the soak (SoakEnded follows)
  double seconds = 0;  // of the try before it
};

/// The night's one scheduler: its order, its waves, the cards busy, the
/// retries due and the rules. It answers which card starts next, or until
/// when to wait, or that no card starts any more and why. It does no I/O
/// and starts no thread, and reads the clock it is given: the pool drives
/// it with real cards on threads under its lock, the plan with modelled
/// cards on its own clock, so that the plan is the night's own order.
///
/// A wave opens when each card of the one before has ended or only waits
/// to be tried again; those waiting are tried beside the later waves, a
/// due retry before the open wave's next card. A card whose group already
/// runs --per-group cards, or whose pair runs, waits for them, and the
/// next card that may start goes before it. With a soak, a card that was
/// upgraded is checked again that long after its try ended: it holds its
/// wave until then, is counted by the rules as the check ends, and a due
/// check goes before any start, whatever stopped the starts but an
/// interrupt. A stop is kept only while a
/// card is left to stop (one not started, or a retry waiting), apart from
/// an interrupt or the stop file, which are always answered: a night that
/// ran every card was not stopped, however its last cards went.
class NightScheduler {
 public:
  /// `waves`: the sizes of the waves, in the order of `cards`, adding up to
  /// their number; each card's wave is set here. At most `parallel` run at
  /// once.
  NightScheduler(std::vector<upgrade_target*> cards, std::vector<size_t> waves,
                 int parallel, RolloutRules* rules, Clock* clock);

  /// For a free worker: a card to start (its try is counted, and it is
  /// running from here), a time to wait for, or the end of the starts.
  Turn Next();

  /// Seconds after which a card whose try ended so is tried again, as the
  /// rules say (0: it ends here, *why_not then may say why not again).
  double RetryDelay(const upgrade_target& card, CardOutcome outcome,
                    std::string* why_not) const;

  /// Whether a card whose try ended so is checked again after the soak
  /// (SoakAfter seconds from now) before it ends.
  bool Soaks(CardOutcome outcome) const;
  double SoakAfter() const { return rules_->settings().soak_seconds; }

  /// A try of `card` that took `seconds` ended so, to be tried again in
  /// `delay` seconds (0: it ended for good, and is counted by the rules;
  /// or it waits for its check after the soak, when it Soaks).
  void TryEnded(upgrade_target* card, CardOutcome outcome, double seconds,
                double delay);

  /// The check after the soak of `card` ended it so: it is counted.
  void SoakEnded(upgrade_target* card, CardOutcome outcome);

  /// The number of a wave that has ended and is yet to be weighed, or 0. A
  /// night of one wave has none.
  int WaveToClose() const;

  /// Weighs that wave. Returns true when the next wave is to be asked for
  /// (WaveAnswered follows; due retries may start meanwhile); false when
  /// it was the last, or the weighing stopped the night.
  bool CloseWave();

  /// Whether the next wave may start, as the operator answered.
  void WaveAnswered(bool go_on);

  /// No card starts while paused, and the window goes on counting: once no
  /// card could end within it, the night stops. Returns whether this
  /// changed anything (nothing does once the night stopped).
  bool Pause(bool paused);

  /// An interrupt came, or the stop file appeared.
  void Interrupted();
  void StopFileFound();

  /// The stop, once, when one was kept and not yet taken; with the cards
  /// running as it came.
  bool TakeNewStop(Stop* stop, int* running);

  /// The first reason cards stopped starting (STOP_NONE: none).
  const Stop& stop() const { return stop_; }
  int running() const { return running_; }
  /// The size of wave `number` (1-based).
  size_t WaveSize(int number) const { return waves_[number - 1]; }

  /// A card waiting for a retry, and how its last try went.
  struct Retry {
    upgrade_target* card;
    double at;
    CardOutcome outcome;
    double seconds;
  };
  /// The retries still waiting once the starts are over.
  const std::vector<Retry>& retries() const { return retries_; }
  /// The cards whose check after the soak an interrupt left undone, and
  /// the seconds of their last try.
  const std::vector<Retry>& unsoaked() const { return unsoaked_; }

  /// The cards that never started, in their order.
  std::vector<upgrade_target*> NeverStarted() const;

 private:
  // Whether a card can still start: one not started yet, or a retry.
  bool CardsLeft() const { return next_ < cards_.size() || !retries_.empty(); }
  // Whether `card` may start beside those running: its group below the
  // limit, its pair not running.
  bool Fits(const upgrade_target* card) const;
  // The place of the open wave's first card not started that fits, or
  // cards_.size().
  size_t NextThatFits() const;
  Turn Start(upgrade_target* card);
  // A check after the soak that is due, or a time to wait for (once
  // starting has stopped: the end when none is left).
  Turn NextSoak(double now, bool stopped);
  void StopFor(const Stop& stop);

  std::vector<upgrade_target*> cards_;
  std::vector<size_t> waves_;
  const int parallel_;
  RolloutRules* rules_;
  Clock* clock_;
  std::vector<Retry> retries_;
  std::vector<Retry> soaks_;     // checks after the soak, due at `at`
  std::vector<Retry> unsoaked_;  // checks an interrupt left undone
  std::vector<bool> started_;  // for each place of cards_
  size_t next_ = 0;      // the first card not started yet
  size_t wave_ = 0;      // the open wave
  size_t wave_end_ = 0;  // the first card past the open wave
  std::vector<int> busy_;  // for each wave, its cards not started or running
  int running_ = 0;
  std::map<std::string, int> group_running_;
  std::multiset<std::string> pairs_running_;
  bool interrupted_ = false;
  bool asking_ = false;  // whether the next wave may start
  bool paused_ = false;
  Stop stop_;
  bool stop_taken_ = false;
};

#endif  // UPGRD_UTIL_CAMPAIGN_NIGHT_SCHEDULER_H_
