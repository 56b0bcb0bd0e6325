#include "upgrd_util/run/upgrade_summary.h"

#include <gtest/gtest.h>

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
                "\t127.0.0.7: Unknown failure. 2a \n"
                "\nEncountered 5 failures during upgrade.\n") +
                kSummaryEnd,
            Log());
}

}  // namespace
