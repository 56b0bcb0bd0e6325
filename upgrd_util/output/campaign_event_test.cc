#include "upgrd_util/output/campaign_event.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"

namespace {

struct CampaignEventTest : public ProgramTest {};

// Each kind of event as its command reads it: one line of JSON, the
// operator's words escaped and made readable.
TEST_F(CampaignEventTest, EachKindAsOneLineOfJson) {
  snprintf(run_id, sizeof(run_id), "20260114T184215-00ab");
  run_by_user = "ops";
  run_by_host = "ops1";
  command_line = "upgrd_util -y";
  tool_version = "VRN Upgrade Tool v1.6c, build x";
  const std::string head =
      "{\"event\":\"%\",\"run_id\":\"20260114T184215-00ab\","
      "\"time\":\"2026-01-14T18:42:15+00:00\",";
  OutcomeCounts wave = {{OUTCOME_UPGRADED, 2}, {OUTCOME_LOGIN_FAILED, 1}};
  OutcomeCounts all = {{OUTCOME_UPGRADED, 5},
                       {OUTCOME_LOGIN_FAILED, 1},
                       {OUTCOME_NOT_STARTED, 3}};
  struct Case {
    const char* kind;
    std::string json;
    std::string rest;
  } cases[] = {
      {"start",
       start_event_json(9, 10, {"-j", "2", "--limit", "a\"b\x1b[2J\xff"},
                        {1, 8}, false),
       "\"cards\":9,\"listed\":10,\"options\":[\"-j\",\"2\",\"--limit\","
       "\"a\\\"b?[2J\xef\xbf\xbd\"],\"waves\":[1,8],\"dry_run\":false}\n"},
      {"wave_end", wave_end_event_json(2, 3, wave, all, 1, ""),
       "\"wave\":2,\"waves\":3,\"wave_counts\":{\"upgraded\":2,"
       "\"login_failed\":1},\"counts\":{\"upgraded\":5,\"login_failed\":1,"
       "\"not_started\":3},\"waiting_for_retry\":1}\n"},
      {"stop", stop_event_json("max_failures", "the failure limit\nwas", 2),
       "\"code\":\"max_failures\",\"reason\":\"the failure limit\\nwas\","
       "\"running\":2}\n"},
      {"end", end_event_json(all, "window", "window ended", 1),
       "\"counts\":{\"upgraded\":5,\"login_failed\":1,\"not_started\":3},"
       "\"stop\":{\"code\":\"window\",\"reason\":\"window ended\"},"
       "\"exit_code\":1}\n"},
      {"end", end_event_json({{OUTCOME_UPGRADED, 2}}, "", "", 0),
       "\"counts\":{\"upgraded\":2},\"stop\":null,\"exit_code\":0}\n"},
      {"pause", pause_event_json(true, 3), "\"running\":3}\n"},
      {"resume", pause_event_json(false, 0), "\"running\":0}\n"},
      {"refused", refused_event_json("the stop file s is there\x1b[2J"),
       "\"reason\":\"the stop file s is there?[2J\",\"run_by\":\"ops\","
       "\"host\":\"ops1\",\"command_line\":\"upgrd_util -y\","
       "\"tool_version\":\"VRN Upgrade Tool v1.6c, build x\"}\n"},
  };
  for (const Case& c : cases) {
    std::string expected = head;
    expected.replace(expected.find('%'), 1, c.kind);
    EXPECT_EQ(expected + c.rest, c.json);
  }
}

}  // namespace
