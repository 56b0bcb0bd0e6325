#include "upgrd_util/platform/ftp_sessions.h"

#include <gtest/gtest.h>

#include <memory>

// A card's handle once quit finds nothing, however many logins follow:
// never another card's session.
TEST(FtpSessionsTest, AHandleIsNeverGivenTwice) {
  FtpSessions sessions;
  int first = sessions.Add(std::make_unique<FtpSession>());
  EXPECT_GT(first, 0);
  EXPECT_NE(nullptr, sessions.Remove(first));
  EXPECT_EQ(nullptr, sessions.Remove(first));
  int second = sessions.Add(std::make_unique<FtpSession>());
  EXPECT_NE(first, second);
  EXPECT_EQ(nullptr, sessions.Find(first));
  EXPECT_NE(nullptr, sessions.Find(second));
}
