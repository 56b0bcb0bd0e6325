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
  events_->Tick(true);
}

// Takes cards until there is none left or no further card may start.
void CardPool::Work() {
  block_interrupts_here();
  const Platform shared = platform();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    NoteInterrupt(&lock);
    if (stop_starting_ || next_ == cards_.size())
      break;
    if (!events_->MayStart(*cards_[next_])) {
      StopStarting(STOP_BY_RULE, &lock);
      break;
    }
    upgrade_target* card = cards_[next_++];
    ++running_;
    lock.unlock();
    events_->CardStarted(card);
    wake_.notify_all();
    double start = shared.clock->Seconds();
    CardOutcome outcome = sequence_(card);
    events_->CardEnded(card, outcome, shared.clock->Seconds() - start);
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
