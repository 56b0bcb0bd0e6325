#ifndef UPGRD_UTIL_CARD_PROBE_H_
#define UPGRD_UTIL_CARD_PROBE_H_

#include <cstdint>

#include "upgrd_util/base/upgrade_target.h"

/// Asks the card by ICMP echo, one request after the other, until 20 replies
/// have come or allowance x the card's probe factor requests went unanswered, turning a
/// mark at the end of the console line. Returns 1 when the card answered,
/// otherwise 0 (the reason is in the result log).
int probe_target(const upgrade_target* target, uint32_t allowance);

/// Waits `seconds` whole seconds (none for 0 or less) with a turning mark.
void wait_with_spinner(int32_t seconds);

#endif  // UPGRD_UTIL_CARD_PROBE_H_
