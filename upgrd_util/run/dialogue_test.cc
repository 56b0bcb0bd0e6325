// Runs of the real tool binary.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/expected_output.h"
#include "tests/test_support.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/run/dialogue.h"

namespace {

const char kConfig[] = "ZEL = kvn_hw02_zel_211.bin\nAPP = kvn_hw02_app_211.bin\n";
const char kConfigLog[] =
    "Using ZEL file        : ZEL = kvn_hw02_zel_211.bin\n"
    "Using Application file: APP = kvn_hw02_app_211.bin\n\n\n";

struct DialogueTest : public testing::Test {
  void WriteModules() {
    ASSERT_TRUE(WriteFile("config.txt", kConfig));
    ASSERT_TRUE(WriteFile("kvn_hw02_zel_211.bin", Module("211", "VRN OS", 4096)));
    ASSERT_TRUE(WriteFile("kvn_hw02_app_211.bin", Module("211", "VRN APP")));
  }
  ScopedTempDir dir;
};

TEST_F(DialogueTest, TheShippedToolWritesTheLogHeaderAndKeepsEarlierRuns) {
  ASSERT_TRUE(WriteFile("result.txt", "an earlier run\n"));
  RunOptions shipped;
  shipped.tool = UPGRD_TOOL_PATH;
  ToolRun run = RunTool(dir.path, "", 30, shipped);
  EXPECT_EQ(1, run.exit_code) << run.output;
  std::string log = ReadFile("result.txt");
  EXPECT_EQ(0u, log.find("an earlier run\nVRN Upgrade Tool v1.6c\n")) << log;
  // The header closes with the stamp and an empty line.
  EXPECT_EQ("M\n\n", log.substr(log.size() - 3)) << log;
}

TEST_F(DialogueTest, DoesNotStartWithoutItsLog) {
  ASSERT_EQ(0, mkdir("result.txt", 0755));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(
      "\tCannot open the result log 'result.txt': Is a directory. No upgrade "
      "was started.\n",
      run.output);
}

TEST_F(DialogueTest, WithoutConfigurationTheRunEnds) {
  ToolRun run = RunTool(dir.path, "\n", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(std::string("Configuration file (config.txt) does not exist.\n") +
                kClosing,
            run.output);
  EXPECT_EQ(kFastLogHeader, ReadFile("result.txt"));
}

TEST_F(DialogueTest, AMissingZelModuleEndsTheRunBeforeTheBanner) {
  ASSERT_TRUE(WriteFile("config.txt", kConfig));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(std::string("File does not exist: ./kvn_hw02_zel_211.bin\n") +
                kClosing,
            run.output);
  EXPECT_EQ(std::string(kFastLogHeader) + kConfigLog, ReadFile("result.txt"));
}

TEST_F(DialogueTest, AnEmptyNameNamesTheDirectoryAndThatIsNoModule) {
  ASSERT_TRUE(WriteFile("config.txt", "zel = lower-case key\n"));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(std::string("File does not exist: ./\n") + kClosing, run.output);
}

TEST_F(DialogueTest, DirectoriesAndFifosAreNoModules) {
  WriteModules();
  ASSERT_EQ(0, unlink("kvn_hw02_zel_211.bin"));
  ASSERT_EQ(0, mkdir("kvn_hw02_zel_211.bin", 0755));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(std::string("File does not exist: ./kvn_hw02_zel_211.bin\n") +
                kClosing,
            run.output);

  // Nobody writes to the FIFO: the check must not wait for a writer.
  ASSERT_EQ(0, rmdir("kvn_hw02_zel_211.bin"));
  ASSERT_EQ(0, mkfifo("kvn_hw02_zel_211.bin", 0644));
  run = RunTool(dir.path, "", 30);
  EXPECT_EQ(std::string("File does not exist: ./kvn_hw02_zel_211.bin\n") +
                kClosing,
            run.output);
  EXPECT_LT(run.seconds, 10);
}

TEST_F(DialogueTest, AModuleShorterThanAHeaderEndsTheRun) {
  WriteModules();
  ASSERT_TRUE(WriteFile("kvn_hw02_zel_211.bin", Module("211", "VRN OS", 255)));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(std::string("This file is not a valid KVN firmware module: "
                        "./kvn_hw02_zel_211.bin") +
                kClosing,
            run.output);
  // The log was closed before the end: nothing after the config lines.
  EXPECT_EQ(std::string(kFastLogHeader) + kConfigLog, ReadFile("result.txt"));
}

TEST_F(DialogueTest, AMissingAppModuleEndsTheRunAfterTheZelLine) {
  WriteModules();
  ASSERT_EQ(0, unlink("kvn_hw02_app_211.bin"));
  ToolRun run = RunTool(dir.path, "", 30);
  std::string banner = Banner();
  std::string zel_part = banner.substr(0, banner.find("(c)"));
  EXPECT_EQ(zel_part + "File does not exist: ./kvn_hw02_app_211.bin\n" +
                kClosing,
            run.output);
}

TEST_F(DialogueTest, WithoutAListTheCardIsEnteredAndEndOfInputEndsTheRun) {
  WriteModules();
  // A very long answer is read safely and refused, not cut.
  ToolRun run = RunTool(dir.path, std::string(1 << 20, '1') + "\n", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + EntryStart() +
                "\tToo long: at most 25 characters. Please enter it again.\n"
                "\n\tIP Address of target to upgrade: " +
                kClosing,
            run.output);
}

TEST_F(DialogueTest, InputFilesThatAreNoRegularFilesCountAsMissing) {
  // A directory would read as empty, and a FIFO would block for ever.
  using Make = int (*)(const char*);
  Make makers[] = {[](const char* p) { return mkdir(p, 0755); },
                   [](const char* p) { return mkfifo(p, 0644); }};
  for (Make make : makers) {
    ASSERT_EQ(0, make("config.txt"));
    ToolRun run = RunTool(dir.path, "", 30);
    EXPECT_EQ(std::string("Configuration file (config.txt) does not exist.\n") +
                  kClosing,
              run.output);
    ASSERT_EQ(0, remove("config.txt"));

    WriteModules();
    ASSERT_EQ(0, make("iplist.txt"));
    run = RunTool(dir.path, "", 30);
    // As without the file: the card is entered, and no warning about it.
    EXPECT_EQ(Banner() + EntryStart() + kClosing, run.output);
    EXPECT_LT(run.seconds, 10);
    ASSERT_EQ(0, remove("iplist.txt"));
    ASSERT_EQ(0, remove("config.txt"));
  }
}

TEST_F(DialogueTest, AnErrorInTheListIsReportedAndTheCardEnteredInstead) {
  WriteModules();
  ASSERT_TRUE(WriteFile("iplist.txt", "SystemIP=127.0.0.2\nSystemUserName=a\n"));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() +
                "\tERROR reading 'iplist.txt' at line number 3 \n"
                "\tSee error log for details.\n\n" +
                EntryStart() + kListWarning + kClosing,
            run.output);
  std::string log = ReadFile("result.txt");
  EXPECT_EQ(0u, log.find(std::string(kFastLogHeader) + kConfigLog +
                         "Error reading 'iplist.txt' at line number 3 \n"))
      << log;
}

TEST_F(DialogueTest, EndOfInputAtTheMenuEndsTheRun) {
  WriteModules();
  ASSERT_TRUE(WriteFile("iplist.txt", "SystemIP=127.0.0.2\nSystemUserName=a\n"
                                      "SystemPassword=b\n"));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + Menu(1) + kListWarning + kClosing, run.output);

