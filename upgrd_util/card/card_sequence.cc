#include "upgrd_util/card/card_sequence.h"

#include <cstdio>
#include <string>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/card_logs.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/card/module_loading.h"
#include "upgrd_util/card/probe.h"
#include "upgrd_util/modules/module_hardware.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ftp_library.h"

namespace {

// Brings an early card to the interim patch level. Returns 1 when it got
// there, 0 when three patch loads did not, -1 as load_os_module does.
int ApplyInterimPatch(upgrade_target* target) {
  static const char* const kConsoleTitles[3] = {
      "\n\tApplying interim patch.\n\n", "\n\tApplying 2nd interim patch.\n\n",
      "\n\tApplying 3rd interim patch.\n\n"};
  static const char* const kLogTitles[3] = {
      "\nApplying interim patch.\n", "\nApplying 2nd interim patch.\n",
      "\nApplying 3rd interim patch.\n"};
  log_printf("* Detected early version, ZEL patch required\n");
  log_flush();
  // The patch level restarts slowly: every later probe of the card gives it
  // three times as long to answer.
  target->work.probe_factor = 3;
  for (int attempt = 0; attempt < 3; ++attempt) {
    console_printf("%s", kConsoleTitles[attempt]);
    log_printf("%s", kLogTitles[attempt]);
    if (attempt > 0) {
      console_printf("\tPlease wait (2 minutes) for system restart    ");
      log_printf("Please wait (2 minutes) for system restart\n");
      log_flush();
      wait_with_spinner(120);
      console_printf("\n");
    }
    if (load_os_module(target, kInterimPatchName) == -1)
      return -1;
    int version = query_firmware_version(target, 0);
    if (version == VERSION_AT_PATCH)
      return 1;
    if (version == VERSION_LISTING_UNREADABLE ||
        version == VERSION_LOCAL_ERROR)
      return -1;
  }
  console_printf("\n\tVarnet could not be upgraded.\n");
  log_printf("\nVarnet could not be upgraded.\n");
  log_printf("\nFailed to load ZEL upgrade patch after 3 tries.\n");
  log_flush();
  // The last load may have left a success behind (its own verification is
  // not what judges a patch); the card was not upgraded all the same.
  if (target->status <= STATUS_UPGRADED)
    target->status = STATUS_OS_LOAD_FAILED;
  return 0;
}

// Loads the configured ZEL module, up to three times. Returns 1, 0 or -1 as
// load_os_module does.
int LoadZel(upgrade_target* target) {
  static const char* const kConsoleWaits[2] = {
      "\tPlease wait (2 minutes) for system reset    ",
      "\tPlease wait (2 minutes) for system restart    "};
  static const char* const kLogErrors[2] = {
      "\nZEL load error. Correcting , please wait ,trying again\n",
      "\nZEL load error. Correcting\n"};
  for (int attempt = 0; attempt < 3; ++attempt) {
    int loaded = load_os_module(target, zel_module_name);
    if (loaded != 0)
      return loaded;
    ftp_quit(target->work.ftp_session);
    if (attempt == 2)
      break;
    console_printf("\tZEL load error. Correcting , please wait\n");
    console_printf("%s", kConsoleWaits[attempt]);
    log_printf("%s", kLogErrors[attempt]);
    log_printf("Please wait (2 minutes) for system reset\n");
    log_flush();
    wait_with_spinner(120);
    console_printf("\n");
  }
  log_printf("\nFailure loading ZEL\n\n\n");
  log_flush();
  console_printf("\n\tFailure loading ZEL\n");
  target->status = STATUS_OS_LOAD_FAILED;
  return 0;
}

// Loads the APP module, up to three times, and never again after a file of
// the workstation failed it.
void LoadApp(upgrade_target* target) {
  for (int attempt = 1; attempt <= 3; ++attempt) {
    int loaded = load_app_module(target, app_module_name);
    if (loaded == 1) {
      target->status = STATUS_UPGRADED;
      return;
    }
    if (loaded == -1)
      return;
    if (attempt == 3)
      break;
    ftp_quit(target->work.ftp_session);
    console_printf("\n\tFailure loading APP, trying again\n");
    console_printf("\tPlease wait (2 minutes) for system restart    ");
    log_printf("\nFailure loading APP, Failure %d, trying again\n", attempt);
    log_printf("Please wait (2 minutes) for system restart\n");
    log_flush();
    wait_with_spinner(120);
    console_printf("\n");
  }
  log_printf("\nFailure loading  APP\n\n\n");
  log_flush();
  console_printf("\n\tFailure loading APP\n");
  ftp_quit(target->work.ftp_session);
  target->status = STATUS_APP_LOAD_FAILED;
}

// The first steps of every card: it must answer and take its login.
// Returns false, with the status recorded, when it goes no further.
bool AnswersAndLogsIn(upgrade_target* target) {
  console_printf("\n\t***************************************************\n");
  console_printf("\tStarting Upgrade to %s. \n", target->ip);
  console_printf("\tChecking network connection ...  ");
  log_printf("Checking network connection ...  \n");
  log_flush();
  if (probe_target(target, 10) != 1) {
    target->status = STATUS_UNRESPONSIVE;
    console_printf("             ERROR\n");
    console_printf("\tFailure, address unresponsive.\n\n");
    log_printf("Error\n");
    log_printf("Upgrade @ %s unresponsive.\n\n", target->ip);
    log_flush();
    return false;
  }
  console_printf("              OK\n");

  console_printf("\tTesting login ...                ");
  if (!test_login(target)) {
    console_printf("                Login failed\n");
    return false;
  }
  console_printf("                OK\n");
  return true;
}

// Reads and reports the card's version. Returns its version_class; a query
// that failed records STATUS_LOGIN_FAILED, an unknown version
// STATUS_UNKNOWN_VERSION, a listing refused or unreadable its own (a
// listing file that the workstation could not write has said so already).
int QueryVersion(upgrade_target* target) {
  console_printf("\tChecking version information ... ");
  log_printf("Checking version information ... ");
  log_flush();
  int version = query_firmware_version(target, 0);
  if (version == VERSION_LISTING_REFUSED) {
    console_printf("\n\tCould not be upgraded, it refused to list its "
                   "files.\n\n");
    log_printf("\nCould not be upgraded, it refused to list its files.\n\n");
    log_flush();
    target->status = STATUS_LISTING_REFUSED;
  } else if (version == VERSION_LISTING_UNREADABLE) {
    console_printf("\n\tCould not be upgraded, its listing cannot be "
                   "read.\n\n");
    log_printf("\nCould not be upgraded, its listing cannot be read.\n\n");
    log_flush();
    target->status = STATUS_LISTING_UNREADABLE;
  } else if (version == VERSION_UNKNOWN) {
    console_printf("\n\tCould not be upgraded, unknown version. \n\n");
    log_printf("\nCould not be upgraded, unknown version. \n\n");
    log_flush();
    target->status = STATUS_UNKNOWN_VERSION;
  } else if (version == VERSION_QUERY_FAILED) {
    console_printf("\n\tLog in failed\n");
    log_printf("\nLog in failed\n");
    log_flush();
    // Without this the summary would count a card never upgraded as done.
    target->status = STATUS_LOGIN_FAILED;
  } else if (version != VERSION_LOCAL_ERROR) {
    console_printf("                OK\n");
  }
  return version;
}

// Says what the card's path leaves out, and records the end of a path that
// loads nothing; a path that cannot end within the campaign's window is
// not loaded at all. Returns the outcome that ends the card's turn here, or
// OUTCOME_NONE when it goes on to its loads.
CardOutcome SayThePath(upgrade_target* target, CardPath path,
                       const CampaignRules& rules, bool dry_run) {
  if (path_loads(path) && !dry_run && rules.path_fits &&
      !rules.path_fits(target, path)) {
    log_printf("\nNot loaded: the window ends before its upgrade could.\n");
    log_flush();
    target->status = STATUS_NOT_STARTED;
    return OUTCOME_NOT_STARTED;
  }
  const std::string& listed = target->state.zel_before;
  switch (path) {
    case PATH_HARDWARE_MISMATCH:
      // A name without the kvn_hwNN_ shape tells no hardware, and is not
      // compared: the one named is the module that differs.
      for (const char* module : {zel_module_name, app_module_name}) {
        if (same_hardware(listed, module))
          continue;
        log_printf("\nThe card runs %s, for hardware hw%s; %s is for hw%s. "
                   "Nothing is loaded.\n",
                   printable_text(listed).c_str(),
                   module_hardware_id(listed).c_str(), module,
                   module_hardware_id(module).c_str());
        break;
      }
      target->status = STATUS_HARDWARE_MISMATCH;
      break;
    case PATH_ALREADY_CURRENT:
      log_printf("\nThe card already runs %s and %s.\n", zel_module_name,
                 app_module_name);
      target->status = STATUS_ALREADY_CURRENT;
      break;
    case PATH_PATCH_MISSING:
      // Three loads of nothing and their waits would only delay the same
      // end.
      log_printf("\nThe card needs the interim patch %s%s, which is not "
                 "here.\n",
                 kCurrentDirectoryPrefix, kInterimPatchName);
      target->status = STATUS_PATCH_MISSING;
      break;
    case PATH_APP_ONLY:
      if (dry_run) {
        log_printf("\nThe card already runs %s: only %s would be loaded.\n",
                   zel_module_name, app_module_name);
        break;
      }
      log_printf("\nThe card already runs %s: only %s is loaded.\n",
                 zel_module_name, app_module_name);
      target->state.zel_already_current = true;
      // The APP load leaves the ZEL as it is: that is the one it runs after.
      target->state.zel_after = target->state.zel_before;
      break;
    default:
      break;
  }
  log_flush();
  return path_loads(path) ? OUTCOME_NONE : outcome_of_status(target->status);
}

// Every try of a card starts with the rules' words and no answer kept.
void TakeRules(upgrade_target* target, const CampaignRules& rules) {
  target->work.strict_card_words = rules.strict_card_words;
  target->state.reply.clear();
}

// The outcome of a version query that ends the card's turn, or
// OUTCOME_NONE when it goes on.
CardOutcome QueryOutcome(int version) {
  switch (version) {
    case VERSION_UNKNOWN:
      return OUTCOME_UNKNOWN_VERSION;
    case VERSION_QUERY_FAILED:
      return OUTCOME_LOGIN_FAILED;
    case VERSION_LISTING_REFUSED:
      return OUTCOME_LISTING_REFUSED;
    case VERSION_LISTING_UNREADABLE:
      return OUTCOME_LISTING_UNREADABLE;
    case VERSION_LOCAL_ERROR:
      return OUTCOME_LOCAL_ERROR;
    default:
      return OUTCOME_NONE;
  }
}

}  // namespace

