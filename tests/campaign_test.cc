// Campaigns: many simulated cards upgraded at once by the real tool, on the
// fast clock, in a network namespace of the test's own.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/e2e_support.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/sha256.h"

namespace {

// `text` with one card's address replaced by another's: what the dialogue
// logs for one card is what a campaign logs for another of the same kind.
std::string Readdressed(std::string text, const std::string& from,
                        const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A journal of one run without the header line the run writes first.
std::string JournalEntries(const std::string& journal) {
  size_t end = journal.find('\n');
  return end == std::string::npos ? "" : journal.substr(end + 1);
}

// Where the summary begins in `log`, or its end when there is none.
size_t SummaryStart(const std::string& log) {
  size_t failures = log.rfind("\n\n" + std::string(60, '*') + "\n");
  size_t success = log.rfind("All upgrades completed successfully.\n");
  return std::min({failures, success, log.size()});
}

// The blocks of a campaign's result log, by card address.
std::map<std::string, std::string> Blocks(const std::string& log) {
  std::map<std::string, std::string> blocks;
  const std::string opening = "\n*** Card ";
  size_t summary = SummaryStart(log);
  for (size_t at = log.find(opening); at != std::string::npos;) {
    size_t name_end = log.find(" ***\n", at);
    std::string ip = log.substr(at + opening.size(),
                                name_end - at - opening.size());
    size_t next = log.find(opening, name_end);
    size_t end = std::min(next, summary);
    blocks[ip] = log.substr(name_end + 5, end - name_end - 5);
    at = next;
  }
  return blocks;
}

// What the dialogue logged for each card, by address: from the card's first
// line up to the next card's.
std::map<std::string, std::string> DialogueEntries(
    const std::string& log, const std::vector<std::string>& order) {
  std::map<std::string, std::string> entries;
  const std::string start = "Checking network connection ...  \n";
  size_t at = log.find(start);
  for (size_t i = 0; i < order.size() && at != std::string::npos; ++i) {
    size_t next = log.find(start, at + 1);
    size_t end = std::min(next, SummaryStart(log));
    entries[order[i]] = log.substr(at, end - at);
    at = next;
  }
  return entries;
}

struct CampaignTest : public EndToEndTest {
  ToolRun Campaign(const std::vector<std::string>& arguments,
                   const std::string& input = "1\n1\n\n",
                   RunOptions options = RunOptions()) {
    options.arguments = arguments;
    return RunTool(dir.path, input, 240, options);
  }
};

TEST_F(CampaignTest, EachCardAsItWouldGoAloneAndTheOthersGoOn) {
  // One card of each kind, for the dialogue, then twenty for the campaign:
  // the kinds again among plain cards.
  auto kinds = [](const std::string& net, const char* silent) {
    std::vector<Card> cards;
    Card wrong_password((net + "2").c_str());
    wrong_password.list_password = "wrong";
    cards.push_back(wrong_password);
    cards.push_back(Card(silent));
    Card early((net + "4").c_str());
    early.zel = "kvn_hw02_zel_200.bin";
    cards.push_back(early);
    Card app_refused((net + "5").c_str());
    app_refused.refuse_app = 3;
    cards.push_back(app_refused);
    cards.push_back(Card((net + "6").c_str()));
    Card unknown((net + "7").c_str());
    unknown.zel = "kvn_hw02_zel_201.bin";
    cards.push_back(unknown);
    return cards;
  };
  std::vector<Card> alone = kinds("127.0.0.", kSilentAddress);
  std::vector<Card> campaign = kinds("127.0.1.", "192.0.2.98");
  for (int i = 8; i < 22; ++i)
    campaign.push_back(Card(("127.0.1." + std::to_string(i)).c_str()));
  std::vector<Card> all = alone;
  all.insert(all.end(), campaign.begin(), campaign.end());
  Prepare(all);

  // The dialogue, one card after the other; the unknown version ends it.
  std::string list_of_alone;
  std::vector<std::string> order;
  for (const Card& card : alone) {
    list_of_alone += "SystemIP=" + card.ip + "\nSystemUserName=admin\n" +
                     "SystemPassword=" + card.list_password + "\n";
    order.push_back(card.ip);
  }
  ASSERT_TRUE(WriteFile("iplist.txt", list_of_alone));
  ToolRun dialogue = Run("1\n1\n\n");
  ASSERT_EQ(1, dialogue.exit_code) << dialogue.output;
  std::map<std::string, std::string> expected =
      DialogueEntries(Log(), order);
  ASSERT_EQ(6u, expected.size());
  ASSERT_EQ(0, unlink("result.txt"));

  std::string list;
  for (const Card& card : campaign)
    list += "SystemIP=" + card.ip + "\nSystemUserName=admin\n" +
            "SystemPassword=" + card.list_password + "\n";
  ASSERT_TRUE(WriteFile("iplist.txt", list));
  ToolRun run = Campaign({"-j", "8"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  std::string log = Log();
  std::map<std::string, std::string> blocks = Blocks(log);
  ASSERT_EQ(campaign.size(), blocks.size()) << log;
  // A campaign adds one line: what the card answered the failed login.
  const std::string refused = "ERROR!!! Login unsuccessful.\n\n";
  std::string& wrong_password = expected[alone[0].ip];
  size_t after = wrong_password.find(refused);
  ASSERT_NE(std::string::npos, after) << wrong_password;
  wrong_password.insert(after + refused.size(),
                        "The card's answer: 530 Authentication failed.\n");
  for (size_t i = 0; i < alone.size(); ++i) {
    EXPECT_EQ(Readdressed(expected[alone[i].ip], alone[i].ip, campaign[i].ip),
              blocks[campaign[i].ip])
        << campaign[i].ip;
  }
  for (size_t i = alone.size(); i < campaign.size(); ++i) {
    EXPECT_EQ(Readdressed(expected["127.0.0.6"], "127.0.0.6", campaign[i].ip),
              blocks[campaign[i].ip]);
    EXPECT_EQ(blocks[campaign[i].ip],
              JournalEntries(ReadFile(campaign[i].ip + "_upgrade.txt")));
  }
  EXPECT_NE(std::string::npos,
            log.find("\nNot all Varnets were upgraded successfully:\n"
                     "\t127.0.1.2: Could not log into the Varnet's FTP "
                     "server.\n"
                     "\t192.0.2.98: The Varnet at this address is not "
                     "responsive.\n"
                     "\t127.0.1.5: Could not download Application.\n"
                     "\t127.0.1.7: Could not be upgraded, unknown version.\n"
                     "\nEncountered 4 failures during upgrade.\n"))
      << log;
  // A start line and an end line for every card, and neither spinner nor
  // status line in a pipe.
  EXPECT_EQ(std::string::npos, run.output.find('\b'));
  EXPECT_EQ(std::string::npos, run.output.find('\r'));
  for (const Card& card : campaign) {
    EXPECT_NE(std::string::npos, run.output.find("\t" + card.ip + " ")) << card.ip;
  }
  EXPECT_NE(std::string::npos,
            run.output.find("\t127.0.1.7        failed: unknown version in "));
  EXPECT_NE(std::string::npos,
            run.output.find("\t127.0.1.4        upgraded in "));
}

// What a card answered is kept, and a listing is read strictly: a card
// that refuses NLST after a good login is not taken for one that cannot be
// reached, nor tried again; one whose listing holds a NUL is not read.
TEST_F(CampaignTest, ACardsWordsAreKeptAndItsListingReadStrictly) {
  Card refuses("127.0.0.2");
  refuses.fault = "nlst-refused";
  Card nul("127.0.0.3");
  nul.fault = "nul-in-name";
  Card wrong_password("127.0.0.4");
  wrong_password.list_password = "wrong";
  Prepare({refuses, nul, wrong_password});
  ToolRun run = Campaign({"-y", "-j", "3", "--retry-unreachable", "1",
                          "--report", "r.jsonl"},
                         "");
  EXPECT_EQ(1, run.exit_code) << run.output;
  std::map<std::string, std::string> records;
  std::istringstream lines(ReadFile("r.jsonl"));
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json r = nlohmann::json::parse(line);
    records[r["address"]] = r["outcome"].get<std::string>() + " tries " +
                            std::to_string(r["tries"].get<int>()) +
                            " loads " +
                            std::to_string(r["zel_attempts"].get<int>()) +
                            " logs " + (r["logs_saved"] ? "saved" : "not") +
                            " reply " + r["reply"].get<std::string>();
  }
  EXPECT_EQ(
      (std::map<std::string, std::string>{
          {"127.0.0.2",
           "listing_refused tries 1 loads 0 logs saved reply 550 Listing "
           "not allowed."},
          {"127.0.0.3", "listing_unreadable tries 1 loads 0 logs saved reply "},
          {"127.0.0.4",
           "login_failed tries 2 loads 0 logs not reply 530 Authentication "
           "failed."}}),
      records);
  std::map<std::string, std::string> blocks = Blocks(Log());
  EXPECT_EQ(1, Occurrences(blocks["127.0.0.2"],
                           "Checking version information ... Listing "
                           "refused.\nThe card's answer: 550 Listing not "
                           "allowed.\n"))
      << blocks["127.0.0.2"];
  EXPECT_EQ(1, Occurrences(blocks["127.0.0.3"],
                           "Checking version information ... The listing "
                           "cannot be read: it holds a NUL byte.\n"))
      << blocks["127.0.0.3"];
  EXPECT_EQ(2, Occurrences(blocks["127.0.0.4"],
                           "The card's answer: 530 Authentication failed.\n"))
      << blocks["127.0.0.4"];
}

TEST_F(CampaignTest, NoFurtherCardStartsAfterMaxFailures) {
  std::vector<Card> cards = Numbered(2, 6);
  cards[0].list_password = cards[1].list_password = "wrong";
  Prepare(cards);
  ToolRun run = Campaign({"-j", "1", "--max-failures", "2"});
  EXPECT_EQ(1, run.exit_code);
  EXPECT_NE(std::string::npos,
            run.output.find("\n\tEncountered 2 failures during upgrade.\n"
                            "\t4 cards were not started.\n"));
  EXPECT_NE(std::string::npos,
            run.output.find("\t2 cards have failed: no further card will be "
                            "started.\n"));
  EXPECT_EQ(std::string::npos, run.output.find("127.0.0.4        started"));
  std::string log = Log();
  for (int i = 4; i < 8; ++i) {
    EXPECT_NE(std::string::npos,
              log.find("\t127.0.0." + std::to_string(i) +
                       ": Not started: the failure limit was reached.\n"))
        << log;
  }
}

TEST_F(CampaignTest, EveryCardUpgradedIsExitCodeZero) {
  Prepare({Card("127.0.0.2"), Card("127.0.0.3")});
  ToolRun run = Campaign({"--parallel", "5"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\tAll upgrades completed successfully.\n"));

  // Again, with proxies in the environment, which are never used, and a
  // console that goes away (a pipe into head), which ends nothing.
  RunOptions options;
  const char proxy[] = "=http://127.0.0.1:9";
  for (const char* name : {"all_proxy", "ALL_PROXY", "ftp_proxy"})
    options.environment.push_back(name + std::string(proxy));
  options.close_output_after = "127.0.0.2        started";
  ASSERT_EQ(0, unlink("result.txt"));
  run = Campaign({"--parallel", "5", "--yes"}, "", options);
  EXPECT_EQ(0, run.exit_code);
  EXPECT_NE(std::string::npos, ReadFile("result.txt").find(
                                   "All upgrades completed successfully.\n"));
}

TEST_F(CampaignTest, TheOpenFileLimitLowersParallelNotTheOutcome) {
  std::vector<Card> cards = Numbered(2, 6);
  Prepare(cards);
  RunOptions limited;
  limited.open_files = 48;
  ToolRun run = Campaign({"-y", "-j", "6"}, "", limited);
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\t-j 6 is more than this workstation allows: 2 "
                            "cards run at a time (the open-file limit, ulimit "
                            "-n, is 48).\n"))
      << run.output;
}

TEST_F(CampaignTest, CardsSendingEndlessLogsLeaveTheOthersTheirs) {
  std::vector<Card> cards = Numbered(2, 8);
  for (int i = 0; i < 3; ++i)
    cards[i].fault = "retr-endless";
  Prepare(cards);
  // On a small disk of its own, in a mount namespace of its own.
  ASSERT_TRUE(MakeDirectory("small"));
  std::string script =
      "unshare -m sh -c 'mount -t tmpfs -o size=24m tmpfs small && "
      "cp config.txt iplist.txt *.bin small/ && cd small && " +
      std::string(UPGRD_FAST_TOOL_PATH) +
      " -y -j 8 --report r.jsonl >../out 2>&1; "
      "cp result.txt r.jsonl ../'";
  ASSERT_EQ(0, system(script.c_str())) << ReadFile("out");
  std::map<std::string, bool> saved;
  std::istringstream report(ReadFile("r.jsonl"));
  for (std::string line; std::getline(report, line);) {
    nlohmann::json record = nlohmann::json::parse(line);
    saved[record["address"]] = record["logs_saved"];
  }
  ASSERT_EQ(8u, saved.size()) << ReadFile("out");
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(i >= 3, saved[cards[i].ip]) << cards[i].ip;
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt")
                .find("Logs not saved: the disk space that the cards' logs "
                      "share was used up before data.txt was whole.\n"));
}

TEST_F(CampaignTest, AStalledConsoleNeverHoldsUpTheCardsNorTheMetrics) {
  std::vector<Card> cards = Numbered(2, 6);
  Prepare(cards);
  RunOptions stalled;
  stalled.stall_output_after = "127.0.0.3        started\n";
  // Every card ends and is reported while nothing reaches the console, and
  // the metrics keep their minute (60 ms on the fast clock) with nothing
  // new to show.
  std::set<long long> rewrites;
  double give_up = MonotonicSeconds() + 30;
  stalled.stalled_until = [&] {
    struct stat metrics;
    if (Occurrences(ReadFile("night.jsonl"), "\n") == 6 &&
        stat("night.prom", &metrics) == 0)
      rewrites.insert(metrics.st_mtim.tv_sec * 1000000000LL +
                      metrics.st_mtim.tv_nsec);
    return rewrites.size() >= 3 || MonotonicSeconds() > give_up;
  };
  ToolRun run = Campaign({"-y", "-j", "2", "--report", "night.jsonl",
                          "--metrics", "night.prom"},
                         "", stalled);
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_GE(rewrites.size(), 3u);
  EXPECT_LT(run.seconds, 60);
}

TEST_F(CampaignTest, ACardAnotherRunHoldsIsNotStarted) {
  Prepare({Card("127.0.0.2"), Card("127.0.0.3")});
  // The other run, as the lock shows it.
  int held = open(card_lock_path("127.0.0.2").c_str(), O_RDONLY | O_CREAT,
                  0666);
  ASSERT_EQ(0, flock(held, LOCK_EX | LOCK_NB));
  ToolRun run = Campaign({"-y", "-j", "2"});
  close(held);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.2        busy: another run of the tool "
                            "has it in "))
      << run.output;
  EXPECT_NE(std::string::npos, run.output.find("127.0.0.3        upgraded"));
  EXPECT_NE(std::string::npos,
            Log().find("\t127.0.0.2: Busy with another run of the tool; not "
                       "started.\n"));
  EXPECT_EQ(std::string::npos, ReadFile(sim_path("uploads")).find("127.0.0.2"));
  // Once the other run is gone, the card is upgraded.
  run = Campaign({"-y", "-j", "2"});
  EXPECT_EQ(0, run.exit_code) << run.output;
}

