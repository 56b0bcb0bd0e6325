#include "upgrd_util/platform/console.h"

#include <unistd.h>

void RealConsole::WriteBackspaces(int count) {
  // Everything before must be out first, or a backspace would erase a
  // character that is still buffered.
  fflush(out_);
  for (int i = 0; i < count; ++i)
    fputc('\b', out_);
  // No flush: the backspaces go out with the text of the next Write, which
  // every caller makes at once, in one system call instead of two for each
  // turn of a mark (840 turns a card during the mandated waits).
}

bool RealConsole::IsTerminal() {
  return isatty(fileno(out_)) == 1;
}
