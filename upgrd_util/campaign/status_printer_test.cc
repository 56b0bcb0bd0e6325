#include "upgrd_util/campaign/status_printer.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct StatusPrinterTest : public ProgramTest {};

TEST_F(StatusPrinterTest, QuickFailuresDoNotShortenTheTimeLeft) {
  // Forty cards one at a time, each at least 270 s of waits.
  CardEndings endings;
  StatusPrinter printer(40, 1, false, 270, &endings);
  upgrade_target card = {};
  set_card_end(&card, OUTCOME_UNRESPONSIVE);
  for (int i = 0; i < 3; ++i) {
    printer.Started(card);
    endings.Add(card, true, 1);
    printer.Ended(card, OUTCOME_UNRESPONSIVE, 1);
  }
  EXPECT_EQ("\t0 running, 0 upgraded, 3 failed, 37 waiting, about 168 min 45 s "
            "left",
            printer.StatusLine());
  printer.Started(card);
  set_card_end(&card, OUTCOME_UPGRADED);
  endings.Add(card, true, 300);
  printer.Ended(card, OUTCOME_UPGRADED, 300);
  EXPECT_EQ("\t0 running, 1 upgraded, 3 failed, 36 waiting, about 182 min 30 s "
            "left",
            printer.StatusLine());
}

TEST_F(StatusPrinterTest, SaysWhenOnlyTheAppWasLoaded) {
  CardEndings endings;
  StatusPrinter printer(3, 3, false, 270, &endings);
  upgrade_target card = {};
  ASSERT_TRUE(set_target_ip(&card, "10.0.0.1"));
  card.state.zel_already_current = true;
  printer.Ended(card, OUTCOME_UPGRADED, 35);
  printer.Ended(card, OUTCOME_APP_LOAD_FAILED, 300);
  card.state.zel_already_current = false;
  printer.Ended(card, OUTCOME_UPGRADED, 400);
  printer.Show(true);
  EXPECT_EQ("\t10.0.0.1         upgraded (APP only, its ZEL was already "
            "current) in 35 s\n"
            "\t10.0.0.1         failed: the APP module was not loaded in "
            "5 min 0 s\n"
            "\t10.0.0.1         upgraded in 6 min 40 s\n",
            console.output);
}

// A card whose modules did not hold says at which step of its check.
TEST_F(StatusPrinterTest, SaysWhereTheCheckAfterTheSoakFailed) {
  CardEndings endings;
  StatusPrinter printer(1, 1, false, 270, &endings);
  upgrade_target card = {};
  ASSERT_TRUE(set_target_ip(&card, "10.0.0.1"));
  card.state.reason = "version: it lists kvn_hw02_zel_210.bin";
  printer.Ended(card, OUTCOME_SOAK_FAILED, 900);
  printer.Show(true);
  EXPECT_EQ("\t10.0.0.1         failed: its check after the soak (version: "
            "it lists kvn_hw02_zel_210.bin) in 15 min 0 s\n",
            console.output);
}

TEST_F(StatusPrinterTest, EachStopIsSaidOnceInItsOwnWords) {
  struct Case {
    Stop stop;
    bool any_started;
    const char* line;
  } cases[] = {
      {{STOP_INTERRUPTED}, true,
       "\tInterrupted: no further card will be started; 2 still running will "
       "finish (interrupt again to end at once).\n"},
      {{STOP_MAX_FAILURES, 5}, true,
       "\t5 cards have failed: no further card will be started.\n"},
      {{STOP_RATE, 3, 12, 10}, true,
       "\tModule loads failed on 3 of 12 cards (25%), above 10%: no further "
       "card will be started.\n"},
      {{STOP_WINDOW}, true,
       "\tThe window ends before another card's upgrade could: no further "
       "card will be started.\n"},
      {{STOP_WINDOW}, false,
       "\tThe window ends before any card's upgrade could: no card will be "
       "started.\n"},
      {{STOP_BETWEEN_WAVES, 0, 0, 0, 2}, true,
       "\tStopped after wave 2: no further card will be started.\n"},
      {{STOP_STOP_FILE, 0, 0, 0, 0, "night.stop"}, true,
       "\tThe stop file night.stop was found: no further card will be "
       "started; 2 still running will finish.\n"},
  };
  for (const Case& c : cases) {
    console.output.clear();
    CardEndings endings;
    StatusPrinter printer(10, 2, false, 270, &endings);
    upgrade_target card = {};
    if (c.any_started)
      printer.Started(card);
    printer.Show(true);
    console.output.clear();
    printer.Stopped(c.stop, 2);
    printer.Show(true);
    EXPECT_EQ(c.line, console.output);
  }
}

}  // namespace
