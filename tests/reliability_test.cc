// Cards that misbehave, and runs that are killed: the tool must take the
// failure path meant for each fault, go on to the next card within its
// time-outs, and lose nothing it had finished.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

struct Fault {
  const char* name;
  const char* console;  // what the bad card's part of the console shows
  const char* reason;   // its line in the summary; null: it was upgraded
  double seconds;       // how long the whole run may take
  const char* log = nullptr;  // what result.txt must hold as well
};

const char kLoginFailed[] =
    "\tTesting login ...                                Login failed\n";
const char kNoLogin[] = "Could not log into the Varnet's FTP server.";
const char kNoZel[] = "Could not download ZEL.";
const char kLogsSaved[] =
    "\tSaving log files                                 OK\n";
const char kNoData[] =
    "Could not save data.txt \nevent.txt is saved as: 127.0.0.2_event.txt\n";

// The names in the working directory that hold `part` (".part": what a
// transfer left behind).
std::vector<std::string> NamesWith(const std::string& part) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(".")) {
    while (struct dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != ".." && name.find(part) != std::string::npos)
        names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

const Fault kFaults[] = {
    {"no-greeting", kLoginFailed, kNoLogin, 30},
    {"silent", kLoginFailed, kNoLogin, 30},
    {"greeting-421", kLoginFailed, kNoLogin, 30},
    {"drop-after-login", kLoginFailed, kNoLogin, 30},
    {"nlst-refused", "\tChecking version information ... \n\tLog in failed\n",
     kNoLogin, 30},
    {"listing-100k", "\tAttempting connection to verify restart  ", nullptr,
     60},
    {"long-line", "\n\tFailure loading ZEL\n", kNoZel, 30},
    {"retr-stall", kLogsSaved, nullptr, 30, kNoData},
    // 1 byte a second, below the floor under every transfer's pace.
    {"retr-trickle", kLogsSaved, nullptr, 30, kNoData},
    // Above the floor, but longer than any call may last.
    {"retr-steady", kLogsSaved, nullptr, 40, kNoData},
    // Beyond the bound on a saved log, both logs.
    {"retr-endless", kLogsSaved, nullptr, 30,
     "Could not save data.txt \nCould not save event.txt \n"},
    // Beyond the bound on a listing.
    {"nlst-endless", "\tChecking version information ... \n\tLog in failed\n",
     kNoLogin, 30},
    {"stor-refused",
     "\tLoading OS, please wait ...                      Error.\n", kNoZel,
     30},
    {"stor-cut", "\tLoading OS, please wait ...                      Error.\n",
     kNoZel, 30},
    {"pasv-elsewhere", "\tAttempting connection to verify restart  ",
     nullptr, 30},
};

void PrintTo(const Fault& fault, std::ostream* out) {
  *out << fault.name;
}

struct BadCardTest : public EndToEndTest,
                     public testing::WithParamInterface<Fault> {};

// The bad card comes first; the good one after it must still be upgraded.
TEST_P(BadCardTest, TakesItsFailurePathAndTheRunGoesOn) {
  const Fault& fault = GetParam();
  Card bad("127.0.0.2");
  bad.fault = fault.name;
  Prepare({bad, {"127.0.0.3"}});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(1, run.exit_code) << run.output;
  EXPECT_LT(run.seconds, fault.seconds);
  size_t next_card = run.output.find("\tStarting Upgrade to 127.0.0.3. \n");
  ASSERT_NE(std::string::npos, next_card) << run.output;
  EXPECT_NE(std::string::npos,
            run.output.substr(0, next_card).find(fault.console))
      << run.output.substr(0, next_card);

  std::string log = Log();
  if (fault.reason) {
    EXPECT_NE(std::string::npos,
              log.find(std::string("\t127.0.0.2: ") + fault.reason + "\n"))
        << log;
    EXPECT_NE(std::string::npos,
              log.find("\nEncountered 1 failures during upgrade.\n"));
  } else {
    EXPECT_NE(std::string::npos,
              log.find("All upgrades completed successfully.\n"))
        << log;
  }
  if (fault.log) {
    EXPECT_NE(std::string::npos, log.find(fault.log)) << log;
  }
  EXPECT_EQ("data of 127.0.0.3", ReadFile("127.0.0.3_data.txt"));
  EXPECT_TRUE(NamesWith(".part").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BadCardTest, testing::ValuesIn(kFaults),
    [](const testing::TestParamInfo<Fault>& info) {
      std::string name;
      for (const char* c = info.param.name; *c; ++c)
        name += *c == '-' ? '_' : *c;
      return name;
    });

struct FaultDetailTest : public EndToEndTest {};

TEST_F(FaultDetailTest, APassiveReplyNamingAnotherHostIsNotFollowed) {
  Card bad("127.0.0.2");
  bad.fault = "pasv-elsewhere";
  Prepare({bad});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_NE(std::string::npos,
            Log().find("All upgrades completed successfully.\n"));
  // Transfers went to the card's own address only.
  EXPECT_EQ("0\n", ReadFile(sim_path("decoy")));
}

// A fetch given up, stalled or cut off at its bound, keeps the earlier
// copy.
struct FetchGivenUpTest : public EndToEndTest,
                          public testing::WithParamInterface<const char*> {};

TEST_P(FetchGivenUpTest, KeepsTheEarlierCopy) {
  Card bad("127.0.0.2");
  bad.fault = GetParam();
  Prepare({bad});
  ASSERT_TRUE(WriteFile("127.0.0.2_data.txt", "saved last week"));
  Run("1\n1\n\n");
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Could not save data.txt \n")) << log;
  EXPECT_EQ("saved last week", ReadFile("127.0.0.2_data.txt"));
}

INSTANTIATE_TEST_SUITE_P(Faults, FetchGivenUpTest,
                         testing::Values("retr-stall", "retr-endless"));

TEST_F(FaultDetailTest, ControlCharactersFromACardAreShownAsQuestionMarks) {
  Card bad("127.0.0.2");
  bad.fault = "control-chars";
  Prepare({bad});
  ToolRun run = Run("1\n1\n\n");
  std::string log = Log();
  const char kShown[] = "kvn_hw02_zel_211.bin?]0;owned??[2J?";
  EXPECT_NE(std::string::npos,
            log.find(std::string("Before Upgrading the VRN the ZEL is: ") +
                     kShown + "\n"))
      << log;
  // Compared as received, the name is not the expected one.
  EXPECT_NE(std::string::npos,
            log.find(std::string("Found ZEL      : ") + kShown + " "));
  EXPECT_NE(std::string::npos, log.find("        ZEL Load Failed\n"));
  for (char c : ReadFile("result.txt"))
    EXPECT_TRUE(c >= 0x20 ? c != 0x7F : c == '\n' || c == '\t') << int(c);
  EXPECT_EQ(std::string::npos, run.output.find_first_of("\x1b\x07\x7f"));
}

TEST_F(FaultDetailTest, ANameLongerThanAnyPieceIsComparedWhole) {
  Card bad("127.0.0.2");
  bad.fault = "long-line";
  Prepare({bad});
  Run("1\n1\n\n");
  std::string log = Log();
  // The card's name begins like the expected one; it must not pass for it.
  EXPECT_NE(std::string::npos,
            log.find("Found ZEL      : kvn_hw02_zel_211xxxxxxxxxx"));
  EXPECT_EQ(std::string::npos, log.find("        OK\n"));
}

TEST_F(FaultDetailTest, ACardThatGoesDarkAfterTheUploadIsUnresponsive) {
  Card bad("127.0.0.3");
  bad.fault = "dark-after-upload";
  // It silences ICMP for the whole namespace, so it comes last.
  Prepare({{"127.0.0.2"}, bad});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_LT(run.seconds, 100);
  size_t card = run.output.find("\tStarting Upgrade to 127.0.0.3. \n");
  ASSERT_NE(std::string::npos, card);
  std::string tail = run.output.substr(card);
  EXPECT_NE(std::string::npos, tail.find("     ERROR\n"));
  EXPECT_NE(std::string::npos, tail.find("\n\tCould not log in.\n"));
  EXPECT_NE(std::string::npos, tail.find("\n\tFailure loading ZEL\n"));
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("\nPing at 127.0.0.3 failed\n"));
  EXPECT_NE(std::string::npos, log.find(std::string("\t127.0.0.3: ") + kNoZel));
  EXPECT_NE(std::string::npos, log.find("\nEncountered 1 failures"));
}

// A run killed at any moment keeps every entry it had finished, and every
// earlier run's.
struct KilledRunTest : public EndToEndTest {
  void SetUp() override {
    EndToEndTest::SetUp();
    ASSERT_TRUE(WriteFile("result.txt", "an earlier run\n"));
  }
  std::string LogAfterEarlierRun() {
    std::string log = ReadFile("result.txt");
    EXPECT_EQ(0u, log.find("an earlier run\nVRN Upgrade Tool v1.6c\n"));
    return log;
  }
};

TEST_F(KilledRunTest, DuringAWait) {
  Prepare({{"127.0.0.2"}});
  RunOptions options;
  options.kill_after = "\tPlease wait (3 minutes) for system updates    ";
  ToolRun run = RunTool(dir.path, "1\n1\n\n", 60, options);
  ASSERT_TRUE(run.killed);
  std::string log = LogAfterEarlierRun();
  std::string finished =
      "Before Upgrading the VRN the ZEL is: kvn_hw02_zel_203.bin\n"
      "Attempting to log in to 127.0.0.2 ... Log in successful\n"
      "Loading OS, please wait ... ";
  ASSERT_GE(log.size(), finished.size());
  EXPECT_EQ(finished, log.substr(log.size() - finished.size())) << log;

  // The next run may start (the lock went with the killed one), and its
  // header starts on a line of its own.
  EXPECT_EQ(1, RunTool(dir.path, "3\n\n", 60).exit_code);
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt")
                .find(finished + "\n" + kFastLogHeader + "Using ZEL file"));
}

