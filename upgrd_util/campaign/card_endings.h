#ifndef UPGRD_UTIL_CAMPAIGN_CARD_ENDINGS_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_ENDINGS_H_

#include <map>
#include <mutex>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/output/campaign_event.h"

/// How the cards of a campaign ended, counted once as each ends: the
/// console's status line, the page and metrics, the event hook's counts
/// and the exit code all read it. Fed from the cards' threads and the
/// campaign's; read from any.
class CardEndings {
 public:
  /// What became of one wave's cards so far.
  struct Wave {
    OutcomeCounts ended;  // in the outcomes' order
    int waiting = 0;      // for a retry
  };

  /// `card` ended for good, as its state says (outcome, wave, loads); `ran`:
  /// the pool ran it (neither skipped by --resume nor left unstarted),
  /// its last try taking `seconds`.
  void Add(const upgrade_target& card, bool ran, double seconds);

  /// A try of `card` ended and it waits for another: from its first retry
  /// until it ends it counts as waiting in its wave.
  void Retried(const upgrade_target& card);

  /// Every card that ended, by outcome.
  OutcomeCounts All() const;
  /// Wave `number`'s cards, and in *ran at the same moment every card the
  /// pool ran that ended, by outcome.
  Wave WaveOf(int number, OutcomeCounts* ran) const;

  /// Of the cards the pool ran: those that ended well, the time they took,
  /// and those that failed.
  int succeeded() const;
  double seconds_succeeded() const;
  int failed() const;

  /// Cards that reached a module load this night (one that failed its load
  /// in an earlier night was counted then), and of those the ones whose
  /// load failed.
  int loads() const;
  int load_failures() const;

 private:
  mutable std::mutex mutex_;  // guards everything below
  OutcomeCounts all_;
  std::map<int, Wave> waves_;  // the cards the pool ran, by wave
  int succeeded_ = 0;
  double seconds_succeeded_ = 0;
  int failed_ = 0;
  int loads_ = 0;
  int load_failures_ = 0;
};

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_ENDINGS_H_
