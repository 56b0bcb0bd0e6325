#include "upgrd_util/card/module_loading.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/expected_output.h"
#include "tests/test_support.h"
#include "upgrd_util/card/probe.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char kZel251[] = "kvn_hw02_zel_251.bin";
const char kZel252[] = "kvn_hw02_zel_252.bin";
const char kZelNoDigits[] = "kvn_hw02_zel_new.bin";
const char kApp[] = "kvn_hw02_app_300.bin";

using Calls = std::vector<std::string>;

struct ModuleLoadingTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(set_target_ip(&target, "127.0.0.1"));
    ASSERT_TRUE(set_target_user_name(&target, "user"));
    ASSERT_TRUE(set_target_password(&target, "pass"));
    for (const char* name : {kZel251, kZel252, kZelNoDigits, kApp,
                             kInterimPatchName})
      ASSERT_TRUE(WriteFile(name, std::string("module ") + name));
    icmp.default_reply = 1;
    Configure(kZel251);
    target.work.ftp_session = 9;
  }
  // Configures `zel` and lets the card list it after the load.
  void Configure(const char* zel) {
    strcpy(zel_module_name, zel);
    ftp.listing = {"data.txt", "event.txt", zel};
  }
  void ExpectWaited(int seconds) {
    EXPECT_EQ(std::vector<int>(static_cast<size_t>(seconds) * 4, 250),
              clock.sleeps);
    EXPECT_EQ(seconds * 1000LL, clock.slept_ms);
  }

  upgrade_target target{};
};

// ---- Waiting times, each through a whole successful load ----

struct WaitCase {
  const char* configured;
  const char* loaded;
  const char* console_message;
  const char* log_message;
  int seconds;
};

void PrintTo(const WaitCase& c, std::ostream* out) {
  *out << c.configured << " / " << c.loaded;
}

struct ZelWaitTest : public ModuleLoadingTest,
                     public testing::WithParamInterface<WaitCase> {};

