#include "upgrd_util/campaign/card_selection.h"

#include <cstring>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "upgrd_util/base/process_state.h"

namespace {

struct CardSelectionTest : public ProgramTest {};

// A resumed night: what each card's latest record says decides whether it
// is skipped, runs, or runs after every other card.
TEST_F(CardSelectionTest, CardsThatCanBeLoadedRunFirstAndFailedLoadsLast) {
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
  for (upgrade_target* card : cards_to_run(cards, earlier, "night1.jsonl", false))
    order += std::string(card->ip) + (card->state.failed_before ? "*" : "") +
             " ";
  // A card that did not answer goes after those that can be loaded, in
  // the waves; those that failed a load make a wave of their own.
  EXPECT_EQ("10.0.0.5 10.0.0.6 10.0.0.3 10.0.0.1* 10.0.0.4* ", order);
  EXPECT_EQ(OUTCOME_SKIPPED, cards->next->state.outcome);
  EXPECT_NE(std::string::npos,
            console.output.find("\t2 cards failed a module load in "
                                "night1.jsonl: they run after the others, "
                                "and the failure rate counts them no "
                                "more.\n"))
      << console.output;
  EXPECT_NE(std::string::npos,
            console.output.find("\t1 cards ended before any load in "
                                "night1.jsonl: they run after the cards that "
                                "can be loaded.\n"))
      << console.output;
}

// A skipped card says how an earlier run left it, and where and when;
// --force loads again only those found already current.
TEST_F(CardSelectionTest, ForceOnAResumedRunLoadsTheCardsFoundCurrent) {
  strcpy(zel_module_name, "z.bin");
  strcpy(app_module_name, "a.bin");
  auto record = [](const char* outcome, const char* done_as) {
    EarlierRecord r;
    r.outcome = outcome;
    r.zel_target = "z.bin";
    r.app_target = "a.bin";
    r.run_id = "run-2";
    r.end = "T2";
    r.upgraded_in_run = "run-1";
    r.upgraded_at = "T1";
    r.done_as = done_as;
    return r;
  };
  std::map<std::string, EarlierRecord> earlier = {
      {"10.0.0.1", record("upgraded", "")},
      {"10.0.0.2", record("already_current", "")},
      {"10.0.0.3", record("skipped", "upgraded")},
      {"10.0.0.4", record("skipped", "already_current")},
      {"10.0.0.5", record("skipped", "")},
  };
  struct {
    bool force;
    const char* run;
    const char* said;
  } cases[] = {
      {false, "",
       "\t10.0.0.1         skipped: upgraded in run run-2, ended T2\n"
       "\t10.0.0.2         skipped: already current in run run-2, ended T2\n"
       "\t10.0.0.3         skipped: upgraded in run run-1, ended T1\n"
       "\t10.0.0.4         skipped: already current in run run-1, ended T1\n"
       "\t10.0.0.5         skipped: done in run run-1, ended T1\n"},
      {true, "10.0.0.2 10.0.0.4 ",
       "\t10.0.0.1         skipped: upgraded in run run-2, ended T2\n"
       "\t10.0.0.3         skipped: upgraded in run run-1, ended T1\n"
       "\t10.0.0.5         skipped: done in run run-1, ended T1\n"
       "\t--force: 2 cards that n.jsonl lists as already current are "
       "loaded; those it lists as upgraded stay skipped.\n"},
  };
  for (const auto& c : cases) {
    upgrade_target* cards = nullptr;
    for (const auto& [address, r] : earlier)
      ASSERT_TRUE(set_target_ip(append_upgrade_target(&cards), address));
    std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
        cards, free_upgrade_targets);
    console.output.clear();
    std::string run;
    for (upgrade_target* card : cards_to_run(cards, earlier, "n.jsonl",
                                             c.force))
      run += std::string(card->ip) + " ";
    EXPECT_EQ(c.run, run);
    EXPECT_EQ(c.said, console.output);
    EXPECT_EQ(c.force ? OUTCOME_NONE : OUTCOME_ALREADY_CURRENT,
              cards->next->next->next->state.done_as);
  }
}

// Whose history a report is: another site's is refused, also for
// --plan; a report without a site only when --site names this one; a
// change of iplist.txt's addresses is said, and the records still count.
TEST_F(CardSelectionTest, OnlyThisSitesReportIsItsHistory) {
  auto report = [](std::vector<const char*> sites) {
    std::map<std::string, EarlierRecord> earlier;
    for (const char* site : sites) {
      EarlierRecord& r = earlier["10.0.0." + std::to_string(earlier.size())];
      r.outcome = "upgraded";
      r.site = site;
    }
    return earlier;
  };
  struct {
    std::vector<const char*> sites;  // of the report's records
    const char* site;                // this run's
    bool given;                      // by --site
    const char* error;               // empty: taken
  } cases[] = {
      {{"a:/x", "a:/x"}, "a:/x", false, ""},
      {{"b:/y"}, "a:/x", false,
       "n.jsonl is the report of site b:/y, not of this site a:/x: give "
       "--site b:/y if this is that site, moved"},
      {{"b:/y"}, "c", true, "n.jsonl is the report of site b:/y, not of "},
      {{"b:/y"}, "b:/y", true, ""},
      {{""}, "a:/x", false,
       "n.jsonl names no site (written before reports did): give --site "
       "NAME to take it as the history of this site, NAME"},
      {{"", "a:/x"}, "a:/x", false, "n.jsonl names no site"},
      {{""}, "c", true, ""},
      {{}, "a:/x", false, ""},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(!*c.error, report_of_this_site(report(c.sites), "n.jsonl",
                                             c.site, c.given, &error))
        << c.site;
    EXPECT_EQ(0u, error.find(c.error)) << error;
  }

  strcpy(zel_module_name, "z.bin");
  strcpy(app_module_name, "a.bin");
  upgrade_target* cards = nullptr;
  ASSERT_TRUE(set_target_ip(append_upgrade_target(&cards), "10.0.0.9"));
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  hash_addresses(cards, addresses_sha256);
  std::map<std::string, EarlierRecord> earlier = report({"a:/x"});
  for (bool same : {true, false}) {
    earlier.begin()->second.addresses_sha256 =
        same ? addresses_sha256 : std::string(64, '0');
    console.output.clear();
    cards_to_run(cards, earlier, "n.jsonl", false);
    EXPECT_EQ(same ? "" : "\tn.jsonl was written for other addresses in "
                          "iplist.txt (cards added or removed since): its "
                          "records count for the cards at the same "
                          "addresses.\n",
              console.output);
  }
}

}  // namespace
