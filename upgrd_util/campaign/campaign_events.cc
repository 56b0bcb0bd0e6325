#include "upgrd_util/campaign/campaign_events.h"

#include "upgrd_util/base/stop_reason.h"
#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/output/campaign_event.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/free_memory.h"

namespace {
const int kCardsPerRelease = 128;
}  // namespace

void CampaignEvents::CardStarted(upgrade_target* card) {
  // The scheduler counted this try as it gave the card.
  if (card->state.tries == 1)
    card->state.started_at = iso_local_time();
  printer_->Started(*card);
  watch_->Started(*card);
}

void CampaignEvents::CardEnded(upgrade_target* card, CardOutcome outcome,
                               double seconds) {
  set_card_end(card, outcome);
  // Its block and its record on disk before the page and the console say
  // that the card ended: after a power cut, no card said to be done is
  // missing from the report, to be loaded again the next night.
  std::string reason;
  bool full = false;
  if (!finish_card_block(*card, &reason, &full)) {
    card->work.block_lost = true;
    printer_->Say("\tCannot write the block of %s to result.txt: %s\n",
                  card->ip, reason.c_str());
  }
  bool record_full = false;
  report_->Write({card}, seconds, &record_full);
  // Told to the rules as the card ends: no further card starts.
  card->work.disk_full = card->work.disk_full || full || record_full;
  endings_->Add(*card, true, seconds);
  watch_->Ended(*card, seconds);
  printer_->Ended(*card, outcome, seconds);
  // Its block is in result.txt and the page keeps what it shows: a night
  // of ten thousand cards would otherwise hold every card's log.
  std::string().swap(card->state.log_text);
  // What the ended cards' sessions held is free but kept by the allocator.
  if (++ended_ % kCardsPerRelease == 0)
    release_free_memory();
}

void CampaignEvents::CardRetried(upgrade_target* card, CardOutcome outcome,
                                 double seconds, double delay) {
  printer_->Retried(*card, outcome, seconds, delay);
  watch_->Retried(*card, outcome);
  endings_->Retried(*card);
}

void CampaignEvents::CardSoaking(upgrade_target* card, double seconds,
                                 double delay) {
  printer_->Soaking(*card, seconds, delay);
  // Its row shows the try that upgraded it; the card waits for its check.
  watch_->Retried(*card, OUTCOME_UPGRADED);
}

void CampaignEvents::SoakStarted(upgrade_target* card) {
  printer_->SoakStarted(*card);
}

void CampaignEvents::RetryDropped(upgrade_target* card,
                                  const std::string& why) {
  card->state.log_text += "\n" + why + "\n";
}

void CampaignEvents::StartingStopped(const Stop& stop, int running) {
  printer_->Stopped(stop, running);
  if (hook_)
    hook_->Send("stop", stop_event_json(stop_reason_code(stop.reason),
                                        stop_reason_text(stop), running));
}

void CampaignEvents::StartingPaused(bool paused, int running) {
  std::string at = iso_local_time();
  printer_->Paused(paused, running);
  // A line of its own in result.txt, between the cards' blocks.
  std::string line =
      paused ? "\nPaused (SIGUSR1) at " + at +
                   ": no card is started until SIGUSR2; " +
                   std::to_string(running) + " still running.\n"
             : "\nResumed (SIGUSR2) at " + at + ": cards are started again.\n";
  log_append_block(line);
  report_->Paused(paused, at);
  watch_->Paused(paused);
  // Never dropped: an operator's act, as rare as the signals that make it.
  if (hook_)
    hook_->Send(paused ? "pause" : "resume", pause_event_json(paused, running));
}

void CampaignEvents::WorkersShort(int started, int wanted) {
  printer_->WorkersShort(started, wanted);
}

void CampaignEvents::WaveEnded(int number, int waves) {
  OutcomeCounts so_far;
  CardEndings::Wave wave = endings_->WaveOf(number, &so_far);
  if (hook_)
    hook_->Send("wave_end",
                wave_end_event_json(
                    number, waves, wave.ended, so_far, wave.waiting,
                    static_cast<size_t>(number) <= planned_wave_ends_.size()
                        ? planned_wave_ends_[number - 1]
                        : ""));
  printer_->WaveEnded(number, waves, wave);
}

bool CampaignEvents::NextWave(int number, int waves, size_t size) {
  return question_->Ask(number, waves, size);
}

void CampaignEvents::Tick(bool last) {
  printer_->Show(last);
}

void CampaignEvents::RecordNeverRun(const std::vector<upgrade_target*>& cards) {
  report_->Write({cards.begin(), cards.end()}, 0, nullptr);
  for (const upgrade_target* card : cards) {
    endings_->Add(*card, false, 0);
    watch_->Ended(*card, 0);
  }
}
