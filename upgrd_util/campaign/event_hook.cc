#include "upgrd_util/campaign/event_hook.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"

std::vector<std::string> command_words(const std::string& command) {
  std::vector<std::string> words;
  size_t at = command.find_first_not_of(" \t");
  while (at != std::string::npos) {
    size_t end = command.find_first_of(" \t", at);
    words.push_back(command.substr(at, end - at));
    at = command.find_first_not_of(" \t", end);
  }
  return words;
}

EventHook::EventHook(std::vector<std::string> command, ChildLimits limits,
                     Runner run)
    : command_(std::move(command)), limits_(limits), run_(std::move(run)) {
  try {
    thread_ = std::thread(&EventHook::Work, this);
  } catch (const std::system_error&) {
    // Without its thread every event is dropped, and that is said.
  }
}

EventHook::~EventHook() {
  Finish();
}

bool EventHook::Droppable(const std::string& kind) {
  return kind == "wave_end";
}

bool EventHook::DroppableLeft() const {
  return running_droppable_ ||
         std::any_of(waiting_.begin(), waiting_.end(),
                     [](const Event& e) { return Droppable(e.kind); });
}

void EventHook::Send(const char* kind, const std::string& json) {
  std::string dropped;
  bool queued = false;
  bool working = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    working = thread_.joinable() && !finishing_;
    if (working && waiting_.size() >= kMaxWaiting) {
      // The oldest progress makes room: start, stop and end are what an
      // alert is for.
      auto oldest = std::find_if(
          waiting_.begin(), waiting_.end(),
          [](const Event& e) { return Droppable(e.kind); });
      if (oldest != waiting_.end()) {
        dropped = oldest->kind;
        waiting_.erase(oldest);
      }
    }
    if (working && (waiting_.size() < kMaxWaiting || !Droppable(kind))) {
      waiting_.push_back({kind, json});
      wake_.notify_all();
      queued = true;
    }
  }
  std::string full = std::to_string(kMaxWaiting) +
                     " events were waiting for the event hook already.";
  if (!dropped.empty())
    NotSent(dropped, full);
  if (!queued)
    NotSent(kind, working ? full : "the event hook could not be run.");
}

void EventHook::SayWith(std::function<void(const std::string&)> say) {
  std::lock_guard<std::mutex> lock(mutex_);
  say_ = std::move(say);
}

std::string EventHook::Unsaid() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string line;
  line.swap(unsaid_);
  return line;
}

void EventHook::Finish() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finishing_ = true;
    wake_.notify_all();
    auto share = std::chrono::duration<double>(limits_.seconds / 10);
    wake_.wait_for(lock, share, [this] { return !DroppableLeft(); });
    late_ = true;
  }
  if (thread_.joinable())
    thread_.join();
}

void EventHook::Work() {
  for (;;) {
    Event event;
    bool too_late = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return !waiting_.empty() || finishing_; });
      if (waiting_.empty())
        return;
      event = std::move(waiting_.front());
      waiting_.pop_front();
      too_late = Droppable(event.kind) && late_;
      running_droppable_ = Droppable(event.kind) && !too_late;
    }
    if (too_late)
      NotSent(event.kind, "the cards had ended, and the event hook was "
                          "behind.");
    else
      Run(event);
    std::lock_guard<std::mutex> lock(mutex_);
    running_droppable_ = false;
    wake_.notify_all();
  }
}

void EventHook::Run(const Event& event) {
  ChildLimits limits = limits_;
  // Once the cards have ended, progress waits no longer than its share.
  if (Droppable(event.kind))
    limits.cut = &late_;
  ChildResult result;
  std::string why;
  bool well = run_(command_, event.json, limits, &result, &why);
  // What it printed is text from outside the tool, as a card's is.
  std::string block = "\n*** Event " + event.kind + " ***\n" +
                      readable_text(result.output);
  if (!result.output.empty() && result.output.back() != '\n')
    block += "\n";
  if (result.dropped > 0) {
    block += "(";
    block += std::to_string(result.dropped);
    block += " more bytes of output dropped)\n";
  }
  char ended[64];
  snprintf(ended, sizeof(ended), "in %.1f s", result.seconds);
  block += well ? "The event hook ended well " + std::string(ended) + ".\n"
                : "The event hook failed: it " + why + ".\n";
  log_append_block(block);
  if (!well)
    Failed(event.kind, why);
}

void EventHook::NotSent(const std::string& kind, const std::string& why) {
  log_append_block("\n*** Event " + kind + " ***\nNot sent: " + why + "\n");
  Failed(kind, "was behind, and this event was dropped");
}

void EventHook::Failed(const std::string& kind, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failed_)
    return;
  failed_ = true;
  std::string line = "\tThe event hook failed at the " + kind + " event: it " +
                     why + " (see result.txt; later failures are only "
                     "logged there).\n";
  if (say_)
    say_(line);
  else
    unsaid_ = line;
}
