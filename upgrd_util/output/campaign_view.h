#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_VIEW_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_VIEW_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

/// One try of a card, in seconds from the campaign's start.
struct TryView {
  double start = 0;
  double end = -1;      // -1: running
  std::string outcome;  // of a try that was retried; the last one's is the card's
};

/// One card as the campaign's page and metrics show it.
struct CardView {
  std::string address;
  std::string outcome;  // the report's word; empty: running or waiting
  std::string said;     // the console's words for the outcome
  bool failure = false;
  bool running = false;
  int wave = 0;
  std::string group = "-";  // of --groups; "-": none
  // Seconds from the campaign's start; -1: not started, or not ended.
  double start = -1;
  double end = -1;
  double seconds = 0;  // its last try, as the report gives it
  int tries = 0;
  std::vector<TryView> spans;  // each try, in order; the wait between is none
  std::string zel_before;
  std::string zel_after;
  std::string reason;  // why it was not started
  std::string tail;    // the last lines of its block in result.txt
};

/// A time the starting of cards was paused, in seconds from the
/// campaign's start.
struct PauseView {
  double start = 0;
  double end = -1;  // -1: still paused
};

/// A campaign at one moment, for its page and its metrics file.
struct CampaignView {
  std::string run_id;
  bool dry_run = false;
  bool ended = false;
  std::string started;  // ISO 8601 local times with their offset
  std::string updated;
  double start_unix = 0;  // the same moments as Unix times
  double updated_unix = 0;
  double elapsed = 0;  // seconds since the start
  std::string zel_module;
  std::string app_module;
  std::string patch_module;  // the interim patch; empty: it is not here
  // The SHA-256 of each module file, as hex; empty: not hashed.
  std::string zel_sha256;
  std::string app_sha256;
  std::string patch_sha256;
  std::string options;  // the command line's options
  // Who ran it (process_state.h).
  std::string run_by;
  std::string host;
  std::string command_line;
  std::string tool_version;
  // Why cards stopped starting, once ended: a word for the kind
  // ("rate", "window", "interrupted", "between_waves", "max_failures",
  // "stop_file", "disk_full"),
  // and the sentence that tells it with its figures. Empty: every card was
  // tried.
  std::string stop_kind;
  std::string stop_said;
  bool paused = false;  // starting cards is paused (SIGUSR1)
  std::vector<PauseView> pauses;  // in order, at most kPausesDrawn
  double rate_limit = -1;   // percent of the cards that reached a load; -1: none
  int max_failures = 0;     // 0: none
  std::string window_end;   // its local time with its offset; empty: none
  double soak = 0;          // seconds before an upgraded card's check; 0: none
  // When the plan said the last card would end, and how long after the
  // start (-1: no plan).
  std::string planned_end;
  double planned_seconds = -1;
  std::string resumed;      // the report resumed from; empty: none
  std::vector<std::string> resumed_runs;  // the runs its records name
  std::vector<CardView> cards;  // in the order of iplist.txt
  // The cards that ended, by the report's word, as the campaign counted
  // them; of those, the cards that reached a module load this night (one
  // that failed it in an earlier night is not counted again), and those
  // whose load failed.
  std::map<std::string, int> by_outcome;
  int loads = 0;
  int load_failures = 0;
};

/// The pauses a page draws; later ones are left out, so that signals sent
/// without end cannot swell it.
const size_t kPausesDrawn = 100;

/// `text` as a page or a metrics file can carry it (see readable_text), for
/// a card's names come from its listing and may be anything.
std::string shown_utf8(std::string_view text);

/// The installed clock's local time as seconds since 1970 UTC.
double unix_time_now();

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_VIEW_H_
