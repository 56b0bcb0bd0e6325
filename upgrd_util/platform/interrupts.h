#ifndef UPGRD_UTIL_PLATFORM_INTERRUPTS_H_
#define UPGRD_UTIL_PLATFORM_INTERRUPTS_H_

/// From now on the first SIGINT or SIGTERM (Ctrl-C or Ctrl-Break on
/// Windows) is only counted, so that cards in the middle of an upload can
/// finish; the second ends the process at once, as the signal would.
void catch_interrupts();

/// How many interrupts have come since catch_interrupts().
int interrupts_received();

#endif  // UPGRD_UTIL_PLATFORM_INTERRUPTS_H_
