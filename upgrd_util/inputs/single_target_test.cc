#include "upgrd_util/inputs/single_target.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

const std::string kClearTextWarning =
    "\n\t" + std::string(61, '*') +
    "\n\tWarning: User name and password information will be displayed\n"
    "\tto the screen in clear text.\n";
// Where every entry, first or again, starts.
const std::string kStars = "\t" + std::string(61, '*') + "\n\n";
const char kIpPrompt[] = "\n\tIP Address of target to upgrade: ";
const char kUserPrompt[] = "\tUser Name: ";
const char kPasswordPrompt[] = "\tPassword: ";

const std::string kXpWarning =
    "\t" + std::string(62, '*') +
    "\n\tWarning: There is a known issue with Windows XP when upgrading\n"
    "\tfrom devices running pre kvn_hw02_zel_211.bin firmware.\n"
    "\tIf you are running Windows XP you should stop this upgrade and\n"
    "\trun it from a pre-XP Windows machine.\n\n"
    "\t1: Continue with upgrade\n\t2: Re-enter parameters\n"
    "\t3: Exit Firmware upgrade tool\n\tAction: ";

const char kClosing[] =
    "\n\n\tThank you for using KVN products\n\n\tPress <Enter> to exit.\n";

const char kCurrentZel[] = "kvn_hw02_zel_211.bin";
const char kEarlyZel[] = "kvn_hw02_zel_210.bin";

// The values shown back and the first menu.
std::string Shown(const std::string& ip, const std::string& user,
                  const std::string& password) {
  return "\n\n\tYou have entered:\n\tIP Address: " + ip +
         "\n\tUsername:   " + user + "\n\tPassword:   " + password +
         "\n\n\t1: Continue with upgrade\n\t2: Re-enter parameters\n"
         "\t3: Quit\n\tAction: ";
}

// One whole entry up to the first menu's prompt.
std::string Entry(const std::string& ip = "127.0.0.2",
                  const std::string& user = "user",
                  const std::string& password = "pass") {
  return kStars + kIpPrompt + kUserPrompt + kPasswordPrompt +
         Shown(ip, user, password);
}

using Hosts = std::vector<std::string>;

std::string TooLong(int limit) {
  return "\tToo long: at most " + std::to_string(limit) +
         " characters. Please enter it again.\n";
}

std::string VersionLogLine(const char* zel) {
  return std::string("\n ***************************** \n"
                     "Before Upgrading the VRN the ZEL is: ") +
         zel + "\n";
}

struct SingleTargetTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    CardRuns(kCurrentZel);
  }
  void TearDown() override {
    free_upgrade_targets(record);
    ProgramTest::TearDown();
  }
  // Runs the entry afresh, after freeing the record of the last one.
  void Enter() {
    free_upgrade_targets(record);
    console.output.clear();
    ftp.calls.clear();
    record = enter_single_target();
  }
  void CardRuns(const char* zel) {
    ftp.listing = {"data.txt", "event.txt", zel};
  }
  void Type(std::initializer_list<std::string> lines) {
    console.input.insert(console.input.end(), lines);
  }
  // The card's values, as the fake FTP server accepts them.
  void TypeCard() { Type({"127.0.0.2", "user", "pass"}); }
  // The hosts the card's FTP server saw logins for, in order.
  std::vector<std::string> Logins() const {
    std::vector<std::string> hosts;
    for (const std::string& call : ftp.calls)
      if (call.rfind("login ", 0) == 0)
        hosts.push_back(call.substr(6));
    return hosts;
  }
  void ExpectRecord(const char* ip, const char* user, const char* password) {
    ASSERT_NE(nullptr, record);
    EXPECT_STREQ(ip, record->ip);
    EXPECT_STREQ(user, record->user_name);
    EXPECT_STREQ(password, record->password);
    EXPECT_EQ(0, record->status);
    EXPECT_EQ(nullptr, record->next);
  }

  upgrade_target* record = nullptr;
};

TEST_F(SingleTargetTest, ContinueAnswersQueryTheCardAndReturnIt) {
  for (const char* answer : {"1", "y", "yes"}) {
    SCOPED_TRACE(answer);
    TypeCard();
    Type({answer});
    Enter();
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n", console.output);
    ExpectRecord("127.0.0.2", "user", "pass");
    EXPECT_EQ(Hosts({"127.0.0.2"}), Logins());
    EXPECT_TRUE(console.input.empty());
  }
  // Each confirmation asked the card for its version (211: no warning).
  EXPECT_EQ(VersionLogLine(kCurrentZel) + VersionLogLine(kCurrentZel) +
                VersionLogLine(kCurrentZel),
            Log());
}

TEST_F(SingleTargetTest, OtherAnswersAskAllThreeValuesAgain) {
  // Longer values first, so that a leftover of them would show.
  Type({"127.0.0.200", "administr", "longpasswd", "2"});
  Type({"127.0.0.30", "admin", "secret", ""});
  Type({"127.0.0.4", "root", "pw", "Q"});  // letters count in lower case only
  TypeCard();
  Type({"1"});
  Enter();
  EXPECT_EQ(kClearTextWarning +
                Entry("127.0.0.200", "administr", "longpasswd") + "\n\n" +
                Entry("127.0.0.30", "admin", "secret") + "\n\n" +
                Entry("127.0.0.4", "root", "pw") + "\n\n" + Entry() + "\n\n",
            console.output);
  ExpectRecord("127.0.0.2", "user", "pass");
  // Only the confirmed values were queried.
  EXPECT_EQ(Hosts({"127.0.0.2"}), Logins());
}

