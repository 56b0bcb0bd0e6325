#include "upgrd_util/inputs/password_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/base/upgrade_target.h"

namespace {

// Each file that could tell others the cards' password, or holds none a
// card could take, is refused with the reason; the file of the user's own
// gives its first line.
TEST(PasswordFileTest, RefusesWhatOthersCouldReadAndTakesTheFirstLine) {
  ScopedTempDir dir;
  const char kReadable[] = "group or others can read it (chmod 600 it)";
  struct Case {
    const char* name;
    const char* content;  // nullptr: made below
    mode_t mode;
    const char* said;  // nullptr: taken
    const char* password;
  } cases[] = {
      {"link", nullptr, 0600, "it is a symbolic link", ""},
      {"directory", nullptr, 0700, "it is not a regular file", ""},
      {"everyone", "secret\n", 0644, kReadable, ""},
      {"group", "secret\n", 0640, kReadable, ""},
      {"others", "secret\n", 0604, kReadable, ""},
      {"other_user", "secret\n", 0600, "it belongs to another user", ""},
      {"empty", "", 0600, "its first line is empty", ""},
      {"blank_first", "\nsecret\n", 0600, "its first line is empty", ""},
      {"eleven", "elevenchars\n", 0600,
       "its first line is longer than 10 characters", ""},
      {"missing", nullptr, 0600, "No such file or directory", ""},
      {"two_lines", "secret\nnot this\n", 0600, nullptr, "secret"},
      {"ten_crlf", "0123456789\r\n", 0600, nullptr, "0123456789"},
      {"no_line_end", "s3cret", 0400, nullptr, "s3cret"},
  };
  ASSERT_TRUE(WriteFile("target", "secret\n"));
  ASSERT_EQ(0, chmod("target", 0600));
  ASSERT_EQ(0, symlink("target", "link"));
  ASSERT_TRUE(MakeDirectory("directory"));
  for (const Case& c : cases) {
    if (c.content) {
      ASSERT_TRUE(WriteFile(c.name, c.content)) << c.name;
      ASSERT_EQ(0, chmod(c.name, c.mode)) << c.name;
    }
  }
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown("other_user", 65534, 65534));
  }
  for (const Case& c : cases) {
    if (!root && std::string(c.name) == "other_user")
      continue;  // only root can give a file away
    char password[sizeof(upgrade_target::password)] = "old";
    std::string error;
    bool read = read_password_file(c.name, password, sizeof(password), &error);
    if (!c.said) {
      EXPECT_TRUE(read) << c.name << ": " << error;
      EXPECT_EQ(c.password, std::string(password)) << c.name;
      continue;
    }
    EXPECT_FALSE(read) << c.name;
    EXPECT_EQ(std::string(c.name) + ": " + c.said, error) << c.name;
    EXPECT_EQ("", std::string(password)) << c.name;
  }
}

}  // namespace
