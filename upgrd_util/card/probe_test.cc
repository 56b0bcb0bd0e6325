#include "upgrd_util/card/probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/test_support.h"
#include "upgrd_util/platform/icmp_echo.h"

namespace {

upgrade_target Card(const char* ip) {
  upgrade_target target = {};
  set_target_ip(&target, ip);
  target.status = STATUS_UPGRADED;  // a probe must leave it alone
  return target;
}

struct ProbeTest : public ProgramTest {
  upgrade_target card = Card("192.0.2.10");
};

TEST_F(ProbeTest, CardAnsweringEveryRequestGetsTwentyRequests) {
  icmp.default_reply = 1;
  EXPECT_EQ(1, probe_target(&card, 10));
  EXPECT_EQ(std::vector<std::string>(20, "192.0.2.10"), icmp.sent);
  // The mark only turns on a silence, so it stays on "|".
  EXPECT_EQ(ProbeAnswered(), console.output);
  EXPECT_EQ("", Log());
  EXPECT_EQ(1, icmp.opens);
  EXPECT_EQ(1, icmp.closes);
  EXPECT_FALSE(icmp.is_open);
  EXPECT_EQ(STATUS_UPGRADED, card.status);
}

TEST_F(ProbeTest, SilentCardUsesUpTheAllowance) {
  EXPECT_EQ(0, probe_target(&card, 10));
  EXPECT_EQ(10u, icmp.sent.size());
  EXPECT_EQ(Marks("|/-\\|/-\\|/") + kMarkBlanked, console.output);
  EXPECT_EQ("\nPing at 192.0.2.10 failed\n", Log());
  EXPECT_FALSE(icmp.is_open);
  EXPECT_EQ(STATUS_UPGRADED, card.status);
}

TEST_F(ProbeTest, RaisedFactorTriplesTheAllowance) {
  card.work.probe_factor = 3;
  EXPECT_EQ(0, probe_target(&card, 10));
  EXPECT_EQ(30u, icmp.sent.size());
  EXPECT_EQ(ProbeSilent(30), console.output);
  EXPECT_EQ("\nPing at 192.0.2.10 failed\n", Log());
}

TEST_F(ProbeTest, AnsweredRequestsDoNotUseUpTheAllowance) {
  // 19 replies are one short; the card then falls silent.
  icmp.replies.assign(19, 1);
  EXPECT_EQ(0, probe_target(&card, 10));
  EXPECT_EQ(29u, icmp.sent.size());
  EXPECT_EQ(Marks(std::string(19, '|') + "|/-\\|/-\\|/") + kMarkBlanked,
            console.output);
  EXPECT_EQ("\nPing at 192.0.2.10 failed\n", Log());
}

TEST_F(ProbeTest, RepliesAfterManySilencesStillCount) {
  icmp.replies.assign(9, 0);
  icmp.default_reply = 1;
  EXPECT_EQ(1, probe_target(&card, 10));
  EXPECT_EQ(29u, icmp.sent.size());
  // Nine silences turned the mark to "/", where it stays while replies come.
  EXPECT_EQ(Marks("|/-\\|/-\\|" + std::string(20, '/')) + kMarkAnswered,
            console.output);
  EXPECT_EQ("", Log());
}

TEST_F(ProbeTest, RepliesNeedNotBeConsecutive) {
  for (int i = 0; i < 20; ++i) {
    icmp.replies.push_back(i < 9 ? 0 : 1);
    icmp.replies.push_back(1);
  }
  EXPECT_EQ(1, probe_target(&card, 10));
  EXPECT_EQ(29u, icmp.sent.size());
}

TEST_F(ProbeTest, ZeroAllowanceSendsNothing) {
  icmp.default_reply = 1;
  EXPECT_EQ(0, probe_target(&card, 0));
  EXPECT_TRUE(icmp.sent.empty());
  EXPECT_EQ(kMarkBlanked, console.output);
  EXPECT_EQ("\nPing at 192.0.2.10 failed\n", Log());
}

TEST_F(ProbeTest, NoEchoHandleLogsWhyAndLeavesTheConsoleAlone) {
  icmp.open_succeeds = false;
  icmp.default_reply = 1;
  EXPECT_EQ(0, probe_target(&card, 10));
  EXPECT_TRUE(icmp.sent.empty());
  EXPECT_EQ("", console.output);
  EXPECT_EQ("PING: ICMP handle was not created successfully\n"
            "PING: no ICMP here\n",
            Log());
}

TEST_F(ProbeTest, NoSocketLayerLogsItAndSendsNothing) {
  icmp.start_up_succeeds = false;
  icmp.default_reply = 1;
  EXPECT_EQ(0, probe_target(&card, 10));
  EXPECT_EQ(0, icmp.opens);
  EXPECT_TRUE(icmp.sent.empty());
  EXPECT_EQ("", console.output);
  EXPECT_EQ("PING: couldn't find a useable winsock.dll.", Log());
}

TEST_F(ProbeTest, TheSocketLayerIsEndedOnEveryPathAfterItStarted) {
  icmp.default_reply = 1;
  probe_target(&card, 10);
  icmp.default_reply = 0;
  probe_target(&card, 2);
  icmp.open_succeeds = false;
  probe_target(&card, 2);
  EXPECT_EQ(3, icmp.start_ups);
  EXPECT_EQ(3, icmp.shut_downs);
}

TEST_F(ProbeTest, FailedCloseIsLoggedButTheCardStillAnswered) {
  icmp.default_reply = 1;
  icmp.close_succeeds = false;
  EXPECT_EQ(1, probe_target(&card, 10));
  EXPECT_EQ(ProbeAnswered(), console.output);
  EXPECT_EQ("PING: ICMP handle was not closed successfully\n", Log());
}

TEST_F(ProbeTest, EachProbeStartsItsCountsAfresh) {
  icmp.replies.assign(19, 1);
  icmp.default_reply = 0;
  EXPECT_EQ(0, probe_target(&card, 1));
  // A second probe needs 20 replies of its own, not just one more.
  icmp.replies.assign(19, 1);
  EXPECT_EQ(0, probe_target(&card, 1));
  EXPECT_EQ(40u, icmp.sent.size());
  EXPECT_EQ(2, icmp.opens);
}

// A clock that notes how much the console held at each sleep, to show that
// every mark follows its own quarter second.
struct MarkingClock : public FakeClock {
  void SleepMs(int milliseconds) override {
    console_size_at_sleep.push_back(console->output.size());
    FakeClock::SleepMs(milliseconds);
  }
  FakeConsole* console = nullptr;
  std::vector<size_t> console_size_at_sleep;
};

struct WaitSpinnerTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    marking_clock.console = &console;
    platform().clock = &marking_clock;
  }
  MarkingClock marking_clock;
};

