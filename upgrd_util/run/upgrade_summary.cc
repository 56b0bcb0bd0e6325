#include "upgrd_util/run/upgrade_summary.h"

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"

namespace {

// Lists in the log, under `title`, the cards whose status is `status`.
void ListCards(const upgrade_target* head, int32_t status, const char* title) {
  bool any = false;
  for (const upgrade_target* target = head; target; target = target->next) {
    if (target->status != status)
      continue;
    if (!any)
      log_printf("%s\n", title);
    any = true;
    log_printf("\t%s\n", target->ip);
  }
}

// What the summary says of a campaign's cards whose block, and records,
// could not be written.
void SayLostWrites(const upgrade_target* head, int records_lost) {
  int blocks_lost = 0;
  for (const upgrade_target* target = head; target; target = target->next)
    blocks_lost += target->work.block_lost;
  if (blocks_lost > 0) {
    log_printf("The blocks of %d cards could not be written to result.txt:\n",
               blocks_lost);
    for (const upgrade_target* target = head; target; target = target->next) {
      if (target->work.block_lost)
        log_printf("\t%s\n", target->ip);
    }
    console_printf("\tThe blocks of %d cards could not be written to "
                   "result.txt.\n",
                   blocks_lost);
  }
  if (records_lost > 0) {
    log_printf("%d records could not be written to the report.\n",
               records_lost);
    console_printf("\t%d records could not be written to the report.\n",
                   records_lost);
  }
}

// The log's line of a card that did not end well.
void LogFailedCard(const upgrade_target& target, const OutcomeWords& words) {
  log_printf("\t%s: ", target.ip);
  log_flush();
  if (target.status == STATUS_NOT_STARTED && !target.state.reason.empty())
    log_printf("Not started: %s.\n", target.state.reason.c_str());
  else if (target.status == STATUS_LOCAL_ERROR && !target.state.reason.empty())
    log_printf("Failed on this workstation: %s.\n",
               target.state.reason.c_str());
  else if (target.status == STATUS_SOAK_FAILED && !target.state.reason.empty())
    log_printf("Upgraded, then failed its check after the soak: %s.\n",
               target.state.reason.c_str());
  else if (words.summary)
    log_printf("%s\n", words.summary);
  else
    log_printf("Unknown failure. %x \n",
               static_cast<unsigned>(target.status));
  log_flush();
}

// How many cards failed, and were not started, or that all went well.
void SayTheCounts(int failures, int not_started) {
  if (failures + not_started <= 0) {
    log_printf("All upgrades completed successfully.\n\n\n");
    log_flush();
    console_printf("\tAll upgrades completed successfully.\n\n\n");
    return;
  }
  log_printf("\nEncountered %d failures during upgrade.\n", failures);
  if (not_started > 0)
    log_printf("%d cards were not started.\n", not_started);
  log_flush();
  console_printf("\n\tEncountered %d failures during upgrade.\n", failures);
  if (not_started > 0)
    console_printf("\t%d cards were not started.\n", not_started);
  console_printf("\tPlease view 'result.txt' for details.\n");
}

}  // namespace

bool print_summary(const upgrade_target* head, int records_lost) {
  // Gathered, and written to the log in one piece: on a full disk, a
  // summary cut short would run into the next run's header.
  CardLog summary;
  ScopedLogRoute route(&summary);
  console_printf("\n\t*********** Upgrade Summary *********** \n");
  int failures = 0;
  // Only a campaign leaves cards unstarted: they are counted apart.
  int not_started = 0;
  for (const upgrade_target* target = head; target; target = target->next) {
    const OutcomeWords& words =
        outcome_words(outcome_of_status(target->status));
    if (!words.failure)
      continue;
    if (failures + not_started == 0) {
      log_printf("\n\n************************************************************\n");
      log_printf("\nNot all Varnets were upgraded successfully:\n");
      log_flush();
    }
    if (target->status == STATUS_NOT_STARTED)
      ++not_started;
    else
      ++failures;
    LogFailedCard(*target, words);
  }
  SayTheCounts(failures, not_started);
  // Cards a campaign left alone: an earlier one did them, or they already
  // ran both modules.
  ListCards(head, STATUS_SKIPPED, "Skipped, done by an earlier campaign:");
  ListCards(head, STATUS_ALREADY_CURRENT,
            "Already running both modules, not loaded:");
  SayLostWrites(head, records_lost);
  char stamp[kTimestampSize];
  format_timestamp(stamp);
  log_printf("Complete at %s \n", stamp);
  log_printf("************************************************************\n\n\n");
  std::string reason;
  if (log_append_block(summary.text, &reason))
    return true;
  console_printf("\tThe summary could not be written to result.txt: %s.\n",
                 reason.c_str());
  return false;
}
