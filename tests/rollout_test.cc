// Rollouts: waves, a failure rate that stops them, a window that ends.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

struct RolloutTest : public EndToEndTest {
  ToolRun Campaign(const std::vector<std::string>& arguments,
                   const std::string& input = "") {
    RunOptions options;
    options.arguments = arguments;
    options.environment = environment;
    return RunTool(dir.path, input, 240, options);
  }
  std::vector<std::string> environment;
  // "outcome wave reason" of each card of the report, in address order.
  std::string Outcomes() {
    std::map<std::string, std::string> by_address;
    std::istringstream lines(ReadFile("r.jsonl"));
    for (std::string line; std::getline(lines, line);) {
      nlohmann::json r = nlohmann::json::parse(line);
      by_address[r["address"]] = r["outcome"].get<std::string>() + " " +
                                 std::to_string(r["wave"].get<int>()) + " " +
                                 r["reason"].get<std::string>();
    }
    std::string all;
    for (const auto& [address, said] : by_address)
      all += said + "\n";
    return all;
  }
};

// Six cards in waves of 1, 3 and 2, three at a time, stopped by a module
// failure rate above 10 %; the first card never installs what it is sent
// when `broken`. Without `yes`, the menu is answered and then nothing.
ToolRun Rollout(RolloutTest* test, bool broken, bool yes) {
  std::vector<Card> cards = Numbered(2, 6);
  cards[0].install = !broken;
  test->Prepare(cards);
  std::vector<std::string> arguments = {
      "-j",  "3",        "--waves", "1,50%", "--max-failure-rate",
      "10%", "--report", "r.jsonl"};
  if (yes)
    arguments.push_back("-y");
  return test->Campaign(arguments, yes ? "" : "1\n1\n");
}

TEST_F(RolloutTest, AFirstWaveThatBreaksItsCardStopsTheRollout) {
  ToolRun run = Rollout(this, true, true);
  EXPECT_EQ(1, run.exit_code) << run.output;
  const std::string why = " the module failure rate went above 10%\n";
  EXPECT_EQ("os_load_failed 1 \nnot_started 2" + why + "not_started 2" + why +
                "not_started 2" + why + "not_started 3" + why +
                "not_started 3" + why,
            Outcomes());
  EXPECT_NE(std::string::npos,
            run.output.find("\tWave 1 of 3 ended: 1 os_load_failed.\n"));
  EXPECT_NE(std::string::npos,
            Log().find("\t127.0.0.7: Not started: the module failure rate "
                       "went above 10%.\n"));
}

// Seconds after the fast clock's 09:30:00 of an ISO 8601 time of its day.
int SecondsAfterTheStart(const std::string& iso) {
  int hour = 0, minute = 0, second = 0;
  sscanf(iso.c_str(), "%*d-%*d-%*dT%d:%d:%d", &hour, &minute, &second);
  return (hour - 9) * 3600 + (minute - 30) * 60 + second;
}

