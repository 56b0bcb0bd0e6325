#include "upgrd_util/campaign/campaign_watch.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/base/stop_reason.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/output/campaign_metrics.h"
#include "upgrd_util/output/campaign_page.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/replace_file.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/rollout_options.h"

namespace {

// What the page shows of a card's block: its last lines, each bounded, so
// that a card that logged without end cannot swell the page.
const int kTailLines = 12;
const size_t kTailLineBytes = 300;

std::string Tail(const std::string& text) {
  size_t begin = text.size();
  for (int lines = 0; lines < kTailLines && begin > 0; ++lines) {
    size_t newline = begin >= 2 ? text.rfind('\n', begin - 2) : std::string::npos;
    begin = newline == std::string::npos ? 0 : newline + 1;
  }
  std::string tail;
  while (begin < text.size()) {
    size_t end = std::min(text.find('\n', begin), text.size());
    tail.append(text, begin, std::min(end - begin, kTailLineBytes));
    tail += '\n';
    begin = end + 1;
  }
  return tail;
}

}  // namespace

CampaignWatch::CampaignWatch(std::string html, std::string metrics,
                             std::string options, bool dry_run,
                             const CardEndings* endings)
    : html_(std::move(html)), metrics_(std::move(metrics)), endings_(endings) {
  view_.options = std::move(options);
  view_.dry_run = dry_run;
}

void CampaignWatch::Limits(const RolloutOptions& rollout, int max_failures) {
  view_.rate_limit = rollout.max_failure_rate;
  view_.soak = rollout.soak_seconds;
  view_.max_failures = max_failures;
  if (rollout.windowed)
    view_.window_end = rollout.deadline.text;
}

void CampaignWatch::Resumed(
    const std::string& report,
    const std::map<std::string, EarlierRecord>& records) {
  view_.resumed = report;
  std::set<std::string> runs;
  for (const auto& [address, record] : records) {
    if (!record.run_id.empty())
      runs.insert(record.run_id);
  }
  view_.resumed_runs.assign(runs.begin(), runs.end());
}

bool CampaignWatch::Begin(const upgrade_target* cards, std::string* error) {
  start_ = platform().clock->Seconds();
  view_.run_id = run_id;
  view_.run_by = run_by_user;
  view_.host = run_by_host;
  view_.command_line = command_line;
  view_.tool_version = tool_version;
  view_.zel_module = zel_module_name;
  view_.app_module = app_module_name;
  view_.zel_sha256 = zel_module_sha256;
  view_.app_sha256 = app_module_sha256;
  view_.patch_sha256 = patch_module_sha256;
  if (patch_module_sha256[0])
    view_.patch_module = kInterimPatchName;
  view_.started = iso_local_time();
  view_.start_unix = unix_time_now();
  // Without a page or metrics file to write, no card's view is kept: ten
  // thousand cards would hold some 5 MiB for nothing.
  const upgrade_target* viewed =
      html_.empty() && metrics_.empty() ? nullptr : cards;
  for (const upgrade_target* card = viewed; card; card = card->next) {
    index_[card] = view_.cards.size();
    view_.cards.emplace_back();
    view_.cards.back().address = card->ip;
    view_.cards.back().group = card->state.group;
  }
  std::string said = Update(true);
  if (!said.empty())
    *error = said;
  return said.empty();
}

void CampaignWatch::Planned(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  view_.planned_end = iso_local_time(std::lround(seconds));
  view_.planned_seconds = platform().clock->Seconds() - start_ + seconds;
  changed_ = true;
}

CardView* CampaignWatch::Find(const upgrade_target& card) {
  auto found = index_.find(&card);
  return found == index_.end() ? nullptr : &view_.cards[found->second];
}

void CampaignWatch::Started(const upgrade_target& card) {
  double now = platform().clock->Seconds() - start_;
  std::lock_guard<std::mutex> lock(mutex_);
  CardView* view = Find(card);
  if (!view)
    return;
  if (view->start < 0)
    view->start = now;
  view->spans.push_back({now, -1, ""});
  view->running = true;
  view->wave = card.state.wave;
  view->tries = card.state.tries;
  changed_ = true;
}

void CampaignWatch::Retried(const upgrade_target& card, CardOutcome outcome) {
  double now = platform().clock->Seconds() - start_;
  std::lock_guard<std::mutex> lock(mutex_);
  if (CardView* view = Find(card)) {
    view->running = false;
    if (!view->spans.empty()) {
      view->spans.back().end = now;
      view->spans.back().outcome = outcome_words(outcome).word;
    }
    changed_ = true;
  }
}

