#ifndef UPGRD_UTIL_RUN_START_UP_H_
#define UPGRD_UTIL_RUN_START_UP_H_

#include <memory>

#include "upgrd_util/base/upgrade_target.h"
#include "upgrd_util/inputs/target_list.h"
#include "upgrd_util/platform/icmp_echo.h"

// What every run does before its first card, the dialogue and a campaign
// alike, in the order they do it.

/// How the first steps went.
enum StartResult {
  START_READY,
  START_NO_LOG,     // result.txt cannot be had: said; nothing else was done
  START_BAD_INPUT,  // config.txt or a module file is wrong: said; the run
                    // ends with its closing dialogue
};

/// Takes result.txt's lock, which keeps a second run out of this
/// directory, and writes nothing. Returns false, having said so in one
/// line, when another run holds it (*in_use set, when given) or result.txt
/// cannot be opened.
bool lock_working_directory(bool* in_use = nullptr);

/// Lets go of the lock of lock_working_directory, in a run that ends
/// before start_upgrade_run: a result.txt it made is removed.
void let_go_of_working_directory();

/// Takes the lock unless it is held, opens the result log and writes its
/// header, reads config.txt and checks
/// both module files with the banner. Without its log a run would leave no
/// record of what it did to the cards, so it does not start.
StartResult start_upgrade_run();

/// What iplist.txt gave.
enum ListResult {
  LIST_READ,     // *cards holds *count cards
  LIST_MISSING,  // no regular file of that name
  LIST_EMPTY,    // no card in it
  LIST_BAD,      // a malformed card: said on the console and in the log
};

/// Reads iplist.txt, when it is a regular file (a FIFO would block the run
/// for ever), and sets iplist_found unless none of its cards has a password
/// line; the file stays open for the whole run. With a `default_password`,
/// a card without a password line gets that one. *reading, when given,
/// tells more of what the file held.
ListResult read_card_list(const char* default_password, upgrade_target** cards,
                          int* count, ListReading* reading = nullptr);

/// Names each card whose address the probe could not send to, or that a
/// card listed before has (two sequences at once on one card would upload
/// over each other), on a console line of its own. Returns false when there
/// was one.
bool check_card_addresses(const upgrade_target* cards);

/// A campaign's checks of what would fail every card alike, said once
/// before any card is touched: addresses that are no IPv4 address or repeat
/// (each named with its line), ICMP that cannot be sent. Returns false when
/// the campaign must not start. A missing interim patch is only a warning.
/// On success *echo holds an echo handle open until the campaign releases
/// it, so that an echo socket the cards share is made once for the run.
bool check_campaign_cards(const upgrade_target* cards,
                          std::unique_ptr<IcmpEcho>* echo);

#endif  // UPGRD_UTIL_RUN_START_UP_H_
