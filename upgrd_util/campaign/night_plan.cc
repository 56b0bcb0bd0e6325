#include "upgrd_util/campaign/night_plan.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string>

#include "upgrd_util/campaign/night_scheduler.h"
#include "upgrd_util/platform/clock.h"

namespace {

// The plan's own time, which only the plan moves on: the scheduler and the
// rules read it as the pool's clock.
struct PlanClock : public Clock {
  void SleepMs(int) override {}
  bool LocalTime(struct tm*) override { return false; }
  double Seconds() override { return now; }
  double now = 0;
};

// A card while it runs.
struct Running {
  upgrade_target* card;
  std::vector<PathStep> steps;
  size_t step = 0;
  double left;  // of the current step
  bool soak = false;  // its check after the soak
};

// Drives the night's scheduler with modelled cards on the plan's clock.
class NightPlayer {
 public:
  explicit NightPlayer(const PlanInputs& inputs)
      : in_(inputs),
        targets_(inputs.cards.size()),
        rules_(inputs.rules, &clock_),
        scheduler_(Order(), inputs.waves, inputs.parallel, &rules_, &clock_) {
    for (size_t wave : in_.waves)
      plan_.waves.push_back({-1, -1, wave, 0});
    if (plan_.waves.empty() && !targets_.empty())
      plan_.waves.push_back({-1, -1, targets_.size(), 0});
  }

  NightPlan Play() {
    for (;;) {
      CloseWaves();
      Turn turn = StartCards();
      if (running_.empty() && (turn.over || turn.until <= clock_.now ||
                               turn.until == kNever))
        break;
      Advance(turn.over ? kNever : turn.until);
    }
    for (upgrade_target* card : scheduler_.NeverStarted())
      NotStarted(card);
    std::sort(plan_.not_started.begin(), plan_.not_started.end());
    return plan_;
  }

 private:
  static constexpr double kNever = std::numeric_limits<double>::infinity();

  std::vector<upgrade_target*> Order() {
    std::vector<upgrade_target*> order;
    for (size_t i = 0; i < targets_.size(); ++i) {
      if (i < in_.groups.size()) {
        targets_[i].state.group = in_.groups[i].group;
        targets_[i].state.pair = in_.groups[i].pair;
      }
      order.push_back(&targets_[i]);
    }
    return order;
  }
  size_t Place(const upgrade_target* card) const {
    return static_cast<size_t>(card - targets_.data());
  }
  PlannedWave& WaveOf(const upgrade_target* card) {
    return plan_.waves[card->state.wave - 1];
  }
  void NotStarted(upgrade_target* card) {
    plan_.not_started.push_back(Place(card));
    ++WaveOf(card).not_started;
  }

  // No operator between waves: each goes on unless its weighing stops it.
  void CloseWaves() {
    while (int number = scheduler_.WaveToClose()) {
      PlannedWave& ended = plan_.waves[number - 1];
      ended.end = std::max(ended.end, clock_.now);
      if (scheduler_.CloseWave())
        scheduler_.WaveAnswered(true);
    }
  }

  // Starts what the scheduler gives now; returns its answer once it gives
  // no card.
  Turn StartCards() {
    for (;;) {
      Turn turn = scheduler_.Next();
      if (!turn.card)
        return turn;
      if (turn.soak) {
        running_.push_back({turn.card,
                            {{false, kPlannedSoakCheckSeconds}},
                            0,
                            kPlannedSoakCheckSeconds,
                            true});
        continue;
      }
      PlannedWave& wave = WaveOf(turn.card);
      if (wave.start < 0)
        wave.start = clock_.now;
      std::vector<PathStep> steps =
          path_steps(in_.cards[Place(turn.card)], in_.rules.modules);
      double first = steps[0].amount;
      running_.push_back({turn.card, std::move(steps), 0, first});
    }
  }

  // Moves the clock on to the next step that ends, or to `until`, and ends
  // the cards whose path ends there.
  void Advance(double until) {
    // The uploads share the link evenly, and a group's uploads its own
    // rate (--group-rate): each takes the smaller share.
    size_t uploading = 0;
    std::map<std::string, size_t> in_group;
    for (const Running& r : running_) {
      if (r.steps[r.step].upload) {
        ++uploading;
        ++in_group[r.card->state.group];
      }
    }
    std::vector<double> shares;
    for (const Running& r : running_) {
      double share = uploading > 0 ? in_.rules.link_rate / uploading : 0;
      if (r.steps[r.step].upload && in_.rules.group_rate > 0)
        share = std::min(share, in_.rules.group_rate /
                                    in_group[r.card->state.group]);
      shares.push_back(share);
    }
    // A time already passed is no time to wait for: only the cards move.
    double step = until > clock_.now ? until - clock_.now : kNever;
    for (size_t i = 0; i < running_.size(); ++i) {
      const Running& r = running_[i];
      step = std::min(step,
                      r.steps[r.step].upload ? r.left / shares[i] : r.left);
    }
    step = std::max(step, 0.0);
    clock_.now += step;
    std::vector<Running> still;
    for (size_t i = 0; i < running_.size(); ++i) {
      Running& r = running_[i];
      r.left -= r.steps[r.step].upload ? step * shares[i] : step;
      if (Moves(&r))
        still.push_back(r);
    }
    running_ = still;
  }

  // Takes `r` past the steps it has ended. Returns false once its card
  // ended: its path, or the window before its first load.
  bool Moves(Running* r) {
    // A step ends within a millionth of what is left of it: the sums of
    // doubles are no closer.
    while (r->left <= 1e-6 * std::max(1.0, r->steps[r->step].amount)) {
      if (++r->step == r->steps.size() && r->soak) {
        // Every check passes, as planned.
        scheduler_.SoakEnded(r->card, OUTCOME_UPGRADED);
        EndWave(r->card);
        return false;
      }
      if (r->step == r->steps.size()) {
        End(r->card, EndOf(in_.cards[Place(r->card)]));
        return false;
      }
      CardPath path = in_.cards[Place(r->card)];
      if (r->step == kStepsBeforeLoads && !rules_.PathFits(path)) {
        NotStarted(r->card);
        End(r->card, OUTCOME_NOT_STARTED);
        return false;
      }
      r->left = r->steps[r->step].amount;
    }
    return true;
  }

  // How a card on `path` that ran it through ends: as planned, with no
  // failure.
  static CardOutcome EndOf(CardPath path) {
    if (path == PATH_UNANSWERED)
      return OUTCOME_UNRESPONSIVE;
    return path_loads(path) ? OUTCOME_UPGRADED : OUTCOME_ALREADY_CURRENT;
  }

  void End(upgrade_target* card, CardOutcome outcome) {
    CardPath path = in_.cards[Place(card)];
    plan_.end = clock_.now;
    if (outcome == OUTCOME_UPGRADED) {
      card->state.zel_attempts = path == PATH_APP_ONLY ? 0 : 1;
      card->state.app_attempts = 1;
    }
    std::string why_not;
    double delay = scheduler_.RetryDelay(*card, outcome, &why_not);
    scheduler_.TryEnded(card, outcome, 0, delay);
    EndWave(card);
  }

  // The last wave ends with its last card, or the card's last check.
  void EndWave(const upgrade_target* card) {
    PlannedWave& wave = WaveOf(card);
    wave.end = std::max(wave.end, clock_.now);
    plan_.end = std::max(plan_.end, clock_.now);
  }

  const PlanInputs in_;
  PlanClock clock_;
  std::vector<upgrade_target> targets_;
  RolloutRules rules_;
  NightScheduler scheduler_;
  NightPlan plan_;
  std::vector<Running> running_;
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
