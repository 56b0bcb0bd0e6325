#include "upgrd_util/campaign/night_scheduler.h"

#include <algorithm>
#include <limits>

#include "upgrd_util/platform/clock.h"

namespace {

const double kUntilAChange = std::numeric_limits<double>::infinity();

}  // namespace

NightScheduler::NightScheduler(std::vector<upgrade_target*> cards,
                               std::vector<size_t> waves, int parallel,
                               RolloutRules* rules, Clock* clock)
    : cards_(std::move(cards)),
      waves_(std::move(waves)),
      parallel_(std::max(parallel, 1)),
      rules_(rules),
      clock_(clock),
      started_(cards_.size(), false) {
  // Cards given without waves are one wave.
  if (waves_.empty() && !cards_.empty())
    waves_ = {cards_.size()};
  size_t at = 0;
  for (size_t wave = 0; wave < waves_.size(); ++wave) {
    for (size_t i = at; i < at + waves_[wave] && i < cards_.size(); ++i)
      cards_[i]->state.wave = static_cast<int>(wave) + 1;
    busy_.push_back(static_cast<int>(waves_[wave]));
    at += waves_[wave];
  }
  wave_end_ = waves_.empty() ? 0 : waves_[0];
}

Turn NightScheduler::Next() {
  double now = clock_->Seconds();
  Turn soak = NextSoak(now, stop_.reason != STOP_NONE);
  if (soak.card || stop_.reason != STOP_NONE)
    return soak;
  // The wave's weighing decides whether anything starts at all.
  if (WaveToClose() != 0 && !asking_)
    return {nullptr, std::min(kUntilAChange, soak.until), false};
  if (paused_ && CardsLeft()) {
    // Once no card could end within the window, none would start at the
    // resume either: the night ends instead of waiting for one. Looked at
    // each minute of the clock.
    if (!rules_->WindowOpen()) {
      StopFor({STOP_WINDOW});
      return {nullptr, 0, true};
    }
    return {nullptr, std::min(now + 60, soak.until), false};
  }
  if (running_ >= parallel_)
    return {nullptr, kUntilAChange, false};
  // The earliest due retry that may start, else the open wave's next card
  // that may.
  auto due = retries_.end();
  for (auto r = retries_.begin(); r != retries_.end(); ++r) {
    bool earliest = due == retries_.end() || r->at < due->at;
    if (r->at <= now && Fits(r->card) && earliest)
      due = r;
  }
  bool retry = due != retries_.end();
  size_t place = retry ? cards_.size() : NextThatFits();
  upgrade_target* card = retry                    ? due->card
                         : place < cards_.size() ? cards_[place]
                                                  : nullptr;
  if (card && !rules_->WindowOpen()) {
    StopFor({STOP_WINDOW});
    return {nullptr, 0, true};
  }
  if (retry) {
    retries_.erase(due);
    ++busy_[card->state.wave - 1];
    return Start(card);
  }
  if (card) {
    started_[place] = true;
    while (next_ < cards_.size() && started_[next_])
      ++next_;
    return Start(card);
  }
  if (!CardsLeft() && running_ == 0 && soaks_.empty())
    return {nullptr, 0, true};
  // A running card may yet be retried, free a group or a pair, or the next
  // wave open; else nothing starts before the next retry is due.
  double until = soak.until;
  for (const Retry& r : retries_) {
    if (r.at > now)
      until = std::min(until, r.at);
  }
  return {nullptr, until, false};
}

Turn NightScheduler::NextSoak(double now, bool stopped) {
  auto due = std::min_element(
      soaks_.begin(), soaks_.end(),
      [](const Retry& a, const Retry& b) { return a.at < b.at; });
  if (due == soaks_.end())
    return {nullptr, stopped ? 0 : kUntilAChange, stopped};
  if (due->at > now || running_ >= parallel_)
    return {nullptr, running_ >= parallel_ ? kUntilAChange : due->at, false};
  Turn turn = {due->card, 0, false, true, due->seconds};
  soaks_.erase(due);
  ++running_;
  return turn;
}

bool NightScheduler::Soaks(CardOutcome outcome) const {
  return outcome == OUTCOME_UPGRADED && SoakAfter() > 0 && !interrupted_;
}

void NightScheduler::SoakEnded(upgrade_target* card, CardOutcome outcome) {
  --running_;
  --busy_[card->state.wave - 1];
  StopFor(rules_->CardEnded(*card, outcome));
}

