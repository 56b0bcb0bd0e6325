#include "upgrd_util/card/card_path.h"

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/modules/module_hardware.h"

CardPath card_path(const CardListing& listing, const CampaignRules& rules) {
  // A module for other hardware could leave the card unable to start; the
  // APP is compared too, for a card runs both.
  if (rules.hardware_checked &&
      (!same_hardware(listing.zel, zel_module_name) ||
       !same_hardware(listing.zel, app_module_name)))
    return PATH_HARDWARE_MISMATCH;
  if (!listing.current)
    return rules.patch_file_needed && !listing.patch_here ? PATH_PATCH_MISSING
                                                          : PATH_PATCH_FIRST;
  // Loading the ZEL again would cost its restart for nothing.
  if (rules.leave_current && listing.zel == zel_module_name)
    return listing.lists_app ? PATH_ALREADY_CURRENT : PATH_APP_ONLY;
  return PATH_BOTH;
}

CardPath listed_card_path(const upgrade_target& target, bool current,
                          const CampaignRules& rules) {
  CardListing listing;
  listing.current = current;
  listing.zel = target.state.zel_before;
  listing.lists_app = current && rules.leave_current &&
                      listing_names(target.work.listing_file, app_module_name);
  // Only a patch that was here, and hashed, as the campaign began counts.
  listing.patch_here = !current && rules.patch_file_needed &&
                       patch_module_sha256[0] && interim_patch_here();
  return card_path(listing, rules);
}
