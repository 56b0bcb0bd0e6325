#include "upgrd_util/run/upgrade_end.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/platform/ftp_library.h"

namespace {

const char kClosing[] =
    "\n\n\tThank you for using KVN products\n\n\tPress <Enter> to exit.\n";

struct EndDialogueTest : public ProgramTest {};

TEST_F(EndDialogueTest, WithoutTheListFileNoWarning) {
  console.input.push_back("");
  end_dialogue();
  EXPECT_EQ(kClosing, console.output);
  EXPECT_EQ(1, console.lines_read);
  // Nothing was logged in: the quit of session 0 does nothing, but it is made.
  ASSERT_EQ(1u, ftp.calls.size());
  EXPECT_EQ("quit 0", ftp.calls[0]);
}

TEST_F(EndDialogueTest, WarnsAboutTheListFileAndQuitsTheCurrentSession) {
  iplist_found = true;
  current_ftp_session = 7;
  console.input.push_back("whatever the operator typed");
  console.input.push_back("not read");
  end_dialogue();
  EXPECT_EQ(std::string(
                "\tWarning: A file called 'iplist.txt' exists in this directory\n"
                "\tthat may contain user names and passwords in clear text.\n"
                "\tYou may want to delete this file if other users have access\n"
                "\tto this directory.\n") +
                kClosing,
            console.output);
  EXPECT_EQ(1, console.lines_read);
  EXPECT_EQ(std::vector<std::string>{"quit 7"}, ftp.calls);
}

TEST_F(EndDialogueTest, EndOfInputEndsTheWait) {
  current_ftp_session = -1;
  end_dialogue();
  EXPECT_EQ(kClosing, console.output);
  EXPECT_EQ(std::vector<std::string>{"quit -1"}, ftp.calls);
}

}  // namespace

namespace {

TEST_F(EndDialogueTest, FinishAndExitEndsTheProcessWithCodeOne) {
  iplist_found = true;
  ProgramTest::Exit exit = RunToExit([] { finish_and_exit(); });
  EXPECT_EQ(1, exit.code);
  EXPECT_EQ(0u, exit.console.find("\tWarning: A file called 'iplist.txt'"));
  EXPECT_EQ(kClosing, exit.console.substr(exit.console.size() -
                                          std::string(kClosing).size()));
}

}  // namespace

namespace {

struct SummaryTest : public ProgramTest {
  void TearDown() override {
    free_upgrade_targets(list);
    ProgramTest::TearDown();
  }
  void Add(const char* ip, int32_t status) {
    upgrade_target* target = append_upgrade_target(&list);
    set_target_ip(target, ip);
    target->status = status;
  }
  upgrade_target* list = nullptr;
};

const char kSummaryEnd[] =
    "Complete at Wed Jan 14 06:42:15 PM\n \n"
    "************************************************************\n\n\n";

TEST_F(SummaryTest, CardsThatAllSucceededGiveNoFailureBlock) {
  Add("127.0.0.2", STATUS_UPGRADED);
  Add("127.0.0.3", 0);  // a card no step recorded anything for
  print_summary(list);
  EXPECT_EQ("\n\t*********** Upgrade Summary *********** \n"
            "\tAll upgrades completed successfully.\n\n\n",
            console.output);
  EXPECT_EQ(std::string("All upgrades completed successfully.\n\n\n") +
                kSummaryEnd,
            Log());
}

TEST_F(SummaryTest, EachFailedCardWithItsOwnReason) {
  Add("127.0.0.2", STATUS_OS_LOAD_FAILED);
  Add("127.0.0.3", STATUS_UPGRADED);
  Add("127.0.0.4", STATUS_APP_LOAD_FAILED);
  Add("127.0.0.5", STATUS_UNRESPONSIVE);
  Add("127.0.0.6", STATUS_LOGIN_FAILED);
  Add("127.0.0.7", 12);
  print_summary(list);
  EXPECT_EQ("\n\t*********** Upgrade Summary *********** \n"
            "\n\tEncountered 5 failures during upgrade.\n"
            "\tPlease view 'result.txt' for details.\n",
            console.output);
  EXPECT_EQ(std::string(
                "\n\n************************************************************\n"
                "\nNot all Varnets were upgraded successfully:\n"
                "\t127.0.0.2: Could not download ZEL.\n"
                "\t127.0.0.4: Could not download Application.\n"
                "\t127.0.0.5: The Varnet at this address is not responsive.\n"
                "\t127.0.0.6: Could not log into the Varnet's FTP server.\n"
                "\t127.0.0.7: Unknown failure. c \n"
                "\nEncountered 5 failures during upgrade.\n") +
                kSummaryEnd,
            Log());
}

}  // namespace