bool NightScheduler::Fits(const upgrade_target* card) const {
  const CardState& state = card->state;
  int most = rules_->settings().per_group;
  if (most > 0) {
    auto group = group_running_.find(state.group);
    if (group != group_running_.end() && group->second >= most)
      return false;
  }
  return state.pair.empty() || pairs_running_.count(state.pair) == 0;
}

size_t NightScheduler::NextThatFits() const {
  for (size_t place = next_; place < wave_end_; ++place) {
    if (!started_[place] && Fits(cards_[place]))
      return place;
  }
  return cards_.size();
}

Turn NightScheduler::Start(upgrade_target* card) {
  ++running_;
  ++group_running_[card->state.group];
  if (!card->state.pair.empty())
    pairs_running_.insert(card->state.pair);
  ++card->state.tries;
  return {card, 0, false};
}

double NightScheduler::RetryDelay(const upgrade_target& card,
                                  CardOutcome outcome,
                                  std::string* why_not) const {
  return rules_->RetryAfter(card, outcome, why_not);
}

void NightScheduler::TryEnded(upgrade_target* card, CardOutcome outcome,
                              double seconds, double delay) {
  --running_;
  --busy_[card->state.wave - 1];
  --group_running_[card->state.group];
  if (!card->state.pair.empty())
    pairs_running_.erase(pairs_running_.find(card->state.pair));
  if (delay <= 0 && Soaks(outcome)) {
    // Its wave waits for the check: the card is not done with yet.
    ++busy_[card->state.wave - 1];
    soaks_.push_back({card, clock_->Seconds() + SoakAfter(), outcome, seconds});
    return;
  }
  if (delay > 0)
    retries_.push_back({card, clock_->Seconds() + delay, outcome, seconds});
  else
    StopFor(rules_->CardEnded(*card, outcome));
}

int NightScheduler::WaveToClose() const {
  bool ended = stop_.reason == STOP_NONE && waves_.size() > 1 &&
               wave_ < waves_.size() && next_ == wave_end_ &&
               busy_[wave_] == 0;
  return ended ? static_cast<int>(wave_) + 1 : 0;
}

bool NightScheduler::CloseWave() {
  int number = static_cast<int>(wave_) + 1;
  StopFor(rules_->WaveEnded(number));
  if (stop_.reason != STOP_NONE)
    return false;
  if (wave_ + 1 == waves_.size()) {
    ++wave_;
    return false;
  }
  asking_ = true;
  return true;
}

void NightScheduler::WaveAnswered(bool go_on) {
  asking_ = false;
  if (!go_on) {
    StopFor({STOP_BETWEEN_WAVES, 0, 0, 0, static_cast<int>(wave_) + 1});
    return;
  }
  ++wave_;
  wave_end_ += waves_[wave_];
}

bool NightScheduler::Pause(bool paused) {
  if (paused == paused_ || stop_.reason != STOP_NONE)
    return false;
  paused_ = paused;
  return true;
}

void NightScheduler::Interrupted() {
  interrupted_ = true;
  StopFor({STOP_INTERRUPTED});
  // Nobody waits for the checks any more: the cards end as their try did.
  for (const Retry& soak : soaks_) {
    --busy_[soak.card->state.wave - 1];
    unsoaked_.push_back(soak);
  }
  soaks_.clear();
}

void NightScheduler::StopFileFound() {
  Stop stop;
  stop.reason = STOP_STOP_FILE;
  stop.file = rules_->settings().stop_file;
  StopFor(stop);
}

bool NightScheduler::TakeNewStop(Stop* stop, int* running) {
  if (stop_.reason == STOP_NONE || stop_taken_)
    return false;
  stop_taken_ = true;
  *stop = stop_;
  *running = running_;
  return true;
}

std::vector<upgrade_target*> NightScheduler::NeverStarted() const {
  std::vector<upgrade_target*> never;
  for (size_t place = next_; place < cards_.size(); ++place) {
    if (!started_[place])
      never.push_back(cards_[place]);
  }
  return never;
}

void NightScheduler::StopFor(const Stop& stop) {
  if (stop.reason == STOP_NONE || stop_.reason != STOP_NONE)
    return;
  bool answered = stop.reason == STOP_INTERRUPTED ||
                  stop.reason == STOP_STOP_FILE;
  if (!answered && !CardsLeft())
    return;
  stop_ = stop;
}
