#include "upgrd_util/campaign/own_files.h"

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"

namespace {

struct OwnFilesTest : public ProgramTest {};

// Each of the tool's own files, named as an option may name it, is refused
// with one line; names that only look alike are not.
TEST_F(OwnFilesTest, NoOptionNamesAFileOfTheTool) {
  strcpy(zel_module_name, "z.bin");
  strcpy(app_module_name, "a.bin");
  upgrade_target* cards = nullptr;
  ASSERT_TRUE(set_target_ip(append_upgrade_target(&cards), "10.0.0.1"));
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  ASSERT_TRUE(MakeDirectory("sub"));
  ASSERT_TRUE(WriteFile("result.txt", "log\n"));
  std::filesystem::create_hard_link("result.txt", "link.html");
  const std::string here = std::filesystem::current_path().string();
  struct {
    std::string resume, report, html, metrics;
    bool refused;
  } cases[] = {
      {"", "", "result.txt", "", true},
      {"", "", "", "./iplist.txt", true},
      {"", "", "sub/../config.txt", "", true},
      {"", "r.jsonl", "r.jsonl.part", "", true},
      {"", "", "kvn_hw02_zel_202.bin", "", true},
      {"", "", "foundfir.txt", "", true},
      {"", "", "a.bin", "", true},
      {"", "", here + "/10.0.0.1_upgrade.txt", "", true},
      {"", "", "", "10.0.0.1_foundfir.txt", true},
      {"", "", "10.0.0.1_data.txt", "", true},
      {"", "", "", "10.0.0.1_event.txt", true},
      {"", "", "link.html", "", true},  // a hard link to result.txt
      {"result.txt", "", "", "", true},
      {"", "r.jsonl", "r.jsonl.html", "r.prom", false},
      {"", "", "10.0.0.10_upgrade.txt", "sub/result.txt", false},
  };
  std::vector<std::string> own;
  for (const auto& files : {fixed_own_files(ToolOptions()), module_own_files(),
                            card_own_files(cards)})
    own.insert(own.end(), files.begin(), files.end());
  for (const auto& c : cases) {
    ToolOptions options;
    options.resume = c.resume;
    options.report = c.report;
    options.html = c.html;
    options.metrics = c.metrics;
    std::vector<std::string> all = own;
    for (const std::string& file : fixed_own_files(options))
      all.push_back(file);
    console.output.clear();
    EXPECT_EQ(!c.refused, options_spare(options, all))
        << c.html << c.metrics << c.resume;
    EXPECT_EQ(c.refused ? 1 : 0, Occurrences(console.output, "\n"))
        << console.output;
  }
}

}  // namespace
