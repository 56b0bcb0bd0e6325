#ifndef UPGRD_UTIL_PLATFORM_INTERRUPTS_H_
#define UPGRD_UTIL_PLATFORM_INTERRUPTS_H_

/// From now on SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break and closing
/// the console on Windows) end the process at once, as they would, but
/// first remove the temporary files held below: a transfer cut short by
/// them leaves no part file behind. SIGPIPE is ignored: writing to a closed
/// pipe fails instead. Called again after catch_interrupts, it undoes that.
void end_on_interrupts();

/// From now on the first SIGINT, SIGTERM or SIGHUP (Ctrl-C or Ctrl-Break on
/// Windows) is only counted, so that cards in the middle of an upload can
/// finish; the second ends the process at once, as end_on_interrupts says.
void catch_interrupts();

/// Keeps those signals away from the calling thread, so that they land on
/// one that watches for them (a card's thread does not).
void block_interrupts_here();

/// How many interrupts have come since catch_interrupts().
int interrupts_received();

/// Temporary files held at once, at most: one transfer per card.
const int kMaxHeldFiles = 1024;

/// Holds `path` (before the file is made) to be removed should an
/// interrupt end the process. Returns the slot to release, or -1 when the
/// path is too long or every slot is taken (the file is then only removed
/// in the normal way).
int hold_temporary_file(const char* path);

/// Lets go of the slot from hold_temporary_file (nothing for -1), once the
/// file is removed or renamed.
void release_temporary_file(int slot);

/// Removes every held file; safe in a signal handler (interrupts_*.cc).
void remove_held_files();

#endif  // UPGRD_UTIL_PLATFORM_INTERRUPTS_H_
