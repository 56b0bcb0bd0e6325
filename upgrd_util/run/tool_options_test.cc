#include "upgrd_util/run/tool_options.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/base/card_outcome.h"

namespace {

struct ToolOptionsTest : public ProgramTest {};

// Scripts that read reports take their words from here: one JSON document
// with every outcome once, in order, and nothing else done.
TEST_F(ToolOptionsTest, ListOutcomesPrintsTheWholeTable) {
  char name[] = "upgrd_util", option[] = "--list-outcomes";
  char* argv[] = {name, option, nullptr};
  ToolOptions options;
  EXPECT_EQ(0, parse_tool_options(2, argv, &options));

  nlohmann::json list = nlohmann::json::parse(console.output, nullptr, false);
  ASSERT_TRUE(list.is_array()) << console.output;
  ASSERT_EQ(static_cast<size_t>(OUTCOME_WOULD_PATCH), list.size());
  const std::set<std::string> keys = {
      "word", "failure", "done", "module_failure", "retryable",
      "colour", "said", "summary"};
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    const OutcomeWords& words = outcome_words(static_cast<CardOutcome>(o));
    const nlohmann::json& item = list[o - OUTCOME_UPGRADED];
    std::set<std::string> got;
    for (const auto& [key, value] : item.items())
      got.insert(key);
    EXPECT_EQ(keys, got) << words.word;
    EXPECT_EQ(words.word, item.value("word", "")) << item;
    EXPECT_EQ(words.done, item.value("done", !words.done)) << item;
    EXPECT_EQ(words.failure, item.value("failure", !words.failure)) << item;
    EXPECT_EQ(words.summary == nullptr, item["summary"].is_null()) << item;
  }
  EXPECT_EQ("", Log());
}

// A file option given an empty name is refused with one line, not taken
// for an option not given.
TEST_F(ToolOptionsTest, AnEmptyFileNameIsRefused) {
  for (const FileOption& option : kFileOptions) {
    std::string name = "upgrd_util", given = option.option, empty;
    char* argv[] = {name.data(), given.data(), empty.data(), nullptr};
    ToolOptions options;
    console.output.clear();
    EXPECT_EQ(2, parse_tool_options(3, argv, &options)) << given;
    EXPECT_EQ("upgrd_util: " + given + ": an empty file name (see "
              "upgrd_util --help)\n",
              console.output);
  }
}

// The soak and its command go with an upgrade: a dry run refuses them
// (the soak's time only with --plan), and a command needs a soak.
TEST_F(ToolOptionsTest, TheSoakIsRefusedWhereNoCardIsUpgraded) {
  struct {
    std::vector<std::string> arguments;
    const char* said;  // "": parsed
  } cases[] = {
      {{"--soak", "10m", "--soak-command", "check-card"}, ""},
      {{"--check", "--plan", "--soak", "10m"}, ""},
      {{"--soak-command", "check-card"}, "--soak-command requires --soak"},
      {{"--check", "--soak", "10m"}, "--check: a dry run starts every card"},
      {{"--check", "--plan", "--soak", "1m", "--soak-command", "check-card"},
       "--soak-command: a dry run upgrades no card"},
      {{"--soak", "0"}, "--soak: \"0\" is not a time"},
  };
  std::string name = "upgrd_util";
  for (auto& c : cases) {
    std::vector<char*> argv = {name.data()};
    for (std::string& argument : c.arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    ToolOptions options;
    console.output.clear();
    int parsed = parse_tool_options(static_cast<int>(argv.size()) - 1,
                                    argv.data(), &options);
    EXPECT_EQ(*c.said ? 2 : -1, parsed) << c.said;
    EXPECT_NE(std::string::npos, console.output.find(c.said)) << c.said;
    if (parsed == -1) {
      EXPECT_EQ(600, options.rollout.soak_seconds) << console.output;
    }
  }
}

// The command line as a shell reads it back, and no option's value that
// could carry a secret: the commands' arguments are hidden.
TEST_F(ToolOptionsTest, TheCommandLineAsGivenWithoutSecrets) {
  struct {
    std::vector<std::string> argv;
    const char* shown;
  } cases[] = {
      {{"upgrd_util", "-y", "-j", "50", "--report", "night.jsonl"},
       "upgrd_util -y -j 50 --report night.jsonl"},
      {{"./upgrd_util", "--site", "ops 1", "--limit", "", "--waves", "1,5%"},
       "./upgrd_util --site 'ops 1' --limit '' --waves 1,5%"},
      {{"upgrd_util", "--site", "it's;$(rm -rf ~)"},
       "upgrd_util --site 'it'\\''s;$(rm -rf ~)'"},
      {{"upgrd_util", "--password-from-env", "CARD_PASSWORD",
        "--password-file", "/root/pw"},
       "upgrd_util --password-from-env CARD_PASSWORD --password-file "
       "/root/pw"},
      {{"upgrd_util", "--on-event", "curl -u ops:s3cret https://chat/x"},
       "upgrd_util --on-event 'curl ***'"},
      {{"upgrd_util", "--on-event=notify  secret", "--on-event", "alert"},
       "upgrd_util '--on-event=notify ***' --on-event alert"},
      {{"upgrd_util", "--soak-command", "check -k tok", "--soak", "1m"},
       "upgrd_util --soak-command 'check ***' --soak 1m"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.shown, command_line_shown(c.argv)) << c.shown;
  // The page and the events show the options so too.
  char name[] = "upgrd_util", soak[] = "--soak=1m", command[] = "--soak-command",
       words[] = "check -k tok";
  char* argv[] = {name, soak, command, words, nullptr};
  ToolOptions options;
  ASSERT_EQ(-1, parse_tool_options(4, argv, &options)) << console.output;
  EXPECT_EQ("--soak=1m --soak-command check ***", options.arguments);
  EXPECT_EQ(std::vector<std::string>({"--soak=1m", "--soak-command",
                                      "check ***"}),
            options.argument_list);
}

}  // namespace
