#include "upgrd_util/output/campaign_view.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
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
  EXPECT_EQ(1000, Occurrences(page, "class=\"card-bar "));
  size_t box = page.find("viewBox=\"0 0 1000 ");
  ASSERT_NE(std::string::npos, box);
  EXPECT_LT(std::stod(page.substr(box + 18)), 700);
  EXPECT_NE(std::string::npos, page.find("<details><summary>990 cards"));
  EXPECT_EQ(10, Occurrences(page, "<section class=\"card\">"));
  EXPECT_LT(page.size(), 600000u);
}

}  // namespace
