#include "upgrd_util/platform/icmp_echo.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <gtest/gtest.h>

namespace {

TEST(AnsweredEchoReplies, OnlyEchoRepliesFromTheCardCount) {
  const unsigned long card = 0x0200007f;    // 127.0.0.2
  const unsigned long router = 0x010200c0;  // 192.0.2.1
  struct Case {
    ULONG status;
    unsigned long from;
    int answered;
  } cases[] = {
      {IP_SUCCESS, card, 1},
      {IP_DEST_HOST_UNREACHABLE, router, 0},
      {IP_DEST_NET_UNREACHABLE, router, 0},
      {IP_TTL_EXPIRED_TRANSIT, router, 0},
      {IP_DEST_HOST_UNREACHABLE, card, 0},
      {IP_SUCCESS, router, 0},
  };
  for (const Case& c : cases) {
    ICMP_ECHO_REPLY reply[2] = {};
    reply[0].Status = c.status;
    reply[0].Address = c.from;
    EXPECT_EQ(c.answered, answered_echo_replies(reply, 1, card))
        << c.status << " from " << c.from;
  }
  ICMP_ECHO_REPLY none = {};
  EXPECT_EQ(0, answered_echo_replies(&none, 0, card));
}

}  // namespace
