#ifndef UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_
#define UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_

#include <atomic>
#include <string>
#include <vector>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/campaign_watch.h"
#include "upgrd_util/campaign/card_endings.h"
#include "upgrd_util/campaign/card_pool.h"
#include "upgrd_util/campaign/event_hook.h"
#include "upgrd_util/campaign/report_writer.h"
#include "upgrd_util/campaign/status_printer.h"
#include "upgrd_util/campaign/wave_question.h"

/// Passes what the cards' pool tells to those it concerns: the console
/// (through the status printer), result.txt, the report, the count of
/// endings, the page and metrics, the event hook and the operator's answer
/// between waves. The rules that decide whether cards start are the
/// pool's (RolloutRules).
class CampaignEvents : public PoolEvents {
 public:
  CampaignEvents(StatusPrinter* printer, ReportWriter* report,
                 CardEndings* endings, CampaignWatch* watch,
                 WaveQuestion* question)
      : printer_(printer),
        report_(report),
        endings_(endings),
        watch_(watch),
        question_(question) {}

  void CardStarted(upgrade_target* card) override;
  void CardEnded(upgrade_target* card, CardOutcome outcome,
                 double seconds) override;
  void CardRetried(upgrade_target* card, CardOutcome outcome, double seconds,
                   double delay) override;
  void CardSoaking(upgrade_target* card, double seconds,
                   double delay) override;
  void SoakStarted(upgrade_target* card) override;
  void RetryDropped(upgrade_target* card, const std::string& why) override;
  void StartingStopped(const Stop& stop, int running) override;
  void StartingPaused(bool paused, int running) override;
  void WorkersShort(int started, int wanted) override;
  void WaveEnded(int number, int waves) override;
  bool NextWave(int number, int waves, size_t size) override;
  void Tick(bool last) override;

  /// Cards that never ran (skipped by --resume, not started), as their
  /// states say: their records written together, then counted and shown.
  void RecordNeverRun(const std::vector<upgrade_target*>& cards);

  /// From now on a wave's end and a stop go to `hook` too; each wave's end
  /// with the end the plan gave it (`planned_wave_ends`, ISO 8601 texts in
  /// the waves' order, empty for none), so that a night drifting from its
  /// plan shows it.
  void SendEventsTo(EventHook* hook,
                    std::vector<std::string> planned_wave_ends) {
    hook_ = hook;
    planned_wave_ends_ = std::move(planned_wave_ends);
  }

 private:
  StatusPrinter* printer_;
  ReportWriter* report_;
  CardEndings* endings_;
  CampaignWatch* watch_;
  WaveQuestion* question_;
  std::atomic<int> ended_{0};  // cards, for giving back free memory
  EventHook* hook_ = nullptr;
  std::vector<std::string> planned_wave_ends_;
};

#endif  // UPGRD_UTIL_CAMPAIGN_CAMPAIGN_EVENTS_H_
