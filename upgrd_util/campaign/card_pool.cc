#include "upgrd_util/campaign/card_pool.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"

CardPool::CardPool(std::vector<upgrade_target*> cards,
                   std::vector<size_t> waves, int parallel,
                   CardSequence sequence, RolloutRules* rules,
                   PoolEvents* events)
    : cards_(std::move(cards)),
      waves_(std::move(waves)),
      parallel_(parallel),
      sequence_(sequence),
      rules_(rules),
      events_(events) {
  size_t at = 0;
  for (size_t wave = 0; wave < waves_.size(); ++wave) {
    for (size_t i = at; i < at + waves_[wave] && i < cards_.size(); ++i)
      cards_[i]->state.wave = static_cast<int>(wave) + 1;
    busy_.push_back(static_cast<int>(waves_[wave]));
    at += waves_[wave];
  }
  wave_end_ = waves_.empty() ? cards_.size() : waves_[0];
}

void CardPool::Run(int tick_ms) {
  size_t count = std::min(cards_.size(), static_cast<size_t>(parallel_));
  // An interrupt wakes every wait of the pool at once.
  InterruptWaker waker([this] {
    std::lock_guard<std::mutex> lock(mutex_);
    Notify();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  workers_ = static_cast<int>(count);
  std::vector<std::thread> threads;
  try {
    for (size_t i = 0; i < count; ++i)
      threads.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // Fewer threads take the cards in turn; none leaves them not started.
    workers_ = static_cast<int>(threads.size());
    lock.unlock();
    events_->WorkersShort(workers_, static_cast<int>(count));
    lock.lock();
  }
  for (;;) {
    NoteInterrupt(&lock);
    NoteStopFile(&lock);
    CloseWave(&lock);
    if (workers_ == 0)
      break;
    lock.unlock();
    events_->Tick(false);
    lock.lock();
    if (workers_ > 0 && !news_)
      wake_.wait_for(lock, std::chrono::milliseconds(tick_ms));
    news_ = false;
  }
  lock.unlock();
  for (std::thread& thread : threads)
    thread.join();
  // Cards still waiting to be tried again end as their last try did.
  std::string why = "Not tried again: no further card was started (" +
                    stop_reason_text(rules_->stop()) + ").";
  for (const Retry& retry : retries_) {
    events_->RetryDropped(retry.card, why);
    events_->CardEnded(retry.card, retry.outcome, retry.seconds);
  }
  retries_.clear();
  events_->Tick(true);
}

std::vector<upgrade_target*> CardPool::NeverStarted() const {
  return std::vector<upgrade_target*>(cards_.begin() + next_, cards_.end());
}

void CardPool::Pause(bool paused) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (paused == paused_ || stop_starting_)
    return;
  paused_ = paused;
  // Told before the lock is let go, as a start is: a resume is said
  // before the cards it lets start.
  events_->StartingPaused(paused, running_);
  Notify();
}

void CardPool::StopFileFound() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_file_ = true;
  Notify();
}

// Takes cards until none can start any more.
void CardPool::Work() {
  const Platform shared = platform();
  std::unique_lock<std::mutex> lock(mutex_);
  while (upgrade_target* card = NextCard(&lock, shared)) {
    ++running_;
    // Told before the lock is let go, so that cards are said to start in
    // the order they do.
    events_->CardStarted(card);
    Notify();
    lock.unlock();
    double start = shared.clock->Seconds();
    CardOutcome outcome = sequence_(card);
    double taken = shared.clock->Seconds() - start;
    lock.lock();
    std::string why_not;
    double delay = rules_->RetryAfter(*card, outcome, &why_not);
    lock.unlock();
    if (delay > 0) {
      events_->CardRetried(card, outcome, taken, delay);
    } else {
      if (!why_not.empty())
        events_->RetryDropped(card, why_not);
      events_->CardEnded(card, outcome, taken);
    }
    lock.lock();
    --running_;
    --busy_[card->state.wave - 1];
    if (delay > 0)
      retries_.push_back({card, shared.clock->Seconds() + delay, outcome,
                          taken});
    else if (!rules_->CardEnded(*card, outcome))
      StopStarting(&lock);
    Notify();
  }
  --workers_;
  Notify();
}

