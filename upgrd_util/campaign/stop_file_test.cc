#include "upgrd_util/campaign/stop_file.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct StopFileTest : public ProgramTest {};

// Whatever the operator made under the name stops a campaign: a file, a
// directory, a link, even one to nothing.
TEST_F(StopFileTest, AnythingUnderTheNameIsThere) {
  ASSERT_TRUE(WriteFile("file", ""));
  ASSERT_TRUE(MakeDirectory("directory"));
  ASSERT_EQ(0, symlink("file", "link"));
  ASSERT_EQ(0, symlink("nowhere", "dangling"));
  struct {
    const char* path;
    bool present;
  } cases[] = {
      {"file", true},        {"directory", true}, {"link", true},
      {"dangling", true},    {"missing", false},  {"file/below", false},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(c.present, stop_file_present(c.path, &error)) << c.path;
    EXPECT_EQ("", error) << c.path;
  }
}

}  // namespace
