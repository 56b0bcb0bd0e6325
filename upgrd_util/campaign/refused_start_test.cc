#include "upgrd_util/campaign/refused_start.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct RefusedStartTest : public ProgramTest {};

// The reason is the first line said as ending the run, passed on as said.
TEST_F(RefusedStartTest, TheFirstRefusalSaidIsTheReason) {
  {
    RefusalHeard heard;
    console_printf("\tReading iplist.txt\n");
    console_error_printf("\tiplist.txt lists no card.\n\tmore\n");
    console_error_printf("upgrd_util: later\n");
    EXPECT_EQ("iplist.txt lists no card.", heard.line());
  }
  RefusalHeard heard;
  console_error_printf("upgrd_util: --resume: r.csv, line 2: \x1b[2J\n");
  EXPECT_EQ("--resume: r.csv, line 2: ?[2J", heard.line());
  EXPECT_EQ("\tReading iplist.txt\n\tiplist.txt lists no card.\n\tmore\n"
            "upgrd_util: later\nupgrd_util: --resume: r.csv, line 2: "
            "\x1b[2J\n",
            console.output);
}

// The refusal's time goes only into a metrics file this run could have
// written: not one of the tool's own, nor while another run holds the
// directory or the report, whose metrics file it may be.
TEST_F(RefusedStartTest, TheMetricsOnlyWhereThisRunWouldWriteThem) {
  struct {
    const char* metrics;
    bool held_elsewhere;
    bool told;
  } cases[] = {
      {"m.prom", false, true},
      {"m.prom", true, false},
      {"result.txt", false, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteFile(c.metrics, "x 1\n"));
    ToolOptions options;
    NightInputs night;
    night.files.metrics = c.metrics;
    tell_refused_start(options, night, c.held_elsewhere, "why");
    std::string metrics = ReadFile(c.metrics);
    EXPECT_EQ(c.told, metrics.find("\nupgrd_campaign_refused_time_seconds ") !=
                          std::string::npos)
        << c.metrics << " " << c.held_elsewhere << ": " << metrics;
    EXPECT_EQ(0u, metrics.find("x 1\n"));
  }
}

}  // namespace
