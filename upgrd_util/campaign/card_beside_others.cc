#include "upgrd_util/campaign/card_beside_others.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/output/campaign_report.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/append_file.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/icmp_echo.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/platform/upload_rate.h"

namespace {

// Marks where this run's entries begin, on a line of its own even after a
// killed run's unfinished last line. Returns false, with the system's
// reason, when the journal cannot take it.
bool WriteHeader(AppendFile* journal, const char* kind, std::string* reason) {
  std::string header = journal->EndsWithLineEnd() ? "" : "\n";
  header += iso_local_time() + " " + kind + " " + run_id + "\n";
  return journal->Append(header, reason);
}

// Runs the sequence with the card's entries routed to its journal and
// kept for its block; a journal that lacks entries is said in the block.
CardOutcome RunLogged(upgrade_target* card, const CardSequence& sequence,
                      CardLog* log, const AppendFile& journal,
                      const char* journal_name) {
  ScopedLogRoute route(log);
  CardOutcome outcome;
  try {
    outcome = sequence(card);
  } catch (const std::bad_alloc&) {
    // The workstation's fault, not the card's: the others go on.
    card->state.reason = "the workstation ran out of memory";
    log_printf("\nFailed on this workstation, not on the card: it ran out "
               "of memory during the card's turn.\n");
    outcome = OUTCOME_LOCAL_ERROR;
  }
  if (!card->state.logs_unsaved_reason.empty())
    log_printf("Logs not saved: %s.\n",
               card->state.logs_unsaved_reason.c_str());
  // Entries the sequence left unflushed too.
  log_flush();
  if (!log->unflushed.empty()) {
    log->text += "The journal " + std::string(journal_name) +
                 " lacks entries: " + log->journal_fault + ".\n";
    card->work.disk_full = card->work.disk_full || journal.full();
  }
  return outcome;
}

}  // namespace

CardOutcome run_card_beside_others(upgrade_target* card,
                                   const CardSequence& sequence,
                                   const char* kind) {
  SilentConsole silent;
  Platform own = platform();
  std::unique_ptr<IcmpEcho> icmp = own.icmp->Another();
  own.console = &silent;
  if (icmp)
    own.icmp = icmp.get();
  ScopedThreadPlatform seams(&own);
  // Its uploads draw from its group's share of --group-rate.
  ScopedUploadGroup group(card->state.group);

  snprintf(card->work.listing_file, sizeof(card->work.listing_file),
           "%s_foundfir.txt", card->ip);
  char journal_name[64];
  snprintf(journal_name, sizeof(journal_name), "%s_upgrade.txt", card->ip);
  CardLog log;
  AppendFile journal;
  std::string reason;
  // Two sequences at once on one card, from two runs, would upload over
  // each other.
  bool busy = false;
  FileLock lock;
  lock_card(card->ip, &lock, &busy);
  if (!busy && journal.Open(journal_name, &reason))
    log.journal = &journal;
  CardOutcome outcome = OUTCOME_BUSY;
  if (log.journal && !WriteHeader(log.journal, kind, &reason)) {
    // A card whose journal cannot be written (a full disk) is not touched.
    card->state.reason = "cannot write " + std::string(journal_name) + ": " +
                         reason;
    card->work.disk_full = journal.full();
    log.text = "Failed on this workstation, not on the card: " +
               card->state.reason + ". The card was not started.\n";
    outcome = OUTCOME_LOCAL_ERROR;
  } else if (log.journal) {
    outcome = RunLogged(card, sequence, &log, journal, journal_name);
  } else if (busy) {
    log.text = "Another run of the tool on this workstation is upgrading the "
               "card. It was not started.\n";
  } else {
    // A journal that is a link could be any file of the workstation.
    log.text = "Cannot write the journal " + std::string(journal_name) +
               ": " + reason + ". The card was not started.\n";
    outcome = OUTCOME_JOURNAL_REFUSED;
  }
  // The dialogue would end the run with this card's session still open.
  if (outcome == OUTCOME_LISTING_UNREADABLE)
    ftp_quit(card->work.ftp_session);
  journal.Close();
  lock.Release();
  card->state.log_text += log.text;
  return outcome;
}

bool finish_card_block(const upgrade_target& card, std::string* reason,
                       bool* full) {
  // A card's names and replies in its entries read as the page shows them.
  return log_append_block("\n*** Card " + std::string(card.ip) + " ***\n" +
                              readable_text(card.state.log_text),
                          reason, full);
}
