#ifndef UPGRD_UTIL_PLATFORM_INTERRUPTS_H_
#define UPGRD_UTIL_PLATFORM_INTERRUPTS_H_

#include <functional>

/// From now on SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break and closing
/// the console on Windows) end the process at once, as they would, but
/// first remove the temporary files held below: a transfer cut short by
/// them leaves no part file behind. SIGPIPE is ignored: writing to a closed
/// pipe fails instead. After catch_interrupts, the next interrupt does so.
void end_on_interrupts();

/// Called before any other thread starts: from now on those signals are
/// blocked in every thread and taken by one thread of their own, which
/// counts the first (so that cards in the middle of an upload can finish)
/// and wakes everything that waits for it; the second ends the process at
/// once, as end_on_interrupts says. On Windows the console's handler
/// thread has that role.
void catch_interrupts();

/// After catch_interrupts, once the cards have ended: the next interrupt
/// is taken as the first one was (counted, questions woken) and said, so
/// that the run's end still goes out; the one after it ends the process.
void spare_the_next_interrupt();

/// How many interrupts have come since catch_interrupts().
int interrupts_received();

/// Whether starting cards is paused: after catch_interrupts, SIGUSR1
/// pauses and SIGUSR2 resumes, taken by the interrupts' thread, which
/// calls the wakers at each. Always false on Windows, which has no such
/// signals; before catch_interrupts (the dialogue) they do what they
/// always did.
bool starting_paused();

/// Makes interrupt_descriptor() readable, as the first interrupt does
/// but without counting one, so that a question waiting on it ends (a
/// campaign's stop file); on Windows, where a question waits on a
/// condition the wakers end, questions_ended() tells it so.
void end_questions();
bool questions_ended();

/// A descriptor that becomes readable at the first interrupt and stays so,
/// to poll beside one's own (-1 where there is none).
int interrupt_descriptor();

/// While it lives, `wake` is called at each interrupt that does not end
/// the process, on the thread that takes them (never in a signal
/// handler), so that whatever waits looks again.
class InterruptWaker {
 public:
  explicit InterruptWaker(std::function<void()> wake);
  ~InterruptWaker();

 private:
  InterruptWaker(const InterruptWaker&) = delete;
  InterruptWaker& operator=(const InterruptWaker&) = delete;
  std::function<void()> wake_;
};

/// Calls every live waker (interrupts_*.cc, on the thread that takes the
/// interrupts).
void wake_interrupt_waiters();

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
