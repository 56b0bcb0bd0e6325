#ifndef UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_
#define UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_

#include <map>
#include <string>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/stop_reason.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/card_timing.h"

struct Clock;

/// What the options set for a rollout.
struct RolloutSettings {
  int max_failures = 0;     // 0: no limit
  double max_rate = -1;     // percent of the cards that reached a load; -1: none
  bool windowed = false;
  double window_end = 0;    // on the clock's seconds
  // How long each card's path takes: its modules, and the link their
  // uploads take.
  PlannedModules modules;
  double link_rate = 1e6;   // bytes a second
  double group_rate = 0;    // of each group's uploads at once; 0: no cap
  int retries = 0;          // --retry-unreachable
  int per_group = 0;        // cards of one group at once; 0: no limit
  std::string stop_file;    // --stop-file, for what the stop says
  // --soak: an upgraded card is checked again this long after it ended,
  // before the next wave; 0: never.
  double soak_seconds = 0;
};

/// The rules of a rollout: whether a card may start or load, when a card is
/// tried again, whether cards go on after a card or a wave. They print
/// nothing and decide no stop: they say what stop their counts call for,
/// and the scheduler, which knows whether any card is left to stop, keeps
/// it. They are asked under the pool's lock, apart from PathFits.
class RolloutRules {
 public:
  RolloutRules(const RolloutSettings& settings, Clock* clock);

  /// Whether a card started now could still end within the window: on the
  /// shortest path that loads, for its own path is known only once it has
  /// listed its files.
  bool WindowOpen() const;

  /// Whether a card on `path`, having listed its files now, can end within
  /// the window. From any thread.
  bool PathFits(CardPath path) const;

  /// Seconds after which a card whose try ended so is tried again; 0 when
  /// it ends here. A try the window would not let end is not made: *why_not
  /// then says so, for the card's block.
  double RetryAfter(const upgrade_target& card, CardOutcome outcome,
                    std::string* why_not) const;

  /// A card ended for good: it is counted. Returns the stop its counts call
  /// for (STOP_NONE: none): the failure limit, the rate over every card,
  /// or a disk found full by a file of its turn. A local error says
  /// nothing of the modules: the rate does not count it.
  Stop CardEnded(const upgrade_target& card, CardOutcome outcome);

  /// Wave `wave` (1-based) has ended: its own cards are weighed, however
  /// few reached a load. Returns the stop they call for.
  Stop WaveEnded(int wave) const;

  const RolloutSettings& settings() const { return settings_; }

  /// What the soak adds to a path that loads: its length and the check
  /// after it (0 without one).
  double SoakSeconds() const;

 private:
  // The stop `failed` of `loads` call for.
  Stop RateStop(int failed, int loads) const;

  const RolloutSettings settings_;
  Clock* clock_;
  int failed_ = 0;         // cards that failed, any way
  int loads_ = 0;          // cards that reached a module load
  int load_failures_ = 0;  // of those, the ones whose load failed
  // The same two counts for each wave, by its number.
  struct WaveLoads {
    int loads = 0;
    int failures = 0;
  };
  std::map<int, WaveLoads> waves_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_