  // And at the warning that follows the first answer.
  run = RunTool(dir.path, "1\n", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_NE(std::string::npos,
            run.output.find("\trun it from a pre-XP Windows machine.\n\n"
                            "\t1: Continue with upgrade\n"
                            "\t2: Enter parameters for single upgrade\n"
                            "\t3: Exit Firmware upgrade tool\n"
                            "\tAction: " +
                            std::string(kListWarning) + kClosing));
}

TEST_F(DialogueTest, AHugeListFileIsReadInBoundedMemory) {
  WriteModules();
  // A gigabyte of nothing but NUL bytes, and no card in it.
  FILE* list = fopen("iplist.txt", "w");
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(0, ftruncate(fileno(list), 1L << 30));
  fclose(list);
  ToolRun run = RunTool(dir.path, "", 120);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + EntryStart() + kListWarning + kClosing, run.output);
  EXPECT_LT(run.max_rss_kb, 100 * 1024);
}

TEST_F(DialogueTest, AnUnreadableModuleIsReported) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to run the tool as another user";
  WriteModules();
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0777));
  ASSERT_EQ(0, chmod("kvn_hw02_app_211.bin", 0));
  RunOptions nobody;
  nobody.as_nobody = true;
  ToolRun run = RunTool(dir.path, "", 30, nobody);
  if (run.exit_code >= 125)
    GTEST_SKIP() << "the user nobody cannot run the tool from here";
  std::string banner = Banner();
  EXPECT_EQ(banner.substr(0, banner.find("(c)")) +
                "File does not exist: ./kvn_hw02_app_211.bin\n" + kClosing,
            run.output);
}

