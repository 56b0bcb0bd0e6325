#ifndef UPGRD_UTIL_CARD_MODULE_LOADING_H_
#define UPGRD_UTIL_CARD_MODULE_LOADING_H_

#include <string>

#include "upgrd_util/base/upgrade_target.h"

/// The ZEL module that brings early cards up to a level the current modules
/// can be loaded on.
extern const char kInterimPatchName[];

/// The file a card is sent for the module `name`: a campaign's private copy
/// of it (module_copies), else the working directory's file of that name.
/// Either is uploaded under the module's own name.
std::string module_file(const char* name);

/// Whether the interim patch can be sent: its file as module_file names it
/// (before a campaign copies the modules, the working directory's).
bool interim_patch_here();

/// Uploads a ZEL module (the configured one or the interim patch), waits for
/// the card's restart, probes it and checks that it lists the configured ZEL
/// module. Records the outcome in the target's status; returns 1 on success,
/// 0 on failure and -1 when the check's listing could not be read back (see
/// verify_os_module) or a file of the workstation failed
/// (STATUS_LOCAL_ERROR), which nothing should go on from.
int load_os_module(upgrade_target* target, const char* module_file_name);

/// Uploads the APP module, waits for the card's restart and probes it.
/// Records the outcome in the target's status; returns 1 on success, 0 on
/// failure and -1 when the module could not be read on the workstation
/// (STATUS_LOCAL_ERROR), which nothing should go on from.
int load_app_module(upgrade_target* target, const char* module_file_name);

/// The mandated waits after a load of the configured ZEL, of the APP and
/// of the interim patch, in seconds: a ZEL from version 252 on restarts
/// faster and takes longer over its APP.
int zel_wait_seconds();
int app_wait_seconds();
const int kPatchWaitSeconds = 30;

/// The waits that an upgrade of a current card with the configured modules
/// takes at least, in seconds: the restart after the ZEL load and the
/// updates after the APP load.
int mandated_wait_seconds();

#endif  // UPGRD_UTIL_CARD_MODULE_LOADING_H_
