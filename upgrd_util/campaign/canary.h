#ifndef UPGRD_UTIL_CAMPAIGN_CANARY_H_
#define UPGRD_UTIL_CAMPAIGN_CANARY_H_

#include <cstddef>
#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/card/card_path.h"

/// What a card's listing said: its path and its hardware id.
struct Listed {
  CardPath path = PATH_UNKNOWN;
  std::string hardware;  // of the ZEL it listed; "": none read
};

/// What a dry run found of `card`.
Listed listed_of(const upgrade_target& card);

/// Reads the listing of each of `cards`, `parallel` at once, as a dry run
/// does and changing nothing, with its entries in the card's journal only,
/// into *listed (in the order of `cards`). Nothing of the cards is
/// changed. Returns false when an interrupt ended the reading first.
bool survey_cards(const std::vector<upgrade_target*>& cards, int parallel,
                  const CampaignRules& rules, std::vector<Listed>* listed);

/// The canary of --canary paths: of `cards`, in their order, the first of
/// each hardware id and path that loads, as `listed` gives them (in the
/// same order). A card that is current, of other hardware or that did not
/// list tests nothing of the modules: it is no canary.
std::vector<upgrade_target*> canary_by_path(
    const std::vector<upgrade_target*>& cards,
    const std::vector<Listed>& listed);

/// "127.0.0.2 (hw02, both modules), 127.0.0.5 (hw03, the APP alone)".
std::string canary_text(const std::vector<upgrade_target*>& canary,
                        const std::vector<upgrade_target*>& cards,
                        const std::vector<Listed>& listed);

/// Puts `canary`, cards of *cards, first in *cards; the others keep their
/// order after it.
void put_canary_first(const std::vector<upgrade_target*>& canary,
                      std::vector<upgrade_target*>* cards);

#endif  // UPGRD_UTIL_CAMPAIGN_CANARY_H_
