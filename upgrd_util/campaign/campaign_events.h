#ifndef UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_
#define UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/campaign_watch.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/output/campaign_report.h"

/// What the cards' pool tells goes to the console (through the status
/// printer), to result.txt, to the report and to the page and metrics. The
/// rules that decide whether cards start are the pool's (RolloutRules).
class CampaignEvents : public PoolEvents {
 public:
  /// `ask` (no --yes): the operator is asked before each wave after the
  /// first.
  CampaignEvents(StatusPrinter* printer, CampaignReport* report,
                 const std::string& report_path, CampaignWatch* watch,
                 bool ask)
      : printer_(printer),
        report_(report),
        report_path_(report_path),
        watch_(watch),
        ask_(ask) {}

  void CardStarted(upgrade_target* card) override;
  void CardEnded(upgrade_target* card, CardOutcome outcome,
                 double seconds) override;
  void CardRetried(upgrade_target* card, CardOutcome outcome, double seconds,
                   double delay) override;
  void RetryDropped(upgrade_target* card, const std::string& why) override;
  void StartingStopped(const Stop& stop, int running) override;
  void StartingPaused(bool paused, int running) override;
  void WorkersShort(int started, int wanted) override;
  void WaveEnded(int number, int waves) override;
  bool NextWave(int number, int waves, size_t size) override;
  void Tick(bool last) override;

  /// Writes the card's record to the report, if there is one, and once it
  /// is on disk tells the page; the first failure is said once. Sets
  /// *disk_full, when given, if the record did not fit on the disk.
  void Record(const upgrade_target& card, double seconds,
              bool* disk_full = nullptr);

  /// The same for cards that never ran (skipped by --resume, not started),
  /// all written before one sync: a resumed night of ten thousand done
  /// cards waits for one sync, not ten thousand.
  void RecordNeverRun(const std::vector<upgrade_target*>& cards);

  bool report_failed();
  /// The records that could not be written.
  int records_lost();

  /// From now on a wave's end and a stop go to `hook` too.
  void SendEventsTo(EventHook* hook) { hook_ = hook; }

 private:
  // The records of `cards`, written together and synced once.
  void RecordAll(const std::vector<const upgrade_target*>& cards,
                 double seconds, bool* disk_full);

  StatusPrinter* printer_;
  CampaignReport* report_;
  const std::string report_path_;
  CampaignWatch* watch_;
  const bool ask_;
  EventHook* hook_ = nullptr;
  std::mutex mutex_;  // guards the report and the counts below
  bool report_failed_ = false;
  int records_lost_ = 0;
  // What became of each wave's cards so far.
  struct WaveCounts {
    std::map<CardOutcome, int> ended;  // in the outcomes' order
    int waiting = 0;                   // for a retry
  };
  std::map<int, WaveCounts> waves_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_
