#include "upgrd_util/campaign/night_plan.h"

#include <algorithm>
#include <limits>

#include "upgrd_util/platform/clock.h"

namespace {

// The plan's own time, which only the plan moves on: the rules read it as
// the pool's clock.
struct PlanClock : public Clock {
  void SleepMs(int) override {}
  bool LocalTime(struct tm*) override { return false; }
  double Seconds() override { return now; }
  double now = 0;
};

// A step of a card's path: a time to pass, or bytes to upload over the
// card's share of the link.
struct Step {
  bool upload;
  double amount;  // seconds, or bytes
};

std::vector<Step> StepsOf(PlannedPath path, const PlannedModules& modules) {
  std::vector<Step> steps;
  if (path == PATH_UNREACHABLE)
    return {{false, kPlannedUnreachableSeconds}};
  steps.push_back({false, kPlannedStartSeconds});
  auto load = [&](double bytes, double wait) {
    steps.push_back({true, bytes});
    steps.push_back({false, wait + kPlannedLoadSeconds});
  };
  if (path == PATH_PATCH)
    load(modules.patch_bytes, modules.patch_wait);
  if (path == PATH_PATCH || path == PATH_BOTH)
    load(modules.zel_bytes, modules.zel_wait);
  if (path != PATH_NOTHING)
    load(modules.app_bytes, modules.app_wait);
  return steps;
}

// A card while it runs.
struct Running {
  size_t card;
  std::vector<Step> steps;
  size_t step = 0;
  double left;  // of the current step
};

// A card to try again once the plan's clock reads `at`.
struct Retry {
  size_t card;
  double at;
};

// Plays the pool: the order it takes cards in (a retry that is due first,
// else the open wave's next card), waves that open when each card of the
// one before ended or waits for a retry, and the rules asked as it asks
// them.
class NightPlayer {
 public:
  // Cards given without waves are one wave; at least one card runs at once.
  static PlanInputs WithAWave(PlanInputs inputs) {
    if (inputs.waves.empty() && !inputs.cards.empty())
      inputs.waves = {inputs.cards.size()};
    inputs.parallel = std::max(inputs.parallel, 1);
    return inputs;
  }

  explicit NightPlayer(const PlanInputs& inputs)
      : in_(WithAWave(inputs)),
        rules_(inputs.rules, &clock_),
        targets_(inputs.cards.size()),
        busy_(in_.waves.begin(), in_.waves.end()) {
    plan_.waves.resize(in_.waves.size());
    size_t at = 0;
    for (size_t wave = 0; wave < in_.waves.size(); ++wave) {
      plan_.waves[wave].cards = in_.waves[wave];
      for (size_t i = at; i < at + in_.waves[wave] && i < targets_.size(); ++i)
        targets_[i].state.wave = static_cast<int>(wave) + 1;
      at += in_.waves[wave];
    }
    wave_end_ = in_.waves.empty() ? 0 : in_.waves[0];
  }

  NightPlan Play() {
    for (;;) {
      CloseWaves();
      StartCards();
      if (running_.empty() && (stopped_ || retries_.empty()))
        break;
      Advance();
    }
    // Retries still waiting end as their last try did.
    for (size_t i = next_; i < in_.cards.size(); ++i) {
      plan_.not_started.push_back(i);
      ++plan_.waves[targets_[i].state.wave - 1].not_started;
    }
    return plan_;
  }

 private:
  void CloseWaves() {
    while (!stopped_ && in_.waves.size() > 1 && wave_ < in_.waves.size() &&
           next_ == wave_end_ && busy_[wave_] == 0) {
      PlannedWave& ended = plan_.waves[wave_];
      ended.end = std::max(ended.end, clock_.now);
      if (!rules_.WaveEnded(static_cast<int>(wave_) + 1)) {
        stopped_ = true;
        return;
      }
      if (++wave_ < in_.waves.size())
        wave_end_ += in_.waves[wave_];
    }
  }

