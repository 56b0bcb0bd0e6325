#ifndef UPGRD_UTIL_CAMPAIGN_WAVE_ORDER_H_
#define UPGRD_UTIL_CAMPAIGN_WAVE_ORDER_H_

#include <cstddef>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"

/// Moves cards between the waves `waves` (sizes, in the order of *cards)
/// so that no wave holds two cards of one pair: a card whose pair is in
/// its wave already goes to the next, before the cards that were to come,
/// and when no wave is left a last one is added. The weighing of a wave
/// then comes between the two cards of a pair. A night of one wave has no
/// weighing to put between them: its pairs are kept apart in time only.
void keep_pairs_apart(std::vector<upgrade_target*>* cards,
                      std::vector<size_t>* waves);

#endif  // UPGRD_UTIL_CAMPAIGN_WAVE_ORDER_H_
