#include "upgrd_util/modules/module_version.h"

#include <gtest/gtest.h>

TEST(ModuleVersionNumber, ReadsTheDigitsOfRealModuleNames) {
  EXPECT_EQ(211, module_version_number("kvn_hw02_zel_211.bin"));
  EXPECT_EQ(202, module_version_number("kvn_hw02_zel_202.bin"));
  EXPECT_EQ(201, module_version_number("kvn_hw02_zel_201.bin"));
  EXPECT_EQ(251, module_version_number("kvn_hw02_zel_251.bin"));
  EXPECT_EQ(252, module_version_number("kvn_hw02_zel_252.bin"));
}

TEST(ModuleVersionNumber, JoinsAllDigitsAndDropsEverythingElse) {
  EXPECT_EQ(310, module_version_number("kvn_hw02_zel_3_1_0.bin"));
  EXPECT_EQ(211, module_version_number("kvn_hw02_zel_2a1b1.bin"));
  EXPECT_EQ(11, module_version_number("kvn_hw02_zel_011.bin"));
  // Bytes above 127 are no digits either.
  EXPECT_EQ(21, module_version_number("kvn_hw02_zel_\xd9\xa2" "2\xff" "1.bin"));
}

TEST(ModuleVersionNumber, NoDigitsOrShortNamesGiveZero) {
  EXPECT_EQ(0, module_version_number("kvn_hw02_zel_new.bin"));
  EXPECT_EQ(0, module_version_number("kvn_hw02"));
  EXPECT_EQ(0, module_version_number("kvn_hw02_"));
  EXPECT_EQ(0, module_version_number(""));
}

TEST(ModuleVersionNumber, LooksOnlyAtPositionsNineToTwentyFour) {
  // Digits at positions 0 to 8 (the hardware's "02") never count.
  EXPECT_EQ(5, module_version_number("123456789" "5"));
  // Position 24 counts, position 25 does not.
  EXPECT_EQ(21, module_version_number("kvn_hw02_zel_release_02_11.bin"));
  EXPECT_EQ(1, module_version_number("kvn_hw02_xxxxxxxxxxxxxxx19"));
}

TEST(ModuleVersionNumber, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(2147483647, module_version_number("kvn_hw02_2147483647"));
  EXPECT_EQ(2147483647, module_version_number("kvn_hw02_2147483648"));
  EXPECT_EQ(2147483647, module_version_number("kvn_hw02_9999999999999999.bin"));
  // Leading zeros do not count towards the size.
  EXPECT_EQ(2147483646, module_version_number("kvn_hw02_0000002147483646"));
}
