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

}  // namespace
