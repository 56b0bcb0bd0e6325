#ifndef UPGRD_UTIL_BASE_UPGRADE_STATUS_H_
#define UPGRD_UTIL_BASE_UPGRADE_STATUS_H_

#include <cstdint>

/// Outcome of the last step that recorded one; above 1 means the card failed.
enum upgrade_status : int32_t {
  STATUS_UPGRADED = 1,
  STATUS_OS_LOAD_FAILED = 2,
  STATUS_APP_LOAD_FAILED = 3,
  STATUS_UNRESPONSIVE = 4,
  STATUS_LOGIN_FAILED = 5,
  // Campaigns only: the dialogue ends the run on a card at an unknown
  // version, and starts every card it was given.
  STATUS_UNKNOWN_VERSION = 6,
  STATUS_NOT_STARTED = 7,
  STATUS_SKIPPED = 8,  // done by an earlier campaign (--resume)
  STATUS_JOURNAL_REFUSED = 9,  // its journal could not be written safely
  STATUS_PATCH_MISSING = 10,   // it needs the interim patch, which is missing
  STATUS_BUSY = 11,            // another run on the workstation has it
  STATUS_ALREADY_CURRENT = 12,  // runs both configured modules: not loaded
  // Campaigns only: what the card runs could not be read from its listing.
  STATUS_LISTING_REFUSED = 13,    // it refused to list its files
  STATUS_LISTING_UNREADABLE = 14,  // its listing could not be read
  // Campaigns only: its ZEL names other hardware than the configured
  // modules; nothing was loaded.
  STATUS_HARDWARE_MISMATCH = 15,
  // Campaigns and the dialogue: a file of the workstation failed (its
  // listing, a saved log, its journal, a module read for upload), not
  // the card.
  STATUS_LOCAL_ERROR = 16,
  // Campaigns only: upgraded, then failed its check after the soak (--soak):
  // it did not answer, refused its login or listing, or no longer listed
  // the modules it was sent.
  STATUS_SOAK_FAILED = 17,
};

#endif  // UPGRD_UTIL_BASE_UPGRADE_STATUS_H_