// The same nights through the pool, on simulated cards, and through the
// plan the campaign made as it started: wave by wave, the same cards end,
// and no wave ends well before the plan said. The hook stamps each event as it
// hears it: on the fast clock a real millisecond is a second, and a busy
// machine only delays the night (how close the plan comes is for
// bench_plan.sh to measure).
TEST_F(RolloutTest, HealthyCardsGoThroughEveryWaveAsPlanned) {
  struct Night {
    std::vector<std::string> options;
    const char* outcomes;
    int waves;
  } nights[] = {
      {{"-j", "3", "--waves", "1,50%", "--limit",
        "127.0.0.2,127.0.0.3,127.0.0.4,127.0.0.5,127.0.0.6,127.0.0.7"},
       "upgraded 1 \nupgraded 2 \nupgraded 2 \nupgraded 2 \n"
       "upgraded 3 \nupgraded 3 \n", 3},
      {{"-j", "1", "--waves", "2", "--limit",
        "127.0.0.8,127.0.0.9,127.0.0.10,127.0.0.11"},
       // By address as text: .10 and .11 come first.
       "upgraded 2 \nupgraded 2 \nupgraded 1 \nupgraded 1 \n", 2},
  };
  Prepare(Numbered(2, 10));
  ASSERT_TRUE(WriteFile("hook.sh", "#!/bin/sh\nnow=$(date +%s%N)\n"
                                   "event=$(cat)\n"
                                   "echo \"$now $event\" >> events.txt\n"));
  ASSERT_EQ(0, chmod("hook.sh", 0755));
  for (const Night& night : nights) {
    SCOPED_TRACE(night.options[1]);
    unlink("events.txt");
    unlink("r.jsonl");
    std::vector<std::string> options = night.options;
    for (const char* option : {"-y", "--report", "r.jsonl", "--on-event",
                               "./hook.sh"})
      options.push_back(option);
    long long before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    ToolRun run = Campaign(options);
    EXPECT_EQ(0, run.exit_code) << run.output;
    EXPECT_EQ(night.outcomes, Outcomes());
    std::istringstream lines(ReadFile("events.txt"));
    int waves = 0;
    for (std::string line; std::getline(lines, line);) {
      size_t blank = line.find(' ');
      nlohmann::json event = nlohmann::json::parse(line.substr(blank + 1));
      if (event["event"] != "wave_end")
        continue;
      ++waves;
      ASSERT_TRUE(event.contains("planned_end")) << line;
      double heard = (std::stoll(line.substr(0, blank)) - before) / 1e6;
      // A card's mandated waits alone are 91% of its planned path: only a
      // night that drifted from its plan ends a wave sooner.
      EXPECT_GE(heard, SecondsAfterTheStart(event["planned_end"]) * 0.9)
          << line;
    }
    EXPECT_EQ(night.waves, waves);
  }
}

TEST_F(RolloutTest, WithoutAnAnswerTheNextWaveDoesNotStart) {
  ToolRun run = Rollout(this, false, false);
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("\tStart wave 2 of 3 (3 "
                                               "cards)?\n"));
  const std::string why = " stopped after wave 1\n";
  EXPECT_EQ("upgraded 1 \nnot_started 2" + why + "not_started 2" + why +
                "not_started 2" + why + "not_started 3" + why +
                "not_started 3" + why,
            Outcomes());
}

TEST_F(RolloutTest, TheRateCountsOnlyCardsThatReachedALoad) {
  // Two cards refuse the login: that says nothing about the modules.
  std::vector<Card> cards = Numbered(2, 7);
  cards[0].list_password = cards[1].list_password = "wrong";
  Prepare(cards);
  ToolRun run = Campaign(
      {"-y", "-j", "1", "--max-failure-rate", "10%", "--report", "r.jsonl"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_EQ(
      "login_failed 1 \nlogin_failed 1 \nupgraded 1 \nupgraded 1 \n"
      "upgraded 1 \nupgraded 1 \nupgraded 1 \n",
      Outcomes());
}

TEST_F(RolloutTest, AWindowThatEndsStartsNoLaterCardAndLoadsNoPathItOutlives) {
  Prepare(Numbered(2, 3));
  // Each real millisecond is a tenth of a second on the clock, not a whole
  // one: the first card's steps may take 0.7 s more than planned on a busy
  // machine.
  environment = {"UPGRD_FAST_CLOCK_FACTOR=100"};
  // The fast clock reads 09:30: six minutes, fixed as the options are read.
  // Both modules take almost four minutes, the APP alone under one: the
  // next cards start once the first has ended, as the APP alone could end
  // in time, and are not loaded once they list both modules to load.
  std::vector<std::string> options = {"-y",          "-j",    "1",
                                      "--not-after", "09:36", "--report",
                                      "r.jsonl"};
  // The plan says so first, and touches nothing: no card, no file.
  options.push_back("--plan");
  ToolRun run = Campaign(options);
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("leaves 2 cards not started: 127.0.0.3 "
                            "127.0.0.4.\n\tThe smallest -j that starts every "
                            "card within the window: 3.\n"))
      << run.output;
  EXPECT_EQ("<missing>", ReadFile(sim_path("contacts")));
  EXPECT_EQ("<missing>", ReadFile("result.txt"));
  EXPECT_EQ("<missing>", ReadFile("r.jsonl.part"));
  options.pop_back();
  run = Campaign(options);
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\tThe window ends at 2026-12-07T09:36:00+00:00, "
                            "6 min 0 s from now"))
      << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("Interrupted")) << run.output;
  EXPECT_EQ("upgraded 1 \nnot_started 1 window ended\n"
            "not_started 1 window ended\n",
            Outcomes());
  // Their logs were saved before their path was known.
  EXPECT_EQ("data of 127.0.0.4", ReadFile("127.0.0.4_data.txt"));
  EXPECT_EQ(2u, Occurrences(ReadFile("result.txt"),
                            "Not loaded: the window ends before its upgrade "
                            "could.\n"));
  // After a dry run, by what it found: the first card is current now.
  run = Campaign({"-y", "-j", "1", "--check", "--plan"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("\tNeeds: 2 both modules, 0 the interim patch "
                            "first, 0 the APP alone, 1 nothing, 0 do not "
                            "answer.\n\tWave 1: 3 cards, 09:30 to 09:38.\n"))
      << run.output;
}

