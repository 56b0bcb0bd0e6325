#ifndef UPGRD_UTIL_CARD_CARD_ANSWER_H_
#define UPGRD_UTIL_CARD_CARD_ANSWER_H_

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/platform/ftp_library.h"

/// With the card's strict words (a campaign's), keeps what the card
/// answered `session`'s last request (for -1: the failed login) as its
/// reply, printable and cut to 199 bytes, and logs it on a line of its
/// own, so that a wrong password and a card still restarting read apart.
/// Does nothing otherwise: the dialogue's log stays as it is.
void keep_card_answer(upgrade_target* target, int session);

/// Records that a file of the workstation failed the card, not the card
/// itself: STATUS_LOCAL_ERROR, `fault` as the card's reason (and whether
/// the disk was full), and a line of its log and of the console.
void keep_local_fault(upgrade_target* target, const LocalFault& fault);

/// When `session`'s last transfer failed on the workstation's own files
/// (FtpLibrary::LocalFailure), keeps that fault. Returns whether it did:
/// the -1 of the transfer then says nothing of the card.
bool kept_local_fault(upgrade_target* target, int session);

#endif  // UPGRD_UTIL_CARD_CARD_ANSWER_H_
