#include "upgrd_util/card/soak_check.h"

#include <cstdio>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/card/card_answer.h"
#include "upgrd_util/card/firmware_version.h"
#include "upgrd_util/card/probe.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/ftp_library.h"

namespace {

// As keep_card_answer cuts the card's answer.
const size_t kMaxReply = 199;

bool Failed(upgrade_target* card, const char* step, const std::string& reply,
            SoakFailure* failure) {
  failure->step = step;
  failure->reply = reply.substr(0, kMaxReply);
  // A file of the workstation is no answer of the card's.
  if (!failure->local)
    card->state.reply = failure->reply;
  log_printf("The check after the soak failed: %s: %s\n", step, reply.c_str());
  log_flush();
  return false;
}

}  // namespace

bool soak_check(upgrade_target* card, SoakFailure* failure) {
  *failure = SoakFailure();
  // The campaign's words: the card's answer is what the record needs.
  card->work.strict_card_words = true;
  log_printf("\nChecking the card again after the soak ...\n");
  log_flush();
  if (probe_target(card, 10) != 1)
    return Failed(card, "echo", "no echo reply", failure);

  int& session = card->work.ftp_session;
  const char* listing_file = card->work.listing_file;
  session = ftp_login(card->ip, card->user_name, card->password, "");
  if (session == -1) {
    keep_card_answer(card, session);
    return Failed(card, "login", card->state.reply, failure);
  }
  int listed = ftp_ls(session, "", listing_file);
  if (listed == -1 && kept_local_fault(card, session)) {
    ftp_quit(session);
    failure->local = true;
    return Failed(card, "listing", card->state.reason, failure);
  }
  if (listed == -1) {
    keep_card_answer(card, session);
    ftp_quit(session);
    return Failed(card, "listing", card->state.reply, failure);
  }
  ftp_quit(session);

  std::string why;
  if (!listing_is_readable(listing_file, &why))
    return Failed(card, "listing", "its listing cannot be read: " + why,
                  failure);
  std::string zel;
  FILE* listing = fopen(listing_file, "r");
  bool found = listing && scan_listing(listing, &zel);
  if (listing)
    fclose(listing);
  if (!found)
    return Failed(card, "version", "it lists no ZEL module", failure);
  if (zel != zel_module_name)
    return Failed(card, "version", "it lists " + printable_text(zel),
                  failure);
  if (!listing_names(listing_file, app_module_name))
    return Failed(card, "version",
                  std::string("it does not list ") + app_module_name, failure);
  log_printf("It answers, and runs %s and %s.\n", zel_module_name,
             app_module_name);
  log_flush();
  return true;
}