CardOutcome upgrade_card(upgrade_target* target, const CampaignRules& rules) {
  TakeRules(target, rules);
  if (!AnswersAndLogsIn(target))
    return outcome_of_status(target->status);
  console_printf("\tSaving log files                 ");
  if (!save_card_logs(target))
    return OUTCOME_LOCAL_ERROR;
  console_printf("                OK\n");
  int version = QueryVersion(target);
  if (CardOutcome ended = QueryOutcome(version); ended != OUTCOME_NONE)
    return ended;
  CardPath path = target->state.path =
      listed_card_path(*target, version == VERSION_CURRENT, rules);
  if (CardOutcome ended = SayThePath(target, path, rules, false);
      ended != OUTCOME_NONE)
    return ended;
  int loaded = 1;
  if (path == PATH_PATCH_FIRST)
    loaded = ApplyInterimPatch(target);
  if (loaded == 1 && path != PATH_APP_ONLY)
    loaded = LoadZel(target);
  if (loaded == -1)
    return target->status == STATUS_LOCAL_ERROR ? OUTCOME_LOCAL_ERROR
                                                : OUTCOME_LISTING_UNREADABLE;
  if (loaded == 1)
    LoadApp(target);
  return outcome_of_status(target->status);
}

CardOutcome check_card(upgrade_target* target, const CampaignRules& rules) {
  TakeRules(target, rules);
  CardOutcome outcome = OUTCOME_NONE;
  if (!AnswersAndLogsIn(target)) {
    outcome = outcome_of_status(target->status);
  } else if (int version = QueryVersion(target);
             QueryOutcome(version) != OUTCOME_NONE) {
    outcome = QueryOutcome(version);
  } else {
    CardPath path = target->state.path =
        listed_card_path(*target, version == VERSION_CURRENT, rules);
    outcome = SayThePath(target, path, rules, true);
    if (outcome == OUTCOME_NONE)
      outcome = path == PATH_PATCH_FIRST ? OUTCOME_WOULD_PATCH
                                         : OUTCOME_WOULD_UPGRADE;
  }
  log_printf("Dry run: %s\n", outcome_words(outcome).said_dry);
  log_flush();
  return outcome;
}
