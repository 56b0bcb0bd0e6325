#ifndef UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_
#define UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_

#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/card_timing.h"

struct Clock;

/// Why no further card starts.
enum StopReason {
  STOP_NONE,
  STOP_INTERRUPTED,    // a signal came
  STOP_MAX_FAILURES,   // --max-failures cards failed
  STOP_RATE,           // too many cards failed their module load
  STOP_WINDOW,         // no card's upgrade can end within the window
  STOP_BETWEEN_WAVES,  // the operator stopped, or gave no answer
  STOP_STOP_FILE,      // the stop file appeared
  STOP_DISK_FULL,      // a card's file, block or record found no room
};

/// A stop with what the operator is told of it.
struct Stop {
  StopReason reason = STOP_NONE;
  int failed = 0;   // STOP_MAX_FAILURES, STOP_RATE: cards that failed
  int loads = 0;    // STOP_RATE: cards that reached a module load
  double limit = 0; // STOP_RATE: the limit in percent
  int wave = 0;     // STOP_BETWEEN_WAVES: the wave after which it stopped
  std::string file{};  // STOP_STOP_FILE: its name
};

/// The reason a card that was not started gives in the report and the
/// summary ("window ended").
std::string stop_reason_text(const Stop& stop);

/// The stop's reason as a word that stays ("max_failures"), for scripts.
const char* stop_reason_code(StopReason reason);

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
  int retries = 0;          // --retry-unreachable
  size_t waves = 1;
  std::string stop_file;    // --stop-file, for what the stop says
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

 private:
  // The stop `failed` of `loads` call for.
  Stop RateStop(int failed, int loads) const;

  const RolloutSettings settings_;
  Clock* clock_;
  int failed_ = 0;         // cards that failed, any way
  int loads_ = 0;          // cards that reached a module load
  int load_failures_ = 0;  // of those, the ones whose load failed
  // The same two counts for each wave.
  std::vector<int> wave_loads_;
  std::vector<int> wave_load_failures_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_ROLLOUT_RULES_H_
