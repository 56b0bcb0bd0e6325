#ifndef UPGRD_UTIL_CAMPAIGN_EVENT_HOOK_H_
#define UPGRD_UTIL_CAMPAIGN_EVENT_HOOK_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "upgrd_util/platform/child_process.h"

/// The argument vector of --on-event's value: its words between blanks
/// (spaces, tabs), taken as they are, without quotes, globs or variables.
std::vector<std::string> command_words(const std::string& command);

/// Runs --on-event's command once for each event of a campaign, with the
/// event's JSON on its standard input, on a thread of its own and in the
/// order the events came, so that no card and no console waits for it.
/// Each run's output, and how it ended, go to result.txt as a block of its
/// own; the first failure is said (SayWith), later ones only logged. A
/// failure changes nothing else.
class EventHook {
 public:
  explicit EventHook(std::vector<std::string> command,
                     ChildLimits limits = ChildLimits());
  /// Finish()es.
  ~EventHook();

  /// Queues the event `kind` with its JSON and returns at once. An event
  /// beyond kMaxWaiting waiting is dropped, which is logged as a failure.
  void Send(const char* kind, const std::string& json);

  /// Where the first failure is said from the hook's thread (a status
  /// printer's queue); nullptr: nowhere yet, it waits for Unsaid().
  void SayWith(std::function<void(const std::string& line)> say);

  /// The line of the first failure, when it has not been said yet (once).
  std::string Unsaid();

  /// Returns once every queued event has been run, each within its time.
  void Finish();

  static const size_t kMaxWaiting = 16;

 private:
  EventHook(const EventHook&) = delete;
  EventHook& operator=(const EventHook&) = delete;

  struct Event {
    std::string kind;
    std::string json;
  };
  void Work();
  void Run(const Event& event);
  // Says the first failure, or keeps it for Unsaid().
  void Failed(const std::string& kind, const std::string& why);

  const std::vector<std::string> command_;
  const ChildLimits limits_;
  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  std::deque<Event> waiting_;
  bool finishing_ = false;
  bool failed_ = false;
  std::string unsaid_;
  std::function<void(const std::string&)> say_;
  std::thread thread_;  // last: it starts once the rest is made
};

#endif  // UPGRD_UTIL_CAMPAIGN_EVENT_HOOK_H_
