#include "upgrd_util/output/campaign_view.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/output/campaign_metrics.h"
#include "upgrd_util/output/campaign_page.h"

namespace {

struct CampaignViewTest : public ProgramTest {};

TEST_F(CampaignViewTest, CardTextBecomesValidUtf8) {
  const std::string bad = "\xEF\xBF\xBD";
  struct {
    std::string raw, shown;
  } cases[] = {
      {"kvn\tzel\n", "kvn\tzel\n"},
      {"a\x01\x1b[2Jb\x7F", "a??[2Jb?"},
      {"caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x93\xA6", "caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x93\xA6"},
      {"\xC2\x85", "?"},                          // a C1 control
      {"\xC0\xAF", bad + bad},                    // an overlong '/'
      {"\xED\xA0\x80", bad + bad + bad},          // a surrogate
      {"\xF4\x90\x80\x80", bad + bad + bad + bad},  // above U+10FFFF
      {"x\xE2\x86", "x" + bad + bad},             // cut short
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.shown, shown_utf8(c.raw)) << c.raw;
}

TEST_F(CampaignViewTest, UnixTimeFromTheLocalClockAndItsOffset) {
  clock.Set(2026, 12, 7, 9, 30, 0);
  EXPECT_EQ(1796635800.0, unix_time_now());
  clock.Set(2024, 2, 29, 23, 59, 59);
  EXPECT_EQ(1709251199.0, unix_time_now());
}

// At 1,000 cards the timeline stays one screen high and the table of the
// cards that went well is folded.
TEST_F(CampaignViewTest, AThousandCardsStayOnePage) {
  CampaignView view;
  view.ended = true;
  for (int i = 0; i < 1000; ++i) {
    CardView card;
    card.address = "10.0." + std::to_string(i / 250) + "." +
                   std::to_string(i % 250);
    card.outcome = card.said = i % 100 ? "upgraded" : "os_load_failed";
    card.failure = i % 100 == 0;
    card.start = i;
    card.end = i + 300;
    card.tail = "Sending ZEL ...\n";
    view.cards.push_back(card);
  }
  std::string page = campaign_page(view);
  EXPECT_EQ(1000, Occurrences(page, "class=\"card-bar\""));
  size_t box = page.find("viewBox=\"0 0 1000 ");
  ASSERT_NE(std::string::npos, box);
  EXPECT_LT(std::stod(page.substr(box + 18)), 700);
  EXPECT_NE(std::string::npos, page.find("<details><summary>990 cards"));
  EXPECT_EQ(10, Occurrences(page, "<section class=\"card\">"));
  EXPECT_LT(page.size(), 600000u);
}

TEST_F(CampaignViewTest, DurationsOfAnHourOrMoreInHoursAndMinutes) {
  struct {
    double seconds;
    const char* shown;
  } cases[] = {
      {45, "45 s"},          {200, "3 min 20 s"},   {720, "12 min"},
      {3569, "59 min"},      {3599, "1 h 00 min"},  {7500, "2 h 05 min"},
      {86397, "24 h 00 min"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.shown, page_duration(c.seconds)) << c.seconds;
}

// A stopped night: the cards not started share a row per reason, the
// failed ones beyond the first 20 a line each, a retried card a bar per
// try, and a card left as it was its version.
TEST_F(CampaignViewTest, CardsOfAKindAreGroupedAndFolded) {
  CampaignView view;
  view.ended = true;
  view.stop_kind = "window";
  view.stop_said = "The window ended at 2026-12-08T05:30:00+01:00";
  auto add = [&](const char* outcome, int i) {
    CardView card;
    card.address = "10.0.0." + std::to_string(i);
    card.outcome = card.said = outcome;
    card.failure = std::string(outcome) != "already_current";
    ++view.by_outcome[outcome];
    view.cards.push_back(card);
    return &view.cards.back();
  };
  for (int i = 0; i < 25; ++i)
    add("not_started", i)->reason = "window ended";
  for (int i = 25; i < 27; ++i)
    add("not_started", i)->reason = "stopped after wave 1";
  for (int i = 30; i < 53; ++i) {
    CardView* card = add("login_failed", i);
    card->start = i;
    card->end = i + 10;
    card->tail = "Trying to log in\nERROR!!! Login unsuccessful " +
                 std::to_string(i) + "\n\n";
  }
  view.cards.back().spans = {{53, 60, "unresponsive"}, {360, 363, ""}};
  view.cards.back().tries = 2;
  CardView* current = add("already_current", 60);
  current->zel_before = "kvn_hw02_zel_211.bin";
  std::string page = campaign_page(view);

  EXPECT_NE(std::string::npos,
            page.find("data-end=\"window\"><b>The window ended at "
                      "2026-12-08T05:30:00+01:00.</b>"));
  EXPECT_NE(std::string::npos, page.find("; 27 cards were not started."));
  EXPECT_EQ(1, Occurrences(page, "<table class=\"cards not-started\">"));
  EXPECT_NE(std::string::npos,
            page.find("<tr data-count=\"25\"><td>window ended</td><td>25"));
  EXPECT_NE(std::string::npos,
            page.find("<tr data-count=\"2\"><td>stopped after wave 1</td>"));
  EXPECT_NE(std::string::npos, page.find("10.0.0.19 <details><summary>and 5 "
                                         "more</summary>10.0.0.20, "));
  EXPECT_EQ(20, Occurrences(page, "<section class=\"card\">"));
  EXPECT_NE(std::string::npos,
            page.find("<td>10.0.0.52</td><td><span class=\"sw o-login_failed"
                      "\"></span>login_failed</td><td><code>ERROR!!! Login "
                      "unsuccessful 52</code></td>"));
  EXPECT_EQ(3, Occurrences(page, "<td><code>ERROR!!! Login unsuccessful"));
  EXPECT_EQ(23, Occurrences(page, "class=\"card-bar\""));
  EXPECT_EQ(24, Occurrences(page, "<rect class=\"try "));
  EXPECT_NE(std::string::npos, page.find("<rect class=\"try o-unresponsive\""));
  EXPECT_NE(std::string::npos,
            page.find("<td>kvn_hw02_zel_211.bin</td><td>\u2192</td>"
                      "<td>kvn_hw02_zel_211.bin</td><td>1</td>"));
}

// Who ran the night, and its pauses: a shaded span each on the timeline,
// one still in force reaching now.
TEST_F(CampaignViewTest, WhoRanItAndItsPauses) {
  CampaignView view;
  view.elapsed = 1000;
  view.run_by = "ops";
  view.host = "ops1";
  view.command_line = "upgrd_util -y --site '<b>'";
  view.options = "-y --site '<b>'";
  view.tool_version = "VRN Upgrade Tool v1.6c, build 8eb2f81";
  view.pauses = {{100, 400, }, {900, -1}};
  CardView card;
  card.address = "10.0.0.1";
  card.start = 0;
  card.end = 1000;
  card.outcome = card.said = "upgraded";
  view.cards.push_back(card);
  std::string page = campaign_page(view);
  EXPECT_NE(std::string::npos,
            page.find("<tr><th>Run by</th><td>ops on ops1</td></tr>"));
  EXPECT_NE(std::string::npos,
            page.find("<tr><th>Command line</th><td><code>upgrd_util -y "
                      "--site &#39;&lt;b&gt;&#39;</code></td></tr>"));
  EXPECT_EQ(std::string::npos, page.find("<th>Options</th>"));
  EXPECT_NE(std::string::npos,
            page.find("<tr><th>Tool</th><td>VRN Upgrade Tool v1.6c, build "
                      "8eb2f81</td></tr>"));
  EXPECT_EQ(2, Occurrences(page, "<g class=\"pause\"><title>Paused for "));
  EXPECT_NE(std::string::npos, page.find("<title>Paused for 5 min</title>"));
  EXPECT_NE(std::string::npos,
            page.find("<title>Paused for 100 s, still paused</title>"));
  // From 100 s to 400 s of 1000 across the plot's 870 points.
  EXPECT_NE(std::string::npos,
            page.find("<rect class=\"pause\" x=\"207.00\" y=\"14.00\" "
                      "width=\"261.00\""));
  EXPECT_EQ(2, Occurrences(page, ">paused</text>"));
}

// A refused start: the last night's figures stay, the refusal's time is
// set, an earlier one replaced.
TEST_F(CampaignViewTest, ARefusedStartKeepsTheLastNightsFigures) {
  const std::string last =
      "# HELP upgrd_campaign_ended 1 once ended.\n"
      "# TYPE upgrd_campaign_ended gauge\nupgrd_campaign_ended 1\n";
  const std::string refused =
      "# HELP upgrd_campaign_refused_time_seconds When the last campaign's "
      "start was refused (a stop file, another run, bad input), in seconds "
      "since 1970; the other figures are the night before's.\n"
      "# TYPE upgrd_campaign_refused_time_seconds gauge\n"
      "upgrd_campaign_refused_time_seconds ";
  std::string once = refused_metrics(last, 1796635800);
  EXPECT_EQ(last + refused + "1796635800\n", once);
  EXPECT_EQ(last + refused + "1796639400\n", refused_metrics(once, 1796639400));
  EXPECT_EQ(refused + "7\n", refused_metrics("", 7));
}

}  // namespace
