#ifndef UPGRD_UTIL_CARD_CARD_PATH_H_
#define UPGRD_UTIL_CARD_CARD_PATH_H_

#include <functional>
#include <string>

#include "upgrd_util/base/card_path.h"
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
  /// Asked once a card's path is decided, before its first load: false
  /// leaves it unloaded, OUTCOME_NOT_STARTED (the window ends before its
  /// path could). It may set the card's reason. Empty: every path fits.
  std::function<bool(upgrade_target* card, CardPath path)> path_fits;
};

/// What a card listed, and what the workstation has, that its path
/// depends on.
struct CardListing {
  bool current = false;     // at or past the interim patch's level
  std::string zel;          // its listed ZEL module
  bool lists_app = false;   // it lists the configured APP module
  bool patch_here = false;  // the interim patch can be sent to it
};

/// The one place that decides what a card needs: other hardware, already
/// current, the APP alone, both modules, or the interim patch first (or
/// missing).
CardPath card_path(const CardListing& listing, const CampaignRules& rules);

/// Decides the path of `target` from its version query (`current`: at or
/// past the patch level), the ZEL it listed and its listing file.
CardPath listed_card_path(const upgrade_target& target, bool current,
                          const CampaignRules& rules);

#endif  // UPGRD_UTIL_CARD_CARD_PATH_H_