  void StartCards() {
    while (!stopped_ && running_.size() < static_cast<size_t>(in_.parallel)) {
      auto due = std::min_element(
          retries_.begin(), retries_.end(),
          [](const Retry& a, const Retry& b) { return a.at < b.at; });
      bool retry = due != retries_.end() && due->at <= clock_.now;
      size_t card = retry ? due->card : next_;
      if (!retry && next_ >= wave_end_)
        return;
      if (!rules_.MayStart(targets_[card])) {
        stopped_ = true;
        return;
      }
      if (retry) {
        retries_.erase(due);
      } else {
        ++next_;
      }
      upgrade_target& target = targets_[card];
      ++target.state.tries;
      if (retry)
        ++busy_[target.state.wave - 1];  // the others count from the start
      PlannedWave& wave = plan_.waves[target.state.wave - 1];
      if (wave.start < 0)
        wave.start = clock_.now;
      std::vector<Step> steps = StepsOf(in_.cards[card], in_.modules);
      double first = steps[0].amount;
      running_.push_back({card, std::move(steps), 0, first});
    }
  }

  // Moves the clock on to the next step that ends, or the next retry.
  void Advance() {
    size_t uploading = std::count_if(
        running_.begin(), running_.end(),
        [](const Running& r) { return r.steps[r.step].upload; });
    double share = uploading > 0 ? in_.link_rate / uploading : 0;
    double step = std::numeric_limits<double>::infinity();
    for (const Running& r : running_)
      step = std::min(step, r.steps[r.step].upload ? r.left / share : r.left);
    if (running_.size() < static_cast<size_t>(in_.parallel)) {
      for (const Retry& retry : retries_)
        step = std::min(step, retry.at - clock_.now);
    }
    step = std::max(step, 0.0);
    clock_.now += step;
    std::vector<Running> still;
    for (Running& r : running_) {
      r.left -= r.steps[r.step].upload ? step * share : step;
      // A step ends within a thousandth of what is left of it: the sums of
      // doubles are no closer.
      while (r.left <= 1e-6 * std::max(1.0, r.steps[r.step].amount)) {
        if (++r.step == r.steps.size())
          break;
        r.left = r.steps[r.step].amount;
      }
      if (r.step < r.steps.size())
        still.push_back(r);
      else
        End(r.card);
    }
    running_ = still;
  }

  void End(size_t card) {
    upgrade_target& target = targets_[card];
    PlannedPath path = in_.cards[card];
    plan_.end = clock_.now;
    --busy_[target.state.wave - 1];
    if (path == PATH_UNREACHABLE) {
      std::string why_not;
      double delay = rules_.RetryAfter(target, OUTCOME_UNRESPONSIVE, &why_not);
      if (delay > 0) {
        retries_.push_back({card, clock_.now + delay});
        return;
      }
    }
    target.state.zel_attempts = path == PATH_NOTHING || path == PATH_APP ||
                                        path == PATH_UNREACHABLE
                                    ? 0
                                    : 1;
    target.state.app_attempts =
        path == PATH_NOTHING || path == PATH_UNREACHABLE ? 0 : 1;
    CardOutcome outcome = path == PATH_UNREACHABLE ? OUTCOME_UNRESPONSIVE
                          : path == PATH_NOTHING   ? OUTCOME_ALREADY_CURRENT
                                                   : OUTCOME_UPGRADED;
    if (!rules_.CardEnded(target, outcome))
      stopped_ = true;
    // The last wave ends with its last card.
    PlannedWave& wave = plan_.waves[target.state.wave - 1];
    wave.end = std::max(wave.end, clock_.now);
  }

  const PlanInputs in_;
  PlanClock clock_;
  RolloutRules rules_;
  NightPlan plan_;
  std::vector<upgrade_target> targets_;
  std::vector<long> busy_;  // per wave: cards not started yet, or running
  std::vector<Running> running_;
  std::vector<Retry> retries_;
  size_t next_ = 0;
  size_t wave_ = 0;
  size_t wave_end_ = 0;
  bool stopped_ = false;
};

}  // namespace

NightPlan plan_night(const PlanInputs& inputs) {
  return NightPlayer(inputs).Play();
}

int smallest_parallel(PlanInputs inputs, int most) {
  inputs.parallel = most;
  if (!plan_night(inputs).not_started.empty())
    return 0;
  int low = 1, high = most;
  while (low < high) {
    inputs.parallel = low + (high - low) / 2;
    if (plan_night(inputs).not_started.empty())
      high = inputs.parallel;
    else
      low = inputs.parallel + 1;
  }
  return low;
}
