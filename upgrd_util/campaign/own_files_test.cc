#include "upgrd_util/campaign/own_files.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

struct OwnFilesTest : public ProgramTest {};

// Two options, or an option and a file of the tool's own, that name one
// file, whether it is there or still to be made, however they name it, are
// refused with one line; names that only look alike are not.
TEST_F(OwnFilesTest, NoOptionNamesAFileOfTheToolNorOneAnotherNames) {
  ASSERT_TRUE(MakeDirectory("sub"));
  ASSERT_TRUE(WriteFile("result.txt", "log\n"));
  ASSERT_TRUE(WriteFile("r.jsonl", "{}\n"));
  std::filesystem::create_hard_link("result.txt", "hard.html");
  ASSERT_EQ(0, symlink("r.jsonl", "link.csv"));
  ASSERT_EQ(0, symlink("sub", "dirlink"));
  const std::string here = std::filesystem::current_path().string();
  struct {
    std::string resume, report, html, metrics, stop_file;
    bool refused;
  } cases[] = {
      // Neither is there yet.
      {"", "n.jsonl", "./n.jsonl", "", "", true},
      {"", "n.jsonl", "", here + "/n.jsonl", "", true},
      {"", "n.jsonl", "sub/../n.jsonl", "", "", true},
      {"", "n.jsonl", "", "", "./n.jsonl", true},
      {"", "sub/n.jsonl", "dirlink/n.jsonl", "", "", true},
      {"", "n.jsonl", "dirlink/../n.jsonl", "", "", true},
      // Both are there, or one is a link to the other.
      {"r.jsonl", "./r.jsonl", "", "", "", true},
      {"r.jsonl", "", "link.csv", "", "", true},
      // The tool's own, there or not.
      {"", "", "result.txt", "", "", true},
      {"", "", "hard.html", "", "", true},  // a hard link to result.txt
      {"", "", "", "./iplist.txt", "", true},
      {"", "", "sub/../config.txt", "", "", true},
      {"", "r.jsonl", "r.jsonl.part", "", "", true},
      {"", "r.jsonl", "", "r.jsonl.lock", "", true},
      {"", "", "kvn_hw02_zel_202.bin", "", "", true},
      {"", "", "foundfir.txt", "", "", true},
      {"", "", "", "", "upgrd_util.pid", true},
      {"", "", "a.bin", "", "", true},
      {"", "", here + "/10.0.0.1_upgrade.txt", "", "", true},
      {"", "", "", "10.0.0.1_foundfir.txt", "", true},
      {"", "", "dirlink/../10.0.0.1_data.txt", "", "", true},
      {"", "", "", "", "10.0.0.1_event.txt", true},
      {"result.txt", "", "", "", "", true},
      // Alike, and apart.
      {"", "r.jsonl", "r.jsonl.html", "r.prom", "", false},
      {"", "", "sub/10.0.0.1_upgrade.txt", "sub/result.txt", "", false},
      {"", "", "10.0.0_upgrade.txt", "10.0.0.256_data.txt", "", false},
      {"", "n.jsonl", "dirlink/n.jsonl", "", "", false},
  };
  for (const auto& c : cases) {
    OptionFiles files;
    files.resume = c.resume;
    files.report = c.report;
    files.html = c.html;
    files.metrics = c.metrics;
    if (!c.stop_file.empty())
      files.stop_file = c.stop_file;
    console.output.clear();
    EXPECT_EQ(!c.refused, option_files_apart(files, {"z.bin", "a.bin"}))
        << c.report << " " << c.html << " " << c.metrics << " "
        << c.stop_file;
    EXPECT_EQ(c.refused ? 1 : 0, Occurrences(console.output, "\n"))
        << console.output;
  }
  OptionFiles files;
  files.report = "n.jsonl";
  files.html = "./n.jsonl";
  console.output.clear();
  option_files_apart(files, {});
  EXPECT_EQ("upgrd_util: --report and --html name one file: ./n.jsonl\n",
            console.output);
}

}  // namespace
