#include "upgrd_util/campaign/card_selection.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/sha256.h"

namespace {

// The addresses of --limit: "A,B,C", or "@FILE" with one a line. Returns
// false, having said why, when FILE cannot be read.
bool LimitAddresses(const std::string& limit, std::vector<std::string>* out) {
  std::string text = limit;
  char separator = ',';
  if (!limit.empty() && limit[0] == '@') {
    FILE* file = open_regular_file(limit.c_str() + 1);
    if (!file) {
      console_error_printf(
          "upgrd_util: --limit: cannot read %s (a regular "
          "file is needed)\n",
          limit.c_str() + 1);
      return false;
    }
    text.clear();
    char piece[4096];
    size_t got;
    // Far more than a fleet's addresses; a bound against a wrong file.
    while (text.size() < (1 << 20) &&
           (got = fread(piece, 1, sizeof(piece), file)) > 0)
      text.append(piece, got);
    fclose(file);
    separator = '\n';
  }
  std::string address;
  for (size_t at = 0; at <= text.size(); ++at) {
    char c = at < text.size() ? text[at] : separator;
    if (c == separator) {
      if (!address.empty())
        out->push_back(address);
      address.clear();
    } else if (c != ' ' && c != '\t' && c != '\r') {
      address += c;
    }
  }
  return true;
}

}  // namespace

bool give_groups(const std::map<std::string, CardGroup>& groups,
                 const std::string& file, upgrade_target* cards) {
  size_t given = 0;
  for (upgrade_target* card = cards; card; card = card->next) {
    auto found = groups.find(card->ip);
    if (found == groups.end())
      continue;
    card->state.group = found->second.group;
    card->state.pair = found->second.pair;
    ++given;
  }
  if (given == groups.size())
    return true;
  // Each card's file line names one address; a name iplist.txt does not
  // hold is a card in the wrong file, or a file of another site.
  for (const auto& [address, group] : groups) {
    bool listed = false;
    for (upgrade_target* card = cards; card && !listed; card = card->next)
      listed = address == card->ip;
    if (!listed) {
      console_error_printf("upgrd_util: --groups: %s: %s is not a card of "
                           "iplist.txt\n",
                           file.c_str(), address.c_str());
      return false;
    }
  }
  return true;
}

bool keep_only_limited(const std::string& limit, upgrade_target** cards,
                       int* count) {
  std::vector<std::string> words;
  if (!LimitAddresses(limit, &words))
    return false;
  if (words.empty()) {
    console_error_printf("upgrd_util: --limit names no card\n");
    return false;
  }
  const std::string kGroup = "group:";
  std::set<std::string> wanted(words.begin(), words.end());
  for (const std::string& word : words) {
    bool group = word.rfind(kGroup, 0) == 0;
    bool listed = false;
    for (upgrade_target* card = *cards; card && !listed; card = card->next)
      listed = group ? word.substr(kGroup.size()) == card->state.group
                     : word == card->ip;
    if (listed)
      continue;
    if (group)
      console_error_printf("upgrd_util: --limit: no card of iplist.txt is "
                           "in the group %s\n",
                           word.c_str() + kGroup.size());
    else
      console_error_printf(
          "upgrd_util: --limit: %s is not a card of "
          "iplist.txt\n",
          word.c_str());
    return false;
  }
  upgrade_target** link = cards;
  *count = 0;
  while (upgrade_target* card = *link) {
    if (wanted.count(card->ip) || wanted.count(kGroup + card->state.group)) {
      ++*count;
      link = &card->next;
      continue;
    }
    *link = card->next;
    card->next = nullptr;
    free_upgrade_targets(card);
  }
  return true;
}

std::string site_of_this_run(const std::string& given) {
  std::string site = given;
  if (site.empty()) {
    std::error_code error;
    std::filesystem::path here = std::filesystem::current_path(error);
    std::filesystem::path real = std::filesystem::canonical(here, error);
    site = host_name() + ":" + (error ? here : real).string();
  }
  return readable_text(printable_text(site));
}

void hash_addresses(const upgrade_target* cards, char hex[kSha256HexSize]) {
  std::vector<std::string> addresses;
  for (const upgrade_target* card = cards; card; card = card->next)
    addresses.push_back(std::string(card->ip) + "\n");
  std::sort(addresses.begin(), addresses.end());
  Sha256 hash;
  for (const std::string& address : addresses)
    hash.Update(address.data(), address.size());
  std::string digest, error;
  if (!hash.Final(&digest, &error))
    digest.clear();
  snprintf(hex, kSha256HexSize, "%s", digest.c_str());
}

bool report_of_this_site(const std::map<std::string, EarlierRecord>& earlier,
                         const std::string& resume, const std::string& site,
                         bool site_given, std::string* error) {
  bool unnamed = false;
  for (const auto& [address, record] : earlier) {
    unnamed = unnamed || record.site.empty();
    if (record.site.empty() || record.site == site)
      continue;
    // Cards at the same private addresses elsewhere are other cards: their
    // history would leave these never upgraded.
    *error = resume + " is the report of site " + record.site +
             ", not of this site " + site + ": give --site " + record.site +
             " if this is that site, moved";
    return false;
  }
  if (unnamed && !site_given) {
    *error = resume + " names no site (written before reports did): give "
             "--site NAME to take it as the history of this site, NAME";
    return false;
  }
  return true;
}

