#include "upgrd_util/run/rollout_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "tests/test_support.h"

namespace {

// A local time as the clock gives it: normalised, daylight-saving time
// told.
struct tm LocalTm(int year, int month, int day, int hour, int minute) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  mktime(&t);
  return t;
}

std::vector<WaveSize> Waves(const std::string& text) {
  std::vector<WaveSize> waves;
  std::string error;
  EXPECT_TRUE(parse_waves(text, &waves, &error)) << error;
  return waves;
}

TEST(RolloutOptionsTest, WavesMakeSizesOfTheCards) {
  struct Case {
    const char* waves;
    size_t cards;
    std::vector<size_t> sizes;
  } cases[] = {
      {"1,10%,50%", 100, {1, 10, 50, 39}},
      {"10%", 7, {1, 6}},  // rounded up
      {"33%,33%", 10, {4, 4, 2}},
      {"16.1%", 1000, {161, 839}},  // not 162: no double's rounding
      {"2.5%", 200, {5, 195}},
      {"100%", 5, {5}},
      {"5,5,5", 3, {3}},  // more than the cards
      {"1,1,1,1", 2, {1, 1}},
      {"1", 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.sizes, wave_sizes(Waves(c.waves), c.cards))
        << c.waves << " of " << c.cards;
  }
  EXPECT_EQ(std::vector<size_t>{4}, wave_sizes({}, 4));
  EXPECT_EQ(std::vector<size_t>{}, wave_sizes({}, 0));
}

TEST(RolloutOptionsTest, PlainDecimalsAreRead) {
  std::vector<WaveSize> waves = Waves("1,5%,25.5%,1000000");
  ASSERT_EQ(4u, waves.size());
  EXPECT_FALSE(waves[0].percent);
  EXPECT_EQ(1, waves[0].value);
  EXPECT_TRUE(waves[1].percent);
  EXPECT_EQ(5, waves[1].value);
  EXPECT_EQ(25.5, waves[2].value);
  EXPECT_EQ(1000000, waves[3].value);
  struct Rate {
    const char* text;
    double percent;
  } rates[] = {{"10%", 10}, {"10", 10}, {"2.5", 2.5}, {"0%", 0}, {"100", 100}};
  for (const Rate& r : rates) {
    double percent = -1;
    std::string error;
    EXPECT_TRUE(parse_failure_rate(r.text, &percent, &error)) << error;
    EXPECT_EQ(r.percent, percent) << r.text;
  }
  struct Duration {
    const char* text;
    double seconds;
  } durations[] = {{"90", 90}, {"90s", 90}, {"10m", 600}, {"1h", 3600},
                   {"1s", 1}, {"24h", 86400}, {"1440m", 86400}};
  for (const Duration& d : durations) {
    double seconds = 0;
    std::string error;
    EXPECT_TRUE(parse_duration(d.text, &seconds, &error)) << error;
    EXPECT_EQ(d.seconds, seconds) << d.text;
  }
}

