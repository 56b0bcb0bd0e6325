#ifndef UPGRD_UTIL_CAMPAIGN_CARD_SELECTION_H_
#define UPGRD_UTIL_CAMPAIGN_CARD_SELECTION_H_

#include <map>
#include <string>
#include <vector>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/inputs/group_file.h"
#include "upgrd_util/output/campaign_report.h"

/// Gives each card of `cards` its group and pair of `groups` (read from
/// `file`); the others stay in the group "-". Returns false, having said
/// which, when `groups` names an address iplist.txt does not hold.
bool give_groups(const std::map<std::string, CardGroup>& groups,
                 const std::string& file, upgrade_target* cards);

/// Keeps of *cards only those that `limit` names ("A,B,C", or "@FILE" with
/// one a line; each an address, or group:NAME for the cards of a group),
/// in the order of iplist.txt, and counts them in *count. Returns false,
/// having said why, when it names an address iplist.txt does not hold, a
/// group no card is in, names none, or FILE cannot be read.
bool keep_only_limited(const std::string& limit, upgrade_target** cards,
                       int* count);

/// This run's site: `given` (--site) when not empty, else the host's name
/// and the working directory's real path ("ops1:/srv/upgrade"), as a report
/// writes text.
std::string site_of_this_run(const std::string& given);

/// The SHA-256 of the addresses of `cards`, sorted, each with a line end,
/// into `hex`: which cards iplist.txt named, for the records. Leaves it
/// empty when the system cannot hash.
void hash_addresses(const upgrade_target* cards, char hex[kSha256HexSize]);

/// Whether the earlier records read from `resume` are this site's history:
/// returns false, with one line in *error, when one names another site than
/// `site`, and when one names none (a report of an earlier version) unless
/// --site was given (`site_given`).
bool report_of_this_site(const std::map<std::string, EarlierRecord>& earlier,
                         const std::string& resume, const std::string& site,
                         bool site_given, std::string* error);

/// Cards that an earlier run (its records in `earlier`, read from `resume`)
/// left running the modules of this one are skipped, and said so; the
/// others run, and so does a card whose record was for other modules (said
/// once). Records made for other addresses of iplist.txt (cards added or
/// removed since) are taken all the same, said once. Cards whose record
/// ended before any load on the card's side (no answer, a login or listing
/// refused, an unknown version, other hardware, no patch) run after the
/// cards that can be loaded, so that the first waves load (said how many).
/// Cards whose record is a failed load of these modules run after every
/// other card, marked failed_before (said how many). With `force`,
/// the cards it lists as already current run too (said how many). Returns
/// the cards that run, in that order.
std::vector<upgrade_target*> cards_to_run(
    upgrade_target* cards, const std::map<std::string, EarlierRecord>& earlier,
    const std::string& resume, bool force);

#endif  // UPGRD_UTIL_CAMPAIGN_CARD_SELECTION_H_