// Every file of `directory` by name, with its inode and a hash of its
// content: what a run that touches nothing leaves as it was.
std::map<std::string, std::string> Files(const std::string& directory) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    struct stat info = {};
    lstat(entry.path().c_str(), &info);
    std::string content =
        entry.is_regular_file() ? ReadFile(entry.path().string()) : "";
    files[entry.path().filename().string()] =
        std::to_string(info.st_ino) + " " +
        std::to_string(std::hash<std::string>()(content));
  }
  return files;
}

TEST_F(CampaignTest, ASecondRunIsRefusedBeforeItTouchesAnyFile) {
  Prepare(Numbered(2, 2));
  ASSERT_TRUE(WriteFile("night.jsonl", "{\"address\":\"127.0.0.9\"}\n"));
  std::string other = dir.path + "/other";
  ASSERT_TRUE(MakeDirectory(other));
  ASSERT_TRUE(WriteFile(other + "/config.txt", "ZEL = x.bin\n"));
  int input = -1;
  pid_t first = 0;
  ToolRun here, elsewhere;
  RunOptions waits;
  waits.keep_input_open = true;
  waits.input = &input;
  waits.pid = &first;
  // While the first waits at its menu, its part file made: a second run
  // in its directory, and one in another naming the same report.
  waits.on_output = {{"\tAction: ", [&] {
    EXPECT_EQ(std::to_string(first) + "\n", ReadFile("upgrd_util.pid"));
    std::map<std::string, std::string> before = Files(dir.path);
    std::map<std::string, std::string> other_before = Files(other);
    ASSERT_EQ(1u, before.count("night.jsonl.part"));
    RunOptions second;
    second.arguments = {"--yes", "--report", "night.jsonl"};
    here = RunTool(dir.path, "", 30, second);
    second.arguments = {"--yes", "--report", dir.path + "/night.jsonl"};
    elsewhere = RunTool(other, "", 30, second);
    EXPECT_EQ(before, Files(dir.path));
    EXPECT_EQ(other_before, Files(other));
    ASSERT_EQ(5, write(input, "1\n1\n\n", 5));
  }}};
  ToolRun run = Campaign({"-j", "6", "--report", "night.jsonl"}, "", waits);
  EXPECT_EQ(2, here.exit_code);
  EXPECT_EQ("\tAnother run of the tool is using this directory (result.txt "
            "is locked). No upgrade was started.\n",
            here.output);
  EXPECT_EQ(2, elsewhere.exit_code);
  EXPECT_EQ("upgrd_util: --report: another run of the tool writes " +
                dir.path + "/night.jsonl (" + dir.path +
                "/night.jsonl.lock is locked)\n",
            elsewhere.output);
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_LT(run.seconds, 120) << run.output;
  std::string report = ReadFile("night.jsonl");
  EXPECT_EQ(2, Occurrences(report, "\n")) << report;
  EXPECT_EQ(2, Occurrences(report, "\"outcome\":\"upgraded\""));
  // Nothing of the run is left beside it.
  for (const char* gone : {"night.jsonl.part", "night.jsonl.lock",
                           "upgrd_util.pid"})
    EXPECT_EQ("<missing>", ReadFile(gone)) << gone;
}

