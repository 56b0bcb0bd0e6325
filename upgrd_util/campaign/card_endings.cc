#include "upgrd_util/campaign/card_endings.h"

void CardEndings::Add(const upgrade_target& card, bool ran, double seconds) {
  const CardState& state = card.state;
  const OutcomeWords& words = outcome_words(state.outcome);
  // A card that failed its load in an earlier night was counted then.
  bool reached = (state.zel_attempts > 0 || state.app_attempts > 0) &&
                 !state.failed_before;
  std::lock_guard<std::mutex> lock(mutex_);
  ++all_[state.outcome];
  loads_ += reached;
  load_failures_ += reached && words.module_failure;
  if (!ran)
    return;
  Wave& wave = waves_[state.wave];
  ++wave.ended[state.outcome];
  if (state.tries > 1)
    --wave.waiting;
  if (words.failure) {
    ++failed_;
  } else {
    ++succeeded_;
    seconds_succeeded_ += seconds;
  }
}

void CardEndings::Retried(const upgrade_target& card) {
  std::lock_guard<std::mutex> lock(mutex_);
  waves_[card.state.wave].waiting += card.state.tries == 1;
}

OutcomeCounts CardEndings::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return all_;
}

CardEndings::Wave CardEndings::WaveOf(int number, OutcomeCounts* ran) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [each, wave] : waves_) {
    for (const auto& [outcome, count] : wave.ended)
      (*ran)[outcome] += count;
  }
  auto found = waves_.find(number);
  return found == waves_.end() ? Wave() : found->second;
}

int CardEndings::succeeded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return succeeded_;
}

double CardEndings::seconds_succeeded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seconds_succeeded_;
}

int CardEndings::failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

int CardEndings::loads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loads_;
}

int CardEndings::load_failures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return load_failures_;
}
