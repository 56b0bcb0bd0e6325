#include "upgrd_util/card/card_sequence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char kZel210[] = "kvn_hw02_zel_210.bin";
const char kZel211[] = "kvn_hw02_zel_211.bin";
const char kApp211[] = "kvn_hw02_app_211.bin";
const char kZelCurrent[] =
    "\nThe card already runs kvn_hw02_zel_211.bin: only "
    "kvn_hw02_app_211.bin is loaded.\n";

using Names = std::vector<std::string>;

// A card that lists each module it takes first, so that a ZEL load
// verifies.
struct CardListingItsUploads : public FakeFtpLibrary {
  int Put(int handle, const char* local, const char* remote) override {
    int put = FakeFtpLibrary::Put(handle, local, remote);
    if (put == 0)
      listing.insert(listing.begin(), uploads.back());
    return put;
  }
};

struct CardSequenceTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    platform().ftp = &card;
    ASSERT_TRUE(set_target_ip(&target, "127.0.0.2"));
    ASSERT_TRUE(set_target_user_name(&target, "user"));
    ASSERT_TRUE(set_target_password(&target, "pass"));
    strcpy(zel_module_name, kZel211);
    strcpy(app_module_name, kApp211);
    for (const char* name : {kZel211, kApp211})
      ASSERT_TRUE(WriteFile(name, std::string("module ") + name));
    card.files = {{"data.txt", "data\n"}, {"event.txt", "events\n"}};
    icmp.default_reply = 1;
  }

  CardListingItsUploads card;
  upgrade_target target{};
};

// ---- What a current card is loaded with ----

struct CurrentCardCase {
  const char* name;
  Names listing;  // the card's modules before the run
  bool leave_current;
  CardOutcome outcome;
  Names uploads;
  int zel_attempts;
  bool zel_already_current;
};

void PrintTo(const CurrentCardCase& c, std::ostream* out) {
  *out << c.name;
}

struct CurrentCardTest : public CardSequenceTest,
                         public testing::WithParamInterface<CurrentCardCase> {
};

TEST_P(CurrentCardTest, LoadsOnlyWhatItLacks) {
  const CurrentCardCase& c = GetParam();
  card.listing = c.listing;
  CampaignRules rules;
  rules.leave_current = c.leave_current;

  EXPECT_EQ(c.outcome, upgrade_card(&target, rules));
  EXPECT_EQ(c.uploads, card.uploads);
  EXPECT_EQ(c.zel_attempts, target.state.zel_attempts);
  // Every card that was loaded at all took one APP load.
  EXPECT_EQ(c.uploads.empty() ? 0 : 1, target.state.app_attempts);
  EXPECT_EQ(c.zel_already_current, target.state.zel_already_current);
  // What the report gives as the ZEL after, whether it was loaded or not.
  if (c.outcome == OUTCOME_UPGRADED) {
    EXPECT_EQ(kZel211, target.state.zel_after);
  }
  EXPECT_EQ(c.zel_already_current ? 1 : 0, Occurrences(Log(), kZelCurrent))
      << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CurrentCardTest,
    testing::Values(
        CurrentCardCase{"ZelCurrent", {"data.txt", kZel211}, true,
                        OUTCOME_UPGRADED, {kApp211}, 0, true},
        // --force loads everything.
        CurrentCardCase{"ZelCurrentForced", {"data.txt", kZel211}, false,
                        OUTCOME_UPGRADED, {kZel211, kApp211}, 1, false},
        CurrentCardCase{"OtherZel", {"data.txt", kZel210}, true,
                        OUTCOME_UPGRADED, {kZel211, kApp211}, 1, false},
        // Only the first "kvn" entry is the card's ZEL.
        CurrentCardCase{"ZelListedSecond", {kZel210, kZel211}, true,
                        OUTCOME_UPGRADED, {kZel211, kApp211}, 1, false},
        CurrentCardCase{"BothCurrent", {kZel211, kApp211}, true,
                        OUTCOME_ALREADY_CURRENT, {}, 0, false}),
    [](const testing::TestParamInfo<CurrentCardCase>& info) {
      return std::string(info.param.name);
    });

// The dry run says so too, and changes nothing.
TEST_F(CardSequenceTest, DryRunSaysOnlyTheAppWouldBeLoaded) {
  card.listing = {"data.txt", kZel211};
  CampaignRules rules;
  rules.leave_current = true;

  EXPECT_EQ(OUTCOME_WOULD_UPGRADE, check_card(&target, rules));
  EXPECT_TRUE(card.uploads.empty());
  EXPECT_EQ(1, Occurrences(Log(),
                           "\nThe card already runs kvn_hw02_zel_211.bin: "
                           "only kvn_hw02_app_211.bin would be loaded.\n"
                           "Dry run: would upgrade\n"))
      << Log();
}

}  // namespace
