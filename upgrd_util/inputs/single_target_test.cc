#include "upgrd_util/inputs/single_target.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/test_support.h"

namespace {

const char kCurrentZel[] = "kvn_hw02_zel_211.bin";
const char kEarlyZel[] = "kvn_hw02_zel_210.bin";

using Hosts = std::vector<std::string>;

std::string TooLong(int limit) {
  return "\tToo long: at most " + std::to_string(limit) +
         " characters. Please enter it again.\n";
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
    record = enter_single_target(&end);
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
  EntryEnd end = ENTRY_CONFIRMED;
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
  EXPECT_EQ(LogBefore(kCurrentZel) + LogBefore(kCurrentZel) +
                LogBefore(kCurrentZel),
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
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n" + kEntryXpWarning + "\n\n",
              console.output);
    ExpectRecord("127.0.0.2", "user", "pass");
    EXPECT_TRUE(console.input.empty());
  }
  EXPECT_EQ(LogBefore(kEarlyZel) + LogBefore(kEarlyZel), Log());
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
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n" + kEntryXpWarning + c.gap +
                  Entry("127.0.0.3") + "\n\n" + kEntryXpWarning + "\n\n",
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
    Enter();
    EXPECT_EQ(nullptr, record);
    EXPECT_EQ(ENTRY_FINISH, end);
    EXPECT_EQ(kClearTextWarning + Entry() + "\n\n" + kEntryXpWarning,
              console.output);
  }
}

TEST_F(SingleTargetTest, QuitAtTheFirstMenuEndsAtOnce) {
  for (const char* answer : {"q", "3", "quit"}) {
    SCOPED_TRACE(answer);
    console.input.clear();
    TypeCard();
    Type({answer, "1"});
    Enter();
    EXPECT_EQ(nullptr, record);
    EXPECT_EQ(ENTRY_QUIT, end);
    EXPECT_EQ(kClearTextWarning + Entry(), console.output);
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
  EXPECT_EQ(EntryStart() + TooLong(25) + kIpPrompt + kUserPrompt + TooLong(10) +
                kUserPrompt + kPasswordPrompt + TooLong(10) + kPasswordPrompt +
                Shown(ip25, user10, password10) + "\n\n",
            console.output);
  ExpectRecord(ip25.c_str(), user10.c_str(), password10.c_str());
  EXPECT_EQ(Hosts({ip25}), Logins());
}

// Nobody is left to answer: the run ends through its closing dialogue.
TEST_F(SingleTargetTest, EndOfInputAtAnyPromptEndsTheRun) {
  CardRuns(kEarlyZel);
  const std::vector<std::string> lines = {"127.0.0.2", "user", "pass", "1"};
  const std::string before[] = {
      EntryStart(),
      EntryStart() + kUserPrompt,
      EntryStart() + kUserPrompt + kPasswordPrompt,
      kClearTextWarning + Entry(),
      kClearTextWarning + Entry() + "\n\n" + kEntryXpWarning,
  };
  for (size_t given = 0; given <= lines.size(); ++given) {
    SCOPED_TRACE(given);
    console.input.assign(lines.begin(), lines.begin() + given);
    Enter();
    EXPECT_EQ(nullptr, record);
    EXPECT_EQ(ENTRY_FINISH, end);
    EXPECT_EQ(before[given], console.output);
  }
}

}  // namespace
