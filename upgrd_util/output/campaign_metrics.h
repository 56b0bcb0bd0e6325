#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_METRICS_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_METRICS_H_

#include <string>

#include "upgrd_util/output/campaign_view.h"

/// The campaign as metrics in Prometheus's text format, as the node
/// exporter's textfile collector reads them: cards by outcome, running and
/// waiting, the start and the last update, and how long finished cards took.
std::string campaign_metrics(const CampaignView& view);

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_METRICS_H_
