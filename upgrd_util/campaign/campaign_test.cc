#include "upgrd_util/campaign/campaign.h"

#include <cstdlib>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

#include "tests/expected_output.h"
#include "tests/test_support.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"

namespace {

struct CampaignOnDoublesTest : public ProgramTest {
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(WriteFile("config.txt", "ZEL = kvn_hw02_zel_211.bin\n"
                                        "APP = kvn_hw02_app_211.bin\n"));
    ASSERT_TRUE(WriteFile("kvn_hw02_zel_211.bin", Module("211", "VRN OS")));
    ASSERT_TRUE(WriteFile("kvn_hw02_app_211.bin", Module("211", "VRN APP")));
    ASSERT_TRUE(WriteFile("iplist.txt", "SystemIP=127.0.0.2\n"
                                        "SystemUserName=user\n"
                                        "SystemPassword=pass\n"));
  }
};

TEST_F(CampaignOnDoublesTest, WithoutICMPNoCardIsTouched) {
  icmp.open_succeeds = false;
  // The run opens the log itself.
  close_result_log();
  ProgramTest::Exit exit = RunToExit([] {
    ToolOptions options;
    options.yes = true;
    std::exit(run_campaign(options));
  });
  EXPECT_EQ(2, exit.code);
  EXPECT_NE(std::string::npos,
            exit.console.find("\tThe tool cannot send ICMP echo requests "
                              "here, so no card would answer: run it as "
                              "root, give it CAP_NET_RAW (setcap "
                              "cap_net_raw+ep), or widen "
                              "net.ipv4.ping_group_range to the user's "
                              "group.\n"))
      << exit.console;
  EXPECT_TRUE(ftp.calls.empty());
}

// What the options name is checked against the module files config.txt
// names and the cards' files before anything is written, result.txt's
// header too; a metrics file the collector would not read is warned of.
TEST_F(CampaignOnDoublesTest, NoOptionNamesAFileConfigOrListGives) {
  close_result_log();
  const std::string log = ReadFile("result.txt");
  ASSERT_TRUE(WriteFile("127.0.0.2_upgrade.txt", "journal\n"));
  struct {
    const char* html;
    const char* metrics;
    const char* said;
  } cases[] = {
      {"kvn_hw02_app_211.bin", "m.prom",
       "upgrd_util: --html kvn_hw02_app_211.bin names the tool's own file "
       "kvn_hw02_app_211.bin\n"},
      {"page.html", "127.0.0.2_upgrade.txt",
       "upgrd_util: --metrics 127.0.0.2_upgrade.txt names the tool's own "
       "file 127.0.0.2_upgrade.txt\n"},
  };
  for (const auto& c : cases) {
    ProgramTest::Exit exit = RunToExit([&] {
      ToolOptions options;
      options.yes = true;
      options.files.html = c.html;
      options.files.metrics = c.metrics;
      std::exit(run_campaign(options));
    });
    EXPECT_EQ(2, exit.code);
    EXPECT_NE(std::string::npos, exit.console.find(c.said)) << exit.console;
    EXPECT_EQ(Module("211", "VRN APP"), ReadFile("kvn_hw02_app_211.bin"));
    EXPECT_EQ("journal\n", ReadFile("127.0.0.2_upgrade.txt"));
    EXPECT_EQ(log, ReadFile("result.txt"));
    EXPECT_TRUE(ftp.calls.empty());
  }
  icmp.open_succeeds = false;
  ProgramTest::Exit exit = RunToExit([] {
    ToolOptions options;
    options.yes = true;
    options.files.metrics = "night.txt";
    std::exit(run_campaign(options));
  });
  EXPECT_NE(std::string::npos,
            exit.console.find("upgrd_util: --metrics: the node exporter's "
                              "textfile collector reads only files ending in "
                              ".prom, not night.txt\n"))
      << exit.console;
}