TEST_F(WaitSpinnerTest, NoSecondsOnlyBlanksTheMark) {
  wait_with_spinner(0);
  EXPECT_EQ(kMarkBlanked, console.output);
  wait_with_spinner(-3);
  EXPECT_EQ(std::string(kMarkBlanked) + kMarkBlanked, console.output);
  EXPECT_TRUE(marking_clock.sleeps.empty());
}

TEST_F(WaitSpinnerTest, OneSecondIsOneTurnOfFourQuarters) {
  wait_with_spinner(1);
  EXPECT_EQ(Marks("|/-\\") + kMarkBlanked, console.output);
  EXPECT_EQ(std::vector<int>(4, 250), marking_clock.sleeps);
  EXPECT_EQ((std::vector<size_t>{0, 4, 8, 12}),
            marking_clock.console_size_at_sleep);
  EXPECT_EQ("", Log());
}

TEST_F(WaitSpinnerTest, EverySecondStartsAgainAtTheBar) {
  wait_with_spinner(2);
  EXPECT_EQ(Marks("|/-\\|/-\\") + kMarkBlanked, console.output);
  EXPECT_EQ(std::vector<int>(8, 250), marking_clock.sleeps);
  EXPECT_EQ(2000, marking_clock.slept_ms);
}

// The probe on the system's own ICMP, to this machine.
TEST_F(ProbeTest, LoopbackAnswersTheRealEcho) {
  RealIcmpEcho echo;
  platform().icmp = &echo;
  upgrade_target loopback = Card("127.0.0.1");
  EXPECT_EQ(1, probe_target(&loopback, 10));
  EXPECT_EQ(ProbeAnswered(), console.output);
  EXPECT_EQ("", Log());
  // The probe closed its handle: a second close finds nothing open.
  EXPECT_FALSE(echo.Close());
}

}  // namespace
