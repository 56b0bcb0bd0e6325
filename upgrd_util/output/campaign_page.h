#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_PAGE_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_PAGE_H_

#include <string>

#include "upgrd_util/output/campaign_view.h"

/// The campaign as one HTML5 page that needs nothing else (its style and
/// pictures inline, no script): how it ended, the run and its limits,
/// counts by outcome and by wave, version changes, a timeline with a row per
/// card and a bar per try, the cards that did not end well (the first ones
/// with the last lines of their blocks), those not started by reason, then
/// the others.
std::string campaign_page(const CampaignView& view);

/// A duration as the page shows it: "45 s", "3 min 20 s", "2 h 05 min".
std::string page_duration(double seconds);

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_PAGE_H_
