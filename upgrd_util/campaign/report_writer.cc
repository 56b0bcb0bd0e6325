#include "upgrd_util/campaign/report_writer.h"

#include "upgrd_util/base/card_outcome.h"

namespace {

// A record is a line of bounded length, whatever signals come: the first
// pauses in full, then only how many more.
const int kPausesShown = 32;

}  // namespace

void ReportWriter::Write(const std::vector<const upgrade_target*>& cards,
                         double seconds, bool* disk_full) {
  if (!report_ || cards.empty())
    return;
  std::string reason;
  size_t lost = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const upgrade_target* card : cards) {
      const char* word = outcome_words(card->state.outcome).word;
      std::string end = card->state.started_at.empty() ? "" : iso_local_time();
      ReportRecord record =
          card_record(*card, word, card->state.started_at, end, seconds);
      record.pauses = PausesField();
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
  if (lost == 0)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!failed_)
    printer_->Say("\tCannot write the report %s: %s\n", report_path_.c_str(),
                  reason.c_str());
  failed_ = true;
  records_lost_ += static_cast<int>(lost);
}

void ReportWriter::Paused(bool paused, const std::string& at) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (paused && ++pauses_started_ > kPausesShown)
    return;
  // The pool tells only changes: a resume ends the pause before it.
  if (paused)
    pauses_ += (pauses_.empty() ? "" : " ") + at + "/";
  else if (!pauses_.empty() && pauses_.back() == '/')
    pauses_ += at;
}

std::string ReportWriter::PausesField() const {
  if (pauses_started_ <= kPausesShown)
    return pauses_;
  return pauses_ + " +" + std::to_string(pauses_started_ - kPausesShown) +
         " more";
}

bool ReportWriter::failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

int ReportWriter::records_lost() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_lost_;
}
