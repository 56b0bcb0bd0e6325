#include "upgrd_util/card/card_logs.h"

#include <cstdio>
#include <string>

#include "upgrd_util/card/card_answer.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/platform.h"

int test_login(upgrade_target* target) {
  int& session = target->work.ftp_session;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  ftp_quit(session);
  if (session == -1) {
    log_printf("ERROR!!! Login unsuccessful.\n\n");
    log_flush();
    keep_card_answer(target, session);
    target->status = STATUS_LOGIN_FAILED;
    return 0;
  }
  return 1;
}

namespace {

// Why a log could not be fetched, for a campaign's record of the card.
std::string WhyNotSaved(int session, const char* name) {
  if (platform().ftp->ShareUsedUp(session))
    return std::string("the disk space that the cards' logs share was used "
                       "up before ") + name + " was whole";
  return std::string("the transfer of ") + name + " failed";
}

}  // namespace

int save_card_logs(upgrade_target* target) {
  int& session = target->work.ftp_session;
  session = ftp_login(target->ip, target->user_name, target->password, "");
  CardState& state = target->state;
  state.logs_saved = false;
  state.logs_unsaved_reason.clear();
  if (session == -1) {
    log_printf("ERROR!!! Can't log in while trying to save log files"
               "            \n\n");
    log_flush();
    keep_card_answer(target, session);
    target->status = STATUS_LOGIN_FAILED;
    state.logs_unsaved_reason = "the card refused the login";
  } else {
    char data_name[256];
    char event_name[256];
    snprintf(data_name, sizeof(data_name), "%s_data.txt", target->ip);
    snprintf(event_name, sizeof(event_name), "%s_event.txt", target->ip);
    if (ftp_get(session, "data.txt", data_name) != -1) {
      log_printf("data.txt saved as: %s\n", data_name);
      log_flush();
    } else {
      log_printf("Could not save data.txt \n");
      log_flush();
      state.logs_unsaved_reason = WhyNotSaved(session, "data.txt");
      if (kept_local_fault(target, session)) {
        state.logs_unsaved_reason = state.reason;
        ftp_quit(session);
        return 0;
      }
    }
    if (ftp_get(session, "event.txt", event_name) != -1) {
      log_printf("event.txt is saved as: %s\n", event_name);
      log_flush();
    } else {
      log_printf("Could not save event.txt \n");
      log_flush();
      if (state.logs_unsaved_reason.empty())
        state.logs_unsaved_reason = WhyNotSaved(session, "event.txt");
      if (kept_local_fault(target, session)) {
        state.logs_unsaved_reason = state.reason;
        ftp_quit(session);
        return 0;
      }
    }
    state.logs_saved = state.logs_unsaved_reason.empty();
  }
  ftp_quit(session);
  return 1;
}
