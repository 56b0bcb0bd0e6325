#include "upgrd_util/campaign/event_hook.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Steady = std::chrono::steady_clock;

double SecondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// A hook that hangs: each run lasts its whole time unless it is cut short,
// or is among the runs released. It keeps the input of each run, in the
// order they began.
struct HangingHook {
  bool Run(const ChildLimits& limits, const std::string& input,
           ChildResult* result, std::string* reason) {
    Steady::time_point start = Steady::now();
    std::unique_lock<std::mutex> lock(mutex);
    size_t run = given.size();
    given.push_back(input);
    changed.notify_all();
    auto held = [&] {
      return run >= released && SecondsSince(start) < limits.seconds &&
             !(limits.cut && *limits.cut);
    };
    while (held())
      changed.wait_for(lock, std::chrono::milliseconds(5));
    result->started = true;
    result->seconds = SecondsSince(start);
    result->cut_short = run >= released && result->seconds < limits.seconds;
    result->timed_out = run >= released && !result->cut_short;
    if (result->cut_short)
      cut.push_back(input);
    result->exit_code = 0;
    return child_ended_well(*result, limits.seconds, reason);
  }
  EventHook::Runner Runner() {
    return [this](const std::vector<std::string>&, const std::string& input,
                  const ChildLimits& limits, ChildResult* result,
                  std::string* reason) {
      return Run(limits, input, result, reason);
    };
  }
  void WaitForRuns(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return given.size() >= count; });
  }
  // The first `count` runs end as soon as they may, well.
  void Release(size_t count) {
    std::lock_guard<std::mutex> lock(mutex);
    released = count;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> given;
  std::vector<std::string> cut;
  size_t released = 0;
};

std::string Wave(int number) {
  std::string json = "w";
  json += std::to_string(number);
  return json;
}

ChildLimits Seconds(double seconds) {
  ChildLimits limits;
  limits.seconds = seconds;
  return limits;
}

// The oldest progress makes room; start, stop and end always wait their turn.
TEST(EventHookTest, AFullQueueDropsTheOldestWaveEndAndNeverTheOthers) {
  HangingHook hanging;
  EventHook hook({"hook"}, Seconds(60), hanging.Runner());
  hook.Send("start", "start");
  hanging.WaitForRuns(1);
  for (int wave = 1; wave <= 20; ++wave)
    hook.Send("wave_end", Wave(wave));
  hook.Send("stop", "stop");
  hook.Send("end", "end");
  hanging.Release(100);
  hook.Finish();
  std::vector<std::string> sent = {"start"};
  for (int wave = 7; wave <= 20; ++wave)
    sent.push_back(Wave(wave));
  sent.push_back("stop");
  sent.push_back("end");
  EXPECT_EQ(sent, hanging.given);
  EXPECT_NE("", hook.Unsaid());
}

// Through 20 waves the hook hangs; once the cards have ended the wave_end
// under way is cut short after its tenth, those waiting are not sent, and
// the end event has its time: about one time limit, not sixteen.
TEST(EventHookTest, AHookThatHangsStillGetsTheEndWithinAboutOneTimeLimit) {
  HangingHook hanging;
  const double limit = 2;
  EventHook hook({"hook"}, Seconds(limit), hanging.Runner());
  hook.Send("start", "start");
  hanging.WaitForRuns(1);
  for (int wave = 1; wave <= 20; ++wave)
    hook.Send("wave_end", Wave(wave));
  hanging.Release(1);
  // The last card ends while the hook hangs on a wave's end.
  hanging.WaitForRuns(2);
  hook.Send("end", "end");
  Steady::time_point last_card = Steady::now();
  hook.Finish();
  double waited = SecondsSince(last_card);
  EXPECT_EQ(std::vector<std::string>({"start", "w5", "end"}), hanging.given);
  EXPECT_EQ(std::vector<std::string>({"w5"}), hanging.cut);
  EXPECT_GE(waited, limit);
  // One limit and its tenth; sixteen limits without the rule.
  EXPECT_LT(waited, 2 * limit);
}

}  // namespace
