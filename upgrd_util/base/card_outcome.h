#ifndef UPGRD_UTIL_BASE_CARD_OUTCOME_H_
#define UPGRD_UTIL_BASE_CARD_OUTCOME_H_

#include <cstdint>
#include <string>
#include <string_view>

/// How a card's turn in a run ended, as its report, console line and
/// summary tell it.
enum CardOutcome {
  OUTCOME_NONE,  // not ended, or a status no outcome stands for
  OUTCOME_UPGRADED,
  OUTCOME_OS_LOAD_FAILED,
  OUTCOME_APP_LOAD_FAILED,
  OUTCOME_UNRESPONSIVE,
  OUTCOME_LOGIN_FAILED,
  // It took the login and refused to list its files.
  OUTCOME_LISTING_REFUSED,
  OUTCOME_UNKNOWN_VERSION,
  // A listing was fetched and cannot be read back: the file is gone, or
  // (in a campaign) it holds a NUL byte or a line beyond the bound.
  OUTCOME_LISTING_UNREADABLE,
  OUTCOME_NOT_STARTED,
  OUTCOME_SKIPPED,
  // Its journal could not be written safely: the card was not touched.
  OUTCOME_JOURNAL_REFUSED,
  // It needs the interim patch, and the patch file is not there.
  OUTCOME_PATCH_MISSING,
  // Another run of the tool on this workstation has the card.
  OUTCOME_BUSY,
  // It already runs both configured modules, and was left as it was.
  OUTCOME_ALREADY_CURRENT,
  // Its listed ZEL module is for other hardware than the configured
  // modules: nothing was loaded.
  OUTCOME_HARDWARE_MISMATCH,
  // A file of the workstation failed (a full disk, a listing file that is
  // a directory): nothing the card did, and nothing loaded again for it.
  OUTCOME_LOCAL_ERROR,
  // Upgraded, then failed its check after the soak: the modules did not
  // hold. Never the dialogue's.
  OUTCOME_SOAK_FAILED,
  // A dry run's findings.
  OUTCOME_WOULD_UPGRADE,
  OUTCOME_WOULD_PATCH,
};

/// What one outcome is called where it shows, and what the rules of a
/// campaign make of it.
struct OutcomeWords {
  const char* word;      // the report's stable word
  int32_t status;        // the card status that goes with it
  const char* said;      // a campaign's console line
  const char* said_dry;  // a dry run's console line and log
  const char* summary;   // the summary's reason; nullptr: not listed
  bool failure;          // counts against the run
  bool done;            // a campaign resumed from a report skips the card
  bool module_failure;  // a module load (or its check) failed: it counts for the failure rate
  bool retryable;       // --retry-unreachable may try it again (only before any upload)
  const char* colour;   // its colour on the campaign's page, "#rrggbb"
};

/// The words of `outcome` (OUTCOME_NONE has empty ones).
const OutcomeWords& outcome_words(CardOutcome outcome);

/// Sets *outcome to the outcome whose word is `word`. Returns false for a
/// word no outcome has, the empty one included.
bool outcome_from_word(std::string_view word, CardOutcome* outcome);

/// What a card skipped on an earlier record says: how that run left it
/// (`done_as`: upgraded or already current), the run and when its turn of
/// the card ended.
std::string skipped_text(CardOutcome done_as, const std::string& run,
                         const std::string& at);

/// The outcome a card's status stands for once its sequence has ended, by
/// the table's `status` (status 0, which no step recorded, stands for
/// upgraded: nothing failed).
CardOutcome outcome_of_status(int32_t status);

#endif  // UPGRD_UTIL_BASE_CARD_OUTCOME_H_
