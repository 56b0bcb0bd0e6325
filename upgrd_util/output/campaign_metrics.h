#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_METRICS_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_METRICS_H_

#include <string>

#include "upgrd_util/output/campaign_view.h"

/// The campaign as metrics in Prometheus's text format, as the node
/// exporter's textfile collector reads them: cards by outcome, running and
/// waiting, the start and the last update, and how long finished cards took.
std::string campaign_metrics(const CampaignView& view);

/// The metrics file after a night whose start was refused at `unix_time`:
/// `earlier` (the file as the last night left it) with
/// upgrd_campaign_refused_time_seconds set to that time, an earlier value
/// of it replaced.
std::string refused_metrics(const std::string& earlier, double unix_time);

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_METRICS_H_
