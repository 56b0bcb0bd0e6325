#ifndef UPGRD_UTIL_OUTPUT_CAMPAIGN_REPORT_H_
#define UPGRD_UTIL_OUTPUT_CAMPAIGN_REPORT_H_

#include <cstdio>
#include <map>
#include <string>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/output/grouped_sync.h"
#include "upgrd_util/platform/append_file.h"

/// Returns true when `path` names a report format: ends in .csv or .jsonl.
bool report_format_known(const std::string& path);

/// One card's record in a campaign report.
struct ReportRecord {
  std::string address;
  std::string user_name;
  std::string outcome;  // a stable word: upgraded, login_failed, ...
  int status = 0;       // the card's status, as the summary knows it
  std::string zel_before;
  std::string zel_after;
  std::string start;  // ISO 8601 local time with its offset; empty: none
  std::string end;
  double seconds = 0;
  int zel_attempts = 0;
  int app_attempts = 0;
  bool logs_saved = false;  // data.txt and event.txt both saved
  std::string zel_target;   // the module files of this run's config.txt
  std::string app_target;
  std::string run_id;       // the same in every record of one run
  std::string upgraded_in_run;  // skipped: the run that did the card
  std::string upgraded_at;      // and when it ended
  std::string done_as;          // and how: upgraded or already_current
  int wave = 0;                 // 1-based
  std::string reason;           // why a card was not started
  int tries = 0;                // how often the card was started
  std::string reply;  // its answer to a failed login or refused listing
  // The SHA-256 of this run's module files; the patch's empty when it is
  // not here.
  std::string zel_sha256;
  std::string app_sha256;
  std::string patch_sha256;
  // Whose history the record is: the run's site and the SHA-256 of
  // iplist.txt's addresses (process_state.h).
  std::string site;
  std::string addresses_sha256;
  std::string group;  // of --groups; "-": none
  std::string pair;   // "": none
  // Who ran the campaign (process_state.h): the user, the host, the
  // command line and the tool's version.
  std::string run_by;
  std::string host;
  std::string command_line;
  std::string tool_version;
  // When starting cards was paused before this record was written: each
  // pause "start/end" (ISO 8601), one still in force "start/", space
  // apart.
  std::string pauses;
};

/// The record of `card`, whose outcome is `outcome`, between `start` and
/// `end` (ISO 8601 texts, see iso_local_time) and `seconds` long.
ReportRecord card_record(const upgrade_target& card, const char* outcome,
                          const std::string& start, const std::string& end,
                          double seconds);

/// The installed clock's local time, "2026-12-07T09:30:00+01:00", or the
/// one `seconds_from_now` later.
std::string iso_local_time(long seconds_from_now = 0);

/// An offset from UTC as ISO 8601 writes it: "+01:00", "-03:30".
std::string utc_offset_text(long long seconds);

/// A report file that receives each card's record as the card ends, as CSV
/// (RFC 4180, with a header row) or JSON lines, by the file name's ending.
/// It is written beside the report as "<report>.part", which takes the
/// report's place with the first record, so that an old report is never
/// replaced by nothing.
class CampaignReport {
 public:
  explicit CampaignReport(std::string path) : path_(std::move(path)) {}
  ~CampaignReport();

  /// Before any card: makes the part file (never through a link) and, for
  /// CSV, writes its header. Returns false, with the reason in *reason, when
  /// the report is a directory or cannot be written.
  bool Open(std::string* reason);

  /// Appends one record whole, or not at all: a record that does not fit
  /// is cut off again, so that the next one follows the last whole one.
  /// Returns false, with the system's reason in *reason, when it cannot be
  /// written. Not on two threads at once.
  bool Write(const ReportRecord& record, std::string* reason);

  /// Whether the last Write failed for want of room on the disk.
  bool full() const { return file_.full(); }

  /// Returns once every record written so far is on the disk itself, or
  /// false with the reason; records written while a sync is under way share
  /// the next (GroupedSync). On any thread, also beside Write.
  bool Sync(std::string* reason);

 private:
  CampaignReport(const CampaignReport&) = delete;
  CampaignReport& operator=(const CampaignReport&) = delete;

  std::string temp_path() const { return path_ + ".part"; }

  std::string path_;
  AppendFile file_;
  GroupedSync sync_{[this](std::string* reason) { return file_.Sync(reason); }};
  bool replaced_ = false;  // the part file has become the report
};

/// What a card's record in an earlier report tells a later run.
struct EarlierRecord {
  std::string outcome;
  std::string zel_target;  // the module files that run was for
  std::string app_target;
  std::string run_id;
  std::string end;
  std::string zel_after;
  std::string upgraded_in_run;  // of a skipped record: where it was done
  std::string upgraded_at;
  std::string done_as;
  std::string site;  // empty in a report of an earlier version
  std::string addresses_sha256;
};

/// Reads a report of an earlier campaign (either format: a regular file of
/// at most 64 MiB, lines of at most 64 KiB) into *records, each card's last
/// record by its address. Returns false, with one line naming the file (and
/// the line) in *error, when it cannot be read or parsed. An unfinished
/// last record is left out, with a line saying so in *warning.
bool read_earlier_records(const std::string& path,
                          std::map<std::string, EarlierRecord>* records,
                          std::string* error, std::string* warning);

#endif  // UPGRD_UTIL_OUTPUT_CAMPAIGN_REPORT_H_
