#include "upgrd_util/output/campaign_report.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Writes records to a report on a disk that fills up, as a file size limit
// shows it, and once more after room came back; ends with 0 when the report
// holds only whole records, the last right after the others, and reads
// back.
void WriteUntilTheDiskIsFullThenWithRoom() {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  struct rlimit small = limit;
  small.rlim_cur = 1000;
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
  setrlimit(RLIMIT_FSIZE, &limit);
  record.address = "127.0.0.3";
  bool after = report.Write(record, &reason) && report.Sync(&reason);
  std::string text = ReadFile("night.jsonl");
  std::map<std::string, EarlierRecord> back;
  std::string error, warning;
  bool whole = written > 0 && written < 100 && after &&
               text.find('\0') == std::string::npos &&
               std::count(text.begin(), text.end(), '\n') == written + 1 &&
               read_earlier_records("night.jsonl", &back, &error, &warning) &&
               warning.empty() && back.size() == 2;
  _exit(whole ? 0 : 1);
}

// A record with every field set but the interim patch's hash.
ReportRecord FullRecord() {
  ReportRecord record;
  record.address = "127.0.0.2";
  record.user_name = "ad,\"min\"";
  record.outcome = "skipped";
  record.status = 9;
  record.zel_before = "kvn_200.bin";
  record.zel_after = "kvn_203.bin";
  record.start = "2026-12-07T09:30:00+01:00";
  record.end = "2026-12-07T09:35:00+01:00";
  record.seconds = 300.04;
  record.zel_attempts = 2;
  record.app_attempts = 1;
  record.logs_saved = true;
  record.zel_target = "z.bin";
  record.app_target = "a.bin";
  record.run_id = "run-2";
  record.upgraded_in_run = "run-1";
  record.upgraded_at = "2026-12-06T22:00:00+01:00";
  record.done_as = "already_current";
  record.wave = 3;
  record.reason = "r";
  record.tries = 4;
  record.reply = "421 Busy, try later.";
  record.zel_sha256 = std::string(64, 'a');
  record.app_sha256 = std::string(64, 'b');
  record.site = "ops1:/srv/upgrade";
  record.addresses_sha256 = std::string(64, 'c');
  record.group = "rack1";
  record.pair = "P";
  record.run_by = "ops";
  record.host = "ops1";
  record.command_line = "upgrd_util -y --on-event 'night-alert ***'";
  record.tool_version = "VRN Upgrade Tool v1.6c, build 8eb2f81";
  record.pauses = "2026-12-07T09:31:00+01:00/2026-12-07T09:32:00+01:00 "
                  "2026-12-07T09:34:00+01:00/";
  return record;
}

// Every field in its place and of its kind, in both formats, and what a
// later run reads back of it.
TEST(CampaignReportTest, ARecordInEitherFormatAndReadBack) {
  ScopedTempDir dir;
  ReportRecord record = FullRecord();
  struct {
    const char* path;
    std::string text;
  } formats[] = {
      {"r.csv",
       "address,user_name,outcome,status,zel_before,zel_after,start,end,"
       "seconds,zel_attempts,app_attempts,logs_saved,zel_target,app_target,"
       "run_id,upgraded_in_run,upgraded_at,done_as,wave,reason,tries,reply,"
       "zel_sha256,app_sha256,patch_sha256,site,addresses_sha256,group,"
       "pair,run_by,host,command_line,tool_version,pauses\r\n"
       "127.0.0.2,\"ad,\"\"min\"\"\",skipped,9,kvn_200.bin,kvn_203.bin,"
       "2026-12-07T09:30:00+01:00,2026-12-07T09:35:00+01:00,300.0,2,1,true,"
       "z.bin,a.bin,run-2,run-1,2026-12-06T22:00:00+01:00,already_current,"
       "3,r,4,\"421 Busy, try later.\"," +
           std::string(64, 'a') + "," + std::string(64, 'b') +
           ",,ops1:/srv/upgrade," + std::string(64, 'c') +
           ",rack1,P,ops,ops1,upgrd_util -y --on-event 'night-alert ***',"
           "\"VRN Upgrade Tool v1.6c, build 8eb2f81\","
           "2026-12-07T09:31:00+01:00/2026-12-07T09:32:00+01:00 "
           "2026-12-07T09:34:00+01:00/\r\n"},
      {"r.jsonl",
       "{\"address\":\"127.0.0.2\",\"user_name\":\"ad,\\\"min\\\"\","
       "\"outcome\":\"skipped\",\"status\":9,\"zel_before\":\"kvn_200.bin\","
       "\"zel_after\":\"kvn_203.bin\",\"start\":\"2026-12-07T09:30:00+01:00\","
       "\"end\":\"2026-12-07T09:35:00+01:00\",\"seconds\":300.0,"
       "\"zel_attempts\":2,\"app_attempts\":1,\"logs_saved\":true,"
       "\"zel_target\":\"z.bin\",\"app_target\":\"a.bin\",\"run_id\":\"run-2\","
       "\"upgraded_in_run\":\"run-1\","
       "\"upgraded_at\":\"2026-12-06T22:00:00+01:00\","
       "\"done_as\":\"already_current\",\"wave\":3,"
       "\"reason\":\"r\",\"tries\":4,\"reply\":\"421 Busy, try later.\","
       "\"zel_sha256\":\"" + std::string(64, 'a') + "\",\"app_sha256\":\"" +
           std::string(64, 'b') + "\",\"patch_sha256\":\"\","
           "\"site\":\"ops1:/srv/upgrade\",\"addresses_sha256\":\"" +
           std::string(64, 'c') +
           "\",\"group\":\"rack1\",\"pair\":\"P\",\"run_by\":\"ops\","
           "\"host\":\"ops1\",\"command_line\":"
           "\"upgrd_util -y --on-event 'night-alert ***'\",\"tool_version\":"
           "\"VRN Upgrade Tool v1.6c, build 8eb2f81\",\"pauses\":"
           "\"2026-12-07T09:31:00+01:00/2026-12-07T09:32:00+01:00 "
           "2026-12-07T09:34:00+01:00/\"}\n"},
  };
  for (const auto& format : formats) {
    {
      CampaignReport report(format.path);
      std::string reason;
      ASSERT_TRUE(report.Open(&reason)) << reason;
      ASSERT_TRUE(report.Write(record, &reason)) << reason;
    }
    EXPECT_EQ(format.text, ReadFile(format.path));

    std::map<std::string, EarlierRecord> earlier;
    std::string error, warning;
    ASSERT_TRUE(read_earlier_records(format.path, &earlier, &error, &warning))
        << error;
    const EarlierRecord& back = earlier["127.0.0.2"];
    EXPECT_EQ("skipped|z.bin|a.bin|run-2|2026-12-07T09:35:00+01:00|"
              "kvn_203.bin|run-1|2026-12-06T22:00:00+01:00|already_current|"
              "ops1:/srv/upgrade|" + std::string(64, 'c'),
              back.outcome + "|" + back.zel_target + "|" + back.app_target +
                  "|" + back.run_id + "|" + back.end + "|" + back.zel_after +
                  "|" + back.upgraded_in_run + "|" + back.upgraded_at + "|" +
                  back.done_as + "|" + back.site + "|" +
                  back.addresses_sha256)
        << format.path;
  }
}