// Whole runs on the platform doubles, for what simulated cards cannot show.
struct DialogueOnDoublesTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    // The run takes the log's lock itself.
    close_result_log();
    ASSERT_TRUE(WriteFile("config.txt", kConfig));
    ASSERT_TRUE(WriteFile("kvn_hw02_zel_211.bin", Module("211", "VRN OS")));
    ASSERT_TRUE(WriteFile("kvn_hw02_app_211.bin", Module("211", "VRN APP")));
    ASSERT_TRUE(WriteFile("iplist.txt", "SystemIP=127.0.0.2\n"
                                        "SystemUserName=user\n"
                                        "SystemPassword=pass\n"));
    icmp.default_reply = 1;
    console.input = {"1", "1", ""};
  }
  // The run's own log, opened by the run itself after the fixture's.
  std::string RunLog() {
    std::string log = ReadFile("result.txt");
    size_t second = log.find("VRN Upgrade Tool", 1);
    return second == std::string::npos ? log : log.substr(second);
  }
};

TEST_F(DialogueOnDoublesTest, AVersionQueryThatCannotLogInCountsAsAFailure) {
  // The card answers and takes logins, but its listing cannot be had.
  ftp.listing_fails = true;
  ProgramTest::Exit exit = RunToExit([] { std::exit(run_dialogue()); });
  EXPECT_EQ(1, exit.code);
  EXPECT_NE(std::string::npos,
            exit.console.find("\tChecking version information ... "
                              "\n\tLog in failed\n"));
  EXPECT_NE(std::string::npos,
            exit.console.find("\n\tEncountered 1 failures during upgrade.\n"));
  EXPECT_NE(std::string::npos,
            RunLog().find("\t127.0.0.2: Could not log into the Varnet's FTP "
                          "server.\n"));
}

// A card whose listing shows one thing to the load's own check and another
// to the version query that judges the patch.
struct TwoFacedCard : public FakeFtpLibrary {
  int Ls(int handle, const char* path, const char* local) override {
    listing = {(++listings % 2) ? "kvn_hw02_zel_200.bin"
                                : "kvn_hw02_zel_202.bin"};
    return FakeFtpLibrary::Ls(handle, path, local);
  }
  int listings = 0;
};

TEST_F(DialogueOnDoublesTest, AGivenUpInterimPatchNeverCountsAsSuccess) {
  // The patch is the configured ZEL module, so each patch load verifies and
  // records success, while the version query never sees the patch level.
  ASSERT_TRUE(WriteFile("config.txt", "ZEL = kvn_hw02_zel_202.bin\n"
                                      "APP = kvn_hw02_app_211.bin\n"));
  ASSERT_TRUE(WriteFile("kvn_hw02_zel_202.bin", Module("202", "VRN PATCH")));
  TwoFacedCard card;
  platform().ftp = &card;
  ProgramTest::Exit exit = RunToExit([] { std::exit(run_dialogue()); });
  EXPECT_EQ(1, exit.code);
  EXPECT_NE(std::string::npos,
            exit.console.find("\n\tApplying 3rd interim patch.\n\n"));
  EXPECT_NE(std::string::npos,
            exit.console.find("\n\tVarnet could not be upgraded.\n"));
  EXPECT_NE(std::string::npos,
            exit.console.find("\n\tEncountered 1 failures during upgrade.\n"));
  EXPECT_NE(std::string::npos,
            RunLog().find("\nFailed to load ZEL upgrade patch after 3 tries.\n"));
  EXPECT_NE(std::string::npos,
            RunLog().find("\t127.0.0.2: Could not download ZEL.\n"));
}

