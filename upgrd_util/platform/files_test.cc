#include "upgrd_util/platform/files.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

namespace {

TEST(FilesTest, NoCoreFileAndNoDumpableMemory) {
  EXPECT_EXIT(
      {
        forbid_core_dumps();
        struct rlimit core;
        bool none = getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 &&
                    core.rlim_max == 0;
        _exit(none && prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
