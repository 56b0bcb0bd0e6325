#include "upgrd_util/base/upgrade_end.h"

#include <gtest/gtest.h>

#include "tests/expected_output.h"
#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"

namespace {

struct EndDialogueTest : public ProgramTest {};

TEST_F(EndDialogueTest, WithoutTheListFileNoWarning) {
  console.input.push_back("");
  end_dialogue();
  EXPECT_EQ(kClosing, console.output);
  EXPECT_EQ(1, console.lines_read);
  // Nothing was logged in: the quit of session 0 does nothing, but it is made.
  ASSERT_EQ(1u, ftp.calls.size());
  EXPECT_EQ("quit 0", ftp.calls[0]);
}

TEST_F(EndDialogueTest, WarnsAboutTheListFileAndQuitsTheCardsSession) {
  iplist_found = true;
  upgrade_target card;
  card.work.ftp_session = 7;
  console.input.push_back("whatever the operator typed");
  console.input.push_back("not read");
  end_dialogue(&card);
  EXPECT_EQ(std::string(kListWarning) + kClosing, console.output);
  EXPECT_EQ(1, console.lines_read);
  EXPECT_EQ(std::vector<std::string>{"quit 7"}, ftp.calls);
}

TEST_F(EndDialogueTest, EndOfInputEndsTheWait) {
  upgrade_target card;
  card.work.ftp_session = -1;
  end_dialogue(&card);
  EXPECT_EQ(kClosing, console.output);
  EXPECT_EQ(std::vector<std::string>{"quit -1"}, ftp.calls);
}

}  // namespace