// The dialogue holds the card it works on as a campaign does: a campaign
// started meanwhile in another directory leaves it alone. Once released,
// the card's lock file is gone.
TEST_F(CampaignTest, TheDialoguesCardIsBusyForACampaign) {
  Card held("127.0.0.2");
  held.hold_uploads = sim_path("release");
  Prepare({held});
  std::string other = dir.path + "/other";
  ASSERT_TRUE(MakeDirectory(other));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
    if (entry.is_regular_file())
      std::filesystem::copy(entry.path(), other);
  }
  ToolRun campaign;
  RunOptions dialogue;
  dialogue.on_output = {{"\tLoading OS, please wait ... ", [&] {
    RunOptions yes;
    yes.arguments = {"-y"};
    campaign = RunTool(other, "", 60, yes);
    ASSERT_TRUE(WriteFile(sim_path("release"), ""));
  }}};
  ToolRun run = RunTool(dir.path, "1\n1\n\n", 240, dialogue);
  EXPECT_EQ(1, campaign.exit_code) << campaign.output;
  EXPECT_NE(std::string::npos,
            campaign.output.find("127.0.0.2        busy: another run of the "
                                 "tool has it in "))
      << campaign.output;
  EXPECT_EQ(1, run.exit_code);
  EXPECT_NE(std::string::npos,
            run.output.find("\tAll upgrades completed successfully.\n"))
      << run.output;
  EXPECT_EQ("<missing>", ReadFile(card_lock_path("127.0.0.2")));
}

