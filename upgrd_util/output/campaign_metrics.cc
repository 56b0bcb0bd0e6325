#include "upgrd_util/output/campaign_metrics.h"

#include <cstdio>
#include <algorithm>
#include <map>

#include "upgrd_util/base/card_outcome.h"

namespace {

// A card's upgrade takes its mandated waits, minutes at least; the bounds
// tell a normal card from one that retried or hung on a slow link.
const double kBuckets[] = {60, 120, 300, 600, 900, 1200, 1800, 2700, 3600};

// A label's value: its backslashes, quotes and line ends escaped.
std::string LabelValue(const std::string& raw) {
  std::string value;
  for (char c : shown_utf8(raw)) {
    if (c == '\\' || c == '"')
      value += '\\';
    if (c == '\n') {
      value += "\\n";
      continue;
    }
    value += c;
  }
  return value;
}

void Family(std::string* out, const char* name, const char* type,
            const char* help) {
  *out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name +
          " " + type + "\n";
}

void Sample(std::string* out, const std::string& name, double value) {
  char number[48];
  snprintf(number, sizeof(number), "%.15g", value);
  *out += name + " " + number + "\n";
}

// How many cards there are of each outcome, running and waiting.
void CardCounts(const CampaignView& view, std::string* out) {
  std::map<std::string, int> by_outcome;
  // Every outcome is there from the start, so that a rate over it works.
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o)
    by_outcome[outcome_words(static_cast<CardOutcome>(o)).word] = 0;
  for (const auto& [outcome, count] : view.by_outcome)
    by_outcome[outcome] += count;
  int running = 0, waiting = 0;
  for (const CardView& card : view.cards) {
    if (card.outcome.empty())
      ++(card.running ? running : waiting);
  }
  Family(out, "upgrd_cards", "gauge", "Cards of the campaign by outcome.");
  for (const auto& [outcome, count] : by_outcome)
    Sample(out, "upgrd_cards{outcome=\"" + LabelValue(outcome) + "\"}", count);
  Family(out, "upgrd_cards_running", "gauge", "Cards being upgraded now.");
  Sample(out, "upgrd_cards_running", running);
  Family(out, "upgrd_cards_waiting", "gauge",
         "Cards not started yet, or waiting to be tried again.");
  Sample(out, "upgrd_cards_waiting", waiting);
}

// Each group's cards by outcome, running or waiting, when --groups gave
// any: an alert may watch one rack's failures.
void GroupCounts(const CampaignView& view, std::string* out) {
  std::map<std::pair<std::string, std::string>, int> counts;
  bool grouped = false;
  for (const CardView& card : view.cards) {
    std::string state = !card.outcome.empty() ? card.outcome
                        : card.running       ? "running"
                                             : "waiting";
    ++counts[{card.group, state}];
    grouped = grouped || card.group != "-";
  }
  if (!grouped)
    return;
  Family(out, "upgrd_group_cards", "gauge",
         "Cards of each group by outcome, running or waiting.");
  for (const auto& [key, count] : counts)
    Sample(out, "upgrd_group_cards{group=\"" + LabelValue(key.first) +
                    "\",outcome=\"" + LabelValue(key.second) + "\"}",
           count);
}

// The campaign itself: what it is, when it started, its plan, whether it
// has ended or is paused.
void CampaignFacts(const CampaignView& view, std::string* out) {
  Family(out, "upgrd_campaign_info", "gauge",
         "The campaign's run id and modules; always 1.");
  Sample(out,
         "upgrd_campaign_info{run_id=\"" + LabelValue(view.run_id) +
             "\",zel_module=\"" + LabelValue(view.zel_module) +
             "\",app_module=\"" + LabelValue(view.app_module) +
             "\",dry_run=\"" + (view.dry_run ? "true" : "false") + "\"}",
         1);
  Family(out, "upgrd_campaign_start_time_seconds", "gauge",
         "When the campaign started, in seconds since 1970.");
  Sample(out, "upgrd_campaign_start_time_seconds", view.start_unix);
  Family(out, "upgrd_campaign_last_update_time_seconds", "gauge",
         "When this file was written, in seconds since 1970.");
  Sample(out, "upgrd_campaign_last_update_time_seconds", view.updated_unix);
  // Monitoring can tell a night that runs past its plan from one that is
  // merely long.
  if (view.planned_seconds >= 0) {
    Family(out, "upgrd_campaign_planned_end_time_seconds", "gauge",
           "When the plan made at the start said the last card would end, "
           "in seconds since 1970.");
    Sample(out, "upgrd_campaign_planned_end_time_seconds",
           view.start_unix + view.planned_seconds);
  }
  Family(out, "upgrd_campaign_ended", "gauge",
         "1 once the campaign has ended, else 0.");
  Sample(out, "upgrd_campaign_ended", view.ended ? 1 : 0);
  Family(out, "upgrd_campaign_paused", "gauge",
         "1 while starting cards is paused (SIGUSR1), else 0.");
  Sample(out, "upgrd_campaign_paused", view.paused && !view.ended ? 1 : 0);
}

// How long the finished cards took, as a histogram over kBuckets.
void CardDurations(const CampaignView& view, std::string* out) {
  Family(out, "upgrd_card_duration_seconds", "histogram",
         "How long each finished card took, its last try.");
  double sum = 0;
  int count = 0;
  for (const CardView& card : view.cards) {
    if (card.end < 0)
      continue;
    sum += card.seconds;
    ++count;
  }
  for (double bound : kBuckets) {
    int within = 0;
    for (const CardView& card : view.cards)
      within += card.end >= 0 && card.seconds <= bound;
    char name[80];
    snprintf(name, sizeof(name), "upgrd_card_duration_seconds_bucket{le=\"%g\"}",
             bound);
    Sample(out, name, within);
  }
  Sample(out, "upgrd_card_duration_seconds_bucket{le=\"+Inf\"}", count);
  Sample(out, "upgrd_card_duration_seconds_sum", sum);
  Sample(out, "upgrd_card_duration_seconds_count", count);
}

}  // namespace

std::string campaign_metrics(const CampaignView& view) {
  std::string out;
  CardCounts(view, &out);
  GroupCounts(view, &out);
  CampaignFacts(view, &out);
  CardDurations(view, &out);
  return out;
}

std::string refused_metrics(const std::string& earlier, double unix_time) {
  const std::string kName = "upgrd_campaign_refused_time_seconds";
  std::string kept;
  for (size_t at = 0; at < earlier.size();) {
    size_t end = std::min(earlier.find('\n', at), earlier.size());
    std::string line = earlier.substr(at, end - at);
    at = end + 1;
    // The family's HELP, TYPE and sample go; a family appears once.
    bool ours = line.compare(0, kName.size() + 1, kName + " ") == 0 ||
                line.compare(0, kName.size() + 8, "# HELP " + kName + " ") ==
                    0 ||
                line.compare(0, kName.size() + 8, "# TYPE " + kName + " ") ==
                    0;
    if (!ours && !line.empty())
      kept += line + "\n";
  }
  Family(&kept, kName.c_str(), "gauge",
         "When the last campaign's start was refused (a stop file, another "
         "run, bad input), in seconds since 1970; the other figures are the "
         "night before's.");
  Sample(&kept, kName, unix_time);
  return kept;
}
