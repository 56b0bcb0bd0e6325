#include "upgrd_util/platform/upload_rate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

const double kGreedy = 1e9;  // wants more than any link gives

// Transfers drawing from the link's bucket (the first `in_group` from a
// group's bucket beside it) for 50 s on a fake clock that steps 1 ms; at
// each step each sends what it has wanted so far and the buckets allow.
struct DrawCase {
  const char* name;
  double link;                // bytes a second; 0: no cap
  double group;
  size_t in_group;
  std::vector<double> wants;  // bytes a second each would send
  std::vector<double> gets;   // what each sends, within 2%
};

const DrawCase kDrawCases[] = {
    {"alone, a transfer has the whole rate", 1e6, 0, 0, {kGreedy}, {1e6}},
    {"four share it evenly", 1e6, 0, 0,
     {kGreedy, kGreedy, kGreedy, kGreedy}, {2.5e5, 2.5e5, 2.5e5, 2.5e5}},
    {"one that wants little has it all, the other the rest", 1e6, 0, 0,
     {kGreedy, 1e4}, {9.9e5, 1e4}},
    {"without a cap each has what it wants", 0, 0, 0, {3e6, 5e6},
     {3e6, 5e6}},
    {"a group's bucket beside the link's", 1e6, 2e5, 1, {kGreedy, kGreedy},
     {2e5, 8e5}},
};

TEST(UploadRateTest, TransfersShareTheRate) {
  for (const DrawCase& c : kDrawCases) {
    UploadRate link;
    UploadRate group;
    link.Share(c.link);
    group.Share(c.group);
    std::vector<RateDraw> draws;
    for (size_t i = 0; i < c.wants.size(); ++i) {
      if (i < c.in_group)
        draws.emplace_back(std::vector<UploadRate*>{&link, &group});
      else
        draws.emplace_back(std::vector<UploadRate*>{&link});
    }
    std::vector<double> sent(c.wants.size(), 0);
    for (int step = 1; step <= 50000; ++step) {
      double now = 500 + step / 1000.0;
      for (size_t i = 0; i < draws.size(); ++i) {
        double wanted;
        // At most 64 MiB a step, beyond every case.
        for (int take = 0;
             take < 1024 &&
             (wanted = std::min(c.wants[i] * step / 1000.0 - sent[i],
                                65536.0)) >= 1;
             ++take) {
          long long got = draws[i].Take(now, static_cast<long long>(wanted));
          if (got == 0)
            break;
          sent[i] += static_cast<double>(got);
        }
      }
    }
    for (size_t i = 0; i < sent.size(); ++i)
      EXPECT_NEAR(c.gets[i] * 50, sent[i], c.gets[i] * 50 * 0.02)
          << c.name << ", transfer " << i;
  }
}

// However long the link was quiet, what goes at once is a tenth of a
// second's bytes, in whole turns; the next turn waits for what they lack.
TEST(UploadRateTest, AQuietWhileSavesUpOnlyABurst) {
  UploadRate link;
  link.Share(1e6);
  RateDraw draw({&link});
  EXPECT_EQ(100, draw.Take(10, 100));
  long long at_once = 0;
  while (long long got = draw.Take(1000, 65536))
    at_once += got;
  EXPECT_EQ(6 * UploadRate::kTurn, at_once);
  EXPECT_NEAR(1000 + (7 * UploadRate::kTurn - 1e5) / 1e6, draw.ReadyAt(),
              1e-9);
}

// A group's uploads draw from one bucket of their own beside the link's,
// made at the group's first upload; without a group rate, the link's alone.
TEST(UploadRateTest, EachGroupHasOneBucket) {
  UploadRate link;
  GroupRates groups;
  EXPECT_EQ(std::vector<UploadRate*>{&link}, groups.For(&link, "rack1"));
  groups.Share(2e5);
  std::vector<UploadRate*> rack1 = groups.For(&link, "rack1");
  ASSERT_EQ(2u, rack1.size());
  EXPECT_EQ(rack1, groups.For(&link, "rack1"));
  EXPECT_NE(rack1[1], groups.For(&link, "rack2")[1]);
  ScopedUploadGroup outer("rack1");
  {
    ScopedUploadGroup inner("rack2");
    EXPECT_EQ("rack2", ScopedUploadGroup::Current());
  }
  EXPECT_EQ("rack1", ScopedUploadGroup::Current());
}

}  // namespace
