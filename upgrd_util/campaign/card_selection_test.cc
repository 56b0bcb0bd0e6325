#include "upgrd_util/campaign/card_selection.h"

#include <cstring>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"

namespace {

struct CardSelectionTest : public ProgramTest {};

// A resumed night: what each card's latest record says decides whether it
// is skipped, runs, or runs after every other card.
TEST_F(CardSelectionTest, CardsThatFailedTheseModulesBeforeRunLast) {
  strcpy(zel_module_name, "kvn_hw02_zel_211.bin");
  strcpy(app_module_name, "kvn_hw02_app_211.bin");
  upgrade_target* cards = nullptr;
  const char* addresses[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4",
                             "10.0.0.5", "10.0.0.6"};
  for (const char* address : addresses)
    ASSERT_TRUE(set_target_ip(append_upgrade_target(&cards), address));
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  auto record = [](const char* outcome, const char* zel) {
    EarlierRecord r;
    r.outcome = outcome;
    r.zel_target = zel;
    r.app_target = "kvn_hw02_app_211.bin";
    return r;
  };
  std::map<std::string, EarlierRecord> earlier = {
      {"10.0.0.1", record("os_load_failed", "kvn_hw02_zel_211.bin")},
      {"10.0.0.2", record("upgraded", "kvn_hw02_zel_211.bin")},
      {"10.0.0.3", record("unresponsive", "kvn_hw02_zel_211.bin")},
      {"10.0.0.4", record("app_load_failed", "kvn_hw02_zel_211.bin")},
      // Another module's failure says nothing of this one.
      {"10.0.0.5", record("os_load_failed", "kvn_hw02_zel_210.bin")},
  };
  std::string order;
  for (upgrade_target* card : cards_to_run(cards, earlier, "night1.jsonl"))
    order += std::string(card->ip) + (card->state.failed_before ? "*" : "") +
             " ";
  EXPECT_EQ("10.0.0.3 10.0.0.5 10.0.0.6 10.0.0.1* 10.0.0.4* ", order);
  EXPECT_EQ(OUTCOME_SKIPPED, cards->next->state.outcome);
  EXPECT_NE(std::string::npos,
            console.output.find("\t2 cards failed a module load in "
                                "night1.jsonl: they run after the others, "
                                "and the failure rate counts them no "
                                "more.\n"))
      << console.output;
}

}  // namespace
