// Whole runs of the tool against well-behaved simulated cards, compared byte
// for byte with what the operator sees and what the log keeps.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e_support.h"

namespace {

// --- What the console shows -------------------------------------------

std::string CardStart(const std::string& ip) {
  return "\n\t" + std::string(51, '*') + "\n\tStarting Upgrade to " + ip +
         ". \n\tChecking network connection ...  ";
}

const char kLoginLabel[] = "\tTesting login ...                ";
const char kVersionLabel[] = "\tChecking version information ... ";
const char kStepOk[] = "                OK\n";

std::string ChecksOk() {
  return ProbeAnswered() + "              OK\n" + kLoginLabel + kStepOk +
         "\tSaving log files                 " + kStepOk + kVersionLabel +
         kStepOk;
}

std::string ZelUploaded(const char* wait_line, int seconds) {
  return ZelToProbe(wait_line, seconds) + ProbeAnswered();
}

std::string ZelLoaded(const char* wait_line, int seconds) {
  return ZelUploaded(wait_line, seconds) + "      OK\n";
}

std::string AppLoaded(const char* wait_line, int seconds) {
  return AppToProbe(wait_line, seconds) + ProbeAnswered() + "      OK\n";
}

const char kSummary[] = "\n\t*********** Upgrade Summary *********** \n";
const char kAllDone[] = "\tAll upgrades completed successfully.\n\n\n";

std::string Failures(int n) {
  return "\n\tEncountered " + std::to_string(n) +
         " failures during upgrade.\n\tPlease view 'result.txt' for details.\n";
}

const char kListXpWarning[] =
    "\t**************************************************************\n"
    "\tWarning: There is a known issue with Windows XP when\n"
    "\tupgrading devices running pre kvn_hw02_zel_211.bin firmware.\n"
    "\tIf you are running Windows XP you should stop this upgrade and\n"
    "\trun it from a pre-XP Windows machine.\n\n"
    "\t1: Continue with upgrade\n"
    "\t2: Enter parameters for single upgrade\n"
    "\t3: Exit Firmware upgrade tool\n"
    "\tAction: ";

// --- What the result log holds ----------------------------------------

const char kLogEnd[] =
    "Complete at Mon Dec  7 09:30:00 AM\n \n"
    "************************************************************\n\n\n";

std::string LogCardStart(const std::string& ip, const std::string& zel) {
  return "Checking network connection ...  \n"
         "data.txt saved as: " + ip + "_data.txt\n"
         "event.txt is saved as: " + ip + "_event.txt\n"
         "Checking version information ... " + LogBefore(zel);
}

std::string LogZelLoad(const std::string& ip, const std::string& expected,
                       const std::string& found, const char* patch_line = "") {
  return LogZelToProbe(patch_line, ip) + LogAfter(expected, found) +
         (expected == found ? "        OK\n" : "        ZEL Load Failed\n");
}

std::string LogAppLoaded() {
  return LogAppToProbe(kAppWait30Log) + "      OK\n\n";
}

TEST_F(EndToEndTest, ACurrentCardIsUpgradedFromEndToEnd) {
  Prepare({{"127.0.0.2"}});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + Menu(1) + kListXpWarning + CardStart("127.0.0.2") +
                ChecksOk() + ZelLoaded(kZelWait180, 180) +
                AppLoaded(kAppWait30, 30) + kSummary + kAllDone +
                kListWarning + kClosing,
            run.output);
  EXPECT_EQ("Found 1 upgrade configuration(s)\n\n" +
                LogCardStart("127.0.0.2", "kvn_hw02_zel_203.bin") +
                LogZelLoad("127.0.0.2", kZel211, kZel211) + LogAppLoaded() +
                "All upgrades completed successfully.\n\n\n" + kLogEnd,
            Log());
  // The card's logs are saved beside the tool; the listing stays too.
  EXPECT_EQ("data of 127.0.0.2", ReadFile("127.0.0.2_data.txt"));
  EXPECT_EQ("events", ReadFile("127.0.0.2_event.txt"));
  EXPECT_EQ(std::string(kZel211) + "\nkvn_hw02_app_203.bin\n",
            ReadFile("foundfir.txt").substr(0, 42));
}

TEST_F(EndToEndTest, ANewerConfiguredZelChangesTheWaits) {
  Prepare({{"127.0.0.2"}}, kZel252);
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(Banner() + Menu(1) +
                kListXpWarning + CardStart("127.0.0.2") + ChecksOk() +
                ZelLoaded(kZelWait60, 60) + AppLoaded(kAppWait210, 210) +
                kSummary + kAllDone + kListWarning + kClosing,
            run.output);
  EXPECT_NE(std::string::npos, Log().find(kAppWait210Log));
}

// The console of a listed card that takes one patch load, then the
// configured modules.
std::string PatchThenUpgrade() {
  return Banner() + Menu(1) + kListXpWarning + CardStart("127.0.0.2") +
         ChecksOk() + "\n\tApplying interim patch.\n\n" +
         ZelUploaded(kPatchWait, 30) + ZelLoaded(kZelWait180, 180) +
         AppLoaded(kAppWait30, 30) + kSummary + kAllDone + kListWarning +
         kClosing;
}

