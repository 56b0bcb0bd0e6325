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

// A night stopped by the failure rate after its first wave: two cards
// refuse their first login and are tried again, one never installs its
// module, the five of the next wave are not started. The first wave's
// cards are two racks, a card of each at once.
TEST_F(CampaignPageTest, PageAndMetricsAgreeWithTheReport) {
  std::vector<Card> cards = Numbered(2, 9);
  // A listing's name is the card's text, never the page's markup.
  cards[0].zel = "kvn_<script>alert(1)</script>.bin";
  cards[1].list_password = "wrong";
  cards[2].install = false;
  cards[3].refuse_logins = 1;
  Prepare(cards);
  ASSERT_TRUE(WriteFile("groups.csv", "address,group\n127.0.0.2,rackA\n"
                                      "127.0.0.5,rackA\n127.0.0.3,rackB\n"
                                      "127.0.0.4,rackC\n"));
  RunOptions options;
  options.arguments = {"-y",       "-j",        "4",      "--waves",
                       "4",        "--max-failure-rate",  "10%",
                       "--retry-unreachable", "1", "--groups", "groups.csv",
                       "--per-group", "1",
                       "--report", "r.jsonl", "--html",
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
  std::string page = ReadFile("page.html");
  for (const char* shown :
       {"data-end=\"rate\"><b>Stopped by the module failure rate: 1 of 3 "
        "cards that reached a module load failed it (33%), above the limit "
        "of 10%.</b>",
        "; 5 cards were not started.</p>",
        "<tr><th>Failure rate</th><td>limit 10%; reached 33% (1 of 3 cards "
        "that reached a module load)</td></tr>",
        "data-outcome=\"upgraded\" data-count=\"2\"",
        "data-outcome=\"login_failed\" data-count=\"1\"",
        "data-outcome=\"os_load_failed\" data-count=\"1\"",
        "<tr data-wave=\"2\"><td>2</td><td>5</td><td><span class=\"sw "
        "o-not_started\"></span>not_started: 5</td></tr>",
        "<tr data-count=\"5\"><td>the module failure rate went above "
        "10%</td><td>5</td><td>127.0.0.6, 127.0.0.7, 127.0.0.8, 127.0.0.9, "
        "127.0.0.10</td></tr>",
        "kvn_&lt;script&gt;",
        // Seven rounds of a card's 235 s by the plan: rackA's two cards one
        // after the other, then the five of no group one at a time.
        "<tr><th>Planned end</th><td>2026-12-07T09:57:25+00:00 (",
        "<tr data-group=\"rackA\"><td>rackA</td><td>2</td><td><span "
        "class=\"sw o-upgraded\"></span>upgraded: 2</td></tr>"})
    EXPECT_NE(std::string::npos, page.find(shown)) << shown;
  // Both cards that refused a login show two tries, the wait between them
  // empty.
  EXPECT_EQ(2, Occurrences(page, ", 2 tries</title>"));
  EXPECT_EQ(std::string::npos, page.find("http-equiv=\"refresh\""));
  std::map<std::string, nlohmann::json> records = Records("r.jsonl");
  EXPECT_EQ("rackA", records["127.0.0.5"]["group"]);
  EXPECT_NE(std::string::npos,
            ReadFile("m.prom").find(
                "upgrd_group_cards{group=\"-\",outcome=\"not_started\"} 5\n"));
}

}  // namespace