namespace {

// Whether a card's last night ended it on the card's side before any load:
// it did not answer, refused its login or listing, runs an unknown version
// or other hardware, or lacked the patch. Such cards are the least likely
// to load tonight.
bool EndedBeforeAnyLoad(CardOutcome was) {
  switch (was) {
    case OUTCOME_UNRESPONSIVE:
    case OUTCOME_LOGIN_FAILED:
    case OUTCOME_LISTING_REFUSED:
    case OUTCOME_UNKNOWN_VERSION:
    case OUTCOME_HARDWARE_MISMATCH:
    case OUTCOME_PATCH_MISSING:
      return true;
    default:
      return false;
  }
}

// Ends a card done by an earlier run as skipped, with when, where and how
// the earlier record says it was done (`done_as`), and says so.
void SkipCard(upgrade_target* card, const EarlierRecord& record,
              CardOutcome done_as, bool carried) {
  card->state.upgraded_in_run =
      carried ? record.upgraded_in_run : record.run_id;
  card->state.upgraded_at = carried ? record.upgraded_at : record.end;
  card->state.done_as = done_as;
  card->state.zel_after = record.zel_after;
  set_card_end(card, OUTCOME_SKIPPED);
  console_printf("\t%-17s%s\n", card->ip,
                 skipped_text(done_as, card->state.upgraded_in_run,
                              card->state.upgraded_at)
                     .c_str());
}

// Says what of the report resumed from changed what runs: cards forced,
// records for other modules or other addresses, cards that ended before
// any load, cards that failed a load before.
void SayWhatTheResumeLeaves(const std::map<std::string, EarlierRecord>& earlier,
                            const std::string& resume, bool force, int forced,
                            int other_modules, size_t ended_early,
                            size_t failed_before) {
  if (force && !resume.empty())
    console_printf(
        "\t--force: %d cards that %s lists as already current are loaded; "
        "those it lists as upgraded stay skipped.\n",
        forced, resume.c_str());
  if (other_modules > 0)
    console_printf(
        "\t%d cards run again: their records in %s were for "
        "other modules.\n",
        other_modules, resume.c_str());
  // Cards added to iplist.txt or taken from it: the others' records still
  // count, by address.
  bool other_addresses = false;
  for (const auto& [address, record] : earlier)
    other_addresses = other_addresses ||
                      (!record.addresses_sha256.empty() &&
                       record.addresses_sha256 != addresses_sha256);
  if (other_addresses)
    console_printf(
        "\t%s was written for other addresses in iplist.txt (cards added "
        "or removed since): its records count for the cards at the same "
        "addresses.\n",
        resume.c_str());
  if (ended_early > 0)
    console_printf(
        "\t%d cards ended before any load in %s: they run after the cards "
        "that can be loaded.\n",
        static_cast<int>(ended_early), resume.c_str());
  // Cards that broke on these modules before would stop a canary wave at
  // once, every night: they go last, and their night counted them.
  if (failed_before > 0)
    console_printf(
        "\t%d cards failed a module load in %s: they run after the "
        "others, and the failure rate counts them no more.\n",
        static_cast<int>(failed_before), resume.c_str());
}

}  // namespace

std::vector<upgrade_target*> cards_to_run(
    upgrade_target* cards, const std::map<std::string, EarlierRecord>& earlier,
    const std::string& resume, bool force) {
  std::vector<upgrade_target*> to_run, ended_early, failed_before;
  int other_modules = 0;
  int forced = 0;
  for (upgrade_target* card = cards; card; card = card->next) {
    auto found = earlier.find(card->ip);
    const EarlierRecord* record =
        found == earlier.end() ? nullptr : &found->second;
    CardOutcome was = OUTCOME_NONE;
    if (record)
      outcome_from_word(record->outcome, &was);
    bool same = record && record->zel_target == zel_module_name &&
                record->app_target == app_module_name;
    bool done = outcome_words(was).done;
    other_modules += done && !same;
    if (same && outcome_words(was).module_failure) {
      card->state.failed_before = true;
      failed_before.push_back(card);
      continue;
    }
    if (!done || !same) {
      // The first waves are the canary: cards that can be loaded go first.
      (EndedBeforeAnyLoad(was) ? ended_early : to_run).push_back(card);
      continue;
    }
    // A record of a record still knows when, where and how the card was
    // done.
    bool carried = was == OUTCOME_SKIPPED;
    CardOutcome done_as = was;
    if (carried && !outcome_from_word(record->done_as, &done_as))
      done_as = OUTCOME_NONE;
    // --force loads the cards that run both modules: those a night found
    // so and left alone are what an operator who adds it to a resumed run
    // means. A card upgraded by an earlier run was loaded with these very
    // modules already; loading it again is a run without --resume.
    if (force && done_as == OUTCOME_ALREADY_CURRENT) {
      ++forced;
      to_run.push_back(card);
      continue;
    }
    SkipCard(card, *record, done_as, carried);
  }
  SayWhatTheResumeLeaves(earlier, resume, force, forced, other_modules,
                         ended_early.size(), failed_before.size());
  to_run.insert(to_run.end(), ended_early.begin(), ended_early.end());
  to_run.insert(to_run.end(), failed_before.begin(), failed_before.end());
  return to_run;
}
