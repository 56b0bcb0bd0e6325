// Runs of the real tool binary.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"

TEST(UpgradeRun, WritesTheLogHeaderAndKeepsEarlierRuns) {
  ScopedTempDir dir;
  ASSERT_TRUE(WriteFile("result.txt", "an earlier run\n"));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code) << run.output;
  std::string log = ReadFile("result.txt");
  EXPECT_EQ(0u, log.find("an earlier run\nVRN Upgrade Tool v1.6c\n")) << log;
  // The header closes with the stamp and an empty line.
  EXPECT_EQ("M\n\n", log.substr(log.size() - 3)) << log;
}

TEST(UpgradeRun, DoesNotStartWithoutItsLog) {
  ScopedTempDir dir;
  ASSERT_EQ(0, mkdir("result.txt", 0755));
  ToolRun run = RunTool(dir.path, "", 30);
  EXPECT_EQ(1, run.exit_code);
  EXPECT_EQ(
      "\tCannot open the result log 'result.txt': Is a directory. No upgrade "
      "was started.\n",
      run.output);
}
