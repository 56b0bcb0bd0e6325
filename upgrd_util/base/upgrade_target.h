#ifndef UPGRD_UTIL_BASE_UPGRADE_TARGET_H_
#define UPGRD_UTIL_BASE_UPGRADE_TARGET_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/card_path.h"
#include "upgrd_util/base/upgrade_status.h"


/// What one card's upgrade works with as it goes, never reported: its
/// session, its probes, its files and the rules of its try. It travels with
/// the card, so that cards upgraded side by side never share a session, a
/// probe allowance or a listing file.
struct CardWork {
  /// The handle of the latest login of the card operations that keep it
  /// (0 before the first login, -1 after a failed one); it is quit again
  /// after failed loads and on the way out.
  int ftp_session = 0;
  /// Multiplies every probe's allowance of unanswered requests: 1 at start,
  /// 3 once the card needed the interim patch (it restarts slowly then).
  int32_t probe_factor = 1;
  /// Where the card's listing is put, and left, for the operator to see.
  char listing_file[48] = "foundfir.txt";
  /// Set from the sequence's campaign rules (CampaignRules) for the steps
  /// it runs: a failed login or a refused listing keeps the card's answer
  /// in its `reply` and a line of its block, and a listing is read
  /// strictly.
  bool strict_card_words = false;
  /// Set when a file of its turn (a local file, its block, its record)
  /// could not be written for want of room: no further card should start.
  bool disk_full = false;
  /// Set when its block could not be written to the result log.
  bool block_lost = false;
};

/// What is told of one card: its record in the report, its row on the
/// page, its block in the result log, and where an earlier run left it.
struct CardState {
  /// The line of iplist.txt that gives the card's address (0: none).
  int list_line = 0;
  /// For a campaign's report: the ZEL module the card listed before the
  /// first load and after the last, and how many loads were tried.
  std::string zel_before;
  std::string zel_after;
  int zel_attempts = 0;
  int app_attempts = 0;
  /// Set when a campaign found the card running the configured ZEL and
  /// loaded only its APP.
  bool zel_already_current = false;
  /// Whether the card's data.txt and event.txt were both saved, and if not,
  /// why (empty before the step).
  bool logs_saved = false;
  std::string logs_unsaved_reason;
  /// For a campaign: when the card started (ISO 8601 text) and how its
  /// turn ended.
  std::string started_at;
  CardOutcome outcome = OUTCOME_NONE;
  /// What its listing said it needs (PATH_UNKNOWN before, or without one).
  CardPath path = PATH_UNKNOWN;
  /// The wave it was in (1-based; 0 before a campaign gives it one), and
  /// for a card not started, why; for a local error, which file and the
  /// system's reason ("cannot write 10.0.0.5_foundfir.txt: Is a directory").
  int wave = 0;
  std::string reason;
  /// Its group of --groups ("-": none given) and its pair ("": none): at
  /// most --per-group of a group run at once, and two cards of a pair never
  /// at once nor in one wave.
  std::string group = "-";
  std::string pair;
  /// How often a campaign started it, and its log entries of every try so
  /// far, for its block in the result log.
  int tries = 0;
  std::string log_text;
  /// Of a card skipped on an earlier record: the run that upgraded it (or
  /// found it current) and when that run's turn of the card ended.
  std::string upgraded_in_run;
  std::string upgraded_at;
  /// And how that run left it: upgraded or already current (none: an older
  /// report did not say).
  CardOutcome done_as = OUTCOME_NONE;
  /// Its latest earlier record for these modules is a failed module load:
  /// it runs after the other cards, and that night counted it already.
  bool failed_before = false;
  /// The card's answer to its latest failed login or refused listing of
  /// this try (printable, bounded), or "".
  std::string reply;
};

/// One card to upgrade, in a list kept in the order the cards were given.
struct upgrade_target {
  char ip[26];         // dotted IPv4 address as given, at most 25 characters
  char user_name[11];  // FTP user name, at most 10 characters
  char password[11];   // FTP password, at most 10 characters
  int32_t status;      // an upgrade_status, 0 until a step records one
  upgrade_target* next;
  CardState state;
  CardWork work;
};

/// Stores `value` in the field when it fits with its terminating NUL and
/// holds no NUL of its own. Returns false, leaving the field as it was,
/// otherwise: a value is never cut.
bool set_target_ip(upgrade_target* target, std::string_view value);
bool set_target_user_name(upgrade_target* target, std::string_view value);
bool set_target_password(upgrade_target* target, std::string_view value);

/// Makes an empty record (status 0, no next) and links it at the tail of the
/// list that starts at *head. The run that reads the list frees it when
/// it ends.
upgrade_target* append_upgrade_target(upgrade_target** head);

/// Ends the card's turn in a campaign so: its outcome, and the status that
/// goes with it (card_outcome.cc's table), which the summary reads. The one
/// place a campaign sets either.
void set_card_end(upgrade_target* card, CardOutcome outcome);

/// Frees a whole list.
void free_upgrade_targets(upgrade_target* head);

#endif  // UPGRD_UTIL_BASE_UPGRADE_TARGET_H_
