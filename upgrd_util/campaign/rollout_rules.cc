#include "upgrd_util/campaign/rollout_rules.h"

#include <algorithm>
#include <cstdio>

#include "upgrd_util/platform/clock.h"

RolloutRules::RolloutRules(const RolloutSettings& settings, Clock* clock)
    : settings_(settings),
      clock_(clock),
      wave_loads_(settings.waves + 1),
      wave_load_failures_(settings.waves + 1) {}

// A card starts only when its upgrade can end within the window: a card
// cut off at the window's end would be a card half upgraded in working
// hours.
bool RolloutRules::MayStart(const upgrade_target&) {
  if (stop_.reason != STOP_NONE)
    return false;
  return WindowOpen();
}

bool RolloutRules::WindowOpen() {
  if (!settings_.windowed ||
      clock_->Seconds() + settings_.card_seconds <= settings_.window_end)
    return true;
  StopFor({STOP_WINDOW});
  return false;
}

// A card that did not answer, or refused its login, before any upload is
// tried again after 5, 10, 20 ... minutes (60 at most). After an upload it
// never is: the card may be half way through taking a module.
double RolloutRules::RetryAfter(const upgrade_target& card,
                                CardOutcome outcome, std::string* why_not) {
  const CardState& state = card.state;
  if (!outcome_words(outcome).retryable || state.zel_attempts > 0 ||
      state.app_attempts > 0 || state.tries > settings_.retries)
    return 0;
  double delay =
      std::min(300.0 * (1 << std::min(state.tries - 1, 4)), 3600.0);
  if (settings_.windowed && clock_->Seconds() + delay +
                                    settings_.card_seconds >
                                settings_.window_end) {
    *why_not = "Not tried again: the window ends before another try could.";
    return 0;
  }
  return delay;
}

bool RolloutRules::CardEnded(const upgrade_target& card, CardOutcome outcome) {
  // Every card started now would fail on the workstation, and its record
  // with it.
  if (card.state.disk_full)
    StopFor({STOP_DISK_FULL});
  const OutcomeWords& words = outcome_words(outcome);
  failed_ += words.failure;
  if (settings_.max_failures > 0 && failed_ >= settings_.max_failures)
    StopFor({STOP_MAX_FAILURES, failed_});
  // Only a card that reached a load says something of the modules; one that
  // failed its load in an earlier night was counted then, and one that the
  // workstation failed says nothing of them.
  bool reached = card.state.zel_attempts > 0 || card.state.app_attempts > 0;
  if (!reached || card.state.failed_before || outcome == OUTCOME_LOCAL_ERROR)
    return stop_.reason == STOP_NONE;
  ++loads_;
  load_failures_ += words.module_failure;
  size_t wave = std::min<size_t>(std::max(card.state.wave, 0),
                                 wave_loads_.size() - 1);
  ++wave_loads_[wave];
  wave_load_failures_[wave] += words.module_failure;
  // Five cards are the least that a rate says something of, in every wave.
  if (loads_ >= 5)
    RateHolds(load_failures_, loads_);
  return stop_.reason == STOP_NONE;
}

bool RolloutRules::WaveEnded(int wave) {
  size_t at = std::min<size_t>(std::max(wave, 0), wave_loads_.size() - 1);
  if (wave_loads_[at] > 0)
    RateHolds(wave_load_failures_[at], wave_loads_[at]);
  return stop_.reason == STOP_NONE;
}

void RolloutRules::StopBetweenWaves(int wave) {
  StopFor({STOP_BETWEEN_WAVES, 0, 0, 0, wave});
}

void RolloutRules::Interrupted() {
  StopFor({STOP_INTERRUPTED});
}

void RolloutRules::StopFileFound() {
  Stop stop;
  stop.reason = STOP_STOP_FILE;
  stop.file = settings_.stop_file;
  StopFor(stop);
}

bool RolloutRules::RateHolds(int failed, int loads) {
  if (settings_.max_rate < 0 || failed * 100.0 <= settings_.max_rate * loads)
    return true;
  StopFor({STOP_RATE, failed, loads, settings_.max_rate});
  return false;
}

void RolloutRules::StopFor(const Stop& stop) {
  if (stop_.reason == STOP_NONE)
    stop_ = stop;
}