#ifndef _WIN32
// A card's block that result.txt cannot take (here a file size limit, as a
// full disk would) is named on the console and counted in the summary and
// the exit code, though the card was upgraded.
// --link-rate caps the uploads; a night without it is not capped by the
// rate the plan takes.
TEST_F(CampaignOnDoublesTest, OnlyAGivenLinkRateCapsTheUploads) {
  icmp.default_reply = 1;
  ftp.listing = {"kvn_hw02_zel_211.bin"};  // it needs only the APP
  close_result_log();
  struct {
    std::vector<const char*> args;
    const char* said;
  } cases[] = {{{"upgrd_util", "--yes", "--link-rate", "2M"},
                "cap 2e+06 0 -\n"},
               {{"upgrd_util", "--yes"}, "cap 0 0 -\n"},
               // A card's uploads draw from its group's share.
               {{"upgrd_util", "--yes", "--groups", "g.csv", "--group-rate",
                 "500k"},
                "cap 0 500000 rack1\n"}};
  ASSERT_TRUE(WriteFile("g.csv", "address,group\n127.0.0.2,rack1\n"));
  for (auto& c : cases) {
    ProgramTest::Exit exit = RunToExit([&] {
      ToolOptions options;
      parse_tool_options(static_cast<int>(c.args.size()),
                         const_cast<char**>(c.args.data()), &options);
      int code = run_campaign(options);
      console_printf("cap %g %g %s\n", ftp.upload_rate, ftp.group_rate,
                     ftp.put_group.c_str());
      std::exit(code);
    });
    EXPECT_NE(std::string::npos, exit.console.find(c.said)) << exit.console;
  }
}

// Memory that runs out during a card's turn fails that card on the
// workstation; the night, its summary and its report go on.
TEST_F(CampaignOnDoublesTest, MemoryRunningOutFailsTheCardNotTheNight) {
  icmp.default_reply = 1;
  ftp.listing = {"kvn_hw02_zel_211.bin"};  // it needs only the APP
  ftp.put_runs_out_of_memory = true;
  close_result_log();
  ProgramTest::Exit exit = RunToExit([] {
    const char* args[] = {"upgrd_util", "--yes", "--report", "r.jsonl"};
    ToolOptions options;
    parse_tool_options(4, const_cast<char**>(args), &options);
    std::exit(run_campaign(options));
  });
  EXPECT_EQ(1, exit.code) << exit.console;
  EXPECT_NE(std::string::npos,
            ReadFile("r.jsonl").find("\"outcome\":\"local_error\""))
      << exit.console;
  EXPECT_NE(std::string::npos,
            ReadFile("result.txt").find("it ran out of memory during the "
                                        "card's turn"));
}

TEST_F(CampaignOnDoublesTest, ABlockThatCannotBeWrittenIsNamedAndCounted) {
  icmp.default_reply = 1;
  ftp.listing = {"kvn_hw02_zel_211.bin"};  // it needs only the APP
  close_result_log();
  ProgramTest::Exit exit = RunToExit([] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    // The headers and config.txt's lines, and the summary, not the block.
    limit.rlim_cur = 700;
    setrlimit(RLIMIT_FSIZE, &limit);
    ToolOptions options;
    options.yes = true;
    std::exit(run_campaign(options));
  });
  EXPECT_EQ(1, exit.code) << exit.console;
  for (const char* said :
       {"\tCannot write the block of 127.0.0.2 to result.txt: File too "
        "large\n",
        "\t127.0.0.2        upgraded (APP only, its ZEL was already "
        "current) in ",
        "\tAll upgrades completed successfully.\n\n\n"
        "\tThe blocks of 1 cards could not be written to result.txt.\n"})
    EXPECT_NE(std::string::npos, exit.console.find(said)) << exit.console;
  std::string log = ReadFile("result.txt");
  EXPECT_EQ(std::string::npos, log.find("*** Card")) << log;
  EXPECT_NE(std::string::npos,
            log.find("The blocks of 1 cards could not be written to "
                     "result.txt:\n\t127.0.0.2\n"))
      << log;
}
#endif

}  // namespace
