#include "upgrd_util/modules/module_hardware.h"

#include <gtest/gtest.h>

namespace {

// Only two names that both say their hardware, and say another, differ:
// a name of another shape is never taken for a mismatch.
TEST(ModuleHardwareTest, OnlyTwoNamedIdsThatDifferAreAMismatch) {
  struct {
    const char* listed;
    const char* configured;
    const char* listed_id;
    bool same;
  } cases[] = {
      {"kvn_hw02_zel_203.bin", "kvn_hw02_zel_211.bin", "02", true},
      {"kvn_hw03_zel_211.bin", "kvn_hw02_zel_211.bin", "03", false},
      {"kvn_hw12_zel_211.bin", "kvn_hw21_zel_211.bin", "12", false},
      {"kvn_hw03_zel_211.bin", "vrn_zel_211.bin", "03", true},
      {"kvn_zel_211.bin", "kvn_hw02_zel_211.bin", "", true},
      {"kvn_hw3_zel_211.bin", "kvn_hw02_zel_211.bin", "", true},
      {"kvn_hw003_zel_211.bin", "kvn_hw02_zel_211.bin", "", true},
      {"kvn_hwab_zel_211.bin", "kvn_hw02_zel_211.bin", "", true},
      {"KVN_HW03_zel_211.bin", "kvn_hw02_zel_211.bin", "", true},
      {"kvn_hw03", "kvn_hw02_zel_211.bin", "", true},
      {"kvn_hw03_", "kvn_hw02_zel_211.bin", "03", false},
      {"", "kvn_hw02_zel_211.bin", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.listed_id, module_hardware_id(c.listed)) << c.listed;
    EXPECT_EQ(c.same, same_hardware(c.listed, c.configured))
        << c.listed << " " << c.configured;
  }
}

}  // namespace