TEST_F(CampaignTest, CtrlCAtTheClosingQuestionEndsTheTool) {
  Prepare({Card("127.0.0.2")});
  RunOptions options;
  options.keep_input_open = true;
  options.kill_after = "Press <Enter> to exit.\n";
  options.kill_signal = SIGINT;
  ToolRun run = Campaign({"-j", "2"}, "1\n1\n", options);
  EXPECT_EQ(SIGINT, run.signal) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\n\tInterrupted: the tool ends now.\n"))
      << run.output;
}

TEST_F(CampaignTest, OnATerminalOneStatusLineStaysAtTheBottom) {
  Prepare({Card("127.0.0.2"), Card("127.0.0.3"), Card("127.0.0.4")});
  RunOptions terminal;
  terminal.in_terminal = true;
  ToolRun run = Campaign({"-j", "2"}, "1\n1\n\n", terminal);
  EXPECT_EQ(0, run.exit_code) << run.output;
  // Blanked and drawn again below the card lines, and blanked for good
  // before the summary.
  std::string blank = "\r" + std::string(78, ' ') + "\r";
  EXPECT_NE(std::string::npos,
            run.output.find(blank + "\t127.0.0.2        started\r\n"))
      << run.output;
  size_t status = run.output.find(" running, 0 upgraded, 0 failed, ");
  ASSERT_NE(std::string::npos, status) << run.output;
  EXPECT_EQ(blank, run.output.substr(run.output.find(" left", status) + 5,
                                     blank.size()));
  size_t last = run.output.rfind(" running, ");
  EXPECT_NE(std::string::npos,
            run.output.substr(last, run.output.find("Upgrade Summary") - last)
                .find(blank));
}

TEST_F(CampaignTest, AnInterruptStartsNoFurtherCardAndTheRunningOnesFinish) {
  std::vector<Card> cards = Numbered(2, 6);
  // The first two cards hold their uploads until the signal is sent, so
  // that neither can end before it.
  std::string release = sim_path("release");
  for (Card& card : cards)
    card.hold_uploads = release;
  Prepare(cards);
  // Ctrl-C, a polite kill, a terminal that closes.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    unlink(release.c_str());
    RunOptions interrupt;
    // Once both cards have started.
    interrupt.kill_after = "127.0.0.3        started\n";
    interrupt.kill_signal = signal;
    interrupt.after_kill = [&release] { WriteFile(release, ""); };
    // The cards run both modules after the first round: loaded again.
    ToolRun run = Campaign({"-j", "2", "--force"}, "1\n1\n\n", interrupt);
    EXPECT_EQ(1, run.exit_code) << run.output;
    EXPECT_NE(std::string::npos,
              run.output.find("\tInterrupted: no further card will be "
                              "started; "))
        << run.output;
    EXPECT_NE(std::string::npos, run.output.find("127.0.0.2        upgraded"));
    EXPECT_NE(std::string::npos, run.output.find("127.0.0.3        upgraded"));
    EXPECT_EQ(std::string::npos, run.output.find("127.0.0.4        started"));
    EXPECT_NE(std::string::npos,
              Log().find("\t127.0.0.7: Not started: interrupted.\n"));
    ASSERT_EQ(0, unlink("result.txt"));
  }
}

