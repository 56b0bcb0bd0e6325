#include "upgrd_util/card/card_logs.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using Calls = std::vector<std::string>;

const char kCantSave[] =
    "ERROR!!! Can't log in while trying to save log files            \n\n";

upgrade_target Card(const char* ip, const char* user, const char* password) {
  upgrade_target target = {};
  set_target_ip(&target, ip);
  set_target_user_name(&target, user);
  set_target_password(&target, password);
  // A status from an earlier step, which success must leave as it was.
  target.status = STATUS_UNRESPONSIVE;
  return target;
}

struct TestLoginTest : public ProgramTest {
  upgrade_target card = Card("192.0.2.10", "user", "pass");
};

TEST_F(TestLoginTest, RightPasswordLogsInAndOut) {
  EXPECT_EQ(1, test_login(&card));
  EXPECT_EQ((Calls{"login 192.0.2.10", "quit 1"}), ftp.calls);
  EXPECT_EQ(1, card.work.ftp_session);
  EXPECT_EQ(STATUS_UNRESPONSIVE, card.status);
  EXPECT_EQ("", Log());
  EXPECT_EQ("", console.output);
}

TEST_F(TestLoginTest, WrongPasswordRecordsTheFailure) {
  set_target_password(&card, "wrong");
  EXPECT_EQ(0, test_login(&card));
  // The failed handle is quit all the same.
  EXPECT_EQ((Calls{"login 192.0.2.10", "quit -1"}), ftp.calls);
  EXPECT_EQ(-1, card.work.ftp_session);
  EXPECT_EQ(STATUS_LOGIN_FAILED, card.status);
  EXPECT_EQ("ERROR!!! Login unsuccessful.\n\n", Log());
  EXPECT_EQ("", console.output);
}

struct SaveCardLogsTest : public TestLoginTest {};

TEST_F(SaveCardLogsTest, BothFilesAreSavedUnderTheCardsAddress) {
  ftp.files["data.txt"] = "data of the card\n";
  ftp.files["event.txt"] = "events of the card\n";
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ((Calls{"login 192.0.2.10",
                   "get data.txt 192.0.2.10_data.txt",
                   "get event.txt 192.0.2.10_event.txt", "quit 1"}),
            ftp.calls);
  EXPECT_EQ("data of the card\n", ReadFile("192.0.2.10_data.txt"));
  EXPECT_EQ("events of the card\n", ReadFile("192.0.2.10_event.txt"));
  EXPECT_EQ("data.txt saved as: 192.0.2.10_data.txt\n"
            "event.txt is saved as: 192.0.2.10_event.txt\n",
            Log());
  EXPECT_EQ(STATUS_UNRESPONSIVE, card.status);
  EXPECT_EQ("", console.output);
}

TEST_F(SaveCardLogsTest, MissingEventLogIsLoggedAndTheDataLogKept) {
  ftp.files["data.txt"] = "data";
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ("data", ReadFile("192.0.2.10_data.txt"));
  EXPECT_EQ("<missing>", ReadFile("192.0.2.10_event.txt"));
  EXPECT_EQ("data.txt saved as: 192.0.2.10_data.txt\n"
            "Could not save event.txt \n",
            Log());
  EXPECT_EQ(STATUS_UNRESPONSIVE, card.status);
  EXPECT_EQ("quit 1", ftp.calls.back());
}

TEST_F(SaveCardLogsTest, NeitherFileStillTriesBoth) {
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ(4u, ftp.calls.size());
  EXPECT_EQ("Could not save data.txt \nCould not save event.txt \n", Log());
  EXPECT_EQ(STATUS_UNRESPONSIVE, card.status);
}

TEST_F(SaveCardLogsTest, FailedLoginTriesNoFetch) {
  ftp.files["data.txt"] = "data";
  EXPECT_EQ(1, test_login(&card));
  ftp.password = "changed";  // the card refuses the second login
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ((Calls{"login 192.0.2.10", "quit 1", "login 192.0.2.10",
                   "quit -1"}),
            ftp.calls);
  EXPECT_EQ(-1, card.work.ftp_session);
  EXPECT_EQ(STATUS_LOGIN_FAILED, card.status);
  EXPECT_EQ(kCantSave, Log());
  EXPECT_EQ("<missing>", ReadFile("192.0.2.10_data.txt"));
}

// The same steps through the libcurl library against an FTP server on this
// machine.
struct CardLogsOnRealFtpTest : public LoopbackFtpTest {
  upgrade_target card = Card("127.0.0.1", "admin", "secret");
};

TEST_F(CardLogsOnRealFtpTest, LoginTestAcceptsOnlyTheRightPassword) {
  EXPECT_EQ(1, test_login(&card));
  EXPECT_GT(card.work.ftp_session, 0);
  EXPECT_EQ(STATUS_UNRESPONSIVE, card.status);
  EXPECT_EQ("", Log());

  set_target_password(&card, "wrong");
  EXPECT_EQ(0, test_login(&card));
  EXPECT_EQ(-1, card.work.ftp_session);
  EXPECT_EQ(STATUS_LOGIN_FAILED, card.status);
  EXPECT_EQ("ERROR!!! Login unsuccessful.\n\n", Log());
  // The first session was ended: the server saw it quit.
  EXPECT_NE(std::string::npos, server.Commands().find("QUIT"));
}

TEST_F(CardLogsOnRealFtpTest, SavesBothLogsAndKeepsAnEarlierCopyOfAMissingOne) {
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "t=1 v=12.5\r\nt=2 v=12.4\r\n"));
  ASSERT_TRUE(WriteFile(card_dir + "/event.txt", "boot\r\n"));
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ("t=1 v=12.5\r\nt=2 v=12.4\r\n", ReadFile("127.0.0.1_data.txt"));
  EXPECT_EQ("boot\r\n", ReadFile("127.0.0.1_event.txt"));
  EXPECT_EQ("data.txt saved as: 127.0.0.1_data.txt\n"
            "event.txt is saved as: 127.0.0.1_event.txt\n",
            Log());

  // The card has since lost its event log; the copy saved before stays.
  ASSERT_EQ(0, unlink((card_dir + "/event.txt").c_str()));
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "t=3 v=12.6\r\n"));
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ("t=3 v=12.6\r\n", ReadFile("127.0.0.1_data.txt"));
  EXPECT_EQ("boot\r\n", ReadFile("127.0.0.1_event.txt"));
  EXPECT_EQ("data.txt saved as: 127.0.0.1_data.txt\n"
            "event.txt is saved as: 127.0.0.1_event.txt\n"
            "data.txt saved as: 127.0.0.1_data.txt\n"
            "Could not save event.txt \n",
            Log());
  EXPECT_EQ(STATUS_UNRESPONSIVE, card.status);
}

TEST_F(CardLogsOnRealFtpTest, RefusedLoginFetchesNothing) {
  ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "data"));
  set_target_password(&card, "wrong");
  EXPECT_EQ(1, save_card_logs(&card));
  EXPECT_EQ(STATUS_LOGIN_FAILED, card.status);
  EXPECT_EQ(kCantSave, Log());
  EXPECT_EQ("<missing>", ReadFile("127.0.0.1_data.txt"));
  EXPECT_EQ(std::string::npos, server.Commands().find("RETR"));
}

}  // namespace
