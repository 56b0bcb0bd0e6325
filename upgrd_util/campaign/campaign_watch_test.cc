#include "upgrd_util/campaign/campaign_watch.h"

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct CampaignWatchTest : public ProgramTest {
  bool Shows(const char* path, const char* text) {
    return ReadFile(path).find(text) != std::string::npos;
  }
};

// Written at the start, at most once a second while cards run (a thousand
// cards end within seconds of each other), and always at the end.
TEST_F(CampaignWatchTest, FilesFollowTheCardsAtMostOnceASecond) {
  upgrade_target cards[2] = {};
  strcpy(cards[0].ip, "127.0.0.2");
  strcpy(cards[1].ip, "127.0.0.3");
  cards[0].next = &cards[1];
  CardEndings endings;
  CampaignWatch watch("page.html", "m.prom", "-y", false, &endings);
  std::string error;
  ASSERT_TRUE(watch.Begin(cards, &error)) << error;
  EXPECT_TRUE(Shows("m.prom", "upgrd_cards_waiting 2\n"));
  EXPECT_TRUE(Shows("page.html", "http-equiv=\"refresh\""));

  watch.Started(cards[0]);
  EXPECT_EQ("", watch.Update(false));
  EXPECT_TRUE(Shows("m.prom", "upgrd_cards_waiting 2\n"));
  clock.slept_ms += 1000;
  EXPECT_EQ("", watch.Update(false));
  EXPECT_TRUE(Shows("m.prom", "upgrd_cards_running 1\n"));
  // Nothing changed: written again after a minute, for monitoring to see
  // that the campaign is alive.
  remove("m.prom");
  clock.slept_ms += 30000;
  watch.Update(false);
  EXPECT_EQ("<missing>", ReadFile("m.prom"));
  clock.slept_ms += 30000;
  watch.Update(false);
  EXPECT_TRUE(Shows("m.prom", "upgrd_cards_running 1\n"));

  set_card_end(&cards[0], OUTCOME_UPGRADED);
  endings.Add(cards[0], true, 300);
  watch.Ended(cards[0], 300);
  EXPECT_EQ("", watch.Finish());
  EXPECT_TRUE(Shows("m.prom", "upgrd_cards{outcome=\"upgraded\"} 1\n"));
  EXPECT_TRUE(Shows("m.prom", "upgrd_campaign_ended 1\n"));
  EXPECT_FALSE(Shows("page.html", "http-equiv=\"refresh\""));
}

}  // namespace