// From another terminal: SIGUSR1 while the first card runs pauses the
// starting of cards, SIGUSR2 once it ended resumes it; the stop file made
// while the second runs lets it finish and starts no other. Each card holds
// its upload until the test lets it go, so that each step comes while it
// runs. The stop file left there refuses the next campaign.
TEST_F(CampaignTest, APauseAndTheStopFileFromOutside) {
  std::vector<Card> cards = Numbered(2, 4);
  std::string first = sim_path("first"), second = sim_path("second");
  cards[0].hold_uploads = first;
  cards[1].hold_uploads = second;
  Prepare(cards);
  pid_t pid = -1;
  std::string paused_metrics, paused_page;
  RunOptions outside;
  outside.pid = &pid;
  outside.on_output = {
      {"127.0.0.2        started\n", [&] { kill(pid, SIGUSR1); }},
      {"\tPaused (SIGUSR1)",
       [&] {
         // Written within a second of the run's clock.
         for (int i = 0; i < 500 && paused_metrics.find(
                                        "\nupgrd_campaign_paused 1\n") ==
                                        std::string::npos;
              ++i) {
           usleep(10000);
           paused_metrics = ReadFile("m.prom");
         }
         paused_page = ReadFile("p.html");
         WriteFile(first, "");
       }},
      {"127.0.0.2        upgraded", [&] { kill(pid, SIGUSR2); }},
      {"127.0.0.3        started\n",
       [&] { WriteFile("upgrd_util.stop", ""); }},
      {"\tThe stop file upgrd_util.stop was found",
       [&] { WriteFile(second, ""); }},
  };
  ToolRun run = Campaign({"-y", "-j", "1", "--report", "r.jsonl", "--metrics",
                          "m.prom", "--html", "p.html", "--on-event",
                          "tee -a events.jsonl"},
                         "", outside);
  EXPECT_EQ(1, run.exit_code) << run.output;
  const std::string& out = run.output;
  // The pause heard, logged, drawn and in the records after it.
  std::string kinds;
  std::istringstream events(ReadFile("events.jsonl"));
  for (std::string line; std::getline(events, line);)
    kinds += nlohmann::json::parse(line)["event"].get<std::string>() + " ";
  EXPECT_EQ("start pause resume stop end ", kinds);
  EXPECT_EQ(1, Occurrences(Log(), "\nPaused (SIGUSR1) at ")) << Log();
  EXPECT_EQ(1, Occurrences(Log(), "\nResumed (SIGUSR2) at ")) << Log();
  EXPECT_EQ(1, Occurrences(ReadFile("p.html"), "<g class=\"pause\">"));
  std::vector<std::string> in_order = {
      "\tPaused (SIGUSR1): no card will be started until SIGUSR2; 1 still "
      "running will finish.\n",
      "\t127.0.0.2        upgraded in ",
      "\tResumed (SIGUSR2): cards are started again.\n",
      "\t127.0.0.3        started\n",
      "\tThe stop file upgrd_util.stop was found: no further card will be "
      "started; 1 still running will finish.\n",
      "\t127.0.0.3        upgraded in "};
  for (size_t i = 0; i < in_order.size(); ++i) {
    EXPECT_EQ(1, Occurrences(out, in_order[i])) << in_order[i] << out;
    if (i > 0) {
      EXPECT_LT(out.find(in_order[i - 1]), out.find(in_order[i])) << out;
    }
  }
  EXPECT_EQ(std::string::npos, out.find("127.0.0.4        started")) << out;
  std::istringstream lines(ReadFile("r.jsonl"));
  std::string outcomes;
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json r = nlohmann::json::parse(line);
    // The first record in the pause, the others after its end.
    std::string pauses = r["pauses"];
    outcomes += r["address"].get<std::string>() + " " +
                r["outcome"].get<std::string>() + " " +
                r["reason"].get<std::string>() + " " +
                std::to_string(pauses.size()) + "\n";
    EXPECT_EQ(getpwuid(getuid())->pw_name, r["run_by"]);
    EXPECT_NE(std::string::npos,
              r["command_line"].get<std::string>().find(
                  " --on-event 'tee ***'"));
  }
  EXPECT_EQ("127.0.0.2 upgraded  26\n127.0.0.3 upgraded  51\n"
            "127.0.0.4 not_started stop file 51\n"
            "127.0.0.5 not_started stop file 51\n",
            outcomes);
  EXPECT_NE(std::string::npos,
            Log().find("\t127.0.0.5: Not started: stop file.\n"));
  EXPECT_NE(std::string::npos, paused_page.find("data-end=\"paused\""));
  EXPECT_NE(std::string::npos,
            ReadFile("m.prom").find("\nupgrd_campaign_paused 0\n"));
  EXPECT_NE(std::string::npos,
            ReadFile("p.html").find("data-end=\"stop_file\""));

  // Still there: refused before anything, a question included. The hook
  // hears why; the metrics keep the night before's figures and say when.
  ASSERT_EQ(0, unlink("result.txt"));
  std::string night_before = ReadFile("m.prom");
  ToolRun refused = Campaign({"-j", "1", "--metrics", "m.prom", "--on-event",
                              "tee refused.json"},
                             "1\n1\n\n");
  EXPECT_EQ(2, refused.exit_code);
  EXPECT_EQ("upgrd_util: the stop file upgrd_util.stop is there: remove it "
            "to start a campaign\n",
            refused.output);
  EXPECT_EQ("<missing>", ReadFile("result.txt"));
  nlohmann::json told = nlohmann::json::parse(ReadFile("refused.json"));
  EXPECT_EQ("refused", told["event"]);
  EXPECT_EQ("the stop file upgrd_util.stop is there: remove it to start a "
            "campaign",
            told["reason"]);
  std::string metrics = ReadFile("m.prom");
  EXPECT_EQ(0u, metrics.find(night_before)) << metrics;
  EXPECT_NE(std::string::npos,
            metrics.find("\nupgrd_campaign_refused_time_seconds 1"));
  EXPECT_EQ(0, system("promtool check metrics < m.prom"));
}

