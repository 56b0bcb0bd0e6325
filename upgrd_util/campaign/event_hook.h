#ifndef UPGRD_UTIL_CAMPAIGN_EVENT_HOOK_H_
#define UPGRD_UTIL_CAMPAIGN_EVENT_HOOK_H_

#include <atomic>
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
///
/// Only wave_end events, which tell progress, may be dropped: when
/// kMaxWaiting wait, the oldest wave_end goes; start, pause, resume, stop,
/// end and refused are always run, each within its time limit (a pause or
/// a resume is an operator's act, and the pool tells only changes).
class EventHook {
 public:
  /// How one event's command is run: run_child, or a test's double.
  using Runner = std::function<bool(
      const std::vector<std::string>& argv, const std::string& input,
      const ChildLimits& limits, ChildResult* result, std::string* reason)>;

  explicit EventHook(std::vector<std::string> command,
                     ChildLimits limits = ChildLimits(),
                     Runner run = run_child);
  /// Finish()es.
  ~EventHook();

  /// Queues the event `kind` with its JSON and returns at once. An event
  /// dropped is logged as a failure.
  void Send(const char* kind, const std::string& json);

  /// Where the first failure is said from the hook's thread (a status
  /// printer's queue); nullptr: nowhere yet, it waits for Unsaid().
  void SayWith(std::function<void(const std::string& line)> say);

  /// The line of the first failure, when it has not been said yet (once).
  std::string Unsaid();

  /// Called once the cards have ended. The wave_end events waiting, or
  /// under way, get a tenth of a run's time more between them (a hook
  /// that keeps up sends them all); the rest of them are not sent, and
  /// one under way then is cut short. Returns once every other event
  /// queued has been run, each within its time: a hook that hangs delays
  /// the end by about one time limit, for the end event.
  void Finish();

  static const size_t kMaxWaiting = 16;

 private:
  EventHook(const EventHook&) = delete;
  EventHook& operator=(const EventHook&) = delete;

  struct Event {
    std::string kind;
    std::string json;
  };
  // Whether an event of this kind may be dropped: it only tells progress.
  static bool Droppable(const std::string& kind);
  bool DroppableLeft() const;  // under mutex_
  void Work();
  void Run(const Event& event);
  // Logs that the event was not sent, and why, as a failure.
  void NotSent(const std::string& kind, const std::string& why);
  // Says the first failure, or keeps it for Unsaid().
  void Failed(const std::string& kind, const std::string& why);

  const std::vector<std::string> command_;
  const ChildLimits limits_;
  const Runner run_;
  // Set once the cards have ended and the wave_end events' time is spent:
  // one under way is cut short (ChildLimits::cut), the rest not sent.
  std::atomic<bool> late_{false};
  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;  // an event queued, one run, Finish
  std::deque<Event> waiting_;
  bool running_droppable_ = false;
  bool finishing_ = false;
  bool failed_ = false;
  std::string unsaid_;
  std::function<void(const std::string&)> say_;
  std::thread thread_;  // last: it starts once the rest is made
};

#endif  // UPGRD_UTIL_CAMPAIGN_EVENT_HOOK_H_
