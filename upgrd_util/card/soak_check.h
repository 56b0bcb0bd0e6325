#ifndef UPGRD_UTIL_CARD_SOAK_CHECK_H_
#define UPGRD_UTIL_CARD_SOAK_CHECK_H_

#include <string>

#include "upgrd_util/base/upgrade_target.h"

/// Where a card failed its check after the soak, and what it said.
struct SoakFailure {
  /// The step: "echo", "login", "listing" or "version".
  const char* step = "";
  /// The card's answer (its FTP reply, "no echo reply"), or what it listed
  /// instead of the modules it was sent; printable, bounded.
  std::string reply;
  /// A file of the workstation failed, not the card: STATUS_LOCAL_ERROR
  /// and the card's reason are kept as the sequence keeps them.
  bool local = false;
};

/// Checks an upgraded card again, once it has run its new modules a while:
/// it answers echo (probe_target, with the sequence's allowance), takes its
/// login, and its listing, read strictly, shows the configured ZEL module as
/// its ZEL and lists the configured APP module. One session, quit before
/// the listing is read. Each step is bounded as the sequence's are (the
/// probe's allowance, the FTP library's time-outs). Logs what it found to
/// the card's log. Returns true when the card passed; otherwise false with
/// the step and the card's answer in *failure (also kept, as the sequence
/// keeps one, in the card's reply). It ends nothing: the card's outcome is
/// the caller's to set.
bool soak_check(upgrade_target* card, SoakFailure* failure);

#endif  // UPGRD_UTIL_CARD_SOAK_CHECK_H_