TEST_F(EndToEndTest, AnEarlyCardGoesThroughTheInterimPatch) {
  Card card{"127.0.0.2"};
  card.zel = "kvn_hw02_zel_200.bin";
  Prepare({card});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(PatchThenUpgrade(), run.output);
  EXPECT_EQ("Found 1 upgrade configuration(s)\n\n" +
                LogCardStart("127.0.0.2", "kvn_hw02_zel_200.bin") +
                "* Detected early version, ZEL patch required\n"
                "\nApplying interim patch.\n" +
                LogZelLoad("127.0.0.2", kZel211, "kvn_hw02_zel_202.bin",
                           kPatchWaitLog) +
                LogBefore("kvn_hw02_zel_202.bin") +
                LogZelLoad("127.0.0.2", kZel211, kZel211) + LogAppLoaded() +
                "All upgrades completed successfully.\n\n\n" + kLogEnd,
            Log());
}

TEST_F(EndToEndTest, ACardAtThePatchLevelStillLoadsThePatchOnce) {
  Card card{"127.0.0.2"};
  card.zel = "kvn_hw02_zel_202.bin";
  Prepare({card});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(PatchThenUpgrade(), run.output);
}

TEST_F(EndToEndTest, AnUnknownVersionEndsTheWholeRunWithoutSummary) {
  Card card{"127.0.0.2"};
  card.zel = "kvn_hw02_zel_201.bin";
  Prepare({card, {"127.0.0.3"}});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + Menu(2) + kListXpWarning + CardStart("127.0.0.2") +
                ProbeAnswered() + "              OK\n" + kLoginLabel + kStepOk +
                "\tSaving log files                 " + kStepOk +
                kVersionLabel +
                "\n\tCould not be upgraded, unknown version. \n\n" +
                kListWarning + kClosing,
            run.output);
  EXPECT_EQ("Found 2 upgrade configuration(s)\n\n" +
                LogCardStart("127.0.0.2", "kvn_hw02_zel_201.bin") +
                "\nCould not be upgraded, unknown version. \n\n",
            Log());
  EXPECT_EQ("<missing>", ReadFile("127.0.0.3_data.txt"));
}

TEST_F(EndToEndTest, CardsWithMixedOutcomesAndTheSummary) {
  Card wrong_password{"127.0.0.3"};
  wrong_password.list_password = "guess";
  Card no_logs{"127.0.0.4"};
  no_logs.logs = false;
  Card app_refused{"127.0.0.5"};
  app_refused.refuse_app = 99;
  Prepare({{"127.0.0.2"}, wrong_password, {kSilentAddress}, no_logs,
           app_refused});
  ASSERT_TRUE(WriteFile("127.0.0.4_event.txt", "saved last time"));
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(1, run.exit_code);
  std::string expected =
      Banner() + Menu(5) + kListXpWarning + CardStart("127.0.0.2") +
      ChecksOk() + ZelLoaded(kZelWait180, 180) + AppLoaded(kAppWait30, 30) +
      CardStart("127.0.0.3") + ProbeAnswered() + "              OK\n" +
      kLoginLabel + "                Login failed\n" +
      CardStart(kSilentAddress) + ProbeSilent(10) + "             ERROR\n" +
      "\tFailure, address unresponsive.\n\n" + CardStart("127.0.0.4") +
      ChecksOk() + ZelLoaded(kZelWait180, 180) + AppLoaded(kAppWait30, 30) +
      CardStart("127.0.0.5") + ChecksOk() + ZelLoaded(kZelWait180, 180);
  std::string app_try = std::string(kLogInLabel) + "        OK\n" + kLoadingApp;
  std::string app_retry = "\n\tFailure loading APP, trying again\n"
                          "\tPlease wait (2 minutes) for system restart    " +
                          Spin(120) + "\n";
  expected += app_try + app_retry + app_try + app_retry + app_try +
              "\n\tFailure loading APP\n" + kSummary + Failures(3) +
              kListWarning + kClosing;
  EXPECT_EQ(expected, run.output);

  std::string log = Log();
  EXPECT_NE(std::string::npos,
            log.find("Checking network connection ...  \n"
                     "ERROR!!! Login unsuccessful.\n\n"));
  EXPECT_NE(std::string::npos,
            log.find("\nPing at 192.0.2.99 failed\nError\n"
                     "Upgrade @ 192.0.2.99 unresponsive.\n\n"));
  EXPECT_NE(std::string::npos,
            log.find("Could not save data.txt \nCould not save event.txt \n"));
  EXPECT_NE(std::string::npos,
            log.find("\nFailure loading APP, Failure 1, trying again\n"
                     "Please wait (2 minutes) for system restart\n"));
  EXPECT_NE(std::string::npos,
            log.find("\nFailure loading APP, Failure 2, trying again\n"));
  std::string tail =
      "\nFailure loading  APP\n\n\n"
      "\n\n************************************************************\n"
      "\nNot all Varnets were upgraded successfully:\n"
      "\t127.0.0.3: Could not log into the Varnet's FTP server.\n"
      "\t192.0.2.99: The Varnet at this address is not responsive.\n"
      "\t127.0.0.5: Could not download Application.\n"
      "\nEncountered 3 failures during upgrade.\n" +
      std::string(kLogEnd);
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(tail, log.substr(log.size() - tail.size()));
  // A card without its logs leaves the copy of an earlier run alone.
  EXPECT_EQ("saved last time", ReadFile("127.0.0.4_event.txt"));
}

