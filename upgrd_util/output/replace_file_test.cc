#include "upgrd_util/output/replace_file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/platform/interrupts.h"
#include "upgrd_util/platform/test_doubles.h"

namespace {

// The names in `dir`.
std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

// Two campaigns given one --metrics path, as in the node exporter's
// directory: each writes through a file of its own, which the collector
// of "*.prom" does not read, and only the file itself remains.
TEST(ReplaceFileTest, TwoWritersNeverShareATemporaryFile) {
  ScopedTempDir dir;
  ASSERT_TRUE(MakeDirectory("exporter"));
  const std::string path = "exporter/upgrd.prom";
  std::string temp[2], reason;
  int held[2];
  FILE* file[2];
  for (int i = 0; i < 2; ++i) {
    file[i] = create_temporary_beside(path, &temp[i], &held[i], &reason);
    ASSERT_NE(nullptr, file[i]) << reason;
  }
  for (int i = 0; i < 2; ++i) {
    fputs(i == 0 ? "first" : "second", file[i]);
    fclose(file[i]);
    EXPECT_EQ(i == 0 ? "first" : "second", ReadFile(temp[i]));
    std::filesystem::path name(temp[i]);
    EXPECT_EQ("exporter", name.parent_path().string());
    EXPECT_EQ(0u, name.filename().string().rfind(".upgrd.prom.", 0)) << temp[i];
    EXPECT_NE(".prom", name.extension().string()) << temp[i];
    remove(temp[i].c_str());
    release_temporary_file(held[i]);
  }
  EXPECT_NE(temp[0], temp[1]);

  ASSERT_TRUE(can_replace_file(path, &reason)) << reason;
  ASSERT_TRUE(replace_file(path, "old", &reason)) << reason;
  ASSERT_TRUE(replace_file(path, "new", &reason)) << reason;
  EXPECT_EQ("new", ReadFile(path));
  EXPECT_EQ(std::set<std::string>{"upgrd.prom"}, Names("exporter"));
}

// The new file is on the disk before it takes the name, and the name after
// (on Windows the rename itself writes through).
TEST(ReplaceFileTest, TheNewFileIsSyncedBeforeItsNameAndTheNameAfter) {
  ScopedTempDir dir;
  CountingDiskSyncs syncs;
  std::string reason;
  ASSERT_TRUE(replace_file("page.html", "new", &reason)) << reason;
  EXPECT_EQ("new", ReadFile("page.html"));
#ifdef _WIN32
  EXPECT_EQ("f", syncs.Calls());
#else
  EXPECT_EQ("fd", syncs.Calls());
#endif
}

#ifndef _WIN32
// A disk that fills up, as a file size limit shows it: the write fails,
// the old file stays, and no temporary file is left behind.
void ReplaceOnAFullDisk() {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {10, 10};
  setrlimit(RLIMIT_FSIZE, &small);
  std::string reason;
  bool replaced = replace_file("exporter/upgrd.prom", std::string(100, 'x'),
                               &reason);
  _exit(!replaced && reason == strerror(EFBIG) ? 0 : 1);
}

TEST(ReplaceFileTest, AFailedWriteLeavesNoTemporaryFile) {
  ScopedTempDir dir;
  ASSERT_TRUE(MakeDirectory("exporter"));
  ASSERT_TRUE(WriteFile("exporter/upgrd.prom", "old"));
  EXPECT_EXIT(ReplaceOnAFullDisk(), testing::ExitedWithCode(0), "");
  EXPECT_EQ("old", ReadFile("exporter/upgrd.prom"));
  EXPECT_EQ(std::set<std::string>{"upgrd.prom"}, Names("exporter"));
}
#endif

}  // namespace