void CampaignWatch::Ended(const upgrade_target& card, double seconds) {
  double now = platform().clock->Seconds() - start_;
  const OutcomeWords& words = outcome_words(card.state.outcome);
  // The page shows the last lines of a failed card only.
  std::string tail = words.failure ? Tail(card.state.log_text) : "";
  std::lock_guard<std::mutex> lock(mutex_);
  CardView* view = Find(card);
  if (!view)
    return;
  view->outcome = words.word;
  view->said = view_.dry_run ? words.said_dry : words.said;
  if (card.state.outcome == OUTCOME_SKIPPED)
    view->said = skipped_text(card.state.done_as, card.state.upgraded_in_run,
                              card.state.upgraded_at);
  view->failure = words.failure;
  view->running = false;
  if (view->start >= 0)
    view->end = now;
  if (!view->spans.empty() && view->spans.back().end < 0)
    view->spans.back().end = now;
  view->seconds = seconds;
  view->wave = card.state.wave;
  view->tries = card.state.tries;
  view->zel_before = card.state.zel_before;
  view->zel_after = card.state.zel_after;
  view->reason = card.state.reason;
  view->tail = std::move(tail);
  // The counts as the card's row changes, which they counted just before.
  view_.by_outcome.clear();
  for (const auto& [outcome, count] : endings_->All())
    view_.by_outcome[outcome_words(outcome).word] = count;
  view_.loads = endings_->loads();
  view_.load_failures = endings_->load_failures();
  changed_ = true;
}

std::string CampaignWatch::Update(bool now) {
  if (html_.empty() && metrics_.empty())
    return "";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    double at = platform().clock->Seconds();
    // Once a minute at least, so that the last update tells a monitor
    // that the campaign is alive.
    bool due = changed_ ? at - written_at_ >= 1 : at - written_at_ >= 60;
    if (!now && !due)
      return "";
    written_at_ = at;
  }
  return Write();
}

void CampaignWatch::Beat(std::function<void(const std::string&)> say) {
  if (html_.empty() && metrics_.empty())
    return;
  beat_ = std::thread([this, say] {
    Clock* clock = platform().clock;
    std::unique_lock<std::mutex> lock(beat_mutex_);
    while (!stopping_) {
      clock->WaitFor(&beat_wake_, &lock, 1000);
      if (stopping_)
        break;
      lock.unlock();
      std::string said = Update(false);
      if (!said.empty())
        say(said);
      lock.lock();
    }
  });
}

void CampaignWatch::StopBeat() {
  if (!beat_.joinable())
    return;
  {
    std::lock_guard<std::mutex> lock(beat_mutex_);
    stopping_ = true;
    beat_wake_.notify_all();
  }
  beat_.join();
}

CampaignWatch::~CampaignWatch() {
  StopBeat();
}

void CampaignWatch::Paused(bool paused) {
  double now = platform().clock->Seconds() - start_;
  std::lock_guard<std::mutex> lock(mutex_);
  view_.paused = paused;
  changed_ = true;
  std::vector<PauseView>& pauses = view_.pauses;
  if (paused && pauses.size() < kPausesDrawn)
    pauses.push_back({now, -1});
  else if (!paused && !pauses.empty() && pauses.back().end < 0)
    pauses.back().end = now;
}

void CampaignWatch::Stopped(const Stop& stop) {
  std::lock_guard<std::mutex> lock(mutex_);
  view_.stop_kind = stop_reason_code(stop.reason);
  view_.stop_said = stop_page_said(stop, view_.window_end);
}

std::string CampaignWatch::Finish() {
  StopBeat();
  if (html_.empty() && metrics_.empty())
    return "";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    view_.ended = true;
  }
  return Write();
}

// Takes the view as it is, and writes it outside the lock: the cards' threads
// do not wait for the disk.
std::string CampaignWatch::Write() {
  CampaignView view;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_ = false;
    view_.updated = iso_local_time();
    view_.updated_unix = unix_time_now();
    view_.elapsed = platform().clock->Seconds() - start_;
    view = view_;
  }
  // One failure is told at a time; another is told on a later write.
  std::string reason, said;
  if (!html_.empty() && !replace_file(html_, campaign_page(view), &reason) &&
      !std::exchange(html_failed_, true))
    said = "--html: cannot write " + html_ + ": " + reason;
  if (!metrics_.empty() &&
      !replace_file(metrics_, campaign_metrics(view), &reason) &&
      said.empty() && !std::exchange(metrics_failed_, true))
    said = "--metrics: cannot write " + metrics_ + ": " + reason;
  return said;
}
