#include "upgrd_util/campaign/canary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The first card of each hardware and loading path, in order; what loads
// nothing is no canary.
TEST(CanaryTest, OneCardOfEachHardwareAndPathThatLoads) {
  const CardPath B = PATH_BOTH, A = PATH_APP_ONLY, P = PATH_PATCH_FIRST;
  struct Case {
    std::vector<Listed> listed;
    const char* canary;  // places
  } cases[] = {
      {{{B, "02"}, {B, "02"}, {A, "02"}, {P, "02"}}, "0 2 3"},
      {{{B, "02"}, {B, "03"}, {B, "02"}}, "0 1"},
      {{{PATH_ALREADY_CURRENT, "02"}, {PATH_HARDWARE_MISMATCH, "03"},
        {PATH_UNKNOWN, ""}, {PATH_PATCH_MISSING, "02"}, {A, "02"}},
       "4"},
      {{}, ""},
  };
  for (const Case& c : cases) {
    std::vector<upgrade_target> targets(c.listed.size());
    std::vector<upgrade_target*> cards;
    for (upgrade_target& target : targets)
      cards.push_back(&target);
    std::string places;
    for (const upgrade_target* card : canary_by_path(cards, c.listed)) {
      if (!places.empty())
        places += " ";
      places += std::to_string(card - targets.data());
    }
    EXPECT_EQ(c.canary, places);
  }
}

}  // namespace