TEST_F(SingleTargetTest, CardBelow211GetsTheXpWarningAndContinues) {
  CardRuns(kEarlyZel);
  for (const char* answer : {"1", "c"}) {
    SCOPED_TRACE(answer);
    TypeCard();
    Type({"1", answer});
    Enter();
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n" + kXpWarning + "\n\n",
              console.output);
    ExpectRecord("127.0.0.2", "user", "pass");
    EXPECT_TRUE(console.input.empty());
  }
  EXPECT_EQ(VersionLogLine(kEarlyZel) + VersionLogLine(kEarlyZel), Log());
}

TEST_F(SingleTargetTest, XpWarningReentryAnswers) {
  CardRuns(kEarlyZel);
  struct Case {
    const char* answer;
    const char* gap;
  };
  // '2' and 'e' leave an extra empty pair of lines; the rest do not.
  for (const Case& c : {Case{"2", "\n\n\n\n"}, Case{"e", "\n\n\n\n"},
                        Case{"x", "\n\n"}, Case{"", "\n\n"},
                        Case{"E", "\n\n"}}) {
    SCOPED_TRACE(c.answer);
    TypeCard();
    Type({"1", c.answer, "127.0.0.3", "user", "pass", "y", "1"});
    Enter();
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n" + kXpWarning + c.gap +
                  Entry("127.0.0.3") + "\n\n" + kXpWarning + "\n\n",
              console.output);
    ExpectRecord("127.0.0.3", "user", "pass");
    EXPECT_TRUE(console.input.empty());
    // Each confirmation queries the card again, for the values then entered.
    EXPECT_EQ(Hosts({"127.0.0.2", "127.0.0.3"}), Logins());
  }
}

TEST_F(SingleTargetTest, XpWarningQuitGoesThroughTheClosingDialogue) {
  CardRuns(kEarlyZel);
  for (const char* answer : {"3", "q"}) {
    SCOPED_TRACE(answer);
    console.input.clear();
    TypeCard();
    Type({"1", answer, ""});
    ProgramTest::Exit exit = RunToExit([] { enter_single_target(); });
    EXPECT_EQ(1, exit.code);
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n" + kXpWarning + kClosing,
              exit.console);
  }
}

TEST_F(SingleTargetTest, QuitAtTheFirstMenuEndsAtOnce) {
  for (const char* answer : {"q", "3", "quit"}) {
    SCOPED_TRACE(answer);
    console.input.clear();
    TypeCard();
    Type({answer, "1"});
    ProgramTest::Exit exit = RunToExit([] { enter_single_target(); });
    EXPECT_EQ(1, exit.code);
    EXPECT_EQ(kClearTextWarning + Entry(), exit.console);
  }
  // Not even the version query ran.
  EXPECT_EQ("", Log());
}

TEST_F(SingleTargetTest, FailedVersionQueryReturnsWithoutWarning) {
  // An early card: only the failed login keeps the warning away.
  CardRuns(kEarlyZel);
  Type({"127.0.0.2", "user", "wrong", "1"});
  Enter();
  EXPECT_EQ(kClearTextWarning + Entry("127.0.0.2", "user", "wrong") + "\n\n",
            console.output);
  ExpectRecord("127.0.0.2", "user", "wrong");
  EXPECT_EQ("ERROR!!! Login unsuccessful.\n"
            "Make sure the Card is in the network.\n\n",
            Log());
  EXPECT_EQ(std::vector<std::string>({"login 127.0.0.2", "reply -1"}),
            ftp.calls);
}

TEST_F(SingleTargetTest, OverlongValuesAreAskedAgainNeverCut) {
  const std::string ip25 = "127.000.000.002.123456789";
  const std::string user10 = "abcdefghij";
  const std::string password10 = "0123456789";
  ASSERT_EQ(25u, ip25.size());
  ftp.user = user10;
  ftp.password = password10;
  Type({ip25 + "0", ip25, user10 + "k", user10, password10 + "!", password10,
        "1"});
  Enter();
  EXPECT_EQ(kClearTextWarning + kStars + kIpPrompt + TooLong(25) + kIpPrompt +
                kUserPrompt + TooLong(10) + kUserPrompt + kPasswordPrompt +
                TooLong(10) + kPasswordPrompt +
                Shown(ip25, user10, password10) + "\n\n",
            console.output);
  ExpectRecord(ip25.c_str(), user10.c_str(), password10.c_str());
  EXPECT_EQ(Hosts({ip25}), Logins());
}

// Nobody is left to answer: the tool ends through its closing dialogue.
TEST_F(SingleTargetTest, EndOfInputAtAnyPromptEndsWithCodeOne) {
  CardRuns(kEarlyZel);
  const std::vector<std::string> lines = {"127.0.0.2", "user", "pass", "1"};
  const std::string before[] = {
      kClearTextWarning + kStars + kIpPrompt,
      kClearTextWarning + kStars + kIpPrompt + kUserPrompt,
      kClearTextWarning + kStars + kIpPrompt + kUserPrompt + kPasswordPrompt,
      kClearTextWarning + Entry(),
      kClearTextWarning + Entry() + "\n\n" + kXpWarning,
  };
  for (size_t given = 0; given <= lines.size(); ++given) {
    SCOPED_TRACE(given);
    console.input.assign(lines.begin(), lines.begin() + given);
    ProgramTest::Exit exit = RunToExit([] { enter_single_target(); });
    EXPECT_EQ(1, exit.code);
    EXPECT_EQ(before[given] + kClosing, exit.console);
  }
}

}  // namespace
