#include "upgrd_util/platform/console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "upgrd_util/platform/interrupts.h"

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

// A byte at a time, straight from the descriptor, so that nothing waits in
// a buffer of stdio's and an interrupt is taken while the question waits:
// an answer is a few bytes, read once.
bool RealConsole::ReadLine(std::string* line) {
  int in = fileno(in_);
  bool interrupted = false;
  auto next = [&]() -> int {
    struct pollfd wait[2] = {{in, POLLIN, 0},
                             {interrupt_descriptor(), POLLIN, 0}};
    for (;;) {
      if (poll(wait, wait[1].fd >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR)
          continue;
        return -1;
      }
      if (wait[1].fd >= 0 && wait[1].revents != 0) {
        interrupted = true;
        return -1;
      }
      unsigned char c;
      ssize_t got = read(in, &c, 1);
      if (got < 0 && (errno == EINTR || errno == EAGAIN))
        continue;
      return got == 1 ? c : -1;
    }
  };
  return LineOf(next, line) && !interrupted;
}

bool RealConsole::IsTerminal() {
  return isatty(fileno(out_)) == 1;
}

bool RealConsole::InputIsTerminal() {
  return isatty(fileno(in_)) == 1;
}
