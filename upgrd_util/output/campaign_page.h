#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_PAGE_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_PAGE_H_

#include <string>

#include "upgrd_util/output/campaign_view.h"

/// The campaign as one HTML5 page that needs nothing else (its style and
/// pictures inline, no script): the run, counts by outcome, version
/// changes, a timeline with a bar per card, then the cards that did not end
/// well with the last lines of their blocks, then the others.
std::string campaign_page(const CampaignView& view);

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_PAGE_H_
