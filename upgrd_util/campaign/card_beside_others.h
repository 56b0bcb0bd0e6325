#ifndef UPGRD_UTIL_CAMPAIGN_CARD_BESIDE_OTHERS_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_BESIDE_OTHERS_H_

#include <string>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/card_pool.h"

/// Runs `sequence` for `card` on the calling thread as one card among
/// others: with a console of its own that nobody watches, its own echo
/// handle and listing file "<ip>_foundfir.txt", its log entries going to
/// its journal "<ip>_upgrade.txt" as they are flushed and to the card's
/// log_text, which result.txt receives as one block when the card's last
/// try ends (finish_card_block). The journal gets a
/// header line first: the time, `kind` ("campaign", "dry run") and the run
/// id; a card whose journal cannot take it is not started, and ends
/// OUTCOME_LOCAL_ERROR. Returns the sequence's outcome.
CardOutcome run_card_beside_others(upgrade_target* card,
                                   const CardSequence& sequence,
                                   const char* kind);

/// Appends the card's block, all its tries in order, to result.txt:
/// "\n*** Card <ip> ***\n" and its entries, in one piece. Returns false,
/// with the reason and whether the disk was full, when it could not be
/// written (log_append_block).
bool finish_card_block(const upgrade_target& card, std::string* reason,
                       bool* full);

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_BESIDE_OTHERS_H_
