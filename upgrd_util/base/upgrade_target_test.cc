#include "upgrd_util/base/upgrade_target.h"

#include <gtest/gtest.h>

#include <string>

TEST(UpgradeTarget, StatusCodesKeepTheirValues) {
  EXPECT_EQ(1, STATUS_UPGRADED);
  EXPECT_EQ(2, STATUS_OS_LOAD_FAILED);
  EXPECT_EQ(3, STATUS_APP_LOAD_FAILED);
  EXPECT_EQ(4, STATUS_UNRESPONSIVE);
  EXPECT_EQ(5, STATUS_LOGIN_FAILED);
}

TEST(UpgradeTarget, ValuesUpToTheFieldLimitsFitExactly) {
  upgrade_target* head = nullptr;
  upgrade_target* t = append_upgrade_target(&head);
  EXPECT_TRUE(set_target_ip(t, std::string(25, '1')));
  EXPECT_TRUE(set_target_user_name(t, "abcdefghij"));
  EXPECT_TRUE(set_target_password(t, "0123456789"));
  EXPECT_EQ(std::string(25, '1'), t->ip);
  EXPECT_STREQ("abcdefghij", t->user_name);
  EXPECT_STREQ("0123456789", t->password);
  free_upgrade_targets(head);
}

TEST(UpgradeTarget, OverlongValuesAreRefusedAndNeverCut) {
  upgrade_target* head = nullptr;
  upgrade_target* t = append_upgrade_target(&head);
  ASSERT_TRUE(set_target_ip(t, "192.0.2.10"));
  ASSERT_TRUE(set_target_user_name(t, "admin"));
  ASSERT_TRUE(set_target_password(t, "secret"));

  EXPECT_FALSE(set_target_ip(t, std::string(26, '1')));
  EXPECT_FALSE(set_target_user_name(t, "abcdefghijk"));
  EXPECT_FALSE(set_target_password(t, "0123456789a"));
  // A NUL inside would silently shorten the value when read back.
  EXPECT_FALSE(set_target_password(t, std::string("ab\0cd", 5)));

  EXPECT_STREQ("192.0.2.10", t->ip);
  EXPECT_STREQ("admin", t->user_name);
  EXPECT_STREQ("secret", t->password);
  free_upgrade_targets(head);
}

TEST(UpgradeTarget, ListKeepsTheOrderOfTheCards) {
  upgrade_target* head = nullptr;
  upgrade_target* first = append_upgrade_target(&head);
  EXPECT_EQ(first, head);
  EXPECT_EQ(nullptr, first->next);
  EXPECT_EQ(0, first->status);

  upgrade_target* second = append_upgrade_target(&head);
  upgrade_target* third = append_upgrade_target(&head);
  set_target_ip(first, "127.0.0.2");
  set_target_ip(second, "127.0.0.3");
  set_target_ip(third, "127.0.0.4");
  std::string walked;
  for (upgrade_target* t = head; t; t = t->next)
    walked += std::string(t->ip) + ";";
  EXPECT_EQ("127.0.0.2;127.0.0.3;127.0.0.4;", walked);
  free_upgrade_targets(head);
}