TEST(RolloutOptionsTest, RefusesWhatIsNoPlainNumberOrTime) {
  struct tm now = LocalTm(2026, 12, 7, 9, 30);
  struct Bad {
    const char* option;
    std::string text;
    const char* said;  // besides the text itself
  } bad[] = {
      {"--waves", "nan", "count of cards"},
      {"--waves", "inf", "count of cards"},
      {"--waves", "0x10", "count of cards"},
      {"--waves", "1e2", "count of cards"},
      {"--waves", "-1", "count of cards"},
      {"--waves", "+1", "count of cards"},
      {"--waves", " 1", "count of cards"},
      {"--waves", "99999999999999999999", "1 to 1000000"},
      {"--waves", "1000001", "1 to 1000000"},
      {"--waves", "", "wave 1 "},
      {"--waves", "1,,2", "wave 2 "},
      {"--waves", "1,2,", "wave 3 "},
      {"--waves", "101%", "up to 100%"},
      {"--waves", "0", "count of cards"},
      {"--waves", "0%", "above 0%"},
      {"--waves", "1.5", "count of cards"},
      {"--waves", ".5%", "percentage"},
      {"--waves", "5.%", "percentage"},
      {"--waves", "nan%", "percentage"},
      {"--max-failure-rate", "nan", "0% to 100%"},
      {"--max-failure-rate", "inf%", "0% to 100%"},
      {"--max-failure-rate", "0x10", "0% to 100%"},
      {"--max-failure-rate", "1e2", "0% to 100%"},
      {"--max-failure-rate", "-1", "0% to 100%"},
      {"--max-failure-rate", "101%", "0% to 100%"},
      {"--max-failure-rate", "", "0% to 100%"},
      {"--max-failure-rate", "1.2.3", "0% to 100%"},
      {"--max-failure-rate", "10%%", "0% to 100%"},
      {"--soak", "0", "1 s to 24 h"},
      {"--soak", "0m", "1 s to 24 h"},
      {"--soak", "25h", "1 s to 24 h"},
      {"--soak", "86401", "1 s to 24 h"},
      {"--soak", "1.5h", "1 s to 24 h"},
      {"--soak", "10ms", "1 s to 24 h"},
      {"--soak", "m", "1 s to 24 h"},
      {"--soak", "", "1 s to 24 h"},
      {"--soak", "-5m", "1 s to 24 h"},
      {"--soak", "1d", "1 s to 24 h"},
      {"--not-after", "-1:30", "HH:MM"},
      {"--not-after", "12:-5", "HH:MM"},
      {"--not-after", "5:30", "HH:MM"},
      {"--not-after", "05:30 ", "HH:MM"},
      {"--not-after", "", "HH:MM"},
      {"--not-after", "2026-12-08T05:30Z", "HH:MM"},
      {"--not-after", "24:00", "hours 00 to 23"},
      {"--not-after", "12:60", "minutes and seconds 00 to 59"},
      {"--not-after", "2026-12-08T05:30:60", "minutes and seconds 00 to 59"},
      {"--not-after", "2026-13-45T05:30", "no day of the calendar"},
      {"--not-after", "2026-02-29T05:30", "no day of the calendar"},
      {"--not-after", "2026-04-31T05:30", "no day of the calendar"},
      {"--not-after", "2026-12-07T09:29", "has passed"},
      {"--not-after", "2026-12-07T09:30:00", "has passed"},
      {"--not-after", "1969-07-20T20:17", "has passed"},
  };
  for (const Bad& b : bad) {
    std::string option = b.option;
    std::string error;
    bool read = true;
    if (option == "--waves") {
      std::vector<WaveSize> waves;
      read = parse_waves(b.text, &waves, &error);
    } else if (option == "--soak") {
      double seconds = 0;
      read = parse_duration(b.text, &seconds, &error);
    } else if (option == "--max-failure-rate") {
      double percent = 0;
      read = parse_failure_rate(b.text, &percent, &error);
    } else {
      Deadline deadline;
      read = parse_deadline(b.text, now, &deadline, &error);
    }
    EXPECT_FALSE(read) << option << " " << b.text;
    EXPECT_NE(std::string::npos, error.find("\"" + b.text + "\"")) << error;
    EXPECT_NE(std::string::npos, error.find(b.said)) << error;
    EXPECT_EQ(std::string::npos, error.find('\n')) << error;
  }
  // A leap year has its 29 February.
  Deadline deadline;
  std::string error;
  EXPECT_TRUE(parse_deadline("2028-02-29T05:30", now, &deadline, &error))
      << error;
}

