#include "upgrd_util/campaign/status_printer.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct StatusPrinterTest : public ProgramTest {};

TEST_F(StatusPrinterTest, QuickFailuresDoNotShortenTheTimeLeft) {
  // Forty cards one at a time, each at least 270 s of waits.
  StatusPrinter printer(40, 1, false, 270);
  upgrade_target card = {};
  for (int i = 0; i < 3; ++i) {
    printer.Started(card);
    printer.Ended(card, OUTCOME_UNRESPONSIVE, 1);
  }
  EXPECT_EQ("\t0 running, 0 upgraded, 3 failed, 37 waiting, about 168 min 45 s "
            "left",
            printer.StatusLine());
  printer.Started(card);
  printer.Ended(card, OUTCOME_UPGRADED, 300);
  EXPECT_EQ("\t0 running, 1 upgraded, 3 failed, 36 waiting, about 182 min 30 s "
            "left",
            printer.StatusLine());
}

TEST_F(StatusPrinterTest, SaysWhenOnlyTheAppWasLoaded) {
  StatusPrinter printer(3, 3, false, 270);
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

}  // namespace
