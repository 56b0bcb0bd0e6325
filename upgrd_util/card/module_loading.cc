#include "upgrd_util/card/module_loading.h"

#include <cstring>
#include <filesystem>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/card_answer.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/card/probe.h"
#include "upgrd_util/modules/module_version.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/ftp_library.h"

const char kInterimPatchName[] = "kvn_hw02_zel_202.bin";

namespace {

// Cards from this ZEL version on restart faster after a ZEL load and take
// longer over an APP load.
const int32_t kFastRestartVersion = 252;

bool ConfiguredZelRestartsFast() {
  return module_version_number(zel_module_name) >= kFastRestartVersion;
}

}  // namespace

std::string module_file(const char* name) {
  if (module_copies.empty())
    return name;
  return (std::filesystem::path(module_copies) / name).string();
}

bool interim_patch_here() {
  FILE* file = open_regular_file(module_file(kInterimPatchName).c_str());
  if (!file)
    return false;
  fclose(file);
  return true;
}

int zel_wait_seconds() {
  return ConfiguredZelRestartsFast() ? 60 : 180;
}

int app_wait_seconds() {
  return ConfiguredZelRestartsFast() ? 210 : 30;
}

int mandated_wait_seconds() {
  return zel_wait_seconds() + app_wait_seconds();
}

int load_os_module(upgrade_target* target, const char* module_file_name) {
  ++target->state.zel_attempts;
  console_printf("\tAttempting to log in ...                 ");
  log_printf("Attempting to log in to %s ... ", target->ip);
  log_flush();
  int& session = target->work.ftp_session;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  if (session == -1) {
    console_printf("\n\tCould not log in.\n");
    log_printf("\nCould not log into %s.\n", target->ip);
    log_flush();
    keep_card_answer(target, session);
    target->status = STATUS_LOGIN_FAILED;
    ftp_quit(session);
    return 0;
  }
  console_printf("        OK\n");
  console_printf("\tLoading OS, please wait ... ");
  log_printf("Log in successful\n");
  log_printf("Loading OS, please wait ... ");
  log_flush();

  if (ftp_put(session, module_file(module_file_name).c_str(), "") == -1) {
    console_printf("                     Error.\n");
    log_printf("                     Error.\n");
    log_flush();
    // A module this workstation could not read is loaded again for nothing.
    if (kept_local_fault(target, session)) {
      ftp_quit(session);
      return -1;
    }
    target->status = STATUS_OS_LOAD_FAILED;
    ftp_quit(session);
    return 0;
  }
  ftp_quit(session);
  console_printf("                     OK\n");

  if (strcmp(module_file_name, kInterimPatchName) == 0) {
    console_printf("\tPlease wait (30 seconds) for system restart   ");
    log_printf("Please wait (30 seconds) for system restart  ");
    log_flush();
    wait_with_spinner(kPatchWaitSeconds);
  } else if (ConfiguredZelRestartsFast()) {
    console_printf("\tPlease wait (1 minute) for system updates     ");
    wait_with_spinner(zel_wait_seconds());
  } else {
    console_printf("\tPlease wait (3 minutes) for system updates    ");
    wait_with_spinner(zel_wait_seconds());
  }

  console_printf("OK\n");
  console_printf("\tAttempting connection to verify restart  ");
  log_printf("OK\n");
  log_printf("Attempting connection to verify restart  ");
  log_flush();
  if (probe_target(target, 60) != 1) {
    target->status = STATUS_UNRESPONSIVE;
    console_printf("     ERROR\n");
    ftp_quit(session);
    return 0;
  }
  ftp_quit(session);

  int verified = verify_os_module(target, zel_module_name);
  if (verified == -1 && target->status == STATUS_LOCAL_ERROR)
    return -1;
  if (verified != 1) {
    target->status = STATUS_OS_LOAD_FAILED;
    if (verified == 0) {
      log_printf("        ZEL Load Failed\n");
      log_flush();
    }
    return verified;
  }
  target->status = STATUS_UPGRADED;
  console_printf("      OK\n");
  log_printf("        OK\n");
  log_flush();
  return 1;
}

int load_app_module(upgrade_target* target, const char* module_file_name) {
  ++target->state.app_attempts;
  console_printf("\tAttempting to log in ...                 ");
  log_printf("Attempting to log in ...                 ");
  log_flush();
  // This session is the load's own; the card's kept session stays as it was.
  int session = ftp_login(target->ip, target->user_name, target->password, "");
  if (session == -1) {
    console_printf("\n\tCould not log in.\n");
    log_printf("\nCould not log into %s.\n", target->ip);
    log_flush();
    keep_card_answer(target, session);
    target->status = STATUS_LOGIN_FAILED;
    ftp_quit(session);
    return 0;
  }
  console_printf("        OK\n");
  console_printf("\tLoading application, please wait ... ");
  log_printf("        OK\n");
  log_printf("Loading application, please wait ... ");
  log_flush();

  if (ftp_put(session, module_file(module_file_name).c_str(), "") == -1) {
    // A module this workstation could not read is loaded again for nothing.
    if (kept_local_fault(target, session)) {
      ftp_quit(session);
      return -1;
    }
    target->status = STATUS_APP_LOAD_FAILED;
    ftp_quit(session);
    return 0;
  }
  console_printf("            OK\n");
  log_printf("            OK\n");
  log_flush();
  ftp_quit(session);

  if (ConfiguredZelRestartsFast()) {
    console_printf("\tPlease wait (3-4 minutes) for system updates ");
    log_printf("Please wait (3-4 minutes) for system updates\n");
    log_flush();
    wait_with_spinner(app_wait_seconds());
  } else {
    console_printf("\tPlease wait (60 seconds) for system updates  ");
    log_printf("Please wait (60 seconds) for system updates \n");
    log_flush();
    wait_with_spinner(app_wait_seconds());
  }

  console_printf(" OK\n");
  console_printf("\tAttempting connection to verify restart  ");
  log_printf("Attempting connection to verify restart  ");
  log_flush();
  if (probe_target(target, 60) != 1) {
    console_printf("Ping Error\n");
    log_printf("Ping Error\n");
    log_flush();
    target->status = STATUS_UNRESPONSIVE;
    ftp_quit(session);
    return 0;
  }
  console_printf("      OK\n");
  target->status = STATUS_UPGRADED;
  log_printf("      OK\n");
  log_printf("\n");
  log_flush();
  ftp_quit(session);
  return 1;
}
