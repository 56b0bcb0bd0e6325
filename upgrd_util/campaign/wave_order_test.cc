#include "upgrd_util/campaign/wave_order.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Cards by letter: the same capital is a pair, "." none. The order and the
// waves come out as cards by place ("0 2 | 1 3").
TEST(WaveOrderTest, NoWaveHoldsBothCardsOfAPair) {
  struct Case {
    const char* pairs;
    std::vector<size_t> waves;
    const char* order;
  } cases[] = {
      {"AA..", {2, 2}, "0 2 | 1 3"},
      {"AAA", {2, 1}, "0 | 1 | 2"},
      {"A.A.", {2, 2}, "0 1 | 2 3"},
      {"AB.BA", {3, 2}, "0 1 2 | 3 4"},
      {"AABB", {3, 1}, "0 2 | 1 | 3"},
      // One wave: apart in time only, by the scheduler.
      {"AA", {2}, "0 1"},
  };
  for (const Case& c : cases) {
    size_t count = strlen(c.pairs);
    std::vector<upgrade_target> targets(count);
    std::vector<upgrade_target*> cards;
    for (size_t i = 0; i < count; ++i) {
      if (c.pairs[i] != '.')
        targets[i].state.pair = std::string(1, c.pairs[i]);
      cards.push_back(&targets[i]);
    }
    std::vector<size_t> waves = c.waves;
    keep_pairs_apart(&cards, &waves);
    std::string order;
    size_t at = 0;
    for (size_t wave : waves) {
      if (!order.empty())
        order += " | ";
      for (size_t i = 0; i < wave; ++i) {
        if (i > 0)
          order += " ";
        order += std::to_string(cards[at++] - targets.data());
      }
    }
    EXPECT_EQ(c.order, order) << c.pairs;
    EXPECT_EQ(count, at) << c.pairs;
  }
}

}  // namespace