upgrade_target* CardPool::NextCard(std::unique_lock<std::mutex>* lock,
                                   const Platform& shared) {
  for (;;) {
    NoteInterrupt(lock);
    NoteStopFile(lock);
    if (stop_starting_)
      return nullptr;
    if (WaveToWeigh() && !asking_) {
      // Its outcome decides whether anything starts at all.
      wake_.wait(*lock);
      continue;
    }
    if (paused_ && CardsLeft()) {
      // The window counts on while paused: once no card could end within
      // it, none would start at the resume either, and the night ends
      // instead of waiting for one. Looked at each minute of the clock.
      if (!rules_->WindowOpen()) {
        StopStarting(lock);
        return nullptr;
      }
      shared.clock->WaitFor(&wake_, lock, 60000);
      continue;
    }
    double now = shared.clock->Seconds();
    auto due = std::min_element(
        retries_.begin(), retries_.end(),
        [](const Retry& a, const Retry& b) { return a.at < b.at; });
    bool retry = due != retries_.end() && due->at <= now;
    upgrade_target* card = retry                ? due->card
                           : next_ < wave_end_ ? cards_[next_]
                                               : nullptr;
    if (card && !rules_->MayStart(*card)) {
      StopStarting(lock);
      return nullptr;
    }
    if (retry) {
      retries_.erase(due);
      ++busy_[card->state.wave - 1];
      return card;
    }
    if (card) {
      ++next_;
      return card;
    }
    if (!CardsLeft() && running_ == 0)
      return nullptr;
    if (retries_.empty()) {
      // A running card may yet be retried, or the next wave open.
      wake_.wait(*lock);
      continue;
    }
    // Nothing to start before the next retry is due: wait for it on the
    // run's clock, or until something changes.
    shared.clock->WaitFor(&wake_, lock,
                          static_cast<int>((due->at - now) * 1000) + 1);
  }
}

void CardPool::CloseWave(std::unique_lock<std::mutex>* lock) {
  // Each wave is weighed once, in order; a campaign of one wave has no
  // wave to weigh.
  while (!stop_starting_ && WaveToWeigh()) {
    int number = static_cast<int>(wave_) + 1;
    int count = static_cast<int>(waves_.size());
    lock->unlock();
    events_->WaveEnded(number, count);
    lock->lock();
    if (!rules_->WaveEnded(number)) {
      StopStarting(lock);
      return;
    }
    if (wave_ + 1 == waves_.size()) {
      ++wave_;
      Notify();
      return;
    }
    // While the operator is asked, retries that come due may start.
    asking_ = true;
    Notify();
    lock->unlock();
    bool go_on = events_->NextWave(number + 1, count, waves_[wave_ + 1]);
    lock->lock();
    asking_ = false;
    NoteInterrupt(lock);
    // The stop file ends the question as an interrupt does.
    NoteStopFile(lock);
    if (!go_on) {
      rules_->StopBetweenWaves(number);
      StopStarting(lock);
      return;
    }
    ++wave_;
    wave_end_ += waves_[wave_];
    Notify();
  }
}

void CardPool::NoteInterrupt(std::unique_lock<std::mutex>* lock) {
  if (interrupted_ || interrupts_received() == 0)
    return;
  interrupted_ = true;
  rules_->Interrupted();
  StopStarting(lock);
}

void CardPool::NoteStopFile(std::unique_lock<std::mutex>* lock) {
  if (!stop_file_ || stop_file_noted_)
    return;
  stop_file_noted_ = true;
  rules_->StopFileFound();
  StopStarting(lock);
}

void CardPool::StopStarting(std::unique_lock<std::mutex>* lock) {
  bool first = !stop_starting_;
  stop_starting_ = true;
  Notify();
  // An interrupt or the stop file is always answered, even with no card
  // left to start.
  StopReason reason = rules_->stop().reason;
  if (!first || (!CardsLeft() && reason != STOP_INTERRUPTED &&
                 reason != STOP_STOP_FILE))
    return;
  int running = running_;
  Stop stop = rules_->stop();
  lock->unlock();
  events_->StartingStopped(stop, running);
  lock->lock();
}