// A card whose listing right after its first restart goes wrong: refused,
// or fetched and gone before it is read.
struct SecondListingWrong : public FakeFtpLibrary {
  explicit SecondListingWrong(bool FakeFtpLibrary::*wrong) : wrong(wrong) {}
  int Ls(int handle, const char* path, const char* local) override {
    this->*wrong = ++listings == 2;
    return FakeFtpLibrary::Ls(handle, path, local);
  }
  bool FakeFtpLibrary::*wrong;
  int listings = 0;
};

TEST_F(DialogueOnDoublesTest, AListingDroppedAfterTheUploadIsRetriedNotFatal) {
  SecondListingWrong card(&FakeFtpLibrary::listing_fails);
  card.listing = {"kvn_hw02_zel_211.bin"};
  platform().ftp = &card;
  ProgramTest::Exit exit = RunToExit([] { std::exit(run_dialogue()); });
  EXPECT_EQ(1, exit.code);
  EXPECT_NE(std::string::npos,
            exit.console.find("\tZEL load error. Correcting , please wait\n"));
  EXPECT_NE(std::string::npos,
            exit.console.find("\tAll upgrades completed successfully.\n"));
  EXPECT_NE(std::string::npos,
            RunLog().find("Attempting connection to verify restart  "
                          "File foundfir.txt doesn't exist\n"
                          "        ZEL Load Failed\n"));
}

TEST_F(DialogueOnDoublesTest, AnUnreadableListingEndsTheRunThere) {
  SecondListingWrong card(&FakeFtpLibrary::listing_vanishes);
  card.listing = {"kvn_hw02_zel_211.bin"};
  platform().ftp = &card;
  ProgramTest::Exit exit = RunToExit([] { std::exit(run_dialogue()); });
  EXPECT_EQ(1, exit.code);
  std::string end = std::string("Unable to run this program. Please see "
                                "result.txt file for information.") +
                    kListWarning + kClosing;
  EXPECT_EQ(exit.console.size() - end.size(), exit.console.rfind(end))
      << exit.console;
  EXPECT_EQ(std::string::npos, RunLog().find("Summary"));
  // The session of the listing is the one quit last.
  EXPECT_TRUE(card.open_handles.empty());
}

// A card whose upgrade checks, as another run would, whether its card is
// free.
struct LockCheckingCard : public FakeFtpLibrary {
  int Login(const char* host, const char* user, const char* password,
            const char* account) override {
    FileLock other;
    bool busy = false;
    if (!lock_card(host, &other, &busy) && busy)
      WriteFile(std::string("held_") + host, "");
    return FakeFtpLibrary::Login(host, user, password, account);
  }
};

// The dialogue holds each card while it works on it, and leaves alone one
// that another run holds: said in its own words, counted in the summary as
// a campaign counts it.
TEST_F(DialogueOnDoublesTest, ACardAnotherRunHoldsIsLeftAlone) {
  ASSERT_TRUE(WriteFile("iplist.txt", "SystemIP=192.0.2.211\n"
                                      "SystemUserName=user\n"
                                      "SystemPassword=pass\n"
                                      "SystemIP=192.0.2.212\n"
                                      "SystemUserName=user\n"
                                      "SystemPassword=pass\n"));
  LockCheckingCard card;
  card.listing = {"kvn_hw02_zel_211.bin"};
  platform().ftp = &card;
  FileLock other_run;
  bool busy = false;
  ASSERT_TRUE(lock_card("192.0.2.211", &other_run, &busy));
  ProgramTest::Exit exit = RunToExit([] { std::exit(run_dialogue()); });
  EXPECT_EQ(1, exit.code);
  EXPECT_NE(std::string::npos,
            exit.console.find(
                "\n\t***************************************************\n"
                "\t192.0.2.211 is busy: another run of the tool on this "
                "workstation\n\tis upgrading it. It was not started.\n\n"
                "\n\t***************************************************\n"
                "\tStarting Upgrade to 192.0.2.212. \n"))
      << exit.console;
  EXPECT_NE(std::string::npos,
            exit.console.find("\n\tEncountered 1 failures during upgrade.\n"));
  EXPECT_NE(std::string::npos,
            RunLog().find("\t192.0.2.211: Busy with another run of the tool; "
                          "not started.\n"));
  EXPECT_EQ("<missing>", ReadFile("held_192.0.2.211"));
  EXPECT_EQ("", ReadFile("held_192.0.2.212"));
  EXPECT_EQ("<missing>", ReadFile(card_lock_path("192.0.2.212")));
}

}  // namespace
