#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_EVENT_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_EVENT_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"

/// Cards by how they ended.
using OutcomeCounts = std::map<CardOutcome, int>;

// What --on-event's command reads on its standard input: one JSON object
// for each event of a campaign, with the event's kind ("event"), the run's
// id and the local time (ISO 8601 with its offset). Texts go through
// readable_text, as in the report.

/// The campaign starts `cards` cards (of the listed ones, those it runs)
/// in waves of these sizes, with the options as given.
std::string start_event_json(size_t cards, size_t listed,
                             const std::vector<std::string>& options,
                             const std::vector<size_t>& waves, bool check);

/// Wave `wave` of `waves` ended: how its cards ended, how every card
/// ended so far, how many wait to be tried again, and when the plan made
/// at the start said it would end (`planned_end`, ISO 8601; empty: left
/// out).
std::string wave_end_event_json(int wave, int waves,
                                const OutcomeCounts& in_wave,
                                const OutcomeCounts& so_far, int waiting,
                                const std::string& planned_end);

/// No further card starts, for the stop reason `code` ("max_failures"),
/// said so (`reason`); `running` cards go on.
std::string stop_event_json(const std::string& code,
                            const std::string& reason, int running);

/// Starting cards was paused (SIGUSR1: "pause") or resumed (SIGUSR2:
/// "resume"); `running` cards go on.
std::string pause_event_json(bool paused, int running);

/// The night's start was refused, for `reason` (one line), before any card
/// and without a run id: who started it, where and how, so that an alert
/// can say which night never ran.
std::string refused_event_json(const std::string& reason);

/// The campaign ended: every card by outcome, the stop if there was one
/// (an empty `code`: none), and the exit code the tool returns.
std::string end_event_json(const OutcomeCounts& cards,
                           const std::string& code,
                           const std::string& reason, int exit_code);

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_EVENT_H_
