#include "upgrd_util/output/campaign_event.h"

#include <nlohmann/json.hpp>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/platform/console.h"

namespace {

using Json = nlohmann::ordered_json;

// What every event holds first.
Json Event(const char* kind) {
  return Json{{"event", kind},
              {"run_id", readable_text(run_id)},
              {"time", iso_local_time()}};
}

// By the report's words, in the outcomes' order.
Json Counts(const OutcomeCounts& counts) {
  Json object = Json::object();
  for (const auto& [outcome, count] : counts)
    object[outcome_words(outcome).word] = count;
  return object;
}

std::string Line(const Json& event) {
  // Its texts are UTF-8 already (readable_text); replacing stays as a
  // guard, for a dump that throws would lose the event.
  return event.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string start_event_json(size_t cards, size_t listed,
                             const std::vector<std::string>& options,
                             const std::vector<size_t>& waves, bool check) {
  Json event = Event("start");
  event["cards"] = cards;
  event["listed"] = listed;
  Json given = Json::array();
  for (const std::string& option : options)
    given.push_back(readable_text(option));
  event["options"] = given;
  event["waves"] = waves;
  event["dry_run"] = check;
  return Line(event);
}

std::string wave_end_event_json(int wave, int waves,
                                const OutcomeCounts& in_wave,
                                const OutcomeCounts& so_far, int waiting,
                                const std::string& planned_end) {
  Json event = Event("wave_end");
  event["wave"] = wave;
  event["waves"] = waves;
  event["wave_counts"] = Counts(in_wave);
  event["counts"] = Counts(so_far);
  event["waiting_for_retry"] = waiting;
  if (!planned_end.empty())
    event["planned_end"] = planned_end;
  return Line(event);
}

std::string stop_event_json(const std::string& code,
                            const std::string& reason, int running) {
  Json event = Event("stop");
  event["code"] = code;
  event["reason"] = readable_text(reason);
  event["running"] = running;
  return Line(event);
}

std::string pause_event_json(bool paused, int running) {
  Json event = Event(paused ? "pause" : "resume");
  event["running"] = running;
  return Line(event);
}

std::string refused_event_json(const std::string& reason) {
  Json event = Event("refused");
  event["reason"] = readable_text(reason);
  event["run_by"] = readable_text(run_by_user);
  event["host"] = readable_text(run_by_host);
  event["command_line"] = readable_text(command_line);
  event["tool_version"] = readable_text(tool_version);
  return Line(event);
}

std::string end_event_json(const OutcomeCounts& cards,
                           const std::string& code,
                           const std::string& reason, int exit_code) {
  Json event = Event("end");
  event["counts"] = Counts(cards);
  event["stop"] = code.empty()
                      ? Json()
                      : Json{{"code", code}, {"reason", readable_text(reason)}};
  event["exit_code"] = exit_code;
  return Line(event);
}
