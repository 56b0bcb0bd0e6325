#ifndef UPGRD_UTIL_CARD_CARD_ANSWER_H_
#define UPGRD_UTIL_CARD_CARD_ANSWER_H_

#include "upgrd_util/base/upgrade_target.h"

/// With the card's strict words (a campaign's), keeps what the card
/// answered `session`'s last request (for -1: the failed login) as its
/// reply, printable and cut to 199 bytes, and logs it on a line of its
/// own, so that a wrong password and a card still restarting read apart.
/// Does nothing otherwise: the dialogue's log stays as it is.
void keep_card_answer(upgrade_target* target, int session);

#endif  // UPGRD_UTIL_CARD_CARD_ANSWER_H_
