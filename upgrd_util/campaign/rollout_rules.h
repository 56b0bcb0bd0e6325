#ifndef UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_
#define UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_

#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/stop_reason.h"
#include "upgrd_util/base/upgrade_target.h"

struct Clock;

/// What the options set for a rollout.
struct RolloutSettings {
  int max_failures = 0;     // 0: no limit
  double max_rate = -1;     // percent of the cards that reached a load; -1: none
  bool windowed = false;
  double window_end = 0;    // on the clock's seconds
  double card_seconds = 0;  // how long a card's normal path takes
  int retries = 0;          // --retry-unreachable
  size_t waves = 1;
  std::string stop_file;    // --stop-file, for what the stop says
};

/// The rules of a rollout: whether a card may start, when a card is tried
/// again, whether cards go on after a card or a wave. They print nothing;
/// the pool asks them under its own lock, so they keep none.
class RolloutRules {
 public:
  RolloutRules(const RolloutSettings& settings, Clock* clock);

  /// Whether `card` may start now: only when its upgrade can end within
  /// the window. False stops every further start (stop() says why).
  bool MayStart(const upgrade_target& card);

  /// Whether a card's upgrade could still end within the window, asked
  /// while starting is paused: false stops every further start, as
  /// MayStart would at the resume.
  bool WindowOpen();

  /// Seconds after which a card whose try ended so is tried again; 0 when
  /// it ends here. A try the window would not let end is not made: *why_not
  /// then says so, for the card's block.
  double RetryAfter(const upgrade_target& card, CardOutcome outcome,
                    std::string* why_not);

  /// A card ended for good. Returns false when no further card may start:
  /// also once a file of its turn found the disk full (disk_full). A local
  /// error says nothing of the modules: the rate does not count it.
  bool CardEnded(const upgrade_target& card, CardOutcome outcome);

  /// Wave `wave` (1-based) has ended: its own cards are weighed, however
  /// few reached a load. Returns false when no further card may start.
  bool WaveEnded(int wave);

  /// The operator stopped after wave `wave`, or an interrupt came.
  void StopBetweenWaves(int wave);
  void Interrupted();
  /// The stop file appeared.
  void StopFileFound();

  /// The first reason cards stopped starting (STOP_NONE: none yet).
  const Stop& stop() const { return stop_; }

 private:
  // Whether `failed` of `loads` is within the limit; stops otherwise.
  bool RateHolds(int failed, int loads);
  void StopFor(const Stop& stop);

  const RolloutSettings settings_;
  Clock* clock_;
  Stop stop_;
  int failed_ = 0;         // cards that failed, any way
  int loads_ = 0;          // cards that reached a module load
  int load_failures_ = 0;  // of those, the ones whose load failed
  // The same two counts for each wave.
  std::vector<int> wave_loads_;
  std::vector<int> wave_load_failures_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_