#ifndef _WIN32
TEST(RolloutOptionsTest, DeadlinesFollowTheCalendarAcrossClockChanges) {
  struct Case {
    const char* zone;
    int now[5];  // year, month, day, hour, minute
    const char* text;
    const char* end;  // its text, or what the refusal says
    double seconds;   // from now; 0: refused
  } cases[] = {
      // Berlin: 02:00 becomes 03:00 on 29 March, 03:00 02:00 on 25 October.
      // 8.5 hours on the wall, less the hour skipped; 24 hours on from
      // 05:30 the day before would make 8.5.
      {"Europe/Berlin", {2026, 3, 28, 21, 0}, "05:30",
       "2026-03-29T05:30:00+02:00", 7.5 * 3600},
      {"Europe/Berlin", {2026, 10, 24, 21, 0}, "05:30",
       "2026-10-25T05:30:00+01:00", 9.5 * 3600},
      {"Europe/Berlin", {2026, 3, 28, 21, 0}, "02:30",
       "does not exist on 2026-03-29", 0},
      {"Europe/Berlin", {2026, 3, 29, 1, 0}, "02:30",
       "does not exist on 2026-03-29", 0},
      {"Europe/Berlin", {2026, 3, 29, 4, 0}, "02:30",
       "2026-03-30T02:30:00+02:00", 22.5 * 3600},
      {"Europe/Berlin", {2026, 10, 24, 21, 0}, "02:30",
       "2026-10-25T02:30:00+02:00", 5.5 * 3600},  // the first of two
      {"Europe/Berlin", {2026, 12, 7, 9, 30}, "09:35",
       "2026-12-07T09:35:00+01:00", 300},
      {"Europe/Berlin", {2026, 12, 7, 9, 30}, "09:30",
       "2026-12-08T09:30:00+01:00", 24 * 3600},
      {"Europe/Berlin", {2026, 3, 28, 21, 0}, "2026-03-29T05:30",
       "2026-03-29T05:30:00+02:00", 7.5 * 3600},
      {"Europe/Berlin", {2026, 3, 28, 21, 0}, "2026-03-29T02:30:00",
       "does not exist on 2026-03-29", 0},
      {"Europe/Berlin", {2026, 10, 24, 21, 0}, "2026-10-25T02:30:15",
       "2026-10-25T02:30:15+02:00", 5.5 * 3600 + 15},
      {"Europe/Berlin", {2026, 10, 24, 21, 0}, "2026-10-26T05:30",
       "2026-10-26T05:30:00+01:00", 33.5 * 3600},
      // Lord Howe: half an hour, 02:00 to 02:30 on 4 October, 02:00 to
      // 01:30 on 5 April.
      {"Australia/Lord_Howe", {2026, 10, 3, 21, 0}, "05:30",
       "2026-10-04T05:30:00+11:00", 8 * 3600},
      {"Australia/Lord_Howe", {2026, 10, 3, 21, 0}, "02:15",
       "does not exist on 2026-10-04", 0},
      {"Australia/Lord_Howe", {2026, 4, 4, 21, 0}, "05:30",
       "2026-04-05T05:30:00+10:30", 9 * 3600},
      {"Australia/Lord_Howe", {2026, 4, 4, 21, 0}, "01:45",
       "2026-04-05T01:45:00+11:00", 4.75 * 3600},
      {"Australia/Lord_Howe", {2026, 4, 4, 21, 0}, "2026-04-05T01:45",
       "2026-04-05T01:45:00+11:00", 4.75 * 3600},
      {"UTC", {2026, 12, 7, 9, 30}, "05:30", "2026-12-08T05:30:00+00:00",
       20 * 3600},
      {"UTC", {2026, 12, 31, 23, 0}, "00:30", "2027-01-01T00:30:00+00:00",
       1.5 * 3600},
  };
  // An unknown zone would be taken as UTC without a word.
  for (const char* zone : {"Europe/Berlin", "Australia/Lord_Howe"}) {
    ASSERT_EQ(0, access((std::string("/usr/share/zoneinfo/") + zone).c_str(),
                        R_OK))
        << zone << " is not in the installed tzdata";
  }
  for (const Case& c : cases) {
    ZoneScope zone(c.zone);
    struct tm now =
        LocalTm(c.now[0], c.now[1], c.now[2], c.now[3], c.now[4]);
    struct tm start = now;
    Deadline deadline;
    std::string error;
    bool read = parse_deadline(c.text, now, &deadline, &error);
    if (c.seconds == 0) {
      EXPECT_FALSE(read) << c.zone << " " << c.text;
      EXPECT_NE(std::string::npos, error.find(c.end)) << error;
      continue;
    }
    ASSERT_TRUE(read) << c.zone << " " << c.text << ": " << error;
    EXPECT_EQ(c.end, deadline.text) << c.zone << " " << c.text;
    EXPECT_EQ(c.seconds, difftime(deadline.at, mktime(&start)))
        << c.zone << " " << c.text;
  }
}
#endif

}  // namespace
