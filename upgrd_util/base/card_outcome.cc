#include "upgrd_util/base/card_outcome.h"

#include "upgrd_util/base/upgrade_status.h"

namespace {

// In the order of CardOutcome. After the words, the flags: failure, done,
// module_failure, retryable; then the page's colour: greens went well,
// blues would go well, reds and oranges failed, greys never ran.
const OutcomeWords kWords[] = {
    {"", 0, "", "", nullptr,
     true, false, false, false, ""},
    {"upgraded", STATUS_UPGRADED, "upgraded", "upgraded", nullptr,
     false, true, false, false, "#2e7d32"},
    {"os_load_failed", STATUS_OS_LOAD_FAILED,
     "failed: the ZEL module was not loaded", "the ZEL module was not loaded",
     "Could not download ZEL.",
     true, false, true, false, "#c62828"},
    {"app_load_failed", STATUS_APP_LOAD_FAILED,
     "failed: the APP module was not loaded", "the APP module was not loaded",
     "Could not download Application.",
     true, false, true, false, "#e53935"},
    {"unresponsive", STATUS_UNRESPONSIVE, "failed: unresponsive",
     "unresponsive", "The Varnet at this address is not responsive.",
     true, false, false, true, "#f9a825"},
    {"login_failed", STATUS_LOGIN_FAILED, "failed: login failed",
     "login failed", "Could not log into the Varnet's FTP server.",
     true, false, false, true, "#ff7043"},
    {"listing_refused", STATUS_LISTING_REFUSED,
     "failed: it refused to list its files", "it refused to list its files",
     "The Varnet refused to list its files.",
     true, false, false, false, "#ad6800"},
    {"unknown_version", STATUS_UNKNOWN_VERSION, "failed: unknown version",
     "unknown version: would not be upgraded",
     "Could not be upgraded, unknown version.",
     true, false, false, false, "#ef6c00"},
    {"listing_unreadable", STATUS_LISTING_UNREADABLE,
     "failed: its listing could not be read back",
     "its listing could not be read back",
     "The Varnet's file listing could not be read.",
     true, false, true, false, "#ad1457"},
    {"not_started", STATUS_NOT_STARTED, "not started", "not started",
     "Not started.",
     true, false, false, false, "#bdbdbd"},
    {"skipped", STATUS_SKIPPED, "skipped: done by an earlier campaign",
     "skipped: done by an earlier campaign", nullptr,
     false, true, false, false, "#90a4ae"},
    {"journal_refused", STATUS_JOURNAL_REFUSED,
     "failed: its journal cannot be written", "its journal cannot be written",
     "Its journal could not be written; not started.",
     true, false, false, false, "#6d4c41"},
    {"patch_missing", STATUS_PATCH_MISSING,
     "failed: it needs the interim patch, which is missing",
     "needs the interim patch, which is missing",
     "Needs the interim patch, which is missing.",
     true, false, false, false, "#d84315"},
    {"busy", STATUS_BUSY, "busy: another run of the tool has it",
     "busy: another run of the tool has it",
     "Busy with another run of the tool; not started.",
     true, false, false, false, "#8d6e63"},
    {"already_current", STATUS_ALREADY_CURRENT,
     "already current: it runs both modules",
     "already current: it runs both modules", nullptr,
     false, true, false, false, "#81c784"},
    // A failure that says nothing of the module (it was never loaded), and
    // that a retry, or the next night, cannot mend: the card or config.txt
    // must change first.
    {"hardware_mismatch", STATUS_HARDWARE_MISMATCH,
     "failed: its hardware does not match the modules",
     "its hardware does not match the modules: would not be upgraded",
     "The Varnet's hardware does not match the modules; nothing was loaded.",
     true, false, false, false, "#827717"},
    // The workstation's fault, not the card's: it says nothing of the
    // modules, and trying the card again before the workstation is mended
    // would fail it the same way.
    {"local_error", STATUS_LOCAL_ERROR, "failed on this workstation",
     "failed on this workstation", "Failed on this workstation.",
     true, false, false, false, "#4e342e"},
    // The modules were loaded and did not hold: it counts for the rate as
    // a failed load does, and is not tried again tonight (it was loaded).
    {"soak_failed", STATUS_SOAK_FAILED,
     "failed: its check after the soak", "failed its check after the soak",
     "Upgraded, then failed its check after the soak.",
     true, false, true, false, "#6a1b9a"},
    {"would_upgrade", 0, "would upgrade", "would upgrade", nullptr,
     false, false, false, false, "#1e88e5"},
    {"would_patch", 0, "would apply the interim patch, then upgrade",
     "would apply the interim patch, then upgrade", nullptr,
     false, false, false, false, "#5e35b1"},
};

static_assert(sizeof(kWords) / sizeof(kWords[0]) == OUTCOME_WOULD_PATCH + 1,
              "a row for every outcome");

}  // namespace

const OutcomeWords& outcome_words(CardOutcome outcome) {
  return kWords[outcome];
}

bool outcome_from_word(std::string_view word, CardOutcome* outcome) {
  // From the first real outcome: OUTCOME_NONE's empty word names nothing.
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    if (word == kWords[o].word) {
      *outcome = static_cast<CardOutcome>(o);
      return true;
    }
  }
  return false;
}

std::string skipped_text(CardOutcome done_as, const std::string& run,
                         const std::string& at) {
  // An older report's record of a record does not tell which it was.
  const char* how = done_as == OUTCOME_UPGRADED          ? "upgraded"
                    : done_as == OUTCOME_ALREADY_CURRENT ? "already current"
                                                         : "done";
  std::string text = std::string("skipped: ") + how + " in run " + run;
  if (!at.empty())
    text += ", ended " + at;
  return text;
}

CardOutcome outcome_of_status(int32_t status) {
  // Status 0, which no step recorded, stands for upgraded: nothing failed.
  if (status == 0)
    return OUTCOME_UPGRADED;
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o) {
    if (kWords[o].status == status)
      return static_cast<CardOutcome>(o);
  }
  return OUTCOME_NONE;
}