TEST_F(RolloutTest, ACardDarkAtFirstIsUpgradedOnALaterTry) {
  std::vector<Card> cards = Numbered(2, 2);
  cards[1].refuse_logins = 1;  // still starting at the first try
  Prepare(cards);
  ToolRun run = Campaign(
      {"-y", "-j", "2", "--retry-unreachable", "2", "--report", "r.jsonl"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.3        failed: login failed in "));
  EXPECT_NE(std::string::npos, run.output.find("; tried again in 5 min 0 s\n"));
  EXPECT_NE(std::string::npos,
            run.output.find("127.0.0.3        started again (try 2)\n"));
  std::istringstream lines(ReadFile("r.jsonl"));
  std::map<std::string, nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json r = nlohmann::json::parse(line);
    records[r["address"]] = r;
  }
  EXPECT_EQ(1, records["127.0.0.2"]["tries"]);
  EXPECT_EQ(2, records["127.0.0.3"]["tries"]);
  EXPECT_EQ("upgraded", records["127.0.0.3"]["outcome"]);
  // Its block holds both tries, in order.
  std::string log = ReadFile("result.txt");
  size_t block = log.find("\n*** Card 127.0.0.3 ***\n");
  ASSERT_NE(std::string::npos, block);
  size_t first = log.find("ERROR!!! Login unsuccessful.", block);
  size_t second = log.find("Loading OS, please wait", block);
  EXPECT_LT(first, second);
  EXPECT_EQ(std::string::npos,
            log.find("\n*** Card 127.0.0.3 ***\n", block + 1));
}

// Ctrl-C, or the stop file made from another terminal, while the wave
// question waits.
TEST_F(RolloutTest, CtrlCAtTheWaveQuestionStopsAsAnAnswerWould) {
  Prepare(Numbered(2, 3));
  struct {
    bool stop_file;
    const char* said;
    const char* reason;
  } cases[] = {
      {false,
       "\tInterrupted: no further card will be started; 0 still running "
       "will finish",
       "interrupted"},
      {true,
       "\tThe stop file upgrd_util.stop was found: no further card will be "
       "started; 0 still running will finish",
       "stop file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    RunOptions options;
    // The second round loads the cards the first upgraded again.
    options.arguments = {"-j",      "2",       "--waves", "1",
                         "--report", "r.jsonl", "--html",  "r.html",
                         "--metrics", "r.prom",  "--force"};
    // The menu and the warning are answered, the wave question never.
    options.keep_input_open = true;
    const std::string question = "\tStart wave 2 of 2 (2 cards)?\n";
    if (c.stop_file) {
      options.on_output = {
          {question, [] { WriteFile("upgrd_util.stop", ""); }}};
    } else {
      options.kill_after = question;
      options.kill_signal = SIGINT;
    }
    ToolRun run = RunTool(dir.path, "1\n1\n", 60, options);
    EXPECT_EQ(1, run.exit_code) << run.output;
    EXPECT_EQ(1, Occurrences(run.output, c.said)) << run.output;
    const std::string not_started = "not_started 2 " + std::string(c.reason);
    EXPECT_EQ("upgraded 1 \n" + not_started + "\n" + not_started + "\n",
              Outcomes());
    EXPECT_NE(std::string::npos,
              Log().find("\t127.0.0.4: Not started: " + std::string(c.reason) +
                         ".\n"));
    EXPECT_NE(std::string::npos,
              ReadFile("r.prom").find("\nupgrd_campaign_ended 1\n"));
    EXPECT_NE(std::string::npos, ReadFile("r.html").find("Ended at "));
    ASSERT_EQ(0, unlink("result.txt"));
  }
}

// One card of each path that loads goes first, as the dry run said; the
// others follow in the waves as given.
TEST_F(RolloutTest, TheCanaryIsACardOfEachPath) {
  std::vector<Card> cards = Numbered(2, 5);
  cards[2].zel = kZel211;                 // the APP alone
  cards[3].zel = "kvn_hw02_zel_200.bin";  // the interim patch first
  Prepare(cards);
  const char kCanary[] =
      "127.0.0.2 (hw02, both modules), 127.0.0.4 (hw02, the APP alone), "
      "127.0.0.5 (hw02, the interim patch first).\n";
  ToolRun run = Campaign({"-y", "-j", "5", "--check", "--canary", "paths"});
  EXPECT_NE(std::string::npos,
            run.output.find(std::string("\tThe canary, wave 1, would be: ") +
                            kCanary))
      << run.output;
  run = Campaign({"-y", "-j", "3", "--canary", "paths", "--waves", "1",
                  "--report", "r.jsonl"});
  EXPECT_EQ(0, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find(std::string("\tThe canary, wave 1: ") + kCanary))
      << run.output;
  EXPECT_EQ("upgraded 1 \nupgraded 2 \nupgraded 1 \nupgraded 1 \n"
            "upgraded 3 \n",
            Outcomes());
}

// Cards checked again after the soak: one that came back on its old
// modules, one that stopped answering; both fail their check and the rate
// stops the next wave. Then a soak command that fails its card. The fast
// clock makes the soak of an hour 3.6 s; the faults come 1.5 s after the
// card's last upload.
TEST_F(RolloutTest, ACardThatFailsItsCheckAfterTheSoakStopsTheNextWave) {
  std::vector<Card> cards = Numbered(2, 3);
  cards[0].revert_after = 1.5;
  cards[1].silent_after = 1.5;
  Prepare(cards);
  ToolRun run = Campaign({"-y", "-j", "2", "--waves", "2", "--soak", "1h",
                          "--max-failure-rate", "10%", "--report", "r.jsonl",
                          "--html", "page.html"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            ReadFile("page.html").find("<tr><th>Soak</th><td>1 h 00 min "
                                       "after each upgraded card ends"));
  EXPECT_EQ("soak_failed 1 version: it lists kvn_hw02_zel_203.bin\n"
            "soak_failed 1 echo: no echo reply\n"
            "not_started 2 the module failure rate went above 10%\n",
            Outcomes())
      << run.output;
  run = Campaign({"-y", "--limit", "127.0.0.4", "--soak", "1m",
                  "--soak-command", "/bin/false", "--report", "r.jsonl"});
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_NE(std::string::npos,
            Outcomes().find("soak_failed 1 command: exited with code 1"))
      << Outcomes();
}

}  // namespace
