#include "upgrd_util/inputs/firmware_selection.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

struct FirmwareSelectionTest : public ProgramTest {
  // Reads `config` as config.txt; the names land in the run's buffers.
  void Read(const std::string& config) {
    ASSERT_TRUE(WriteFile("config.txt", config));
    read_firmware_selection(zel_module_name, app_module_name);
  }
};

TEST_F(FirmwareSelectionTest, LogsBothLinesAsWritten) {
  Read("ZEL = kvn_hw02_zel_211.bin\nAPP = kvn_hw02_app_211.bin\n");
  EXPECT_STREQ("kvn_hw02_zel_211.bin", zel_module_name);
  EXPECT_STREQ("kvn_hw02_app_211.bin", app_module_name);
  EXPECT_EQ(
      "Using ZEL file        : ZEL = kvn_hw02_zel_211.bin\n"
      "Using Application file: APP = kvn_hw02_app_211.bin\n\n\n",
      Log());
  EXPECT_EQ("", console.output);
}

TEST_F(FirmwareSelectionTest, AnyBlanksAndTabsAroundTheEqualsSign) {
  Read("ZEL=kvn_hw02_zel_211.bin\nAPP\t =\t\tapp.bin\n");
  EXPECT_STREQ("kvn_hw02_zel_211.bin", zel_module_name);
  EXPECT_STREQ("app.bin", app_module_name);
  EXPECT_EQ(
      "Using ZEL file        : ZEL=kvn_hw02_zel_211.bin\n"
      "Using Application file: APP\t =\t\tapp.bin\n\n\n",
      Log());
}

TEST_F(FirmwareSelectionTest, TheNameEndsAtTheFirstBlank) {
  Read("ZEL = zel.bin   the new OS\nAPP = app.bin\tapplication\n");
  EXPECT_STREQ("zel.bin", zel_module_name);
  EXPECT_STREQ("app.bin", app_module_name);
  EXPECT_EQ(
      "Using ZEL file        : ZEL = zel.bin   the new OS\n"
      "Using Application file: APP = app.bin\tapplication\n\n\n",
      Log());
}

TEST_F(FirmwareSelectionTest, WindowsLineEndsNeverReachTheNames) {
  Read("ZEL = zel.bin\r\nAPP = app.bin\r\nmore\r\n");
  EXPECT_STREQ("zel.bin", zel_module_name);
  EXPECT_STREQ("app.bin", app_module_name);
  EXPECT_EQ(
      "Using ZEL file        : ZEL = zel.bin\n"
      "Using Application file: APP = app.bin\n\n\n",
      Log());
}

TEST_F(FirmwareSelectionTest, ALastLineWithoutLineEnd) {
  Read("ZEL = zel.bin\nAPP = app.bin");
  EXPECT_STREQ("app.bin", app_module_name);
  EXPECT_EQ(
      "Using ZEL file        : ZEL = zel.bin\n"
      "Using Application file: APP = app.bin\n\n",
      Log());
}

TEST_F(FirmwareSelectionTest, MalformedFirstLinesLeaveBothNamesEmpty) {
  for (const char* config :
       {"", "zel = zel.bin\nAPP = app.bin\n", " ZEL = zel.bin\nAPP = app.bin\n",
        "APP = app.bin\nZEL = zel.bin\n", "ZEL =\nAPP = app.bin\n",
        "ZEL = \t \r\nAPP = app.bin\n", "ZEL : zel.bin\nAPP = app.bin\n",
        "\nZEL = zel.bin\nAPP = app.bin\n"}) {
    zel_module_name[0] = app_module_name[0] = '\0';
    Read(config);
    EXPECT_STREQ("", zel_module_name) << config;
    EXPECT_STREQ("", app_module_name) << config;
  }
  EXPECT_EQ("", Log());
  EXPECT_EQ("", console.output);
}

TEST_F(FirmwareSelectionTest, AMissingOrMalformedSecondLineLeavesTheAppNameEmpty) {
  for (const char* config : {"ZEL = zel.bin\n", "ZEL = zel.bin\napp = a.bin\n",
                             "ZEL = zel.bin\n\nAPP = app.bin\n"}) {
    zel_module_name[0] = app_module_name[0] = '\0';
    Read(config);
    EXPECT_STREQ("zel.bin", zel_module_name) << config;
    EXPECT_STREQ("", app_module_name) << config;
  }
  EXPECT_EQ(
      "Using ZEL file        : ZEL = zel.bin\n"
      "Using ZEL file        : ZEL = zel.bin\n"
      "Using ZEL file        : ZEL = zel.bin\n",
      Log());
}

TEST_F(FirmwareSelectionTest, TheRestOfAnOverlongFirstLineIsTheSecondLine) {
  // 255 characters make one read; the next read starts with "APP".
  std::string line1 = "ZEL = zel.bin" + std::string(255 - 13, ' ');
  Read(line1 + "APP = app.bin\nAPP = other.bin\n");
  EXPECT_STREQ("zel.bin", zel_module_name);
  EXPECT_STREQ("app.bin", app_module_name);
  EXPECT_EQ("Using ZEL file        : " + line1 +
                "Using Application file: APP = app.bin\n\n\n",
            Log());
}

TEST_F(FirmwareSelectionTest, NamesLongerThanTheBufferAreRefusedNotCut) {
  std::string fits(27, 'z');
  std::string too_long(28, 'a');
  Read("ZEL = " + fits + "\nAPP = " + too_long + "\n");
  EXPECT_EQ(fits, zel_module_name);
  EXPECT_STREQ("", app_module_name);
  EXPECT_EQ("\tThe APP module name in config.txt is longer than 27 characters: " +
                too_long + "\n",
            console.output);
  EXPECT_EQ("Using ZEL file        : ZEL = " + fits + "\n", Log());

  zel_module_name[0] = app_module_name[0] = '\0';
  console.output.clear();
  Read("ZEL = " + std::string(200, 'z') + "\nAPP = app.bin\n");
  EXPECT_STREQ("", zel_module_name);
  EXPECT_STREQ("", app_module_name);
  EXPECT_EQ(0u, console.output.find("\tThe ZEL module name"));
}

}  // namespace

namespace {

TEST_F(FirmwareSelectionTest, AByteOrderMarkBeforeTheFirstKeyIsSkipped) {
  Read("\xEF\xBB\xBFZEL = zel.bin\r\nAPP = app.bin\r\n");
  EXPECT_STREQ("zel.bin", zel_module_name);
  EXPECT_STREQ("app.bin", app_module_name);
}

TEST_F(FirmwareSelectionTest, BinaryGarbageAndNulBytesAreNoNames) {
  Read(std::string("\x00\xff\x01ZEL = zel.bin\n", 17));
  EXPECT_STREQ("", zel_module_name);
  // A NUL ends the name as it ends any text.
  Read(std::string("ZEL = zel\0.bin\nAPP = app.bin\n", 29));
  EXPECT_STREQ("zel", zel_module_name);
}

}  // namespace
