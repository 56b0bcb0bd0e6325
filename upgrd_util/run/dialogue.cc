#include "upgrd_util/run/dialogue.h"

#include <memory>

#include "upgrd_util/base/upgrade_end.h"
#include "upgrd_util/card/card_sequence.h"
#include "upgrd_util/inputs/single_target.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/run/start_menu.h"
#include "upgrd_util/run/start_up.h"
#include "upgrd_util/run/upgrade_summary.h"

namespace {

// The dialogue ends the same way whatever made it end.
const int kExitCode = 1;

// The cards of this run: those of iplist.txt, if the operator confirms
// them, otherwise one entered at the console. Returns nullptr, with *end
// saying how the run ends, when there is none.
upgrade_target* ChooseCards(EntryEnd* end) {
  upgrade_target* listed = nullptr;
  int count = 0;
  if (read_card_list(nullptr, &listed, &count) != LIST_READ)
    return enter_single_target(end);
  switch (ask_start_menu(count)) {
    case '1':
      *end = ENTRY_CONFIRMED;
      return listed;
    case '2':
      free_upgrade_targets(listed);
      return enter_single_target(end);
    default:
      free_upgrade_targets(listed);
      *end = ENTRY_FINISH;
      return nullptr;
  }
}

// A card another run holds is left as it is, with the status a campaign
// gives it: the summary counts it among the failures.
void SayBusy(upgrade_target* card) {
  console_printf("\n\t***************************************************\n");
  console_printf("\t%s is busy: another run of the tool on this "
                 "workstation\n\tis upgrading it. It was not started.\n\n",
                 card->ip);
  log_printf("%s is busy: another run of the tool on this workstation is "
             "upgrading it. It was not started.\n\n",
             card->ip);
  log_flush();
  card->status = STATUS_BUSY;
}

int Finish(const upgrade_target* card = nullptr) {
  end_dialogue(card);
  return kExitCode;
}

}  // namespace

int run_dialogue() {
  StartResult started = start_upgrade_run();
  if (started == START_NO_LOG)
    return kExitCode;
  if (started == START_BAD_INPUT)
    return Finish();
  EntryEnd end;
  upgrade_target* cards = ChooseCards(&end);
  std::unique_ptr<upgrade_target, void (*)(upgrade_target*)> owned(
      cards, free_upgrade_targets);
  if (end == ENTRY_QUIT)
    return kExitCode;
  if (!cards)
    return Finish();
  // One card after the other; once a card needed the interim patch, every
  // later card of the run is given the same longer allowance.
  int32_t probe_factor = 1;
  for (upgrade_target* card = cards; card; card = card->next) {
    // A campaign, or another dialogue, working on this card from another
    // directory would upload over this one's loads.
    FileLock lock;
    bool busy = false;
    lock_card(card->ip, &lock, &busy);
    if (busy) {
      SayBusy(card);
      continue;
    }
    card->work.probe_factor = probe_factor;
    CardOutcome outcome = upgrade_card(card);
    lock.Release();
    // Nothing is known of what this card runs: the run ends here, without
    // the later cards and without a summary.
    if (outcome == OUTCOME_UNKNOWN_VERSION) {
      close_result_log();
      return Finish(card);
    }
    // So too when a file of this workstation failed: the next card would
    // fare no better.
    if (outcome == OUTCOME_LISTING_UNREADABLE ||
        outcome == OUTCOME_LOCAL_ERROR) {
      console_printf("Unable to run this program. Please see result.txt file "
                     "for information.");
      return Finish(card);
    }
    probe_factor = card->work.probe_factor;
  }
  print_summary(cards);
  close_result_log();
  return Finish();
}
