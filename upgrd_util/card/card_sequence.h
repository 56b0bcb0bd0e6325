#ifndef UPGRD_UTIL_CARD_CARD_SEQUENCE_H_
#define UPGRD_UTIL_CARD_CARD_SEQUENCE_H_

#include "upgrd_util/base/card_outcome.h"
#include "upgrd_util/base/upgrade_target.h"

/// How a campaign's sequence differs from the dialogue's.
struct CampaignRules {
  /// A card that needs the interim patch when its file is not here, or was
  /// not hashed as the campaign began (patch_module_sha256), fails at once:
  /// OUTCOME_PATCH_MISSING.
  bool patch_file_needed = false;
  /// A card whose listing shows the configured ZEL module as its first
  /// "kvn" entry and lists the configured APP module is not loaded:
  /// OUTCOME_ALREADY_CURRENT. One that shows that ZEL but not the APP gets
  /// only the APP load.
  bool leave_current = false;
  /// The card's own words are kept and read strictly. A failed login, and a
  /// listing refused, keep the card's answer (its reply, or "connection
  /// refused", "no reply in N s") in its state and a line of its block. A
  /// listing refused (5xx) after a good login ends the card at once:
  /// OUTCOME_LISTING_REFUSED. A listing that holds a NUL byte or a line
  /// over kMaxListingLine is never read: OUTCOME_LISTING_UNREADABLE.
  bool strict_card_words = false;
  /// A card whose listed ZEL names other hardware ("kvn_hw03_...") than a
  /// configured module, ZEL or APP ("kvn_hw02_..."), is not loaded:
  /// OUTCOME_HARDWARE_MISMATCH, before the interim patch too.
  bool hardware_checked = false;
};

/// Takes one card through its whole sequence: reachability, login test,
/// saved logs, version query, the interim patch when the card is early, ZEL
/// and APP loads with their retries, recording the outcome in its status. It
/// stops at the first step that fails, and returns how the card ended. Two
/// outcomes say that nothing is known of what the card runs, so that the
/// dialogue ends there: OUTCOME_UNKNOWN_VERSION, and
/// OUTCOME_LISTING_UNREADABLE (the card's session is then left open). A
/// file of the workstation that fails (a saved log, the listing, a module
/// read for upload) ends the card at once, OUTCOME_LOCAL_ERROR: nothing is
/// loaded again for it.
CardOutcome upgrade_card(upgrade_target* target,
                         const CampaignRules& rules = CampaignRules());

/// A dry run of one card that changes nothing on it: reachability, login
/// test and version query, with their console and log lines, then a log
/// line with what an upgrade would do. Returns that (OUTCOME_WOULD_UPGRADE,
/// OUTCOME_WOULD_PATCH) or why it would not upgrade the card (among them
/// OUTCOME_PATCH_MISSING).
CardOutcome check_card(upgrade_target* target, const CampaignRules& rules);

#endif  // UPGRD_UTIL_CARD_CARD_SEQUENCE_H_