TEST_F(CampaignTest, AKilledCampaignKeepsEveryFinishedEntry) {
  std::vector<Card> cards = Numbered(2, 4);
  Prepare(cards);
  RunOptions kill;
  kill.kill_after = "upgraded in ";
  ToolRun run = Campaign({"-j", "4"}, "1\n1\n\n", kill);
  ASSERT_TRUE(run.killed);
  std::map<std::string, std::string> blocks = Blocks(Log());
  EXPECT_GE(blocks.size(), 1u);
  for (const Card& card : cards) {
    std::string journal = JournalEntries(ReadFile(card.ip + "_upgrade.txt"));
    EXPECT_EQ(0u, journal.find("Checking network connection ...  \n"))
        << card.ip;
    if (blocks.count(card.ip)) {
      EXPECT_EQ(blocks[card.ip], journal);
    }
  }
}

TEST_F(CampaignTest, WhatWouldFailEveryCardIsSaidBeforeAnyIsTouched) {
  Card early("127.0.0.3");
  early.zel = "kvn_hw02_zel_200.bin";
  Prepare({Card("127.0.0.2"), early});
  std::string good_list = ReadFile("iplist.txt");
  ASSERT_TRUE(WriteFile("iplist.txt",
                        "SystemIP=127.0.0.2\nSystemUserName=a\nSystemPassword=b\n"
                        "SystemIP=127.0.0.256\nSystemUserName=a\nSystemPassword=b\n"
                        "SystemIP=card-7\nSystemUserName=a\nSystemPassword=b\n"
                        "SystemIP=127.0.0.2\nSystemUserName=a\nSystemPassword=b\n"
                        "SystemIP=127.0.0.02\nSystemUserName=a\nSystemPassword=b\n"));
  ToolRun run = Campaign({"-y"});
  EXPECT_EQ(2, run.exit_code);
  EXPECT_NE(std::string::npos,
            run.output.find(
                "\tiplist.txt, line 4: 127.0.0.256 is not an IPv4 address "
                "(four numbers from 0 to 255 with dots between them, none "
                "with a leading zero).\n"
                "\tiplist.txt, line 7: card-7 is not an IPv4 address "
                "(four numbers from 0 to 255 with dots between them, none "
                "with a leading zero).\n"
                "\tiplist.txt, line 10: the card 127.0.0.2 is listed a second "
                "time.\n"
                "\tiplist.txt, line 13: 127.0.0.02 is not an IPv4 address "
                "(four numbers from 0 to 255 with dots between them, none "
                "with a leading zero).\n"))
      << run.output;
  EXPECT_EQ(std::string::npos, ReadFile(sim_path("uploads")).find("127"));

  // Without the interim patch, a warning, and the campaign goes on; the
  // early card fails at once, in the dry run too.
  ASSERT_TRUE(WriteFile("iplist.txt", good_list));
  ASSERT_EQ(0, unlink("kvn_hw02_zel_202.bin"));
  run = Campaign({"-y", "--check"});
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.3        needs the interim patch, which "
                            "is missing in "));
  run = Campaign({"-y"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\tWarning: the interim patch "
                            "./kvn_hw02_zel_202.bin is not here; cards at "
                            "version 200 or below, or at 202, will fail.\n"));
  EXPECT_NE(std::string::npos, run.output.find("127.0.0.2        upgraded in "));
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.3        failed: it needs the interim "
                            "patch, which is missing in "));
  EXPECT_NE(std::string::npos,
            Log().find("\nThe card needs the interim patch "
                       "./kvn_hw02_zel_202.bin, which is not here.\n"));
  EXPECT_EQ(std::string::npos, Log().find("Applying interim patch"));
}