// What a card names reaches either report as the page shows it: no control
// that reorders a line, no byte that is not UTF-8, no line end.
TEST(CampaignReportTest, CardTextIsCleanedInEitherFormat) {
  ScopedTempDir dir;
  const std::string bad = "\xEF\xBF\xBD";
  struct {
    std::string raw, csv, json;
  } cases[] = {
      {"kvn_\xE2\x80\xAEnib.112", "kvn_?nib.112", "kvn_?nib.112"},
      {"\xE2\x81\xA6z\xD8\x9C", "?z?", "?z?"},
      {"kvn\xFF\xC3", "kvn" + bad + bad, "kvn" + bad + bad},
      {"a\nb,\x1b", "\"a?b,?\"", "a?b,?"},
  };
  for (const auto& c : cases) {
    ReportRecord record;
    record.zel_after = c.raw;
    for (const char* path : {"r.csv", "r.jsonl"}) {
      remove(path);
      {
        CampaignReport report(path);
        std::string reason;
        ASSERT_TRUE(report.Open(&reason)) << reason;
        ASSERT_TRUE(report.Write(record, &reason)) << reason;
      }
      std::string text = ReadFile(path);
      bool csv = std::string(path) == "r.csv";
      std::string field = csv ? ",," + c.csv + ","
                              : "\"zel_after\":\"" + c.json + "\"";
      EXPECT_NE(std::string::npos, text.find(field)) << path << "\n" << text;
    }
  }
}

// A campaign killed before its first record leaves only the part file: a
// later --resume says so, not that the file is missing.
TEST(CampaignReportTest, ResumingFromARunThatWroteNoRecord) {
  ScopedTempDir dir;
  struct {
    bool part_file;  // night.jsonl.part is there
    std::string error;
  } cases[] = {
      {true,
       "there is only night.jsonl.part: the run that wrote it ended before "
       "its first record and nothing is done yet; run without --resume"},
      {false, "cannot read night.jsonl (a regular file is needed)"},
  };
  for (const auto& c : cases) {
    remove("night.jsonl.part");
    if (c.part_file) {
      ASSERT_TRUE(WriteFile("night.jsonl.part", ""));
    }
    std::map<std::string, EarlierRecord> earlier;
    std::string error, warning;
    EXPECT_FALSE(read_earlier_records("night.jsonl", &earlier, &error,
                                      &warning));
    EXPECT_EQ(c.error, error);
  }
}

TEST(CampaignReportTest, ARecordThatDoesNotFitLeavesNoPartOfItself) {
  ScopedTempDir dir;
  EXPECT_EXIT(WriteUntilTheDiskIsFullThenWithRoom(),
              testing::ExitedWithCode(0), "");
}

}  // namespace
