// The campaign's page and metrics file, read by the parts that will read
// them: a real browser, an HTML5 parser and Prometheus's own checker
// (tests/check_campaign_view.py), against the campaign's report.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

struct CampaignPageTest : public EndToEndTest {};

TEST_F(CampaignPageTest, PageAndMetricsAgreeWithTheReport) {
  std::vector<Card> cards = Numbered(2, 5);
  // A listing's name is the card's text, never the page's markup.
  cards[1].zel = "kvn_<script>alert(1)</script>.bin";
  cards[2].list_password = "wrong";
  cards[3].install = false;
  Prepare(cards);
  RunOptions options;
  options.arguments = {"-y",       "-j",        "2",      "--waves",
                       "2",        "--report",  "r.jsonl", "--html",
                       "page.html", "--metrics", "m.prom"};
  ToolRun run = RunTool(dir.path, "", 240, options);
  EXPECT_EQ(1, run.exit_code) << run.output;

  std::string command = "cd " + dir.path +
                        " && /usr/bin/python3 " UPGRD_SOURCE_DIR
                        "/tests/check_campaign_view.py r.jsonl page.html "
                        "m.prom 2>&1";
  std::string said;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    said.append(buffer, n);
  int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
  // Three outcomes, and the waves marked.
  std::string page = ReadFile("page.html");
  for (const char* shown : {"data-outcome=\"upgraded\" data-count=\"3\"",
                            "data-outcome=\"login_failed\" data-count=\"1\"",
                            "data-outcome=\"os_load_failed\" data-count=\"1\"",
                            ">wave 2</text>", "kvn_&lt;script&gt;"})
    EXPECT_NE(std::string::npos, page.find(shown)) << shown;
  EXPECT_EQ(std::string::npos, page.find("http-equiv=\"refresh\""));
}

}  // namespace