// No card is touched unless every module is listed in the manifest as it
// is; then a card whose ZEL is for other hardware is loaded with nothing,
// in the dry run and the campaign, and not tried again.
TEST_F(CampaignTest, ModulesCheckedByHashAndCardsByHardware) {
  Card other_hardware("127.0.0.3");
  other_hardware.zel = "kvn_hw03_zel_203.bin";
  Prepare({Card("127.0.0.2"), other_hardware});
  // As an operator makes it; "./" names the files config.txt names.
  ASSERT_EQ(0, system("sha256sum ./kvn_hw02_zel_211.bin kvn_hw02_app_211.bin "
                      "kvn_hw02_zel_202.bin > good.sha256"));
  std::string good = ReadFile("good.sha256");
  ASSERT_EQ(3, Occurrences(good, "\n"));
  std::string zel = good.substr(0, 64);
  std::string app = good.substr(good.find('\n') + 1, 64);
  std::string patch_line = good.substr(good.rfind('\n', good.size() - 2) + 1);
  std::string wrong(64, '0');
  ASSERT_TRUE(WriteFile("wrong.sha256",
                        good.substr(0, good.find('\n') + 1) + wrong +
                            "  kvn_hw02_app_211.bin\n" + patch_line));
  ASSERT_TRUE(WriteFile("missing.sha256",
                        good.substr(0, good.size() - patch_line.size())));
  struct {
    const char* manifest;
    std::string said;
  } refused[] = {
      {"wrong.sha256", "upgrd_util: --manifest: kvn_hw02_app_211.bin does not "
                       "match wrong.sha256: its SHA-256 is " + app +
                           ", wrong.sha256 lists " + wrong + "\n"},
      {"missing.sha256",
       "upgrd_util: --manifest: kvn_hw02_zel_202.bin is not listed in "
       "missing.sha256; its SHA-256 is " + patch_line.substr(0, 64) + "\n"},
  };
  for (const auto& r : refused) {
    ToolRun run = Campaign({"-y", "--manifest", r.manifest, "--report",
                            "r.jsonl"}, "");
    EXPECT_EQ(2, run.exit_code) << run.output;
    EXPECT_EQ(1, Occurrences(run.output, r.said)) << run.output;
    EXPECT_EQ("<missing>", ReadFile("r.jsonl"));
  }
  EXPECT_EQ("<missing>", ReadFile(sim_path("uploads")));

  auto outcomes = [](const char* report) {
    std::map<std::string, std::string> outcomes;
    std::istringstream lines(ReadFile(report));
    for (std::string line; std::getline(lines, line);) {
      nlohmann::json r = nlohmann::json::parse(line);
      outcomes[r["address"]] = r["outcome"].get<std::string>() + " tries " +
                               std::to_string(r["tries"].get<int>()) + " " +
                               r["zel_sha256"].get<std::string>();
    }
    return outcomes;
  };
  ToolRun run = Campaign({"-y", "--check", "--manifest", "good.sha256",
                          "--report", "check.jsonl"}, "");
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_EQ((std::map<std::string, std::string>{
                {"127.0.0.2", "would_upgrade tries 1 " + zel},
                {"127.0.0.3", "hardware_mismatch tries 1 " + zel}}),
            outcomes("check.jsonl"));
  ASSERT_EQ(0, unlink("result.txt"));
  run = Campaign({"-y", "-j", "2", "--retry-unreachable", "1", "--manifest",
                  "good.sha256", "--report", "night.jsonl", "--html",
                  "page.html"}, "");
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_EQ((std::map<std::string, std::string>{
                {"127.0.0.2", "upgraded tries 1 " + zel},
                {"127.0.0.3", "hardware_mismatch tries 1 " + zel}}),
            outcomes("night.jsonl"));
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.3        failed: its hardware does not "
                            "match the modules"))
      << run.output;
  EXPECT_EQ(1, Occurrences(Blocks(Log())["127.0.0.3"],
                           "\nThe card runs kvn_hw03_zel_203.bin, for "
                           "hardware hw03; kvn_hw02_zel_211.bin is for hw02. "
                           "Nothing is loaded.\n"));
  EXPECT_EQ(std::string::npos, ReadFile(sim_path("uploads")).find("127.0.0.3"));
  EXPECT_NE(std::string::npos, ReadFile(sim_path("uploads")).find("127.0.0.2"));
  std::string page = ReadFile("page.html");
  for (const std::string& sha256 : {zel, app, patch_line.substr(0, 64)})
    EXPECT_EQ(1, Occurrences(page, "SHA-256 " + sha256)) << sha256;
}

// A module cut short while the cards' uploads are held changes nothing:
// every card gets the bytes hashed as the campaign began, and the records
// give their hash.
TEST_F(CampaignTest, AModuleReplacedDuringTheNightIsNotWhatCardsGet) {
  std::vector<Card> cards = Numbered(2, 3);
  std::string release = sim_path("release");
  for (Card& card : cards)
    card.hold_uploads = release;
  Prepare(cards);
  std::string original = ReadFile(kZel211);
  Sha256 hash;
  std::string sha256, error;
  ASSERT_TRUE(hash.Update(original.data(), original.size()) &&
              hash.Final(&sha256, &error));
  RunOptions options;
  options.on_output = {{"127.0.0.4        started\n", [&] {
                          // In place, as a copy that ran out of disk.
                          WriteFile(kZel211, original.substr(0, 100));
                          WriteFile(release, "");
                        }}};
  ToolRun run = Campaign({"-y", "-j", "3", "--report", "night.jsonl"}, "",
                         options);
  EXPECT_EQ(0, run.exit_code) << run.output;
  std::string uploads = ReadFile(sim_path("uploads"));
  EXPECT_EQ(3, Occurrences(uploads, " " + std::string(kZel211) + " "))
      << uploads;
  EXPECT_EQ(3, Occurrences(uploads, " " + std::string(kZel211) + " " +
                                        sha256 + "\n"))
      << uploads;
  std::istringstream lines(ReadFile("night.jsonl"));
  int records = 0;
  for (std::string line; std::getline(lines, line); ++records)
    EXPECT_EQ(sha256, nlohmann::json::parse(line)["zel_sha256"]) << line;
  EXPECT_EQ(3, records);
}

