#include "upgrd_util/modules/module_banner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/expected_output.h"
#include "tests/test_support.h"

namespace {

struct ModuleBannerTest : public ProgramTest {};

TEST_F(ModuleBannerTest, ShowsEachModulesNameAndDottedVersionInColumns) {
  ASSERT_TRUE(WriteFile("zel.bin", Module("211", "VRN Operating System")));
  ASSERT_TRUE(WriteFile("app.bin", Module("2110", "VRN Application") +
                                       std::string(5000, '\x7f')));
  show_module_banner("zel.bin", "app.bin");
  EXPECT_EQ(Banner("VRN Operating System" + std::string(11, ' ') + "v2.1.1",
                   "VRN Application" + std::string(16, ' ') + "v2.1.1.0",
                   kFakeLogHeader),
            console.output);
  EXPECT_EQ(77u, strlen(kBannerRule) - 1);
  // The banner goes to the console only.
  EXPECT_EQ("", Log());
}

TEST_F(ModuleBannerTest, NameAndVersionTextsAtTheirExtremes) {
  // A name of 31 characters or more gets no blanks; an empty one 31, so the
  // version still starts in column 72. An empty version is a bare "v".
  ASSERT_TRUE(WriteFile("zel.bin", Module("7", std::string(31, 'N'))));
  ASSERT_TRUE(WriteFile("app.bin", Module("", "")));
  show_module_banner("zel.bin", "app.bin");
  EXPECT_EQ(Banner(std::string(31, 'N') + "v7", std::string(31, ' ') + "v",
                   kFakeLogHeader),
            console.output);
}

TEST_F(ModuleBannerTest, TextsWithoutNulEndAtTheEndOfTheHeader) {
  // No NUL anywhere in the header: the version runs from 42 to the end of
  // the header, the name from 91; nothing past byte 255 is shown.
  std::string module(256, 'A');
  module.replace(42, 3, "123");
  ASSERT_TRUE(WriteFile("zel.bin", module + "BEYOND"));
  ASSERT_TRUE(WriteFile("app.bin", module));
  show_module_banner("zel.bin", "app.bin");
  EXPECT_EQ(std::string::npos, console.output.find("BEYOND"));
  std::string name(165, 'A');
  EXPECT_NE(std::string::npos, console.output.find("Korvane" +
                                                   std::string(33, ' ') + name +
                                                   "v1.2.3.A.A"));
}

TEST_F(ModuleBannerTest, ControlCharactersInAHeaderAreShownAsQuestionMarks) {
  ASSERT_TRUE(WriteFile("zel.bin", Module("2\x1b" "1", "VRN\x1b]0;x\x07 OS\x7f")));
  ASSERT_TRUE(WriteFile("app.bin", Module("211", "VRN APP")));
  show_module_banner("zel.bin", "app.bin");
  EXPECT_NE(std::string::npos,
            console.output.find("VRN?]0;x? OS?" + std::string(18, ' ') +
                                "v2.?.1\n"))
      << console.output;
}

TEST_F(ModuleBannerTest, DottedVersionsAndBlanks) {
  print_dotted_version("211", 3);
  print_dotted_version("211", 0);
  print_dotted_version("9", 1);
  print_dotted_version("2110", 2);
  print_blanks(3);
  print_blanks(0);
  print_blanks(-4);
  EXPECT_EQ("v2.1.1\nv\nv9\nv2.1\n   ", console.output);
}

}  // namespace