TEST_P(ZelWaitTest, WaitsAndVerifiesTheConfiguredModule) {
  const WaitCase& c = GetParam();
  Configure(c.configured);

  EXPECT_EQ(1, load_os_module(&target, c.loaded));
  EXPECT_EQ(STATUS_UPGRADED, target.status);
  EXPECT_EQ(ZelToProbe(c.console_message, c.seconds) +
                ProbeAnswered() + "      OK\n",
            console.output);
  EXPECT_EQ(LogZelToProbe(c.log_message) +
                LogAfter(c.configured, c.configured) + "        OK\n",
            Log());
  ExpectWaited(c.seconds);
  // The uploaded file is the one asked for; the verification expects the
  // configured one. The upload session is quit twice, the second time after
  // it has ended.
  EXPECT_EQ(Calls({"login 127.0.0.1", std::string("put ") + c.loaded,
                   "quit 1", "quit 1", "login 127.0.0.1", "reply 2",
                   "ls  foundfir.txt", "reply 2", "quit 2"}),
            ftp.calls);
  EXPECT_EQ(2, target.work.ftp_session);
  EXPECT_EQ(20u, icmp.sent.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZelWaitTest,
    testing::Values(
        WaitCase{kZel252, kZel252, kZelWait60, "", 60},
        WaitCase{kZel251, kZel251, kZelWait180, "", 180},
        // A name without digits counts as version 0.
        WaitCase{kZelNoDigits, kZelNoDigits, kZelWait180, "", 180},
        // The configured version decides, not that of the uploaded file.
        WaitCase{kZel251, kZel252, kZelWait180, "", 180},
        // The interim patch waits 30 s whatever is configured.
        WaitCase{kZel252, kInterimPatchName, kPatchWait, kPatchWaitLog, 30},
        WaitCase{kZelNoDigits, kInterimPatchName, kPatchWait, kPatchWaitLog,
                 30},
        // config.txt naming the patch itself: 30 s, and it verifies.
        WaitCase{kInterimPatchName, kInterimPatchName, kPatchWait,
                 kPatchWaitLog, 30}));

struct AppWaitTest : public ModuleLoadingTest,
                     public testing::WithParamInterface<WaitCase> {};

TEST_P(AppWaitTest, WaitsOnTheConfiguredZelVersion) {
  const WaitCase& c = GetParam();
  Configure(c.configured);

  EXPECT_EQ(1, load_app_module(&target, c.loaded));
  EXPECT_EQ(STATUS_UPGRADED, target.status);
  EXPECT_EQ(AppToProbe(c.console_message, c.seconds) +
                ProbeAnswered() + "      OK\n",
            console.output);
  EXPECT_EQ(LogAppToProbe(c.log_message) + "      OK\n\n", Log());
  ExpectWaited(c.seconds);
  // No listing check; the load's own session is quit twice and the current
  // session is left alone.
  EXPECT_EQ(Calls({"login 127.0.0.1", std::string("put ") + c.loaded,
                   "quit 1", "quit 1"}),
            ftp.calls);
  EXPECT_EQ(9, target.work.ftp_session);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AppWaitTest,
    testing::Values(WaitCase{kZel252, kApp, kAppWait210, kAppWait210Log, 210},
                    // The message says 60 seconds; the wait is 30.
                    WaitCase{kZel251, kApp, kAppWait30, kAppWait30Log, 30},
                    WaitCase{kZelNoDigits, kApp, kAppWait30, kAppWait30Log,
                             30}));

// ---- Failures ----

TEST_F(ModuleLoadingTest, ZelLoginFailedLeavesMinusOneAsCurrentSession) {
  ftp.password = "changed";
  EXPECT_EQ(0, load_os_module(&target, kZel251));
  EXPECT_EQ(STATUS_LOGIN_FAILED, target.status);
  EXPECT_EQ(-1, target.work.ftp_session);
  EXPECT_EQ(std::string(kLogInLabel) + "\n\tCould not log in.\n",
            console.output);
  EXPECT_EQ("Attempting to log in to 127.0.0.1 ... "
            "\nCould not log into 127.0.0.1.\n",
            Log());
  EXPECT_EQ(Calls({"login 127.0.0.1", "quit -1"}), ftp.calls);
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_TRUE(icmp.sent.empty());
}

TEST_F(ModuleLoadingTest, AppLoginFailedLeavesCurrentSessionAlone) {
  ftp.password = "changed";
  EXPECT_EQ(0, load_app_module(&target, kApp));
  EXPECT_EQ(STATUS_LOGIN_FAILED, target.status);
  EXPECT_EQ(9, target.work.ftp_session);
  EXPECT_EQ(std::string(kLogInLabel) + "\n\tCould not log in.\n",
            console.output);
  EXPECT_EQ("Attempting to log in ...                 "
            "\nCould not log into 127.0.0.1.\n",
            Log());
  EXPECT_EQ(Calls({"login 127.0.0.1", "quit -1"}), ftp.calls);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(ModuleLoadingTest, ZelUploadFailedSaysErrorOnConsoleAndLog) {
  ftp.put_fails = true;
  EXPECT_EQ(0, load_os_module(&target, kZel251));
  EXPECT_EQ(STATUS_OS_LOAD_FAILED, target.status);
  EXPECT_EQ(std::string(kLogInLabel) + "        OK\n" +
                "\tLoading OS, please wait ...                      Error.\n",
            console.output);
  EXPECT_EQ("Attempting to log in to 127.0.0.1 ... Log in successful\n"
            "Loading OS, please wait ...                      Error.\n",
            Log());
  EXPECT_EQ(Calls({"login 127.0.0.1", "put kvn_hw02_zel_251.bin", "quit 1"}),
            ftp.calls);
  EXPECT_EQ(1, target.work.ftp_session);
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_TRUE(icmp.sent.empty());
}

TEST_F(ModuleLoadingTest, AppUploadFailedLeavesBothLinesOpen) {
  ftp.put_fails = true;
  EXPECT_EQ(0, load_app_module(&target, kApp));
  EXPECT_EQ(STATUS_APP_LOAD_FAILED, target.status);
  EXPECT_EQ(std::string(kLogInLabel) + "        OK\n" + kLoadingApp,
            console.output);
  EXPECT_EQ("Attempting to log in ...                         OK\n"
            "Loading application, please wait ... ",
            Log());
  EXPECT_EQ(Calls({"login 127.0.0.1", "put kvn_hw02_app_300.bin", "quit 1"}),
            ftp.calls);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(ModuleLoadingTest, ZelCardSilentAfterTheWait) {
  icmp.default_reply = 0;
  EXPECT_EQ(0, load_os_module(&target, kZel251));
  EXPECT_EQ(STATUS_UNRESPONSIVE, target.status);
  EXPECT_EQ(ZelToProbe(kZelWait180, 180) + ProbeSilent(60) + "     ERROR\n",
            console.output);
  EXPECT_EQ(LogZelToProbe() + "\nPing at 127.0.0.1 failed\n", Log());
  // No verification login after a silent probe.
  EXPECT_EQ(Calls({"login 127.0.0.1", "put kvn_hw02_zel_251.bin", "quit 1",
                   "quit 1"}),
            ftp.calls);
  EXPECT_EQ(60u, icmp.sent.size());
}

TEST_F(ModuleLoadingTest, AppCardSilentAfterTheWaitWithRaisedProbeFactor) {
  icmp.default_reply = 0;
  target.work.probe_factor = 3;
  EXPECT_EQ(0, load_app_module(&target, kApp));
  EXPECT_EQ(STATUS_UNRESPONSIVE, target.status);
  EXPECT_EQ(AppToProbe(kAppWait30, 30) + ProbeSilent(180) + "Ping Error\n",
            console.output);
  EXPECT_EQ(LogAppToProbe(kAppWait30Log) +
                "\nPing at 127.0.0.1 failed\nPing Error\n",
            Log());
  EXPECT_EQ(Calls({"login 127.0.0.1", "put kvn_hw02_app_300.bin", "quit 1",
                   "quit 1"}),
            ftp.calls);
  EXPECT_EQ(180u, icmp.sent.size());
}

// Only the first "kvn" entry counts. The console line of the probe stays
// open: the caller's next output follows on it.
TEST_F(ModuleLoadingTest, ZelVerificationFindsAnotherModuleFirst) {
  ftp.listing = {"data.txt", "kvn_hw02_zel_250.bin", kZel251};
  EXPECT_EQ(0, load_os_module(&target, kZel251));
  EXPECT_EQ(STATUS_OS_LOAD_FAILED, target.status);
  EXPECT_EQ(ZelToProbe(kZelWait180, 180) + ProbeAnswered(), console.output);
  EXPECT_EQ(LogZelToProbe() + LogAfter(kZel251, "kvn_hw02_zel_250.bin") +
                "        ZEL Load Failed\n",
            Log());
}

// A card that refuses the verification login, e.g. after it reset its
// credentials while updating.
struct SecondLoginRefused : public FakeFtpLibrary {
  int Login(const char* host, const char* user_name, const char* pass,
            const char* account) override {
    if (++logins > 1)
      password = "reset";
    return FakeFtpLibrary::Login(host, user_name, pass, account);
  }
  int logins = 0;
};

TEST_F(ModuleLoadingTest, ZelVerificationLoginRefused) {
  SecondLoginRefused card;
  platform().ftp = &card;

  EXPECT_EQ(0, load_os_module(&target, kZel251));
  EXPECT_EQ(STATUS_OS_LOAD_FAILED, target.status);
  EXPECT_EQ(-1, target.work.ftp_session);
  EXPECT_EQ(ZelToProbe(kZelWait180, 180) + ProbeAnswered(), console.output);
  EXPECT_EQ(LogZelToProbe() +
                "Login failed while checking if download completed "
                "successfully.\n        ZEL Load Failed\n",
            Log());
  EXPECT_EQ(Calls({"login 127.0.0.1", "put kvn_hw02_zel_251.bin", "quit 1",
                   "quit 1", "login 127.0.0.1", "reply -1"}),
            card.calls);
}

// ---- The real FTP library, server and ICMP on loopback ----

struct ModuleLoadingOnLoopbackTest : public LoopbackFtpTest {
  void SetUp() override {
    LoopbackFtpTest::SetUp();
    ASSERT_TRUE(WriteFile(card_dir + "/data.txt", "card data log\n"));
    // Real echoes; the fake clock still makes the restart waits take no time.
    platform().icmp = &real_icmp;
    ASSERT_TRUE(set_target_ip(&target, "127.0.0.1"));
    ASSERT_TRUE(set_target_user_name(&target, "admin"));
    ASSERT_TRUE(set_target_password(&target, "secret"));
    strcpy(zel_module_name, kZel251);
  }
  // A binary module with line ends that a text-mode transfer would alter.
  std::string WriteModule(const char* name) {
    std::string module(200000, '\0');
    std::mt19937 random(11);
    for (char& c : module)
      c = static_cast<char>(random());
    module.replace(256, 5, "\r\n\n\r\0", 5);
    EXPECT_TRUE(WriteFile(name, module));
    return module;
  }

  upgrade_target target{};
  RealIcmpEcho real_icmp;
};

TEST_F(ModuleLoadingOnLoopbackTest, ZelLoadUploadsAndVerifies) {
  std::string module = WriteModule(kZel251);
  EXPECT_EQ(1, load_os_module(&target, zel_module_name));
  EXPECT_EQ(STATUS_UPGRADED, target.status);
  // The upload puts the configured module into the card's root, so that its
  // listing names it.
  EXPECT_TRUE(ReadFile(card_dir + "/" + kZel251) == module);
  EXPECT_EQ(ZelToProbe(kZelWait180, 180) + ProbeAnswered() + "      OK\n",
            console.output);
  EXPECT_EQ(LogZelToProbe() + LogAfter(kZel251, kZel251) + "        OK\n",
            Log());
  EXPECT_EQ(180000, clock.slept_ms);
  // Two logins (upload, verification), each ended on the server.
  std::string commands = server.Commands();
  EXPECT_EQ(2, CountLines(commands, "USER admin")) << commands;
  EXPECT_EQ(2, CountLines(commands, "QUIT")) << commands;
  EXPECT_EQ(1, CountLines(commands, "STOR kvn_hw02_zel_251.bin")) << commands;
}

// The interim patch arrives, but the card then lists it and not the
// configured module: the load fails its verification.
TEST_F(ModuleLoadingOnLoopbackTest, ZelLoadFailsWhenTheCardListsAnotherModule) {
  std::string patch = WriteModule(kInterimPatchName);
  EXPECT_EQ(0, load_os_module(&target, kInterimPatchName));
  EXPECT_EQ(STATUS_OS_LOAD_FAILED, target.status);
  EXPECT_TRUE(ReadFile(card_dir + "/" + kInterimPatchName) == patch);
  EXPECT_EQ(LogZelToProbe(kPatchWaitLog) +
                LogAfter(kZel251, kInterimPatchName) +
                "        ZEL Load Failed\n",
            Log());
  EXPECT_EQ(30000, clock.slept_ms);
}

TEST_F(ModuleLoadingOnLoopbackTest, AppLoadUploadsAndFindsTheCardAgain) {
  std::string module = WriteModule(kApp);
  target.work.ftp_session = 9;
  EXPECT_EQ(1, load_app_module(&target, kApp));
  EXPECT_EQ(STATUS_UPGRADED, target.status);
  EXPECT_EQ(9, target.work.ftp_session);
  EXPECT_TRUE(ReadFile(card_dir + "/" + kApp) == module);
  EXPECT_EQ(AppToProbe(kAppWait30, 30) + ProbeAnswered() + "      OK\n",
            console.output);
  EXPECT_EQ(LogAppToProbe(kAppWait30Log) + "      OK\n\n", Log());
  EXPECT_EQ(30000, clock.slept_ms);
  std::string commands = server.Commands();
  EXPECT_EQ(1, CountLines(commands, "USER admin")) << commands;
  EXPECT_EQ(1, CountLines(commands, "QUIT")) << commands;
}

}  // namespace
