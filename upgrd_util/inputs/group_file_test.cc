#include "upgrd_util/inputs/group_file.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// Each file is taken with the groups it gives, or refused with the line
// and what is wrong.
TEST(GroupFileTest, TakesCardsAfterTheHeaderAndRefusesWhatIsUnclear) {
  ScopedTempDir dir;
  struct Case {
    const char* content;
    const char* said;  // nullptr: taken
  } cases[] = {
      {"address,group,pair\n10.0.0.1, rack1 ,A\r\n10.0.0.2,rack2\n\n",
       nullptr},
      {"\xEF\xBB\xBF" "address,group\n10.0.0.1,rack1,A\n10.0.0.2,rack2,\n",
       nullptr},
      {"10.0.0.1,rack1\n10.0.0.2,rack2\n", "line 1: a header"},
      {"address,group\n", "lists no card"},
      {"address,group\n10.0.0.1\n", "line 2: address,group or"},
      {"address,group\n10.0.0.1,a,b,c\n", "line 2: address,group or"},
      {"address,group\n10.0.0.1,-\n", "line 2: the group is"},
      {"address,group\n10.0.0.1,rack 1\n", "line 2: the group is"},
      {"address,group\n10.0.0.1,r\n10.0.0.1,s\n", "line 3: 10.0.0.1 is given"},
      {"address,group\n10.0.0.1,r,\"A\"\n", "line 2: the pair is"},
      {"address,group\n,r\n", "line 2: no card's address"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteFile("groups.csv", c.content));
    std::map<std::string, CardGroup> groups;
    std::string error;
    bool taken = read_group_file("groups.csv", &groups, &error);
    if (!c.said) {
      ASSERT_TRUE(taken) << c.content << error;
      EXPECT_EQ("rack1", groups["10.0.0.1"].group);
      EXPECT_EQ("A", groups["10.0.0.1"].pair);
      EXPECT_EQ("rack2", groups["10.0.0.2"].group);
      EXPECT_EQ("", groups["10.0.0.2"].pair);
      continue;
    }
    EXPECT_FALSE(taken) << c.content;
    EXPECT_NE(std::string::npos, error.find(c.said)) << error;
  }
}

}  // namespace
