#include "upgrd_util/campaign/canary.h"

#include <algorithm>
#include <set>
#include <utility>

#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/rollout_rules.h"
#include "upgrd_util/card/card_sequence.h"
#include "upgrd_util/modules/module_hardware.h"
#include "upgrd_util/platform/platform.h"

namespace {

// The survey says nothing as it goes: what it read is in each journal.
struct QuietEvents : public PoolEvents {
  void CardStarted(upgrade_target*) override {}
  void CardEnded(upgrade_target*, CardOutcome, double) override {}
  void StartingStopped(const Stop&, int) override {}
  void WorkersShort(int, int) override {}
  void Tick(bool) override {}
};

const char* PathWords(CardPath path) {
  switch (path) {
    case PATH_APP_ONLY:
      return "the APP alone";
    case PATH_PATCH_FIRST:
      return "the interim patch first";
    default:
      return "both modules";
  }
}

}  // namespace

Listed listed_of(const upgrade_target& card) {
  return {card.state.path, card.state.zel_before.empty()
                               ? std::string()
                               : module_hardware_id(card.state.zel_before)};
}

bool survey_cards(const std::vector<upgrade_target*>& cards, int parallel,
                  const CampaignRules& rules, std::vector<Listed>* listed) {
  // Copies are read, so that the night starts each card as it was.
  std::vector<upgrade_target> copies;
  copies.reserve(cards.size());
  std::vector<upgrade_target*> order;
  for (const upgrade_target* card : cards) {
    copies.push_back(*card);
    copies.back().next = nullptr;
    order.push_back(&copies.back());
  }
  RolloutRules none(RolloutSettings(), platform().clock);
  QuietEvents quiet;
  CardPool pool(order, {}, parallel,
                [rules](upgrade_target* card) {
                  return run_card_beside_others(
                      card,
                      [&](upgrade_target* c) { return check_card(c, rules); },
                      "survey");
                },
                &none, &quiet);
  pool.Run(1000);
  listed->clear();
  for (const upgrade_target& copy : copies)
    listed->push_back(listed_of(copy));
  return pool.stop().reason == STOP_NONE;
}

std::vector<upgrade_target*> canary_by_path(
    const std::vector<upgrade_target*>& cards,
    const std::vector<Listed>& listed) {
  std::set<std::pair<std::string, CardPath>> seen;
  std::vector<upgrade_target*> canary;
  for (size_t i = 0; i < cards.size() && i < listed.size(); ++i) {
    if (path_loads(listed[i].path) &&
        seen.insert({listed[i].hardware, listed[i].path}).second)
      canary.push_back(cards[i]);
  }
  return canary;
}

std::string canary_text(const std::vector<upgrade_target*>& canary,
                        const std::vector<upgrade_target*>& cards,
                        const std::vector<Listed>& listed) {
  std::string text;
  for (const upgrade_target* card : canary) {
    size_t i = std::find(cards.begin(), cards.end(), card) - cards.begin();
    if (i >= listed.size())
      continue;
    const std::string& hardware = listed[i].hardware;
    text += std::string(text.empty() ? "" : ", ") + card->ip + " (" +
            (hardware.empty() ? std::string("no hardware id")
                              : "hw" + hardware) +
            ", " + PathWords(listed[i].path) + ")";
  }
  return text;
}

void put_canary_first(const std::vector<upgrade_target*>& canary,
                      std::vector<upgrade_target*>* cards) {
  std::vector<upgrade_target*> order = canary;
  for (upgrade_target* card : *cards) {
    if (std::find(canary.begin(), canary.end(), card) == canary.end())
      order.push_back(card);
  }
  *cards = order;
}
