#include "upgrd_util/card/soak_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char kZel211[] = "kvn_hw02_zel_211.bin";
const char kApp211[] = "kvn_hw02_app_211.bin";

struct SoakCase {
  const char* name;
  std::vector<std::string> listing;
  bool echo = true;
  const char* password = "pass";
  bool listing_fails = false;
  const char* step;  // "" when it passes
  const char* reply;
};

void PrintTo(const SoakCase& c, std::ostream* out) { *out << c.name; }

struct SoakCheckTest : public ProgramTest,
                       public testing::WithParamInterface<SoakCase> {};

TEST_P(SoakCheckTest, NamesTheStepThatFailedAndWhatTheCardSaid) {
  const SoakCase& c = GetParam();
  strcpy(zel_module_name, kZel211);
  strcpy(app_module_name, kApp211);
  upgrade_target card{};
  ASSERT_TRUE(set_target_ip(&card, "127.0.0.2"));
  ASSERT_TRUE(set_target_user_name(&card, "user"));
  ASSERT_TRUE(set_target_password(&card, c.password));
  card.status = STATUS_UPGRADED;
  icmp.default_reply = c.echo ? 1 : 0;
  ftp.listing = c.listing;
  ftp.listing_fails = c.listing_fails;

  SoakFailure failure;
  EXPECT_EQ(*c.step == '\0', soak_check(&card, &failure));
  EXPECT_STREQ(c.step, failure.step);
  EXPECT_EQ(c.reply, failure.reply);
  EXPECT_FALSE(failure.local);
  // The outcome is the caller's to set; no session is left open.
  EXPECT_EQ(STATUS_UPGRADED, card.status);
  EXPECT_TRUE(ftp.open_handles.empty());
}

const std::vector<std::string> kCurrent = {kZel211, kApp211, "data.txt"};

INSTANTIATE_TEST_SUITE_P(
    Cards, SoakCheckTest,
    testing::Values(
        SoakCase{"Passes", kCurrent, true, "pass", false, "", ""},
        SoakCase{"NoEcho", kCurrent, false, "pass", false, "echo",
                 "no echo reply"},
        SoakCase{"LoginRefused", kCurrent, true, "wrong", false, "login",
                 "530 Authentication failed."},
        SoakCase{"ListingRefused", kCurrent, true, "pass", true, "listing",
                 "550 Listing failed."},
        SoakCase{"OldZelListed",
                 {"kvn_hw02_zel_210.bin", kApp211}, true, "pass", false,
                 "version", "it lists kvn_hw02_zel_210.bin"},
        SoakCase{"AppMissing", {kZel211, "data.txt"}, true, "pass", false,
                 "version", "it does not list kvn_hw02_app_211.bin"}),
    [](const testing::TestParamInfo<SoakCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
