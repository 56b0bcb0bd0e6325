#include "upgrd_util/card/card_answer.h"

#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"

void keep_card_answer(upgrade_target* target, int session) {
  if (!target->state.strict_card_words)
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