TEST_F(CampaignTest, BadOptionsChangeNothing) {
  Prepare({Card("127.0.0.2")});
  struct Bad {
    std::vector<std::string> arguments;
    const char* named;  // what the message must name
  } bad[] = {{{"-j", "0"}, "--parallel"},          {{"-j", "1025"}, "1025"},
             {{"--parallel", "many"},
              "--parallel: many is not a whole number from 1 to 1024"},
             {{"-j"}, "--parallel"},
             {{"--max-failures", "0"}, "--max-failures"},
             {{"--link-rate", "0.5"}, "is not a rate in bytes a second"},
             {{"--bogus"}, "--bogus"},             {{"stray"}, "stray"},
             {{"-y", "--on-event", "no-such-hook --now"},
              "--on-event: no program no-such-hook in PATH"},
             {{"--password-from-stdin"}, "--password-from-stdin requires --yes"},
             {{"-y", "--password-from-stdin", "--password-file", "pw"},
              "excludes"}};
  for (const Bad& b : bad) {
    ToolRun run = Campaign(b.arguments);
    EXPECT_EQ(2, run.exit_code) << b.named;
    EXPECT_EQ(1, std::count(run.output.begin(), run.output.end(), '\n'))
        << run.output;
    EXPECT_NE(std::string::npos, run.output.find(b.named)) << run.output;
    EXPECT_EQ("<missing>", ReadFile("result.txt"));
  }
  ToolRun run = Campaign({"--help"});
  EXPECT_NE(std::string::npos, run.output.find("--resume FILE  "));
  // Every option but --help, --version and --list-outcomes.
  EXPECT_EQ(25, Occurrences(run.output, "(default"));

  // Without a console, the menu has no answer.
  run = Campaign({"-j", "2"}, "");
  EXPECT_EQ(2, run.exit_code);
  EXPECT_NE(std::string::npos, run.output.find("a campaign needs --yes.\n"));
  // A card without its password line: where else it could come from.
  ASSERT_TRUE(
      WriteFile("iplist.txt", "SystemIP=127.0.0.2\nSystemUserName=admin\n"));
  run = Campaign({"-y"});
  EXPECT_EQ(2, run.exit_code);
  EXPECT_NE(std::string::npos, run.output.find("--password-from-env NAME.\n"));
  // Or piped in, on the first line of standard input.
  run = Campaign({"-y", "--password-from-stdin"}, "secret\n");
  EXPECT_EQ(0, run.exit_code) << run.output;

  // What ends a campaign before its first card goes to standard error.
  ASSERT_EQ(0, unlink("iplist.txt"));
  ASSERT_EQ(0, system(UPGRD_FAST_TOOL_PATH " -j 2 </dev/null >out 2>errors; "
                      "test $? -eq 2"));
  EXPECT_NE(std::string::npos,
            ReadFile("errors").find(
                "\tA campaign upgrades the cards of iplist.txt, and there is "
                "no iplist.txt in this directory.\n"));
  EXPECT_EQ(std::string::npos, ReadFile("out").find("iplist.txt, and"));
}

TEST_F(CampaignTest, AnEventHookHearsTheNightAndChangesNothing) {
  std::vector<Card> cards = Numbered(2, 4);
  cards[1].list_password = "wrong";
  Prepare(cards);
  // Appends what it reads, its arguments and its environment, each run;
  // the end event waits for the file `go`.
  ASSERT_TRUE(WriteFile(
      "hook.sh",
      "#!/bin/sh\nevent=$(cat)\nprintf '%s\\n' \"$event\" >> events.jsonl\n"
      "echo \"$*\" >> given.txt; env >> given.txt\n"
      "case $event in *'\"event\":\"end\"'*) i=0\n"
      "  while [ ! -e go ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
      "esac\necho heard it\n"));
  ASSERT_TRUE(WriteFile("broken.sh", "#!/bin/sh\necho broken; exit 4\n"));
  ASSERT_EQ(0, chmod("hook.sh", 0755));
  ASSERT_EQ(0, chmod("broken.sh", 0755));
  // Wave 1 upgrades its card; in wave 2 the first card fails, the limit.
  // The cards' password variable stays the tool's. One SIGTERM once the
  // cards have ended (a time limit of Ansible's) lets their end be said.
  RunOptions options;
  options.environment = {"CARD_PASSWORD=secret"};
  options.kill_after = "Upgrade Summary";
  options.kill_signal = SIGTERM;
  options.after_kill = [] { WriteFile("go", ""); };
  ToolRun run = Campaign({"-y", "-j", "1", "--waves", "1", "--max-failures",
                          "1", "--on-event", "./hook.sh --night 1",
                          "--password-from-env", "CARD_PASSWORD"},
                         "", options);
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\n\tInterrupted: the run's end is said first; "
                            "interrupt again to end the tool now.\n"))
      << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\tThank you for using KVN products\n"));
  std::vector<nlohmann::json> events;
  std::istringstream lines(ReadFile("events.jsonl"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty())
      events.push_back(nlohmann::json::parse(line));
  }
  ASSERT_EQ(4u, events.size()) << ReadFile("events.jsonl");
  std::string kinds;
  for (const nlohmann::json& event : events)
    kinds += event["event"].get<std::string>() + " ";
  EXPECT_EQ("start wave_end stop end ", kinds);
  EXPECT_EQ(4, events[0]["cards"]);
  EXPECT_EQ(nlohmann::json::parse("[1,3]"), events[0]["waves"]);
  EXPECT_EQ(nlohmann::json::parse("{\"upgraded\":1}"),
            events[1]["wave_counts"]);
  EXPECT_EQ("max_failures", events[2]["code"]);
  EXPECT_EQ(nlohmann::json::parse(
                "{\"upgraded\":1,\"login_failed\":1,\"not_started\":2}"),
            events[3]["counts"]);
  EXPECT_EQ(1, events[3]["exit_code"]);
  // Card data only inside the JSON.
  std::string given = ReadFile("given.txt");
  EXPECT_NE(std::string::npos, given.find("--night 1\n"));
  EXPECT_EQ(std::string::npos, given.find("127.0.0.")) << given;
  EXPECT_EQ(std::string::npos, given.find("CARD_PASSWORD")) << given;
  EXPECT_NE(std::string::npos,
            Log().find("\n*** Event end ***\nheard it\nThe event hook "
                       "ended well in "))
      << Log();
  EXPECT_NE(std::string::npos,
            Log().find("\n*** Event stop ***\nheard it\nThe event hook "
                       "ended well in "))
      << Log();

  // A hook that fails each time is said once, and the exit code stays.
  // Found in PATH, as a program given without its directory is.
  ASSERT_EQ(0, unlink("result.txt"));
  RunOptions in_path;
  in_path.environment = {"PATH=.:/usr/bin:/bin"};
  run = Campaign({"-y", "--limit", "127.0.0.2", "--on-event", "broken.sh"},
                 "", in_path);
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_EQ(1, Occurrences(run.output, "The event hook failed at the start "
                                       "event: it exited with code 4 (see "
                                       "result.txt; later failures are only "
                                       "logged there).\n"))
      << run.output;
  EXPECT_EQ(2, Occurrences(Log(), "broken\nThe event hook failed: it exited "
                                  "with code 4.\n"))
      << Log();
}

}  // namespace
