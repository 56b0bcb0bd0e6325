#include "upgrd_util/campaign/card_pool.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/platform.h"

CardPool::CardPool(std::vector<upgrade_target*> cards,
                   std::vector<size_t> waves, int parallel,
                   CardSequence sequence, RolloutRules* rules,
                   PoolEvents* events)
    : threads_(std::min(cards.size(),
                        static_cast<size_t>(std::max(parallel, 1)))),
      sequence_(sequence),
      events_(events),
      waves_(static_cast<int>(waves.size())),
      scheduler_(std::move(cards), std::move(waves), parallel, rules,
                 platform().clock) {}

void CardPool::Run(int tick_ms) {
  size_t count = threads_;
  // An interrupt wakes every wait of the pool at once.
  InterruptWaker waker([this] {
    std::lock_guard<std::mutex> lock(mutex_);
    Notify();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  workers_ = static_cast<int>(count);
  std::vector<std::unique_ptr<StartedThread>> threads;
  std::string err;
  try {
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      std::unique_ptr<StartedThread> thread =
          starter_->Start([this] { Work(); }, kCardStackBytes, &err);
      if (!thread)
        break;
      threads.push_back(std::move(thread));
    }
  } catch (const std::exception&) {
    // Out of memory (or threads) while starting one: as a refused thread.
  }
  if (threads.size() < count) {
    // Fewer threads take the cards in turn; none leaves them not started.
    workers_ = static_cast<int>(threads.size());
    no_threads_ = threads.empty();
    lock.unlock();
    events_->WorkersShort(workers_, static_cast<int>(count));
    lock.lock();
  }
  for (;;) {
    NoteInterrupt(&lock);
    NoteStopFile(&lock);
    CloseWaves(&lock);
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
  threads.clear();  // joins them
  // Cards still waiting to be tried again end as their last try did.
  std::string why = "Not tried again: no further card was started (" +
                    stop_reason_text(scheduler_.stop()) + ").";
  for (const NightScheduler::Retry& retry : scheduler_.retries()) {
    events_->RetryDropped(retry.card, why);
    events_->CardEnded(retry.card, retry.outcome, retry.seconds);
  }
  // And cards whose check after the soak an interrupt left undone.
  for (const NightScheduler::Retry& soak : scheduler_.unsoaked()) {
    events_->RetryDropped(soak.card,
                          "Not checked again after the soak: interrupted.");
    events_->CardEnded(soak.card, soak.outcome, soak.seconds);
  }
  events_->Tick(true);
}

std::vector<upgrade_target*> CardPool::NeverStarted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return scheduler_.NeverStarted();
}

Stop CardPool::stop() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (no_threads_)
    return {STOP_NO_THREADS};
  return scheduler_.stop();
}

void CardPool::Pause(bool paused) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!scheduler_.Pause(paused))
    return;
  // Told before the lock is let go, as a start is: a resume is said
  // before the cards it lets start.
  events_->StartingPaused(paused, scheduler_.running());
  Notify();
}

void CardPool::StopFileFound() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_file_ = true;
  Notify();
}

// Takes the cards the scheduler gives until it gives none any more.
void CardPool::Work() {
  Clock* clock = platform().clock;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    NoteInterrupt(&lock);
    NoteStopFile(&lock);
    Turn turn = scheduler_.Next();
    TellStop(&lock);
    if (turn.over)
      break;
    if (!turn.card) {
      if (std::isinf(turn.until))
        wake_.wait(lock);
      else
        clock->WaitFor(&wake_, &lock,
                       static_cast<int>(std::max(
                           (turn.until - clock->Seconds()) * 1000, 0.0)) +
                           1);
      continue;
    }
    RunTurn(turn, &lock);
    TellStop(&lock);
    Notify();
  }
  --workers_;
  Notify();
}

void CardPool::RunTurn(const Turn& turn, std::unique_lock<std::mutex>* lock) {
  Clock* clock = platform().clock;
  upgrade_target* card = turn.card;
  if (turn.soak) {
    events_->SoakStarted(card);
    lock->unlock();
    CardOutcome outcome = soak_check_(card);
    events_->CardEnded(card, outcome, turn.seconds);
    lock->lock();
    scheduler_.SoakEnded(card, outcome);
    return;
  }
  // Told before the lock is let go, so that cards are said to start in
  // the order they do.
  events_->CardStarted(card);
  Notify();
  lock->unlock();
  double start = clock->Seconds();
  CardOutcome outcome = sequence_(card);
  double taken = clock->Seconds() - start;
  lock->lock();
  std::string why_not;
  double delay = scheduler_.RetryDelay(*card, outcome, &why_not);
  bool soaks = delay <= 0 && scheduler_.Soaks(outcome);
  double soak = scheduler_.SoakAfter();
  lock->unlock();
  if (delay > 0) {
    events_->CardRetried(card, outcome, taken, delay);
  } else if (soaks) {
    events_->CardSoaking(card, taken, soak);
  } else {
    if (!why_not.empty())
      events_->RetryDropped(card, why_not);
    events_->CardEnded(card, outcome, taken);
  }
  lock->lock();
  scheduler_.TryEnded(card, outcome, taken, delay);
}

void CardPool::CloseWaves(std::unique_lock<std::mutex>* lock) {
  // Each wave is weighed once, in order.
  while (int number = scheduler_.WaveToClose()) {
    lock->unlock();
    events_->WaveEnded(number, waves_);
    lock->lock();
    bool ask = scheduler_.CloseWave();
    TellStop(lock);
    Notify();
    if (!ask)
      return;
    lock->unlock();
    bool go_on = events_->NextWave(
        number + 1, waves_,
        scheduler_.WaveSize(number + 1));
    lock->lock();
    // An interrupt, or the stop file, ends the question first.
    NoteInterrupt(lock);
    NoteStopFile(lock);
    scheduler_.WaveAnswered(go_on);
    TellStop(lock);
    Notify();
  }
}

void CardPool::NoteInterrupt(std::unique_lock<std::mutex>* lock) {
  if (interrupted_ || interrupts_received() == 0)
    return;
  interrupted_ = true;
  scheduler_.Interrupted();
  TellStop(lock);
  Notify();
}

void CardPool::NoteStopFile(std::unique_lock<std::mutex>* lock) {
  if (!stop_file_ || stop_file_noted_)
    return;
  stop_file_noted_ = true;
  scheduler_.StopFileFound();
  TellStop(lock);
  Notify();
}

void CardPool::TellStop(std::unique_lock<std::mutex>* lock) {
  Stop stop;
  int running = 0;
  if (!scheduler_.TakeNewStop(&stop, &running))
    return;
  Notify();
  lock->unlock();
  events_->StartingStopped(stop, running);
  lock->lock();
}
