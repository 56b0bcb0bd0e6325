#include "upgrd_util/campaign/rollout_rules.h"

#include <algorithm>
#include <cstdio>

#include "upgrd_util/platform/clock.h"

RolloutRules::RolloutRules(const RolloutSettings& settings, Clock* clock)
    : settings_(settings), clock_(clock) {}

// A card starts only when its upgrade can end within the window: a card
// cut off at the window's end would be a card half upgraded in working
// hours. A card that loads ends with its check after the soak.
bool RolloutRules::WindowOpen() const {
  return !settings_.windowed ||
         clock_->Seconds() + path_seconds(PATH_APP_ONLY, settings_.modules,
                                          settings_.link_rate, false) +
                 SoakSeconds() <=
             settings_.window_end;
}

bool RolloutRules::PathFits(CardPath path) const {
  return !settings_.windowed ||
         clock_->Seconds() + path_seconds(path, settings_.modules,
                                          settings_.link_rate, true) +
                 (path_loads(path) ? SoakSeconds() : 0) <=
             settings_.window_end;
}

double RolloutRules::SoakSeconds() const {
  return settings_.soak_seconds > 0
             ? settings_.soak_seconds + kPlannedSoakCheckSeconds
             : 0;
}

// A card that did not answer, or refused its login, before any upload is
// tried again after 5, 10, 20 ... minutes (60 at most). After an upload it
// never is: the card may be half way through taking a module.
double RolloutRules::RetryAfter(const upgrade_target& card,
                                CardOutcome outcome,
                                std::string* why_not) const {
  const CardState& state = card.state;
  if (!outcome_words(outcome).retryable || state.zel_attempts > 0 ||
      state.app_attempts > 0 || state.tries > settings_.retries)
    return 0;
  double delay =
      std::min(300.0 * (1 << std::min(state.tries - 1, 4)), 3600.0);
  if (settings_.windowed &&
      clock_->Seconds() + delay +
              path_seconds(PATH_APP_ONLY, settings_.modules,
                           settings_.link_rate, false) +
              SoakSeconds() >
          settings_.window_end) {
    *why_not = "Not tried again: the window ends before another try could.";
    return 0;
  }
  return delay;
}

Stop RolloutRules::CardEnded(const upgrade_target& card, CardOutcome outcome) {
  Stop stop;
  // Every card started now would fail on the workstation, and its record
  // with it.
  if (card.work.disk_full)
    stop = {STOP_DISK_FULL};
  // A card the window left unloaded did nothing wrong.
  const OutcomeWords& words = outcome_words(outcome);
  failed_ += words.failure && outcome != OUTCOME_NOT_STARTED;
  if (stop.reason == STOP_NONE && settings_.max_failures > 0 &&
      failed_ >= settings_.max_failures)
    stop = {STOP_MAX_FAILURES, failed_};
  // Only a card that reached a load says something of the modules; one that
  // failed its load in an earlier night was counted then, and one that the
  // workstation failed says nothing of them.
  bool reached = card.state.zel_attempts > 0 || card.state.app_attempts > 0;
  if (!reached || card.state.failed_before || outcome == OUTCOME_LOCAL_ERROR)
    return stop;
  ++loads_;
  load_failures_ += words.module_failure;
  WaveLoads& wave = waves_[card.state.wave];
  ++wave.loads;
  wave.failures += words.module_failure;
  // Five cards are the least that a rate says something of, in every wave.
  if (stop.reason == STOP_NONE && loads_ >= 5)
    stop = RateStop(load_failures_, loads_);
  return stop;
}

Stop RolloutRules::WaveEnded(int wave) const {
  auto found = waves_.find(wave);
  if (found == waves_.end() || found->second.loads == 0)
    return Stop();
  return RateStop(found->second.failures, found->second.loads);
}

Stop RolloutRules::RateStop(int failed, int loads) const {
  if (settings_.max_rate < 0 || failed * 100.0 <= settings_.max_rate * loads)
    return Stop();
  return {STOP_RATE, failed, loads, settings_.max_rate};
}
