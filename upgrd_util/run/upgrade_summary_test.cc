#include "upgrd_util/run/upgrade_summary.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <cstring>
#include <string>

#include "tests/test_support.h"

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
  Add("127.0.0.7", 42);  // no status any step records
  Add("127.0.0.8", STATUS_SOAK_FAILED);
  list->next->next->next->next->next->next->state.reason =
      "version: it lists kvn_zel_200.bin";
  print_summary(list);
  EXPECT_EQ("\n\t*********** Upgrade Summary *********** \n"
            "\n\tEncountered 6 failures during upgrade.\n"
            "\tPlease view 'result.txt' for details.\n",
            console.output);
  EXPECT_EQ(std::string(
                "\n\n************************************************************\n"
                "\nNot all Varnets were upgraded successfully:\n"
                "\t127.0.0.2: Could not download ZEL.\n"
                "\t127.0.0.4: Could not download Application.\n"
                "\t127.0.0.5: The Varnet at this address is not responsive.\n"
                "\t127.0.0.6: Could not log into the Varnet's FTP server.\n"
                "\t127.0.0.7: Unknown failure. 2a \n"
                "\t127.0.0.8: Upgraded, then failed its check after the "
                "soak: version: it lists kvn_zel_200.bin.\n"
                "\nEncountered 6 failures during upgrade.\n") +
                kSummaryEnd,
            Log());
}

#ifndef _WIN32
// On a full disk (here a file size limit) the summary is written whole or
// not at all, like a card's block, and the console says so; a campaign's
// lost blocks and records are named and counted in it.
TEST_F(SummaryTest, ASummaryIsWrittenWholeOrNotAtAll) {
  for (int i = 2; i < 40; ++i)
    Add(("127.0.0." + std::to_string(i)).c_str(), STATUS_LOCAL_ERROR);
  list->work.block_lost = true;
  list->state.reason = "cannot write 127.0.0.2_data.txt: No space left";
  std::string before = ReadFile("result.txt");
  ProgramTest::Exit exit = RunToExit([this, &before] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = before.size() + 100;
    setrlimit(RLIMIT_FSIZE, &limit);
    bool written = print_summary(list, 3);
    std::exit(!written && ReadFile("result.txt") == before ? 0 : 1);
  });
  EXPECT_EQ(0, exit.code) << exit.console;
  EXPECT_NE(std::string::npos,
            exit.console.find("\tThe summary could not be written to "
                              "result.txt: File too large.\n"))
      << exit.console;

  EXPECT_TRUE(print_summary(list, 3));
  std::string log = Log();
  EXPECT_EQ(0u, log.find("\n\n*****")) << log;
  EXPECT_NE(std::string::npos,
            log.find("\t127.0.0.2: Failed on this workstation: cannot write "
                     "127.0.0.2_data.txt: No space left.\n"))
      << log;
  EXPECT_NE(std::string::npos,
            log.find("The blocks of 1 cards could not be written to "
                     "result.txt:\n\t127.0.0.2\n3 records could not be "
                     "written to the report.\n"))
      << log;
  EXPECT_EQ(log.size() - strlen(kSummaryEnd), log.rfind(kSummaryEnd));
}
#endif

}  // namespace
