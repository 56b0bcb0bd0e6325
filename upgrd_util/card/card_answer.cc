#include "upgrd_util/card/card_answer.h"

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"
#include "upgrd_util/platform/platform.h"

void keep_card_answer(upgrade_target* target, int session) {
  if (!target->work.strict_card_words)
    return;
  // The size of the reply buffer of the listing operations.
  char answer[200] = "";
  ftp_copyreplystr(session, answer, sizeof(answer));
  target->state.reply = printable_text(answer);
  if (target->state.reply.empty())
    target->state.reply = "nothing";
  log_printf("The card's answer: %s\n", target->state.reply.c_str());
  log_flush();
}

void keep_local_fault(upgrade_target* target, const LocalFault& fault) {
  target->status = STATUS_LOCAL_ERROR;
  target->state.reason = fault.what;
  target->work.disk_full = target->work.disk_full || fault.disk_full;
  console_printf("\n\tFailed on this workstation, not on the card: %s.\n",
                 fault.what.c_str());
  log_printf("Failed on this workstation, not on the card: %s.\n",
             fault.what.c_str());
  log_flush();
}

bool kept_local_fault(upgrade_target* target, int session) {
  LocalFault fault;
  if (!platform().ftp->LocalFailure(session, &fault))
    return false;
  keep_local_fault(target, fault);
  return true;
}
