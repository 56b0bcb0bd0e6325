#include "upgrd_util/output/result_log.h"

#include <cstring>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/platform/test_doubles.h"

namespace {

// How the system stores a text line end, and why it cannot open a directory
// as a file.
#ifdef _WIN32
const char kLineEnd[] = "\r\n";
const char kDirectoryReason[] = "Permission denied";
#else
const char kLineEnd[] = "\n";
const char kDirectoryReason[] = "Is a directory";
#endif

struct ResultLogTest : public testing::Test {
  void SetUp() override {
    Platform seams;
    seams.clock = &clock;
    install_platform(seams);
  }
  void TearDown() override {
    close_result_log();
    install_platform(Platform());
  }
  std::string Stamp() {
    char buffer[kTimestampSize + 10];
    memset(buffer, 'x', sizeof(buffer));
    format_timestamp(buffer);
    EXPECT_LT(strnlen(buffer, sizeof(buffer)), size_t(kTimestampSize));
    return buffer;
  }
  FakeClock clock;
};

TEST_F(ResultLogTest, StampUsesTheTwelveHourClock) {
  clock.Set(2027, 1, 12, 0, 5, 9);  // a Tuesday
  EXPECT_EQ("Tue Jan 12 12:05:09 AM\n", Stamp());
  clock.Set(2027, 1, 12, 12, 5, 0);
  EXPECT_EQ("Tue Jan 12 12:05:00 PM\n", Stamp());
  clock.Set(2027, 1, 12, 23, 59, 59);
  EXPECT_EQ("Tue Jan 12 11:59:59 PM\n", Stamp());
  clock.Set(2027, 1, 12, 11, 59, 59);
  EXPECT_EQ("Tue Jan 12 11:59:59 AM\n", Stamp());
  clock.Set(2027, 1, 12, 13, 0, 0);
  EXPECT_EQ("Tue Jan 12 01:00:00 PM\n", Stamp());
}

TEST_F(ResultLogTest, StampPadsADayBelowTenWithABlank) {
  clock.Set(2026, 12, 5, 18, 42, 15);
  EXPECT_EQ("Sat Dec  5 06:42:15 PM\n", Stamp());
  EXPECT_EQ(23u, Stamp().size());
}

TEST_F(ResultLogTest, StampWithoutAClockReadingStaysInItsBuffer) {
  clock.has_time = false;
  EXPECT_EQ("unknown time\n", Stamp());
}

TEST_F(ResultLogTest, EveryOpeningAppendsItsHeaderAndKeepsEarlierRuns) {
  ScopedTempDir dir;
  std::string reason;
  clock.Set(2026, 12, 7, 9, 30, 0);
  ASSERT_TRUE(open_result_log(&reason)) << reason;
  log_printf("first run %d\n", 1);
  log_flush();
  // Flushed entries are in the file while the log is still open.
  EXPECT_EQ("VRN Upgrade Tool v1.6c\nMon Dec  7 09:30:00 AM\n\nfirst run 1\n",
            ReadTextFile("result.txt"));
  // A text file of the system's own kind.
  EXPECT_EQ(0u, ReadFile("result.txt")
                    .find(std::string("VRN Upgrade Tool v1.6c") + kLineEnd));
  close_result_log();
  log_printf("dropped after close\n");

  clock.Set(2026, 12, 7, 21, 0, 1);
  ASSERT_TRUE(open_result_log(&reason)) << reason;
  close_result_log();
  EXPECT_EQ(
      "VRN Upgrade Tool v1.6c\nMon Dec  7 09:30:00 AM\n\nfirst run 1\n"
      "VRN Upgrade Tool v1.6c\nMon Dec  7 09:00:01 PM\n\n",
      ReadTextFile("result.txt"));
}

TEST_F(ResultLogTest, TheHeaderStartsOnALineOfItsOwn) {
  // What an earlier run left: nothing, whole lines, or a line a killed run
  // never finished.
  const char* kEarlier[][2] = {{"", ""},
                               {"done\n", "done\n"},
                               {"Loading OS, please wait ... ",
                                "Loading OS, please wait ... \n"}};
  for (const auto& earlier : kEarlier) {
    ScopedTempDir dir;
    ASSERT_TRUE(WriteFile("result.txt", earlier[0]));
    std::string reason;
    ASSERT_TRUE(open_result_log(&reason)) << reason;
    close_result_log();
    EXPECT_EQ(std::string(earlier[1]) + "VRN Upgrade Tool v1.6c\n" +
                  "Wed Jan 14 06:42:15 PM\n\n",
              ReadTextFile("result.txt"));
  }
}

// A card's journal takes its entries as its block in result.txt shows
// them: no control, no reordering, no line separator, no byte that is not
// UTF-8.
TEST_F(ResultLogTest, AJournalIsCleanedAsTheBlockIs) {
  ScopedTempDir dir;
  AppendFile journal;
  std::string reason;
  ASSERT_TRUE(journal.Open("127.0.0.2_upgrade.txt", &reason)) << reason;
  CardLog log;
  log.journal = &journal;
  {
    ScopedLogRoute route(&log);
    log_printf("%s\n", "\x1b]0;x\x07 \xE2\x80\xAE" "a \xE2\x80\xA8 \xFF\tb");
    log_flush();
  }
  journal.Close();
  EXPECT_EQ("?]0;x? ?a ? \xEF\xBF\xBD\tb\n", ReadFile("127.0.0.2_upgrade.txt"));
}

TEST_F(ResultLogTest, ALogAnotherHolderHasLockedIsLeftAlone) {
  ScopedTempDir dir;
  std::string reason;
  ASSERT_TRUE(open_result_log(&reason)) << reason;
  FILE* first = result_log;
  std::string content = ReadFile("result.txt");
  result_log = nullptr;  // so that the second opening keeps it open
  bool in_use = false;
  EXPECT_FALSE(open_result_log(&reason, &in_use));
  EXPECT_TRUE(in_use);
  EXPECT_FALSE(result_log_is_open());
  EXPECT_EQ(content, ReadFile("result.txt"));
  result_log = first;
}

TEST_F(ResultLogTest, AnUnopenableLogIsReportedWithTheSystemsReason) {
  ScopedTempDir dir;
  ASSERT_TRUE(MakeDirectory("result.txt"));
  std::string reason;
  EXPECT_FALSE(open_result_log(&reason));
  EXPECT_EQ(kDirectoryReason, reason);
  EXPECT_FALSE(result_log_is_open());
}

}  // namespace
