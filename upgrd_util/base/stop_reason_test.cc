#include "upgrd_util/base/stop_reason.h"

#include <gtest/gtest.h>

namespace {

// Scripts read the codes, and the report, the summary and the page the
// words: each stays as it was, its figures filled in.
TEST(StopReasonTest, EachReasonKeepsItsCodeAndWords) {
  struct {
    Stop stop;
    const char* code;
    const char* text;
    const char* page;
    bool failure;
  } cases[] = {
      {{STOP_NONE}, "", "", "", false},
      {{STOP_INTERRUPTED}, "interrupted", "interrupted",
       "Interrupted: no further card was started", false},
      {{STOP_MAX_FAILURES, 5}, "max_failures",
       "the failure limit was reached",
       "Stopped after 5 cards failed, the limit of --max-failures", true},
      {{STOP_RATE, 1, 3, 10}, "rate",
       "the module failure rate went above 10%",
       "Stopped by the module failure rate: 1 of 3 cards that reached a "
       "module load failed it (33%), above the limit of 10%",
       true},
      {{STOP_WINDOW}, "window", "window ended",
       "The window ended at 05:30: no further card could end within it",
       false},
      {{STOP_BETWEEN_WAVES, 0, 0, 0, 2}, "between_waves",
       "stopped after wave 2", "Stopped after wave 2", false},
      {{STOP_STOP_FILE, 0, 0, 0, 0, "{night}.stop"}, "stop_file", "stop file",
       "Stopped by the stop file {night}.stop: no further card was started",
       false},
      {{STOP_DISK_FULL}, "disk_full", "disk full",
       "The disk is full: no further card was started", true},
      {{STOP_NO_THREADS}, "no_threads", "the system gave no thread to run it",
       "The system gave no thread for the cards: no card was started", true},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.code, stop_reason_code(c.stop.reason)) << c.code;
    EXPECT_EQ(c.text, stop_reason_text(c.stop)) << c.code;
    EXPECT_EQ(c.page, stop_page_said(c.stop, "05:30")) << c.code;
    EXPECT_EQ(c.failure, stop_words(c.stop.reason).failure) << c.code;
  }
}

}  // namespace
