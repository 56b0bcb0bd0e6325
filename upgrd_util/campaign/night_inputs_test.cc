#include "upgrd_util/campaign/night_inputs.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/output/result_log.h"

namespace {

struct NightInputsTest : public ProgramTest {
  // The options of `arguments`, as the command line gives them.
  ToolOptions Parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "upgrd_util");
    std::vector<char*> argv;
    for (std::string& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    ToolOptions options;
    EXPECT_EQ(-1, parse_tool_options(static_cast<int>(arguments.size()),
                                     argv.data(), &options));
    return options;
  }
};

// Each problem with what the options name is one line, and the first ends
// the reading: nothing after it is looked at, nothing is written.
TEST_F(NightInputsTest, EachProblemIsOneLineAndTheFirstEndsTheReading) {
  ASSERT_TRUE(WriteFile("config.txt", "ZEL = z.bin\nAPP = a.bin\n"));
  ASSERT_TRUE(WriteFile("stop", ""));
  // As a campaign reads them: before its log is opened.
  close_result_log();
  const std::string log = ReadFile("result.txt");
  struct {
    std::vector<std::string> arguments;
    const char* said;  // how the one line begins
    std::vector<std::string> input = {};  // standard input's lines
    bool terminal = false;                // standard input a terminal
  } cases[] = {
      {{"-y", "--password-from-stdin"},
       "upgrd_util: --password-from-stdin: standard input is a terminal",
       {"s3cret"},
       true},
      {{"-y", "--password-from-stdin"},
       "upgrd_util: --password-from-stdin: standard input holds no line\n"},
      {{"-y", "--password-from-stdin"},
       "upgrd_util: --password-from-stdin: the first line of standard input "
       "is empty\n",
       {""}},
      {{"-y", "--password-from-stdin"},
       "upgrd_util: --password-from-stdin: the first line of standard input "
       "is longer than 10 characters\n",
       {"0123456789a"}},
      {{"--password-from-env", "UPGRD_NIGHT_NOT_SET"},
       "upgrd_util: --password-from-env: the environment variable "
       "UPGRD_NIGHT_NOT_SET is not set\n"},
      {{"--password-file", "none.txt"}, "upgrd_util: --password-file: "},
      {{"--report", "n.jsonl", "--html", "./n.jsonl"},
       "upgrd_util: --report and --html name one file: ./n.jsonl\n"},
      {{"--stop-file", "stop"}, "upgrd_util: the stop file stop is there"},
      {{"--on-event", "upgrd-no-such-program"}, "upgrd_util: --on-event: "},
      {{"--soak", "1m", "--soak-command", "upgrd-no-such-program"},
       "upgrd_util: --soak-command: "},
      {{"--resume", "none.jsonl"}, "upgrd_util: --resume: "},
      // Two problems: the first is said.
      {{"--stop-file", "stop", "--resume", "none.jsonl"},
       "upgrd_util: the stop file stop is there"},
      {{"--html", "a.bin", "--on-event", " "},
       "upgrd_util: --html a.bin names"},
  };
  for (const auto& c : cases) {
    ToolOptions options = Parsed(c.arguments);
    console.output.clear();
    console.input.assign(c.input.begin(), c.input.end());
    console.input_is_terminal = c.terminal;
    NightInputs night;
    EXPECT_FALSE(read_night_inputs(options, &night)) << c.said;
    EXPECT_EQ(1, Occurrences(console.output, "\n")) << console.output;
    EXPECT_EQ(0u, console.output.find(c.said)) << console.output;
  }
  EXPECT_EQ(log, ReadFile("result.txt"));
}

// What a campaign reads is in the one value: the rollout with
// --max-failures and the soak, the hook's and the soak command's words, the records resumed, and the waves in
// cards once the cards are known.
TEST_F(NightInputsTest, TheNightsInputsAreOneValue) {
  ASSERT_TRUE(WriteFile("r.jsonl", "{\"address\":\"127.0.0.2\","
                                   "\"outcome\":\"upgraded\"}\n"));
  ToolOptions options =
      Parsed({"--max-failures", "2", "--waves", "1,50%", "--on-event",
              "sh -c true", "--resume", "r.jsonl", "--site", "here",
              "--soak", "10m", "--soak-command", "sh -c check"});
  NightInputs night;
  ASSERT_TRUE(read_night_inputs(options, &night)) << console.output;
  EXPECT_EQ(2, night.rollout.max_failures);
  EXPECT_EQ((std::vector<std::string>{"sh", "-c", "true"}), night.hook);
  EXPECT_EQ(600, night.rollout.soak_seconds);
  EXPECT_EQ((std::vector<std::string>{"sh", "-c", "check"}),
            night.soak_command);
  EXPECT_EQ(1u, night.earlier.count("127.0.0.2"));
  // The password from standard input is its first line, and no more of
  // it is read.
  console.input = {"0123456789", "next"};
  ToolOptions from_stdin = Parsed({"--yes", "--password-from-stdin"});
  NightInputs piped;
  ASSERT_TRUE(read_night_inputs(from_stdin, &piped)) << console.output;
  EXPECT_STREQ("0123456789", piped.password);
  EXPECT_EQ(1, console.lines_read);
  upgrade_target cards[4] = {};
  cards[3].state.failed_before = true;
  count_waves({&cards[0], &cards[1], &cards[2], &cards[3]}, &night);
  EXPECT_EQ((std::vector<size_t>{1, 2, 1}), night.waves);
}

}  // namespace
