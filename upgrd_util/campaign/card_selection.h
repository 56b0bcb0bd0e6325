#ifndef UPGRD_UTIL_CAMPAIGN_CARD_SELECTION_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_SELECTION_H_

#include <map>
#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/output/campaign_report.h"

/// Keeps of *cards only those that `limit` names ("A,B,C", or "@FILE" with
/// one address a line), in the order of iplist.txt, and counts them in
/// *count. Returns false, having said why, when it names an address
/// iplist.txt does not hold, names none, or FILE cannot be read.
bool keep_only_limited(const std::string& limit, upgrade_target** cards,
                       int* count);

/// Cards that an earlier run (its records in `earlier`, read from `resume`)
/// left running the modules of this one are skipped, and said so; the
/// others run, and so does a card whose record was for other modules (said
/// once). Cards whose record is a failed load of these modules run after
/// every other card, marked failed_before (said how many). With `force`,
/// the cards it lists as already current run too (said how many). Returns
/// the cards that run, in that order.
std::vector<upgrade_target*> cards_to_run(
    upgrade_target* cards, const std::map<std::string, EarlierRecord>& earlier,
    const std::string& resume, bool force);

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_SELECTION_H_
