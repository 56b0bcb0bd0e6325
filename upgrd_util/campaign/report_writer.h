#ifndef UPGRD_UTIL_CAMPAIGN_REPORT_WRITER_H_
#define UPGRD_UTIL_CAMPAIGN_REPORT_WRITER_H_

#include <mutex>
#include <string>
#include <vector>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/output/campaign_report.h"

/// Writes the cards' records to the campaign's report, if there is one,
/// each lot synced before it returns; the first failure is said once.
/// Called from the cards' threads and the campaign's.
class ReportWriter {
 public:
  /// `report` may be nullptr (no --report): nothing is written.
  ReportWriter(CampaignReport* report, const std::string& report_path,
               StatusPrinter* printer)
      : report_(report), report_path_(report_path), printer_(printer) {}

  /// The records of `cards`, each as its state says, written together and
  /// synced once: a resumed night of ten thousand done cards waits for one
  /// sync, not ten thousand. `seconds`: their last try. Sets *disk_full,
  /// when given, if a record did not fit on the disk.
  void Write(const std::vector<const upgrade_target*>& cards, double seconds,
             bool* disk_full);

  /// Starting cards was paused (or resumed) at `at` (ISO 8601): every
  /// record written from now on says so.
  void Paused(bool paused, const std::string& at);

  bool failed();
  /// The records that could not be written.
  int records_lost();

 private:
  CampaignReport* report_;
  const std::string report_path_;
  StatusPrinter* printer_;
  std::mutex mutex_;  // guards appending to the report, and the counts below
  bool failed_ = false;
  int records_lost_ = 0;
  std::string PausesField() const;  // mutex_ held
  std::string pauses_;  // the pauses shown in the records so far
  int pauses_started_ = 0;
};

#endif  // UPGRD_UTIL_CAMPAIGN_REPORT_WRITER_H_
