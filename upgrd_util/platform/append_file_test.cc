#include "upgrd_util/platform/append_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// A record that the disk takes only in part (here a file size limit, as a
// full disk does) is cut off again, and once there is room the next one
// follows the last whole record: no hole, no half record.
void AppendBeyondTheLimitThenWithRoom() {
  signal(SIGXFSZ, SIG_IGN);
  AppendFile file;
  std::string reason;
  if (!file.Open("records.txt", &reason) || !file.Append("one\n", &reason))
    _exit(2);
  struct rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  struct rlimit small = limit;
  small.rlim_cur = 10;
  setrlimit(RLIMIT_FSIZE, &small);
  bool refused = !file.Append(std::string(20, 'x') + "\n", &reason) &&
                 !reason.empty() && ReadFile("records.txt") == "one\n";
  setrlimit(RLIMIT_FSIZE, &limit);
  bool after = file.Append("two\n", &reason) && file.Sync(&reason);
  _exit(refused && after && ReadFile("records.txt") == "one\ntwo\n" ? 0 : 1);
}

TEST(AppendFileTest, ARecordThatDoesNotFitIsCutOffAndTheNextFollows) {
  ScopedTempDir dir;
  EXPECT_EXIT(AppendBeyondTheLimitThenWithRoom(), testing::ExitedWithCode(0),
              "");
}

}  // namespace
