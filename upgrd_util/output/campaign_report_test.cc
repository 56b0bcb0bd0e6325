#include "upgrd_util/output/campaign_report.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Writes records to a report on a disk that fills up, as a file size limit
// shows it; ends with 0 when the report holds only whole records.
void WriteUntilTheDiskIsFull() {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {1000, 1000};
  setrlimit(RLIMIT_FSIZE, &small);
  CampaignReport report("night.jsonl");
  std::string reason;
  if (!report.Open(&reason))
    _exit(2);
  ReportRecord record;
  record.address = "127.0.0.2";
  record.outcome = "upgraded";
  int written = 0;
  while (written < 100 && report.Write(record, &reason))
    ++written;
  std::string text = ReadFile("night.jsonl");
  bool whole = written > 0 && written < 100 && text.back() == '\n' &&
               std::count(text.begin(), text.end(), '\n') == written;
  _exit(whole ? 0 : 1);
}

TEST(CampaignReportTest, ARecordThatDoesNotFitLeavesNoPartOfItself) {
  ScopedTempDir dir;
  EXPECT_EXIT(WriteUntilTheDiskIsFull(), testing::ExitedWithCode(0), "");
}

}  // namespace
