#include "upgrd_util/campaign/report_writer.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct ReportWriterTest : public ProgramTest {};

// A card's record is on the disk before the card is said to have ended;
// the records of cards that never ran (skipped, not started) are synced
// once for them all.
TEST_F(ReportWriterTest, EachRecordIsSyncedAndCardsThatNeverRanShareOne) {
  const int kNeverRan = 50;
  std::vector<upgrade_target> cards(kNeverRan + 1);
  std::vector<upgrade_target*> never_ran;
  for (int i = 0; i <= kNeverRan; ++i) {
    snprintf(cards[i].ip, sizeof(cards[i].ip), "10.0.0.%d", i + 1);
    cards[i].state.outcome = i == 0 ? OUTCOME_UPGRADED : OUTCOME_NOT_STARTED;
    if (i > 0)
      never_ran.push_back(&cards[i]);
  }
  CampaignReport report("night.jsonl");
  std::string reason;
  ASSERT_TRUE(report.Open(&reason)) << reason;
  CardEndings endings;
  StatusPrinter printer(cards.size(), 1, false, 0, &endings);
  ReportWriter writer(&report, "night.jsonl", &printer);
  CountingDiskSyncs syncs;

  writer.Write({&cards[0]}, 200, nullptr);
  // The first record before the report takes its name, the name, and then
  // the record as any other.
  EXPECT_EQ("fdf", syncs.Calls());
  writer.Write({never_ran.begin(), never_ran.end()}, 0, nullptr);
  EXPECT_EQ("fdff", syncs.Calls());
  EXPECT_EQ(kNeverRan + 1, Occurrences(ReadFile("night.jsonl"), "\n"));
  EXPECT_FALSE(writer.failed());
}

}  // namespace
