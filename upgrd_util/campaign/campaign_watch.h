#ifndef UPGRD_UTIL_CAMPAIGN_CAMPAIGN_WATCH_H_
#define UPGRD_UTIL_CAMPAIGN_CAMPAIGN_WATCH_H_

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/campaign/card_endings.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/campaign_view.h"

struct RolloutOptions;
struct Stop;

/// The campaign's HTML page (--html) and metrics file (--metrics), for
/// people and monitoring to look at while the campaign runs: a view of
/// every card, kept as cards start and end, and written anew at most once
/// a second while cards run (at least once a minute), and at the end. Card
/// calls come from the cards' threads; the writes from the beat's own
/// thread, and before and after it from the one that runs the campaign.
class CampaignWatch {
 public:
  /// The counts it shows are those of `endings`.
  CampaignWatch(std::string html, std::string metrics, std::string options,
                bool dry_run, const CardEndings* endings);
  ~CampaignWatch();

  /// Before Begin: the limits the rollout keeps, for the page to show.
  void Limits(const RolloutOptions& rollout, int max_failures);
  /// Before Begin: the report this run resumes from, and its records.
  void Resumed(const std::string& report,
               const std::map<std::string, EarlierRecord>& records);

  /// Before any card: the view of `cards`, all waiting, written once.
  /// Returns false, with the option and the reason in *error, when a file
  /// cannot be written.
  bool Begin(const upgrade_target* cards, std::string* error);

  void Started(const upgrade_target& card);
  /// A try ended so, and the card waits for another.
  void Retried(const upgrade_target& card, CardOutcome outcome);
  /// The card's record is written: it ran, or was skipped or not started.
  void Ended(const upgrade_target& card, double seconds);

  /// Writes both files when a card started or ended since the last time
  /// and a second has passed, when a minute has passed, or at once when
  /// `now`. Returns a line to say
  /// the first time a file cannot be written, else "".
  std::string Update(bool now);

  /// From now until Finish, Update runs each second on a thread of its
  /// own, so that the page and metrics keep their minute whatever the
  /// console or a question does; a line to say goes to `say`, which must
  /// not wait.
  void Beat(std::function<void(const std::string&)> say);

  /// The plan's end of the night, `seconds` from now.
  void Planned(double seconds);

  /// Starting cards was paused, or resumed.
  void Paused(bool paused);

  /// Before Finish: why cards stopped starting (STOP_NONE: they did not).
  void Stopped(const Stop& stop);

  /// Stops the beat, and writes both files as the campaign ends.
  std::string Finish();

 private:
  CardView* Find(const upgrade_target& card);  // mutex_ held
  void StopBeat();
  std::string Write();

  const std::string html_;
  const std::string metrics_;
  const CardEndings* endings_;
  double start_ = 0;  // on the clock's seconds

  std::thread beat_;
  std::mutex beat_mutex_;  // guards stopping_
  std::condition_variable beat_wake_;
  bool stopping_ = false;

  std::mutex mutex_;  // guards the view, and whether it changed
  CampaignView view_;
  std::map<const upgrade_target*, size_t> index_;  // a card's place
  bool changed_ = false;
  double written_at_ = 0;
  bool html_failed_ = false;  // said once
  bool metrics_failed_ = false;
};

#endif  // UPGRD_UTIL_CAMPAIGN_CAMPAIGN_WATCH_H_
