#include "upgrd_util/campaign/card_pool.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"

CardPool::CardPool(std::vector<upgrade_target*> cards, int parallel,
                   int max_failures, CardSequence sequence, PoolEvents* events,
                   int failed_before)
    : cards_(std::move(cards)),
      parallel_(parallel),
      max_failures_(max_failures),
      sequence_(sequence),
      events_(events),
      failed_(failed_before) {}

void CardPool::Run(int tick_ms) {
  size_t count = std::min(cards_.size(), static_cast<size_t>(parallel_));
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
  while (workers_ > 0) {
    // Noticed here too, while every card's thread is busy.
    NoteInterrupt(&lock);
    lock.unlock();
    events_->Tick(false);
    lock.lock();
    if (workers_ > 0)
      wake_.wait_for(lock, std::chrono::milliseconds(tick_ms));
  }
  lock.unlock();
  for (std::thread& thread : threads)
    thread.join();
  // Cards still waiting to be tried again end as their last try did.
  for (const Retry& retry : retries_)
    events_->CardEnded(retry.card, retry.outcome, retry.seconds);
  retries_.clear();
  events_->Tick(true);
}

// Takes cards until there is none left or no further card may start.
void CardPool::Work() {
  block_interrupts_here();
  const Platform shared = platform();
  std::unique_lock<std::mutex> lock(mutex_);
  while (upgrade_target* card = NextCard(&lock, shared)) {
    ++running_;
    // Told before the lock is let go, so that cards are said to start in
    // the order they do.
    events_->CardStarted(card);
    lock.unlock();
    wake_.notify_all();
    double start = shared.clock->Seconds();
    CardOutcome outcome = sequence_(card);
    double taken = shared.clock->Seconds() - start;
    double delay = events_->RetryAfter(*card, outcome);
    if (delay > 0) {
      events_->CardRetried(card, outcome, taken, delay);
      lock.lock();
      --running_;
      retries_.push_back({card, shared.clock->Seconds() + delay, outcome,
                          taken});
      continue;
    }
    events_->CardEnded(card, outcome, taken);
    bool go_on = events_->MayGoOn();
    lock.lock();
    --running_;
    if (outcome_words(outcome).failure)
      ++failed_;
    if (max_failures_ > 0 && failed_ >= max_failures_)
      StopStarting(STOP_MAX_FAILURES, &lock);
    if (!go_on)
      StopStarting(STOP_BY_RULE, &lock);
    wake_.notify_all();
  }
  --workers_;
  wake_.notify_all();
}

upgrade_target* CardPool::NextCard(std::unique_lock<std::mutex>* lock,
                                   const Platform& shared) {
  for (;;) {
    NoteInterrupt(lock);
    if (stop_starting_)
      return nullptr;
    double now = shared.clock->Seconds();
    auto due = std::min_element(
        retries_.begin(), retries_.end(),
        [](const Retry& a, const Retry& b) { return a.at < b.at; });
    upgrade_target* card = nullptr;
    if (due != retries_.end() && due->at <= now)
      card = due->card;
    else if (next_ < cards_.size())
      card = cards_[next_];
    if (card && !events_->MayStart(*card)) {
      StopStarting(STOP_BY_RULE, lock);
      return nullptr;
    }
    if (card && due != retries_.end() && due->card == card) {
      retries_.erase(due);
      return card;
    }
    if (card) {
      ++next_;
      return card;
    }
    if (retries_.empty())
      return nullptr;
    // Nothing to start before the next retry is due: wait on the run's
    // clock, a second at most, so that interrupts are noticed.
    double wait = std::min(due->at - now, 1.0);
    lock->unlock();
    shared.clock->SleepMs(static_cast<int>(wait * 1000) + 1);
    lock->lock();
  }
}

void CardPool::NoteInterrupt(std::unique_lock<std::mutex>* lock) {
  if (interrupted_ || interrupts_received() == 0)
    return;
  interrupted_ = true;
  StopStarting(STOP_INTERRUPTED, lock);
}

void CardPool::StopStarting(StopReason reason,
                            std::unique_lock<std::mutex>* lock) {
  bool cards_left = next_ < cards_.size();
  bool first = !stop_starting_;
  stop_starting_ = true;
  if (!first || !cards_left)
    return;
  int failed = failed_, running = running_;
  lock->unlock();
  events_->StartingStopped(reason, failed, running);
  lock->lock();
}
