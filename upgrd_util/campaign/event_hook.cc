#include "upgrd_util/campaign/event_hook.h"

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

EventHook::EventHook(std::vector<std::string> command, ChildLimits limits)
    : command_(std::move(command)), limits_(limits) {
  try {
    thread_ = std::thread(&EventHook::Work, this);
  } catch (const std::system_error&) {
    // Without its thread every event is dropped, and that is said.
  }
}

EventHook::~EventHook() {
  Finish();
}

void EventHook::Send(const char* kind, const std::string& json) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable() && !finishing_ && waiting_.size() < kMaxWaiting) {
      waiting_.push_back({kind, json});
      wake_.notify_one();
      return;
    }
  }
  log_append_block("\n*** Event " + std::string(kind) + " ***\n" +
                   "Not sent: " + std::to_string(kMaxWaiting) +
                   " events were waiting for the event hook already.\n");
  Failed(kind, "was behind, and this event was dropped");
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
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable())
    thread_.join();
}

void EventHook::Work() {
  for (;;) {
    Event event;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return !waiting_.empty() || finishing_; });
      if (waiting_.empty())
        return;
      event = std::move(waiting_.front());
      waiting_.pop_front();
    }
    Run(event);
  }
}

void EventHook::Run(const Event& event) {
  ChildResult result;
  std::string why;
  bool well = run_child(command_, event.json, limits_, &result, &why);
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
