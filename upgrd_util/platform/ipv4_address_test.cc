#include "upgrd_util/platform/ipv4_address.h"

#include <gtest/gtest.h>

namespace {

TEST(Ipv4AddressTest, OnlyFourPlainDecimalNumbersUpTo255) {
  uint32_t address = 0;
  ASSERT_TRUE(parse_ipv4_address("127.0.10.255", &address));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&address);
  EXPECT_EQ(127, bytes[0]);
  EXPECT_EQ(10, bytes[2]);
  EXPECT_EQ(255, bytes[3]);
  EXPECT_TRUE(parse_ipv4_address("0.0.0.0"));
  for (const char* bad :
       {"", "127.0.0", "127.0.0.1.", "127.0.0.256", "127.0.0.02", "127.0.00.1",
        "127.0.0.1 ", " 127.0.0.1", "127..0.1", "127.0.0.0001", "0x7f.0.0.1",
        "localhost"})
    EXPECT_FALSE(parse_ipv4_address(bad)) << bad;
  EXPECT_FALSE(parse_ipv4_address(nullptr));
}

}  // namespace
