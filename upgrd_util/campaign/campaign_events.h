#ifndef UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_
#define UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_

#include <mutex>
#include <string>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/campaign_watch.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/output/campaign_report.h"

/// What the cards' pool tells goes to the console (through the status
/// printer), to result.txt, to the report and to the page and metrics; and
/// the rules of a rollout
/// (failure rate, window, retries) that decide whether cards start.
class CampaignEvents : public PoolEvents {
 public:
  CampaignEvents(StatusPrinter* printer, CampaignReport* report,
                 const std::string& report_path, CampaignWatch* watch)
      : printer_(printer),
        report_(report),
        report_path_(report_path),
        watch_(watch) {}

  void CardStarted(upgrade_target* card) override;
  void CardEnded(upgrade_target* card, CardOutcome outcome,
                 double seconds) override;
  void StartingStopped(StopReason reason, int failed, int running) override;
  void WorkersShort(int started, int wanted) override;
  void Tick(bool last) override;
  bool MayStart(const upgrade_target& card) override;
  bool MayGoOn() override;
  double RetryAfter(const upgrade_target& card, CardOutcome outcome) override;
  void CardRetried(upgrade_target* card, CardOutcome outcome, double seconds,
                   double delay) override;

  /// Returns false, having said so, when more than `rate` percent of the
  /// cards that reached a module load (at least `reached` of them) failed
  /// it.
  bool RateHolds(int reached);

  /// Writes the card's record to the report, if there is one; the first
  /// failure is said once.
  void Record(const upgrade_target& card, double seconds);

  /// Why cards stop being started (the first reason given is kept).
  void SetStopReason(const std::string& reason);
  std::string stop_reason();

  bool report_failed();

  // The rules of a rollout, set before the cards start.
  double rate = -1;            // --max-failure-rate in percent; -1: none
  bool rate_per_card = false;  // without waves
  double window_end = 0;       // on the clock's seconds; 0: none
  double card_seconds = 0;     // what a card's upgrade takes
  int retries = 0;             // --retry-unreachable

 private:
  StatusPrinter* printer_;
  CampaignReport* report_;
  const std::string report_path_;
  CampaignWatch* watch_;
  std::mutex mutex_;  // guards the report and the counts below
  bool report_failed_ = false;
  int reached_load_ = 0;
  int module_failed_ = 0;
  std::string stop_reason_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_
