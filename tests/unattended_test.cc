// Unattended campaigns: no questions, a dry run, reports read back by
// Python's own csv and json modules, and a rerun of what failed.

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/e2e_support.h"

namespace {

// Every record of a report as Python reads it, a line each:
// address|user_name|outcome|status|zel_before|zel_after|start|end|
// seconds > 0|zel_attempts|app_attempts.
std::string Parsed(const std::string& path) {
  std::string command =
      "/usr/bin/python3 -c '\n"
      "import csv, json, sys\n"
      "path = sys.argv[1]\n"
      "if path.endswith(\".csv\"):\n"
      "    rows = list(csv.DictReader(open(path, newline=\"\")))\n"
      "else:\n"
      "    rows = [json.loads(l) for l in open(path) if l.strip()]\n"
      "for r in sorted(rows, key=lambda r: r[\"address\"]):\n"
      "    print(\"|\".join(str(x) for x in (r[\"address\"], r[\"user_name\"],\n"
      "        r[\"outcome\"], r[\"status\"], r[\"zel_before\"], r[\"zel_after\"],\n"
      "        r[\"start\"], r[\"end\"], float(r[\"seconds\"]) > 0,\n"
      "        r[\"zel_attempts\"], r[\"app_attempts\"])))\n"
      "' " + path + " 2>&1";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
      out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

struct UnattendedTest : public EndToEndTest {
  ToolRun Campaign(const std::vector<std::string>& arguments,
                   RunOptions options = RunOptions()) {
    options.arguments = arguments;
    return RunTool(dir.path, "", 240, options);
  }
};

const char kAt[] = "2026-12-07T09:30:00+00:00";

TEST_F(UnattendedTest, AsksNothingAndTakesPasswordsFromTheEnvironmentOrAFile) {
  Prepare(Numbered(2, 2));
  // No password lines: the environment gives them.
  ASSERT_TRUE(WriteFile("iplist.txt",
                        "SystemIP=127.0.0.2\nSystemUserName=admin\n"
                        "SystemIP=127.0.0.3\nSystemUserName=admin\n"));
  RunOptions options;
  options.environment = {"CARD_PASSWORD=secret"};
  ToolRun run = Campaign({"--yes", "-j", "2", "--password-from-env",
                          "CARD_PASSWORD"},
                         options);
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("Action:"));
  EXPECT_EQ(std::string::npos, run.output.find("Windows XP"));
  EXPECT_EQ(std::string::npos, run.output.find("Press <Enter>"));
  EXPECT_EQ(std::string::npos, run.output.find("secret"));
  EXPECT_EQ(std::string::npos, ReadFile("result.txt").find("secret"));
  EXPECT_NE(std::string::npos, run.output.find("127.0.0.3        upgraded"));
  // No password in the file, no warning about one.
  EXPECT_EQ(std::string::npos, run.output.find("Warning: A file called"));

  // Unset, empty or too long for a card: nothing is done.
  ASSERT_EQ(0, unlink("result.txt"));
  const char* variables[][2] = {
      {"OTHER=secret", "is not set"},
      {"CARD_PASSWORD=", "is empty"},
      {"CARD_PASSWORD=elevenchars", "holds a password"}};
  for (auto& [variable, said] : variables) {
    options.environment = {variable};
    run = Campaign({"-y", "--password-from-env", "CARD_PASSWORD"}, options);
    EXPECT_EQ(2, run.exit_code) << variable;
    EXPECT_NE(std::string::npos,
              run.output.find("CARD_PASSWORD " + std::string(said)))
        << run.output;
    EXPECT_EQ("<missing>", ReadFile("result.txt"));
  }

  // Or from a file only the user can read: the cards, now current, take
  // the login that tells them so.
  ASSERT_TRUE(WriteFile("password", "secret\n"));
  ASSERT_EQ(0, chmod("password", 0600));
  run = Campaign({"-y", "-j", "2", "--password-file", "password"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("127.0.0.3        already "))
      << run.output;
  EXPECT_EQ(std::string::npos, ReadFile("result.txt").find("secret"));
}

TEST_F(UnattendedTest, ADryRunChangesNothingAndSaysWhatAnUpgradeWouldDo) {
  std::vector<Card> cards = Numbered(2, 4);
  // A terminal title sequence in a name must not reach the CSV raw.
  cards[0].zel = "kvn_hw02_zel_203\x1b]0;x\x07.bin";
  cards[1].zel = "kvn_hw02_zel_200.bin";
  cards[2].zel = "kvn_hw02_zel_201.bin";
  cards[3].list_password = "wrong";
  cards.push_back(Card(kSilentAddress));
  Prepare(cards);
  ToolRun run = Campaign({"--yes", "--check", "-j", "5", "--report",
                          "check.csv"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  // The simulated cards received nothing.
  EXPECT_EQ("<missing>", ReadFile(sim_path("uploads")));
  EXPECT_EQ("<missing>", ReadFile("127.0.0.2_data.txt"));
  const char* said[][2] = {
      {"127.0.0.2", "would upgrade"},
      {"127.0.0.3", "would apply the interim patch, then upgrade"},
      {"127.0.0.4", "unknown version: would not be upgraded"},
      {"127.0.0.5", "login failed"},
      {kSilentAddress, "unresponsive"}};
  for (auto& card : said) {
    EXPECT_NE(std::string::npos,
              run.output.find(std::string(card[0]) + " " +
                              std::string(16 - strlen(card[0]), ' ') +
                              card[1] + " in "))
        << card[1];
  }
  std::string at = kAt;
  EXPECT_EQ("127.0.0.2|admin|would_upgrade|0|kvn_hw02_zel_203?]0;x?.bin||" +
                at + "|" + at + "|True|0|0\n"
                "127.0.0.3|admin|would_patch|0|kvn_hw02_zel_200.bin||" + at +
                "|" + at + "|True|0|0\n"
                "127.0.0.4|admin|unknown_version|6|kvn_hw02_zel_201.bin||" +
                at + "|" + at + "|True|0|0\n"
                "127.0.0.5|admin|login_failed|5|||" + at + "|" + at +
                "|True|0|0\n"
                "192.0.2.99|admin|unresponsive|4|||" + at + "|" + at +
                "|True|0|0\n",
            Parsed("check.csv"));
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt").find("Dry run: 2 of 5 cards would be "
                                        "upgraded.\n"));
}

TEST_F(UnattendedTest, BothReportFormatsHoldEveryFieldOfEveryOutcome) {
  // One card each way, one at a time; after the fifth failure the last
  // card is not started.
  std::vector<Card> cards = Numbered(2, 7);
  cards[1].list_password = "wrong";
  cards[2].ip = kSilentAddress;
  cards[3].install = false;
  cards[4].refuse_app = 6;  // both runs
  cards[5].zel = "kvn_hw02_zel_201.bin";
  Prepare(cards);
  std::string at = kAt;
  std::string expected =
      "127.0.0.2|admin|upgraded|1|kvn_hw02_zel_203.bin|kvn_hw02_zel_211.bin|" +
      at + "|" + at + "|True|1|1\n"
      "127.0.0.3|admin|login_failed|5|||" + at + "|" + at + "|True|0|0\n"
      "127.0.0.5|admin|os_load_failed|2|kvn_hw02_zel_203.bin|"
      "kvn_hw02_zel_203.bin|" + at + "|" + at + "|True|3|0\n"
      "127.0.0.6|admin|app_load_failed|3|kvn_hw02_zel_203.bin|"
      "kvn_hw02_zel_211.bin|" + at + "|" + at + "|True|1|3\n"
      "127.0.0.7|admin|unknown_version|6|kvn_hw02_zel_201.bin||" + at + "|" +
      at + "|True|0|0\n"
      "127.0.0.8|admin|not_started|7|||||False|0|0\n"
      "192.0.2.99|admin|unresponsive|4|||" + at + "|" + at + "|True|0|0\n";
  ToolRun run = Campaign({"-y", "-j", "1", "--max-failures", "5", "--report",
                          "night.csv"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_EQ(expected, Parsed("night.csv"));
  // The cards remember the first run: the second finds 211 where it was
  // installed; the rest is as before.
  run = Campaign({"-y", "-j", "1", "--max-failures", "5", "--force",
                  "--report", "night.jsonl"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  std::string again = expected;
  size_t first = again.find("kvn_hw02_zel_203.bin");
  again.replace(first, 20, "kvn_hw02_zel_211.bin");
  size_t sixth = again.find("127.0.0.6|admin|app_load_failed|3|");
  again.replace(again.find("kvn_hw02_zel_203.bin", sixth), 20,
                "kvn_hw02_zel_211.bin");
  EXPECT_EQ(again, Parsed("night.jsonl"));
}

TEST_F(UnattendedTest, AKilledCampaignLeavesAValidReportOfTheEndedCards) {
  Prepare(Numbered(2, 8));
  RunOptions kill;
  // Two at a time: the fourth card starts once two have ended, so at least
  // three have when it ends.
  kill.kill_after = "127.0.0.5        upgraded in ";
  ToolRun run = Campaign({"-y", "-j", "2", "--report", "night.jsonl"}, kill);
  ASSERT_TRUE(run.killed);
  // Every card said to have ended has its record, and the file parses.
  std::string parsed = Parsed("night.jsonl");
  EXPECT_EQ(std::string::npos, parsed.find("Traceback")) << parsed;
  EXPECT_GE(Occurrences(parsed, "\n"), Occurrences(run.output, " in "))
      << parsed;
  EXPECT_GE(Occurrences(parsed, "|upgraded|1|"), 3) << parsed;
  EXPECT_NE(std::string::npos, parsed.find("127.0.0.5|admin|upgraded|1|"));
}

TEST_F(UnattendedTest, CardsSideBySideEachKeepTheirOwnListing) {
  // Sixteen cards at once, each at a version of its own, every fourth one
  // never installing what it is sent: a listing read for the wrong card
  // would show in a version or an outcome.
  std::vector<Card> cards = Numbered(2, 16);
  std::map<std::string, std::string> expected;
  std::string at = kAt;
  for (int i = 0; i < 16; ++i) {
    Card& card = cards[i];
    card.zel = "kvn_hw02_zel_" + std::to_string(220 + i) + ".bin";
    card.install = i % 4 != 3;
    expected[card.ip] =
        card.ip + (card.install ? "|admin|upgraded|1|" + card.zel +
                                      "|kvn_hw02_zel_211.bin|"
                                : "|admin|os_load_failed|2|" + card.zel +
                                      "|" + card.zel + "|") +
        at + "|" + at + (card.install ? "|True|1|1\n" : "|True|3|0\n");
  }
  Prepare(cards);
  ToolRun run = Campaign({"-y", "-j", "16", "--report", "night.jsonl"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  std::string lines;
  for (const auto& [ip, line] : expected)
    lines += line;
  EXPECT_EQ(lines, Parsed("night.jsonl"));
  // Each card's last listing is its own, left in its own file.
  for (const Card& card : cards) {
    std::string zel = card.install ? kZel211 : card.zel;
    EXPECT_NE(std::string::npos,
              ReadFile(card.ip + "_foundfir.txt").find(zel + "\n"))
        << card.ip;
  }
}

TEST_F(UnattendedTest, AResumedCampaignRunsExactlyWhatDidNotSucceed) {
  std::vector<Card> cards = Numbered(2, 5);
  cards[1].list_password = cards[3].list_password = "wrong";
  Prepare(cards);
  ToolRun run = Campaign({"-y", "-j", "5", "--report", "first.csv"});
  EXPECT_EQ(1, run.exit_code);
  // The passwords put right, the campaign runs again for those two.
  std::string list = ReadFile("iplist.txt");
  for (size_t at = list.find("wrong"); at != std::string::npos;
       at = list.find("wrong"))
    list.replace(at, 5, "secret");
  ASSERT_TRUE(WriteFile("iplist.txt", list));
  run = Campaign({"-y", "-j", "5", "--resume", "first.csv", "--report",
                  "second.jsonl"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_EQ(2, Occurrences(run.output, "started\n")) << run.output;
  for (const char* skipped : {"127.0.0.2", "127.0.0.4", "127.0.0.6"}) {
    EXPECT_NE(std::string::npos,
              run.output.find(std::string("\t") + skipped +
                              "        skipped: upgraded in run "));
  }
  std::string parsed = Parsed("second.jsonl");
  EXPECT_NE(std::string::npos, parsed.find("127.0.0.3|admin|upgraded|1|"));
  EXPECT_NE(std::string::npos, parsed.find("127.0.0.5|admin|upgraded|1|"));
  EXPECT_NE(std::string::npos,
            parsed.find("127.0.0.6|admin|skipped|8||kvn_hw02_zel_211.bin|||"
                        "False|0|0\n"));
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt").find("Skipped, done by an earlier "
                                        "campaign:\n\t127.0.0.2\n"));
}

TEST_F(UnattendedTest, BadCombinationsAndReportsDoNothing) {
  Prepare(Numbered(2, 1));
  ASSERT_TRUE(WriteFile("open_quote.csv", "address,outcome\n\"127.0.0.2,x\n"));
  ASSERT_TRUE(WriteFile("short_row.csv", "address,outcome\n127.0.0.2\n"));
  ASSERT_TRUE(WriteFile("not_json.jsonl", "{\"address\":\"127.0.0.2\","
                                          "\"outcome\":\"upgraded\"}\nnope\n"));
  struct Bad {
    std::vector<std::string> arguments;
    const char* named;
  } bad[] = {
      {{"-y", "--report", "night.txt"}, "night.txt"},
      {{"-y", "--check", "--max-failures", "2"}, "--max-failures"},
      {{"-y", "--resume", "missing.csv"}, "missing.csv"},
      {{"-y", "--resume", "open_quote.csv"}, "open_quote.csv, line 2"},
      {{"-y", "--resume", "short_row.csv"}, "short_row.csv, line 2"},
      {{"-y", "--resume", "not_json.jsonl"}, "not_json.jsonl, line 2"},
      {{"-y", "--resume", "r.csv", "--report", "r.csv"}, "--resume"},
      {{"-y", "--password-from-env"}, "--password-from-env"},
      {{"-y", "--password-file", "r.csv"},
       "--password-file: r.csv: group or others can read it"},
      {{"-y", "--password-file", "r.csv", "--password-from-env", "P"},
       "excludes"},
      {{"-y", "--report", "dir.csv"}, "dir.csv: it is a directory"},
      {{"-y", "--resume", "fifo.jsonl"}, "fifo.jsonl"},
      {{"-y", "--resume", "zero.jsonl"}, "zero.jsonl"},
      {{"-y", "--resume", "big.jsonl"}, "big.jsonl is larger than 64 MiB"},
      {{"-y", "--resume", "long.jsonl"}, "long.jsonl, line 2: longer than"},
      {{"-y", "--resume", "r.csv", "--report", "./r.csv"}, "name one file"},
      {{"-y", "--check", "--waves", "1"}, "--check"},
      {{"-y", "--waves", "1,x"}, "--waves"},
      {{"-y", "--not-after", "25:00"}, "--not-after"},
      {{"-y", "--max-failure-rate", "110%"}, "--max-failure-rate"},
      {{"-y", "--resume", "r.csv", "--report", "link.csv"}, "name one file"},
      {{"-y", "--html", "dir.csv"}, "--html: cannot write dir.csv: it is a"},
      {{"-y", "--resume", "far.jsonl"},
       "--resume: far.jsonl is the report of site far:/srv, not of this "
       "site "},
      {{"--plan", "--resume", "far.jsonl"}, "far.jsonl is the report of"},
      {{"-y", "--resume", "far.jsonl", "--site", "near"}, "site far:/srv"},
      {{"-y", "--metrics", "none/m.prom"}, "--metrics: cannot write none/"},
      {{"-y", "--report", "r.csv", "--metrics", "r.csv"}, "name one file"},
      {{"-y", "--report", "r.csv", "--html", "link.csv"}, "name one file"},
  };
  ASSERT_TRUE(WriteFile("r.csv", "address,outcome\n"));
  // Another site's cards at the same addresses.
  ASSERT_TRUE(WriteFile("far.jsonl",
                        "{\"address\":\"127.0.0.2\",\"outcome\":\"upgraded\","
                        "\"zel_target\":\"" + std::string(kZel211) +
                            "\",\"app_target\":\"" + kApp211 +
                            "\",\"site\":\"far:/srv\"}\n"));
  // Nothing that could block, never end or fill the memory is read.
  ASSERT_TRUE(MakeDirectory("dir.csv"));
  ASSERT_EQ(0, symlink("r.csv", "link.csv"));
  ASSERT_EQ(0, mkfifo("fifo.jsonl", 0644));
  ASSERT_EQ(0, symlink("/dev/zero", "zero.jsonl"));
  ASSERT_TRUE(WriteFile("big.jsonl", ""));
  ASSERT_EQ(0, truncate("big.jsonl", 65 << 20));
  ASSERT_TRUE(WriteFile("long.jsonl", "{}\n" + std::string(65 << 10, ' ')));
  for (const Bad& b : bad) {
    ToolRun run = Campaign(b.arguments);
    EXPECT_EQ(2, run.exit_code) << b.named;
    EXPECT_EQ(1, Occurrences(run.output, "\n")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find(b.named)) << run.output;
    EXPECT_EQ("<missing>", ReadFile("result.txt"));
    EXPECT_LT(run.seconds, 30);
  }

  // A record cut short by a killed run is left out, and said so.
  ASSERT_TRUE(WriteFile("torn.jsonl", "{\"address\":\"127.0.0.9\","
                                      "\"outcome\":\"upgraded\"}\n"
                                      "{\"address\":\"127.0.0.2\",\"outc"));
  // (Written before reports named their site: taken as this one's.)
  ToolRun run = Campaign({"-y", "--resume", "torn.jsonl", "--site", "here"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("torn.jsonl, line 2: an unfinished last record, "
                            "left out\n"));
  // Named as that site, its history is this one's.
  run = Campaign({"--plan", "--resume", "far.jsonl", "--site", "far:/srv"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("127.0.0.2        skipped: "))
      << run.output;
}

TEST_F(UnattendedTest, NightAfterNightNoCardIsLoadedTwice) {
  std::vector<Card> cards = Numbered(2, 3);
  cards[2].list_password = "wrong";
  Prepare(cards);
  ToolRun night1 = Campaign({"-y", "-j", "3", "--report", "n1.jsonl"});
  EXPECT_EQ(1, night1.exit_code);
  std::map<std::string, nlohmann::json> n1 = Records("n1.jsonl");
  std::string run1 = n1["127.0.0.2"]["run_id"];
  EXPECT_EQ(run1, n1["127.0.0.4"]["run_id"]);
  EXPECT_EQ(kZel211, n1["127.0.0.2"]["zel_target"]);
  EXPECT_EQ(kApp211, n1["127.0.0.2"]["app_target"]);
  // Whose cards: this host and directory, and the addresses of iplist.txt.
  std::string site = n1["127.0.0.2"]["site"];
  EXPECT_EQ(":" + std::filesystem::canonical(dir.path).string(),
            site.substr(site.find(':')));
  EXPECT_EQ(64u, n1["127.0.0.4"]["addresses_sha256"].get<std::string>().size());

  // Night 2, the password put right: only that card runs.
  std::string list = ReadFile("iplist.txt");
  list.replace(list.find("wrong"), 5, "secret");
  ASSERT_TRUE(WriteFile("iplist.txt", list));
  ToolRun night2 = Campaign(
      {"-y", "-j", "3", "--resume", "n1.jsonl", "--report", "n2.jsonl"});
  EXPECT_EQ(0, night2.exit_code) << night2.output;
  EXPECT_EQ(1, Occurrences(night2.output, "started\n"));

  // Night 3 from night 2's report: nothing is loaded, and the records still
  // know that night 1 did the first two cards.
  std::string uploads = ReadFile(sim_path("uploads"));
  ToolRun night3 = Campaign(
      {"-y", "-j", "3", "--resume", "n2.jsonl", "--report", "n3.jsonl"});
  EXPECT_EQ(0, night3.exit_code) << night3.output;
  EXPECT_EQ(uploads, ReadFile(sim_path("uploads")));
  std::map<std::string, nlohmann::json> n3 = Records("n3.jsonl");
  EXPECT_EQ("skipped", n3["127.0.0.2"]["outcome"]);
  EXPECT_EQ(run1, n3["127.0.0.2"]["upgraded_in_run"]);
  EXPECT_EQ(n1["127.0.0.2"]["end"], n3["127.0.0.2"]["upgraded_at"]);
  EXPECT_EQ(kZel211, n3["127.0.0.2"]["zel_after"]);
  EXPECT_NE(run1, n3["127.0.0.4"]["upgraded_in_run"]);
  EXPECT_NE(run1, n3["127.0.0.2"]["run_id"]);

  // Without a report to resume from, cards that run both modules are left
  // alone, in a dry run too; --force loads them all the same.
  ToolRun check = Campaign({"-y", "--check", "-j", "3"});
  EXPECT_NE(std::string::npos,
            check.output.find("127.0.0.3        already current: it runs "
                              "both modules in "));
  // (A run killed in the middle of a line, before this one.)
  ASSERT_TRUE(WriteFile("127.0.0.3_upgrade.txt",
                        ReadFile("127.0.0.3_upgrade.txt") + "cut off"));
  ToolRun again = Campaign({"-y", "-j", "3", "--report", "n4.jsonl"});
  EXPECT_EQ(0, again.exit_code) << again.output;
  EXPECT_EQ(uploads, ReadFile(sim_path("uploads")));
  EXPECT_EQ("already_current", Records("n4.jsonl")["127.0.0.3"]["outcome"]);
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt")
                .find("\nThe card already runs kvn_hw02_zel_211.bin and "
                      "kvn_hw02_app_211.bin.\n"));
  ToolRun forced = Campaign({"-y", "-j", "3", "--force", "--limit",
                             "127.0.0.3"});
  EXPECT_EQ(0, forced.exit_code) << forced.output;
  EXPECT_NE(uploads, ReadFile(sim_path("uploads")));

  // Every run marks where its entries begin in each journal it uses.
  std::string journal = ReadFile("127.0.0.3_upgrade.txt");
  EXPECT_NE(std::string::npos, journal.find(" campaign " + run1 + "\n"));
  EXPECT_NE(std::string::npos, journal.find(" dry run "));
  EXPECT_EQ(0u, journal.find("2026-12-07T09:30:00+00:00 campaign "));
  EXPECT_NE(std::string::npos,
            journal.find("cut off\n2026-12-07T09:30:00+00:00 campaign "));
}

TEST_F(UnattendedTest, ARecordForOtherModulesLetsTheCardRun) {
  Prepare(Numbered(2, 2));
  ASSERT_TRUE(WriteFile(
      "other.jsonl",
      "{\"address\":\"127.0.0.2\",\"outcome\":\"upgraded\","
      "\"zel_target\":\"kvn_hw02_zel_212.bin\","
      "\"app_target\":\"kvn_hw02_app_211.bin\"}\n"
      "{\"address\":\"127.0.0.3\",\"outcome\":\"upgraded\"}\n"));
  ToolRun run = Campaign({"-y", "--resume", "other.jsonl", "--site", "s"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_EQ(2, Occurrences(run.output, "upgraded in "));
  EXPECT_NE(std::string::npos,
            run.output.find("\t2 cards run again: their records in "
                            "other.jsonl were for other modules.\n"));
}

TEST_F(UnattendedTest, LimitRunsOnlyTheCardsItNames) {
  Prepare(Numbered(2, 4));
  ToolRun run = Campaign({"-y", "--limit", "127.0.0.5, 127.0.0.3", "--report",
                          "some.jsonl"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  std::string parsed = Parsed("some.jsonl");
  EXPECT_EQ(2, Occurrences(parsed, "|upgraded|"));
  EXPECT_EQ(0u, parsed.find("127.0.0.3|")) << parsed;
  EXPECT_NE(std::string::npos, parsed.find("\n127.0.0.5|")) << parsed;
  EXPECT_EQ(std::string::npos, run.output.find("127.0.0.2 "));
  // From a file, one address a line.
  ASSERT_TRUE(WriteFile("few.txt", "127.0.0.4\r\n\n"));
  run = Campaign({"-y", "--limit", "@few.txt", "--report", "few.jsonl"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_EQ(0u, Parsed("few.jsonl").find("127.0.0.4|admin|upgraded|"));
  EXPECT_EQ(1, Occurrences(Parsed("few.jsonl"), "\n"));
  // An address that is no card of the list ends the run before any card.
  const char* wrong[][2] = {
      {"127.0.0.2,127.0.0.9", "--limit: 127.0.0.9 is not a card of iplist"},
      {"@missing.txt", "--limit: cannot read missing.txt"},
      {",", "--limit names no card"}};
  for (auto& [limit, said] : wrong) {
    run = Campaign({"-y", "--limit", limit});
    EXPECT_EQ(2, run.exit_code) << limit;
    EXPECT_NE(std::string::npos, run.output.find(said)) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("started")) << run.output;
  }
}

TEST_F(UnattendedTest, NoFileIsWrittenThroughALink) {
  Prepare(Numbered(2, 2));
  ASSERT_TRUE(WriteFile(sim_dir.path + "/outside", "precious\n"));
  std::string outside = sim_dir.path + "/outside";
  ASSERT_EQ(0, symlink(outside.c_str(), "127.0.0.2_upgrade.txt"));
  ASSERT_EQ(0, symlink(outside.c_str(), "night.jsonl.part"));
  ToolRun run = Campaign({"-y", "-j", "2", "--report", "night.jsonl"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_EQ("precious\n", ReadFile(outside));
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.2        failed: its journal cannot be "
                            "written"));
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt")
                .find("Cannot write the journal 127.0.0.2_upgrade.txt: it is "
                      "a symbolic link. The card was not started.\n"));
  EXPECT_NE(std::string::npos,
            Parsed("night.jsonl").find("127.0.0.3|admin|upgraded|1|"));
}

// A tmpfs of its own at `path` (made here; kept as an absolute path), in a
// mount namespace of the test's own: it runs as root in a user namespace
// (tests/in_netns.sh). Unmounted when the object goes.
struct SmallDisk {
  SmallDisk(const std::string& name, const std::string& size) {
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof(cwd)) ? cwd : ".") + "/" + name;
    mounted = MakeDirectory(path) && unshare(CLONE_NEWNS) == 0 &&
              mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ==
                  0 &&
              mount("tmpfs", path.c_str(), "tmpfs", 0,
                    ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted)
      umount2(path.c_str(), MNT_DETACH);
  }
  // Takes every block left.
  void Fill() {
    int fd = open((path + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    static const char kBlock[4096] = {};
    for (int i = 0; fd >= 0 && i < 10000 &&
                    write(fd, kBlock, sizeof(kBlock)) > 0;
         ++i) {
    }
    if (fd >= 0)
      close(fd);
  }
  void Free() { remove((path + "/filler").c_str()); }

  std::string path;
  bool mounted = false;
};

// The campaign's directory is on a disk that fills up mid-night:
// result.txt, the journals, the listings and saved logs, the report. The
// cards it fails end on the workstation's fault (or lose their block or
// record), never on their own, and nothing is loaded again for them; no
// further card starts; each record and block is whole or missing, the
// summary too, and the console and the summary count what is missing. The
// disk has room again, and the next night resumes from the report and
// finishes the cards.
TEST_F(UnattendedTest, ADiskThatFillsUpStopsTheNightAndTheResumeFinishesIt) {
  SmallDisk disk("small", "2m");
  ASSERT_TRUE(disk.mounted) << strerror(errno);
  ASSERT_EQ(0, chdir(disk.path.c_str()));
  Prepare(Numbered(2, 16));
  RunOptions options;
  options.arguments = {"-y", "-j", "4", "--report", "night.jsonl"};
  options.on_output = {{" upgraded in ", [&] { disk.Fill(); }}};
  ToolRun run = RunTool(disk.path, "", 240, options);
  disk.Free();
  EXPECT_EQ(1, run.exit_code) << run.output;
  size_t stop = run.output.find(
      "\tThe disk is full: no further card will be started; ");
  ASSERT_NE(std::string::npos, stop) << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("started\n", stop))
      << run.output;
  for (const char* blamed : {"login failed", "not loaded", "unresponsive"})
    EXPECT_EQ(std::string::npos, run.output.find(blamed)) << run.output;
  std::string uploads = ReadFile(sim_path("uploads"));
  for (int i = 2; i < 18; ++i) {
    EXPECT_GE(1, CountLines(uploads, "127.0.0." + std::to_string(i) +
                                         " kvn_hw02_zel_211.bin"))
        << uploads;
  }

  // Whole records only; those of the cards not started do not all fit in
  // what is left of the report's last page.
  EXPECT_EQ(std::string::npos, ReadFile("night.jsonl").find('\0'));
  std::string parsed = Parsed("night.jsonl");
  EXPECT_EQ(std::string::npos, parsed.find("Traceback")) << parsed;
  int upgraded = Occurrences(parsed, "|admin|upgraded|1|");
  int records_lost = 16 - Occurrences(parsed, "\n");
  EXPECT_LT(0, records_lost) << parsed;
  EXPECT_NE(std::string::npos,
            run.output.find("\tCannot write the report night.jsonl: No "
                            "space left on device\n"))
      << run.output;
  // What did not fit is counted, on the console and in the summary, which
  // goes in whole or is said to be missing.
  std::string log = ReadFile("result.txt");
  int blocks_lost = Occurrences(run.output, "\tCannot write the block of ");
  EXPECT_EQ(Occurrences(run.output, "started\n") - blocks_lost,
            Occurrences(log, "\n*** Card "))
      << log;
  std::string rule = std::string(60, '*') + "\n";
  bool summary_lost =
      run.output.find("\tThe summary could not be written to result.txt: "
                      "No space left on device.\n") != std::string::npos;
  // No part of it, or all of it to its last line.
  EXPECT_EQ(summary_lost ? std::string::npos : log.size() - rule.size() - 2,
            summary_lost ? log.find(rule) : log.rfind(rule))
      << log;
  for (const auto& [lost, said] :
       {std::pair{records_lost, std::to_string(records_lost) +
                                    " records could not be written to the "
                                    "report.\n"},
        std::pair{blocks_lost, "The blocks of " +
                                   std::to_string(blocks_lost) +
                                   " cards could not be written to "
                                   "result.txt"}}) {
    EXPECT_EQ(lost > 0, run.output.find(said) != std::string::npos)
        << said << run.output;
    EXPECT_EQ(lost > 0 && !summary_lost,
              log.find(said) != std::string::npos)
        << said << log;
  }

  // The next night resumes from it: the cards it holds are skipped, the
  // others upgraded or found current.
  options.arguments = {"-y", "-j", "4", "--resume", "night.jsonl"};
  options.on_output.clear();
  ToolRun resumed = RunTool(disk.path, "", 240, options);
  EXPECT_EQ(0, resumed.exit_code) << resumed.output;
  EXPECT_EQ(upgraded, Occurrences(resumed.output, "skipped: upgraded in run "))
      << resumed.output;
  EXPECT_EQ(std::string::npos, resumed.output.find("failed")) << resumed.output;
  ASSERT_EQ(0, chdir(dir.path.c_str()));
}

}  // namespace
