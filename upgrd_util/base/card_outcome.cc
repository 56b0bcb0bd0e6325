#include "upgrd_util/base/card_outcome.h"

#include "upgrd_util/base/upgrade_status.h"

namespace {

// In the order of CardOutcome.
const OutcomeWords kWords[] = {
    {"", 0, "", "", nullptr, true},
    {"upgraded", STATUS_UPGRADED, "upgraded", "upgraded", nullptr, false},
    {"os_load_failed", STATUS_OS_LOAD_FAILED,
     "failed: the ZEL module was not loaded", "the ZEL module was not loaded",
     "Could not download ZEL.", true},
    {"app_load_failed", STATUS_APP_LOAD_FAILED,
     "failed: the APP module was not loaded", "the APP module was not loaded",
     "Could not download Application.", true},
    {"unresponsive", STATUS_UNRESPONSIVE, "failed: unresponsive",
     "unresponsive", "The Varnet at this address is not responsive.", true},
    {"login_failed", STATUS_LOGIN_FAILED, "failed: login failed",
     "login failed", "Could not log into the Varnet's FTP server.", true},
    {"unknown_version", STATUS_UNKNOWN_VERSION, "failed: unknown version",
     "unknown version: would not be upgraded",
     "Could not be upgraded, unknown version.", true},
    {"listing_unreadable", STATUS_OS_LOAD_FAILED,
     "failed: its listing could not be read back",
     "its listing could not be read back", "Could not download ZEL.", true},
    {"not_started", STATUS_NOT_STARTED, "not started", "not started",
     "Not started.", true},
    {"skipped", STATUS_SKIPPED, "skipped: upgraded by an earlier campaign",
     "skipped: upgraded by an earlier campaign", nullptr, false},
    {"journal_refused", STATUS_JOURNAL_REFUSED,
     "failed: its journal cannot be written", "its journal cannot be written",
     "Its journal could not be written; not started.", true},
    {"patch_missing", STATUS_PATCH_MISSING,
     "failed: it needs the interim patch, which is missing",
     "needs the interim patch, which is missing",
     "Needs the interim patch, which is missing.", true},
    {"busy", STATUS_BUSY, "busy: another run of the tool has it",
     "busy: another run of the tool has it",
     "Busy with another run of the tool; not started.", true},
    {"already_current", STATUS_ALREADY_CURRENT,
     "already current: it runs both modules",
     "already current: it runs both modules", nullptr, false},
    {"would_upgrade", 0, "would upgrade", "would upgrade", nullptr, false},
    {"would_patch", 0, "would apply the interim patch, then upgrade",
     "would apply the interim patch, then upgrade", nullptr, false},
};

static_assert(sizeof(kWords) / sizeof(kWords[0]) == OUTCOME_WOULD_PATCH + 1,
              "a row for every outcome");

}  // namespace

const OutcomeWords& outcome_words(CardOutcome outcome) {
  return kWords[outcome];
}

CardOutcome outcome_of_status(int32_t status) {
  switch (status) {
    case 0:
    case STATUS_UPGRADED:
      return OUTCOME_UPGRADED;
    case STATUS_OS_LOAD_FAILED:
      return OUTCOME_OS_LOAD_FAILED;
    case STATUS_APP_LOAD_FAILED:
      return OUTCOME_APP_LOAD_FAILED;
    case STATUS_UNRESPONSIVE:
      return OUTCOME_UNRESPONSIVE;
    case STATUS_LOGIN_FAILED:
      return OUTCOME_LOGIN_FAILED;
    case STATUS_UNKNOWN_VERSION:
      return OUTCOME_UNKNOWN_VERSION;
    case STATUS_NOT_STARTED:
      return OUTCOME_NOT_STARTED;
    case STATUS_SKIPPED:
      return OUTCOME_SKIPPED;
    case STATUS_JOURNAL_REFUSED:
      return OUTCOME_JOURNAL_REFUSED;
    case STATUS_PATCH_MISSING:
      return OUTCOME_PATCH_MISSING;
    case STATUS_BUSY:
      return OUTCOME_BUSY;
    case STATUS_ALREADY_CURRENT:
      return OUTCOME_ALREADY_CURRENT;
    default:
      return OUTCOME_NONE;
  }
}
