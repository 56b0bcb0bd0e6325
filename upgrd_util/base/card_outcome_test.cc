#include "upgrd_util/base/card_outcome.h"

#include "upgrd_util/base/upgrade_target.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace {

TEST(CardOutcomeTest, EveryOutcomeIsFoundByItsWordAndNoOtherWordIs) {
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    const char* word = outcome_words(static_cast<CardOutcome>(o)).word;
    CardOutcome found = OUTCOME_NONE;
    EXPECT_TRUE(outcome_from_word(word, &found)) << word;
    EXPECT_EQ(o, found) << word;
  }
  CardOutcome found = OUTCOME_UPGRADED;
  for (const char* word : {"", "Upgraded", "upgraded ", "failed", "running"})
    EXPECT_FALSE(outcome_from_word(word, &found)) << word;
  EXPECT_EQ(OUTCOME_UPGRADED, found);
}

// The rules of a campaign (resume, failure rate, retries) go by these sets,
// and each stands with or against the run as it must.
TEST(CardOutcomeTest, TheRulesTakeTheOutcomesTheyMean) {
  struct {
    const char* rule;
    bool OutcomeWords::*flag;
    std::set<std::string> words;
    bool failure;  // what each of them counts as
  } rules[] = {
      {"done", &OutcomeWords::done,
       {"upgraded", "already_current", "skipped"}, false},
      {"module_failure", &OutcomeWords::module_failure,
       {"os_load_failed", "app_load_failed", "listing_unreadable",
        "soak_failed"},
       true},
      {"retryable", &OutcomeWords::retryable,
       {"unresponsive", "login_failed"}, true},
  };
  for (const auto& rule : rules) {
    std::set<std::string> words;
    for (int o = OUTCOME_NONE; o <= OUTCOME_WOULD_PATCH; ++o) {
      const OutcomeWords& outcome = outcome_words(static_cast<CardOutcome>(o));
      if (outcome.*rule.flag) {
        words.insert(outcome.word);
        EXPECT_EQ(rule.failure, outcome.failure) << outcome.word;
      }
    }
    EXPECT_EQ(rule.words, words) << rule.rule;
  }
}

// The page tells the outcomes apart by colour alone.
TEST(CardOutcomeTest, EveryOutcomeHasAColourOfItsOwn) {
  std::set<std::string> colours;
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    const OutcomeWords& outcome = outcome_words(static_cast<CardOutcome>(o));
    std::string colour = outcome.colour ? outcome.colour : "";
    bool hex = colour.size() == 7 && colour[0] == '#';
    for (size_t i = 1; hex && i < colour.size(); ++i)
      hex = isxdigit(static_cast<unsigned char>(colour[i])) &&
            !isupper(static_cast<unsigned char>(colour[i]));
    EXPECT_TRUE(hex) << outcome.word << ": " << colour;
    EXPECT_TRUE(colours.insert(colour).second) << outcome.word;
  }
}

// A campaign ends a card by its outcome alone: the status the summary and
// the report read comes from the outcome's row, each status of one outcome
// only, and reads back as that outcome.
TEST(CardOutcomeTest, ACardsEndSetsTheStatusOfItsOutcome) {
  std::set<int32_t> statuses;
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    upgrade_target card = {};
    set_card_end(&card, static_cast<CardOutcome>(o));
    EXPECT_EQ(o, card.state.outcome);
    EXPECT_EQ(outcome_words(static_cast<CardOutcome>(o)).status, card.status);
    if (card.status == 0)
      continue;
    EXPECT_TRUE(statuses.insert(card.status).second) << card.status;
    EXPECT_EQ(o, outcome_of_status(card.status)) << card.status;
  }
  EXPECT_EQ(STATUS_SOAK_FAILED, static_cast<int32_t>(statuses.size()));
}

}  // namespace
