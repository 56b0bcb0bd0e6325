#include "upgrd_util/campaign/campaign_events.h"

#include <algorithm>
#include <cstdio>

#include "upgrd_util/campaign/card_beside_others.h"
#include "upgrd_util/output/campaign_event.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

void CampaignEvents::CardStarted(upgrade_target* card) {
  // The scheduler counted this try as it gave the card.
  if (card->state.tries == 1)
    card->state.started_at = iso_local_time();
  printer_->Started(*card);
  watch_->Started(*card);
}

void CampaignEvents::CardEnded(upgrade_target* card, CardOutcome outcome,
                               double seconds) {
  card->state.outcome = outcome;
  // Its block and its record on disk before the page (Record) and the
  // console say that the card ended: after a power cut, no card said to be
  // done is missing from the report, to be loaded again the next night.
  std::string reason;
  bool full = false;
  if (!finish_card_block(*card, &reason, &full)) {
    card->state.block_lost = true;
    printer_->Say("\tCannot write the block of %s to result.txt: %s\n",
                  card->ip, reason.c_str());
  }
  bool record_full = false;
  Record(*card, seconds, &record_full);
  // Told to the rules as the card ends: no further card starts.
  card->state.disk_full = card->state.disk_full || full || record_full;
  printer_->Ended(*card, outcome, seconds);
  std::lock_guard<std::mutex> lock(mutex_);
  WaveCounts& wave = waves_[card->state.wave];
  ++wave.ended[outcome];
  if (card->state.tries > 1)
    --wave.waiting;
}

void CampaignEvents::CardRetried(upgrade_target* card, CardOutcome outcome,
                                 double seconds, double delay) {
  printer_->Retried(*card, outcome, seconds, delay);
  watch_->Retried(*card, outcome);
  std::lock_guard<std::mutex> lock(mutex_);
  // Waiting from its first retry until it ends.
  waves_[card->state.wave].waiting += card->state.tries == 1;
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
  printer_->Paused(paused, running);
  watch_->Paused(paused);
}

void CampaignEvents::WorkersShort(int started, int wanted) {
  printer_->WorkersShort(started, wanted);
}

void CampaignEvents::WaveEnded(int number, int waves) {
  WaveCounts wave;
  OutcomeCounts so_far;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wave = waves_[number];
    for (const auto& [each, counts] : waves_) {
      for (const auto& [outcome, count] : counts.ended)
        so_far[outcome] += count;
    }
  }
  if (hook_)
    hook_->Send("wave_end", wave_end_event_json(number, waves, wave.ended,
                                                so_far, wave.waiting));
  // By the report's words: "upgraded" counts only cards that were loaded.
  std::string counts;
  for (const auto& [outcome, count] : wave.ended)
    counts += (counts.empty() ? "" : ", ") + std::to_string(count) + " " +
              outcome_words(outcome).word;
  if (wave.waiting > 0)
    counts += (counts.empty() ? "" : ", ") + std::to_string(wave.waiting) +
              " to be tried again";
  printer_->Say("\tWave %d of %d ended: %s.\n", number, waves,
                counts.c_str());
  printer_->Show(true);
}

bool CampaignEvents::NextWave(int number, int waves, size_t size) {
  if (!ask_)
    return true;
  printer_->Say("\tStart wave %d of %d (%d cards)?\n\t1: Go on\n\t3: "
                "Stop\n",
                number, waves, static_cast<int>(size));
  printer_->Show(true);
  console_printf("\tAction: ");
  std::string answer;
  return platform().console->ReadLine(&answer) && answer[0] == '1';
}

void CampaignEvents::Tick(bool last) {
  printer_->Show(last);
}

void CampaignEvents::Record(const upgrade_target& card, double seconds,
                            bool* disk_full) {
  RecordAll({&card}, seconds, disk_full);
}

void CampaignEvents::RecordNeverRun(const std::vector<upgrade_target*>& cards) {
  RecordAll({cards.begin(), cards.end()}, 0, nullptr);
}

void CampaignEvents::RecordAll(const std::vector<const upgrade_target*>& cards,
                               double seconds, bool* disk_full) {
  std::string reason;
  size_t lost = 0;
  if (report_ && !cards.empty()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const upgrade_target* card : cards) {
        const char* word = outcome_words(card->state.outcome).word;
        std::string end =
            card->state.started_at.empty() ? "" : iso_local_time();
        ReportRecord record =
            card_record(*card, word, card->state.started_at, end, seconds);
        // On a full disk a later record may still fit.
        if (!report_->Write(record, &reason)) {
          ++lost;
          if (disk_full)
            *disk_full = report_->full();
        }
      }
    }
    // Outside the lock, so that records of cards ending together can be
    // written while one is synced. Without the sync none of them is sure.
    std::string why;
    if (!report_->Sync(&why)) {
      if (lost == 0)
        reason = why;
      lost = cards.size();
    }
  }
  if (lost > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!report_failed_)
      printer_->Say("\tCannot write the report %s: %s\n",
                    report_path_.c_str(), reason.c_str());
    report_failed_ = true;
    records_lost_ += static_cast<int>(lost);
  }
  for (const upgrade_target* card : cards)
    watch_->Ended(*card, seconds);
}

bool CampaignEvents::report_failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return report_failed_;
}

int CampaignEvents::records_lost() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_lost_;
}
