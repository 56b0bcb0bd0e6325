#include "upgrd_util/inputs/target_list.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

const char kErrorLog[] =
    "fields out of order or incorrect\n"
    "Do not place emty line in between fields\n"
    "'iplist.txt' MUST be in the format:\n\n"
    "SystemIP=xxx.xxx.xxx.xxx\nSystemUserName='username'\n"
    "SystemPassword='password'\n\n"
    "SystemIP=xxx.xxx.xxx.xxx\nSystemUserName='username'\n"
    "SystemPassword='password'\n\n etc ... \n\n";

struct TargetListTest : public ProgramTest {
  void TearDown() override {
    free_upgrade_targets(list);
    ProgramTest::TearDown();
  }
  // Reads `content` as iplist.txt; the cards as "ip user password;".
  std::string Read(const std::string& content) {
    EXPECT_TRUE(WriteFile("iplist.txt", content));
    FILE* file = fopen("iplist.txt", "r");
    count = 0;
    list = read_target_list(&count, file);
    fclose(file);
    std::string cards;
    for (upgrade_target* t = list; t; t = t->next) {
      cards += std::string(t->ip) + " " + t->user_name + " " + t->password +
               ";";
      EXPECT_EQ(0, t->status);
    }
    return cards;
  }
  // Expects the error report naming `line`, and no list.
  void ExpectErrorAt(int line) {
    std::string n = std::to_string(line);
    EXPECT_EQ(-2, count);
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ("\tERROR reading 'iplist.txt' at line number " + n + " \n",
              console.output);
    EXPECT_EQ("Error reading 'iplist.txt' at line number " + n + " \n" +
                  kErrorLog,
              Log());
  }

  int count = 0;
  upgrade_target* list = nullptr;
};

TEST_F(TargetListTest, OneCard) {
  EXPECT_EQ("192.0.2.10 admin secret;",
            Read("SystemIP=192.0.2.10\nSystemUserName=admin\n"
                 "SystemPassword=secret\n"));
  EXPECT_EQ(1, count);
  EXPECT_EQ("", console.output);
  EXPECT_EQ("", Log());
}

TEST_F(TargetListTest, CardsInFileOrderWithCommentsAndEmptyLinesBetween) {
  EXPECT_EQ("127.0.0.2 admin a;127.0.0.3 root b;",
            Read("; cards of hall 2\n\n"
                 "SystemIP=127.0.0.2\nSystemUserName=admin\nSystemPassword=a\n"
                 "\n; the spare one\nsome notes\nSystemUserName=stray\n"
                 "SystemIP=\t127.0.0.3  rack 4\nSystemUserName= root\n"
                 "SystemPassword=b trailing words\n\n"));
  EXPECT_EQ(2, count);
  EXPECT_EQ("", console.output);
}

TEST_F(TargetListTest, WindowsLineEndsAndAMissingFinalLineEnd) {
  EXPECT_EQ("127.0.0.2 admin a;127.0.0.3 root b;",
            Read("SystemIP=127.0.0.2\r\nSystemUserName=admin\r\n"
                 "SystemPassword=a\r\n\r\n"
                 "SystemIP=127.0.0.3\r\nSystemUserName=root\r\n"
                 "SystemPassword=b"));
  EXPECT_EQ(2, count);
}

TEST_F(TargetListTest, ValuesUpToTheirLimitsFit) {
  EXPECT_EQ("255.255.255.255 abcdefghij 0123456789;",
            Read("SystemIP=255.255.255.255\nSystemUserName=abcdefghij\n"
                 "SystemPassword=0123456789\n"));
  EXPECT_EQ(1, count);
}

TEST_F(TargetListTest, LinesThatAreNoAddressLinesAreSkipped) {
  EXPECT_EQ("", Read("systemip=127.0.0.2\nSystemIP =127.0.0.2\n"
                     " SystemIP=127.0.0.2\nSystemIP=\n"
                     "SystemIP=127.0.0.2 ; old card\n"
                     "SystemUserName=admin\nSystemPassword=a\n"));
  EXPECT_EQ(0, count);
  EXPECT_EQ("", console.output);
  EXPECT_EQ("", Log());
}

TEST_F(TargetListTest, AnEmptyLineInsideACard) {
  Read("SystemIP=127.0.0.2\n\nSystemUserName=admin\nSystemPassword=a\n");
  ExpectErrorAt(2);
}

TEST_F(TargetListTest, AFinalAddressLineNamesTheLineAfterIt) {
  Read("; list\n\nSystemIP=127.0.0.2\nSystemUserName=admin\n"
       "SystemPassword=a\n\nSystemIP=127.0.0.3\n");
  ExpectErrorAt(8);
}

TEST_F(TargetListTest, PasswordBeforeUserName) {
  Read("SystemIP=127.0.0.2\nSystemPassword=a\nSystemUserName=admin\n");
  ExpectErrorAt(2);
}

TEST_F(TargetListTest, ACommentInsideACardIsAnError) {
  Read("\nSystemIP=127.0.0.2\nSystemUserName=admin\nSystemPassword=a;b\n");
  ExpectErrorAt(4);
}

TEST_F(TargetListTest, AnErrorInTheSecondCardRejectsTheWholeFile) {
  Read("SystemIP=127.0.0.2\nSystemUserName=admin\nSystemPassword=a\n"
       "SystemIP=127.0.0.3\nSystemUserName=admin\nSystemPassword=\n");
  ExpectErrorAt(6);
}

TEST_F(TargetListTest, OverlongValuesAreErrorsAtTheirOwnLine) {
  Read("\nSystemIP=127.000.000.0002\nSystemUserName=admin\nSystemPassword=a\n");
  ExpectErrorAt(2);
}

TEST_F(TargetListTest, AnOverlongUserName) {
  Read("SystemIP=127.0.0.2\nSystemUserName=administrator\nSystemPassword=a\n");
  ExpectErrorAt(2);
}

TEST_F(TargetListTest, AnOverlongPassword) {
  Read("SystemIP=127.0.0.2\nSystemUserName=admin\nSystemPassword=0123456789a\n");
  ExpectErrorAt(3);
}

TEST_F(TargetListTest, ALineOfMoreThan255CharactersCountsAsSeveralLines) {
  // The long comment is read in two pieces, the second holding no ";".
  Read(";" + std::string(300, 'x') + "\nSystemIP=127.0.0.2\n\n");
  ExpectErrorAt(4);
}

}  // namespace

namespace {

TEST_F(TargetListTest, AByteOrderMarkBeforeTheFirstCardIsSkipped) {
  EXPECT_EQ("127.0.0.2 admin a;",
            Read("\xEF\xBB\xBFSystemIP=127.0.0.2\r\nSystemUserName=admin\r\n"
                 "SystemPassword=a\r\n"));
}

TEST_F(TargetListTest, GarbageBetweenCardsIsSkippedAndInsideACardIsAnError) {
  std::string garbage("\x00\x01\xfe\xff;\x7f", 6);
  EXPECT_EQ("127.0.0.2 admin a;",
            Read(garbage + "\n" + std::string(100000, 'x') +
                 "\nSystemIP=127.0.0.2\nSystemUserName=admin\n"
                 "SystemPassword=a\n" + garbage));
  EXPECT_EQ(1, count);
  free_upgrade_targets(list);
  list = nullptr;
  Read("SystemIP=127.0.0.2\n" + garbage + "\n");
  EXPECT_EQ(-2, count);
}

}  // namespace
