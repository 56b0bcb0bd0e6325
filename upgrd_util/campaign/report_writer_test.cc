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

// Each record says the pauses so far, a pause in force open; signals
// without end leave a record of bounded length.
TEST_F(ReportWriterTest, RecordsSayThePausesSoFar) {
  upgrade_target card;
  snprintf(card.ip, sizeof(card.ip), "10.0.0.1");
  card.state.outcome = OUTCOME_NOT_STARTED;
  CampaignReport report("night.jsonl");
  std::string reason;
  ASSERT_TRUE(report.Open(&reason)) << reason;
  CardEndings endings;
  StatusPrinter printer(1, 1, false, 0, &endings);
  ReportWriter writer(&report, "night.jsonl", &printer);
  auto pauses = [&] {
    writer.Write({&card}, 0, nullptr);
    std::string text = ReadFile("night.jsonl");
    size_t last = text.rfind("\"pauses\":\"");
    return text.substr(last + 10, text.find('"', last + 10) - last - 10);
  };
  EXPECT_EQ("", pauses());
  writer.Paused(true, "T1");
  writer.Paused(false, "T2");
  writer.Paused(true, "T3");
  EXPECT_EQ("T1/T2 T3/", pauses());
  writer.Paused(false, "T4");
  for (int i = 0; i < 40; ++i) {
    writer.Paused(true, "TT");
    writer.Paused(false, "TT");
  }
  std::string many = pauses();
  EXPECT_EQ(0u, many.find("T1/T2 T3/T4 TT/TT "));
  EXPECT_EQ(32, Occurrences(many, "/"));
  EXPECT_EQ(many.size() - 9, many.find(" +10 more"));
}

}  // namespace
