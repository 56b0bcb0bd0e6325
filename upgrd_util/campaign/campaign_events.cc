#include "upgrd_util/campaign/campaign_events.h"

#include <algorithm>
#include <cstdio>

#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/platform.h"

void CampaignEvents::CardStarted(upgrade_target* card) {
  if (++card->state.tries == 1)
    card->state.started_at = iso_local_time();
  printer_->Started(*card);
  watch_->Started(*card);
}

void CampaignEvents::CardEnded(upgrade_target* card, CardOutcome outcome,
                               double seconds) {
  card->state.outcome = outcome;
  finish_card_block(*card);
  printer_->Ended(*card, outcome, seconds);
  Record(*card, seconds);
  // Only a card that reached a load says something of the modules.
  std::lock_guard<std::mutex> lock(mutex_);
  if (card->state.zel_attempts > 0 || card->state.app_attempts > 0) {
    ++reached_load_;
    module_failed_ += outcome == OUTCOME_OS_LOAD_FAILED ||
                      outcome == OUTCOME_APP_LOAD_FAILED ||
                      outcome == OUTCOME_LISTING_UNREADABLE;
  }
}

void CampaignEvents::StartingStopped(StopReason reason, int failed,
                                     int running) {
  if (reason == STOP_MAX_FAILURES)
    SetStopReason("the failure limit was reached");
  if (reason == STOP_INTERRUPTED)
    SetStopReason("interrupted");
  printer_->Stopped(reason, failed, running);
}

void CampaignEvents::WorkersShort(int started, int wanted) {
  printer_->WorkersShort(started, wanted);
}

void CampaignEvents::Tick(bool last) {
  std::string said = watch_->Update(last);
  if (!said.empty())
    printer_->Say("\t%s\n", said.c_str());
  printer_->Show(last);
}

// A card starts only when its upgrade can end within the window.
bool CampaignEvents::MayStart(const upgrade_target&) {
  if (window_end <= 0 ||
      platform().clock->Seconds() + card_seconds <= window_end)
    return true;
  SetStopReason("window ended");
  printer_->Say(
      "\tThe window ends before another card's upgrade could: "
      "no further card will be started.\n");
  return false;
}

// Without waves, the failure rate is looked at after each card once five
// cards reached a load.
bool CampaignEvents::MayGoOn() {
  return !rate_per_card || RateHolds(5);
}

// A card that did not answer, or refused its login, before any upload is
// tried again after 5, 10, 20 ... minutes (60 at most), `retries` times.
double CampaignEvents::RetryAfter(const upgrade_target& card,
                                  CardOutcome outcome) {
  bool unreachable =
      outcome == OUTCOME_UNRESPONSIVE || outcome == OUTCOME_LOGIN_FAILED;
  if (!unreachable || card.state.zel_attempts > 0 ||
      card.state.app_attempts > 0 || card.state.tries > retries)
    return 0;
  return std::min(300.0 * (1 << std::min(card.state.tries - 1, 4)), 3600.0);
}

void CampaignEvents::CardRetried(upgrade_target* card, CardOutcome outcome,
                                 double seconds, double delay) {
  printer_->Retried(*card, outcome, seconds, delay);
  watch_->Retried(*card);
}

bool CampaignEvents::RateHolds(int reached) {
  int failed, loads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failed = module_failed_;
    loads = reached_load_;
  }
  if (rate < 0 || loads < reached || failed * 100.0 <= rate * loads)
    return true;
  char why[96];
  snprintf(why, sizeof(why), "the module failure rate went above %g%%", rate);
  SetStopReason(why);
  printer_->Say(
      "\tModule loads failed on %d of %d cards, above %g%%: no "
      "further card will be started.\n",
      failed, loads, rate);
  return false;
}

void CampaignEvents::Record(const upgrade_target& card, double seconds) {
  const char* word = outcome_words(card.state.outcome).word;
  std::string end = card.state.started_at.empty() ? "" : iso_local_time();
  ReportRecord record =
      card_record(card, word, card.state.started_at, end, seconds);
  watch_->Ended(card, seconds);
  std::lock_guard<std::mutex> lock(mutex_);
  std::string reason;
  if (!report_ || report_->Write(record, &reason) || report_failed_)
    return;
  report_failed_ = true;
  printer_->Say("\tCannot write the report %s: %s\n", report_path_.c_str(),
                reason.c_str());
}

void CampaignEvents::SetStopReason(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stop_reason_.empty())
    stop_reason_ = reason;
}

std::string CampaignEvents::stop_reason() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_reason_;
}

bool CampaignEvents::report_failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return report_failed_;
}
