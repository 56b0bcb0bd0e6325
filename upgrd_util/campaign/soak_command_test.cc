#include "upgrd_util/campaign/soak_command.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"

namespace {

struct SoakCommandTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(set_target_ip(&card, "127.0.0.2"));
    card.state.wave = 2;
    card.state.zel_before = "kvn_hw02_zel_210.bin";
    card.state.zel_after = "kvn_hw02_zel_211.bin";
    strcpy(zel_module_name, "kvn_hw02_zel_211.bin");
    strcpy(app_module_name, "kvn_hw02_app_211.bin");
    site_name = "host:/srv";
  }
  upgrade_target card{};
};

// A real child, through a shell: it gets the card's address last and the
// card's JSON on its input; how it ends, and the first line it said, are
// the reply of a failure.
TEST_F(SoakCommandTest, ACommandThatFailsOrHangsFailsTheCard) {
  struct {
    const char* script;
    double seconds;
    bool well;
    const char* reply;
  } cases[] = {
      {"cat > input.json; echo \"$1\" > address; echo fine", 60, true, ""},
      {"echo 'no route to 10.1.1.1'; echo more; exit 1", 60, false,
       "exited with code 1: no route to 10.1.1.1"},
      {"exec sleep 30", 0.5, false, "was ended after 0.5 s"},
  };
  for (const auto& c : cases) {
    ChildLimits limits = soak_command_limits();
    limits.seconds = c.seconds;
    SoakFailure failure;
    std::vector<std::string> command = {"/bin/sh", "-c", c.script, "soak"};
    EXPECT_EQ(c.well, run_soak_command(command, card, &failure, limits))
        << c.script;
    EXPECT_STREQ(c.well ? "" : "command", failure.step) << c.script;
    EXPECT_EQ(c.reply, failure.reply) << c.script;
  }
  EXPECT_EQ("127.0.0.2\n", ReadFile("address"));
  nlohmann::json input = nlohmann::json::parse(ReadFile("input.json"));
  EXPECT_EQ("127.0.0.2", input["address"]);
  EXPECT_EQ(2, input["wave"]);
  EXPECT_EQ("02", input["hardware"]);
  EXPECT_EQ("kvn_hw02_zel_210.bin", input["zel_before"]);
  EXPECT_EQ("kvn_hw02_zel_211.bin", input["zel_after"]);
  EXPECT_EQ("kvn_hw02_app_211.bin", input["app_target"]);
  EXPECT_EQ("host:/srv", input["site"]);
}

}  // namespace