TEST_F(KilledRunTest, DuringAnUpload) {
  Card slow("127.0.0.2");
  slow.fault = "stor-slow";
  Prepare({slow});
  // Large enough to take seconds at the card's pace.
  ASSERT_TRUE(WriteFile(kZel211, Module("211", "VRN OS", 4 << 20)));
  RunOptions options;
  // The log's side of the line comes right after the console's; the upload
  // itself then takes many seconds.
  options.kill_after = "\tLoading OS, please wait ... ";
  options.kill_delay_ms = 300;
  ToolRun run = RunTool(dir.path, "1\n1\n\n", 60, options);
  ASSERT_TRUE(run.killed);
  std::string log = LogAfterEarlierRun();
  std::string finished =
      "Attempting to log in to 127.0.0.2 ... Log in successful\n"
      "Loading OS, please wait ... ";
  ASSERT_GE(log.size(), finished.size());
  EXPECT_EQ(finished, log.substr(log.size() - finished.size())) << log;
  // Nothing but the inputs, the card's logs, its listing and the log.
  EXPECT_EQ("data log\n", ReadFile("127.0.0.2_data.txt").substr(0, 9));
}

}  // namespace

namespace {

// Ctrl-C or SIGTERM in the middle of a fetch or a listing: the tool ends as
// the signal would end it, and leaves no part file and no listing behind;
// in a campaign, at the second signal.
struct Interruption {
  int signal;
  const char* fault;
  const char* during;  // the console text it comes after
  bool campaign;
};

void PrintTo(const Interruption& interruption, std::ostream* out) {
  *out << strsignal(interruption.signal) << " " << interruption.fault
       << (interruption.campaign ? " campaign" : "");
}

struct InterruptedTransferTest
    : public EndToEndTest,
      public testing::WithParamInterface<Interruption> {};

TEST_P(InterruptedTransferTest, LeavesNoTemporaryFile) {
  const Interruption& interruption = GetParam();
  Card bad("127.0.0.2");
  bad.fault = interruption.fault;
  Prepare({bad});
  RunOptions options;
  options.kill_after = interruption.during;
  options.kill_delay_ms = 500;
  options.kill_signal = interruption.signal;
  if (interruption.campaign) {
    options.arguments = {"--parallel", "2"};
    options.kill_count = 2;
  }
  ToolRun run = RunTool(dir.path, "1\n1\n\n", 60, options);
  EXPECT_EQ(interruption.signal, run.signal) << run.output;
  EXPECT_EQ(std::vector<std::string>(), NamesWith(".part"));
  EXPECT_EQ(std::vector<std::string>(), NamesWith("foundfir"));
}

const char kSavingLogs[] = "\tSaving log files";
const char kCheckingVersion[] = "\tChecking version information ... ";
const char kStarted[] = "started\n";

INSTANTIATE_TEST_SUITE_P(
    Signals, InterruptedTransferTest,
    testing::Values(
        Interruption{SIGINT, "retr-stall", kSavingLogs, false},
        Interruption{SIGTERM, "retr-stall", kSavingLogs, false},
        Interruption{SIGINT, "nlst-stall", kCheckingVersion, false},
        Interruption{SIGTERM, "nlst-stall", kCheckingVersion, false},
        Interruption{SIGINT, "retr-stall", kStarted, true},
        Interruption{SIGTERM, "nlst-stall", kStarted, true}));

// A second run in a directory whose result.txt another run holds locked.
struct SecondRunTest
    : public testing::TestWithParam<std::pair<std::vector<std::string>, int>> {
};

TEST_P(SecondRunTest, SaysSoAndWritesNothing) {
  ScopedTempDir dir;
  ASSERT_TRUE(WriteFile("result.txt", "an earlier run\n"));
  int held = open("result.txt", O_RDWR);
  ASSERT_EQ(0, flock(held, LOCK_EX));
  RunOptions options;
  options.arguments = GetParam().first;
  ToolRun run = RunTool(dir.path, "1\n1\n\n", 30, options);
  close(held);
  EXPECT_EQ(GetParam().second, run.exit_code);
  EXPECT_EQ("\tAnother run of the tool is using this directory (result.txt "
            "is locked). No upgrade was started.\n",
            run.output);
  EXPECT_EQ("an earlier run\n", ReadFile("result.txt"));
  EXPECT_EQ(std::vector<std::string>{"result.txt"}, NamesWith("."));
}

INSTANTIATE_TEST_SUITE_P(
    DialogueAndCampaign, SecondRunTest,
    testing::Values(std::make_pair(std::vector<std::string>(), 1),
                    std::make_pair(std::vector<std::string>{"-j", "2"}, 2)));

}  // namespace