TEST_F(EndToEndTest, AZelLoadThatFailsOnceIsRetriedAfterTwoMinutes) {
  Card card{"127.0.0.2"};
  card.refuse_zel = 1;
  Prepare({card});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_EQ(Banner() + Menu(1) + kListXpWarning + CardStart("127.0.0.2") +
                ChecksOk() + kLogInLabel + "        OK\n" + kLoadingOs +
                "                     Error.\n"
                "\tZEL load error. Correcting , please wait\n"
                "\tPlease wait (2 minutes) for system reset    " +
                Spin(120) + "\n" + ZelLoaded(kZelWait180, 180) +
                AppLoaded(kAppWait30, 30) + kSummary + kAllDone +
                kListWarning + kClosing,
            run.output);
  EXPECT_NE(std::string::npos,
            Log().find("Loading OS, please wait ... " + std::string(21, ' ') +
                       "Error.\n\nZEL load error. Correcting , please wait "
                       ",trying again\nPlease wait (2 minutes) for system "
                       "reset\n"));
}

TEST_F(EndToEndTest, AnUploadThatIsNeverInstalledFailsThreeTimes) {
  Card card{"127.0.0.2"};
  card.install = false;
  Prepare({card});
  ToolRun run = Run("1\n1\n\n");
  // Each verification fails silently on the console, so the next line
  // follows on the open one.
  EXPECT_EQ(Banner() + Menu(1) + kListXpWarning + CardStart("127.0.0.2") +
                ChecksOk() + ZelUploaded(kZelWait180, 180) +
                "\tZEL load error. Correcting , please wait\n"
                "\tPlease wait (2 minutes) for system reset    " +
                Spin(120) + "\n" + ZelUploaded(kZelWait180, 180) +
                "\tZEL load error. Correcting , please wait\n"
                "\tPlease wait (2 minutes) for system restart    " +
                Spin(120) + "\n" + ZelUploaded(kZelWait180, 180) +
                "\n\tFailure loading ZEL\n" + kSummary + Failures(1) +
                kListWarning + kClosing,
            run.output);
  EXPECT_NE(std::string::npos,
            Log().find("\t127.0.0.2: Could not download ZEL.\n"));
}

TEST_F(EndToEndTest, AnotherVersionListedFirstFailsTheVerification) {
  Card card{"127.0.0.2"};
  card.before = {"kvn_hw02_zel_210.bin"};
  Prepare({card});
  ToolRun run = Run("1\n1\n\n");
  EXPECT_NE(std::string::npos,
            Log().find("Found ZEL      : kvn_hw02_zel_210.bin         ZEL Load "
                       "Failed\n"));
  EXPECT_NE(std::string::npos, run.output.find("\n\tFailure loading ZEL\n"));
}

TEST_F(EndToEndTest, WithoutAListTheCardIsEnteredAtTheConsole) {
  Prepare({{"127.0.0.2"}}, kZel211, /*with_list=*/false);
  ToolRun run = Run("127.0.0.2\nadmin\nsecret\ny\n1\n\n");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + kClearTextWarning +
                Entry("127.0.0.2", "admin", "secret") + "\n\n" +
                kEntryXpWarning + "\n\n" + CardStart("127.0.0.2") + ChecksOk() +
                ZelLoaded(kZelWait180, 180) + AppLoaded(kAppWait30, 30) +
                kSummary + kAllDone + kClosing,
            run.output);
}

TEST_F(EndToEndTest, MenuAnswers) {
  Prepare({{"127.0.0.2"}});
  // x is not understood and the menu comes again (logged again); 1 then x at
  // the warning is not understood either; 3 ends the run.
  ToolRun run = Run("x\n1\nx\n3\n\n");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(Banner() + Menu(1) +
                "\t ** Input not understood, please try again **\n" + Menu(1) +
                kListXpWarning +
                "\t ** Input not understood, please try again **\n" + Menu(1) +
                kListWarning + kClosing,
            run.output);
  EXPECT_EQ("Found 1 upgrade configuration(s)\n\n"
            "Found 1 upgrade configuration(s)\n\n"
            "Found 1 upgrade configuration(s)\n\n",
            Log());

  // 2 enters a card at the console instead; q there ends at once.
  run = Run("2\n127.0.0.3\nadmin\nsecret\nq\n");
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(std::string::npos, run.output.find("Thank you"));
  EXPECT_NE(std::string::npos, run.output.find("\tIP Address: 127.0.0.3\n"));

  // 1 and 1 again upgrade the listed card.
  run = Run("1\n1\n\n");
  EXPECT_NE(std::string::npos, run.output.find(kAllDone));
}

}  // namespace
